#include "log_stores/mysql/mysql_record.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "log_stores/db_schema/date_literal.h"
#include "platform/ado/text_codec.h"
#include "platform/ascii_text.h"

namespace log_stores::mysql {
namespace {

std::string_view without_trailing_blanks(std::string_view text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.remove_suffix(1);
    return text;
}

std::int64_t integer_of(const Value& value) {
    if (const auto* n = std::get_if<std::int64_t>(&value)) return *n;
    // A float out of the integers' range converts to nothing defined: 0.
    if (const auto* d = std::get_if<double>(&value))
        return std::isfinite(*d) && std::abs(*d) < 9.2e18 ? static_cast<std::int64_t>(*d) : 0;
    return 0;
}

// A number as a channel's float32; nothing for one that has no float32 (NaN, infinite, too
// large), which reads as bad.
std::optional<float> float_of(double value) {
    if (!std::isfinite(value) || std::abs(value) > std::numeric_limits<float>::max()) return std::nullopt;
    return static_cast<float>(value);
}

void put_pair(std::span<std::uint8_t> at, std::int32_t flags, float value) {
    std::memcpy(at.data(), &flags, 4);
    std::memcpy(at.data() + 4, &value, 4);
}

run_file::ChannelSample sample_of(const Value& value, const BlockDescriptor& block, std::size_t b,
                                  std::uint32_t j, const StateLookup& states) {
    if (const auto* n = std::get_if<std::int64_t>(&value))
        return block.blockKind == 4
                   ? run_file::ChannelSample{static_cast<std::int32_t>(*n & 1), 0}
                   : run_file::ChannelSample{run_file::kSampleAnalog, static_cast<float>(*n)};
    if (const auto* d = std::get_if<double>(&value)) {
        if (const auto f = float_of(*d)) return {run_file::kSampleAnalog, *f};
        return {run_file::kSampleBad, 0};
    }
    if (const auto* text = std::get_if<std::string>(&value)) {
        const StateTexts* texts =
            states ? states(b, static_cast<std::uint16_t>(block.firstChannel + j)) : nullptr;
        if (texts != nullptr)
            if (const auto state = digital_state(ado::cp1252_from_utf8(*text), *texts)) return *state;
    }
    return {run_file::kSampleBad, 0};
}

// NULL first, then by kind and value: the same rows always come out in the same order.
int compare_values(const Value& a, const Value& b) {
    if (a.index() != b.index()) return a.index() < b.index() ? -1 : 1;
    if (const auto* x = std::get_if<ado::DateValue>(&a)) {
        const auto& y = std::get<ado::DateValue>(b);
        if (x->seconds != y.seconds) return x->seconds < y.seconds ? -1 : 1;
        return x->nanoseconds == y.nanoseconds ? 0 : (x->nanoseconds < y.nanoseconds ? -1 : 1);
    }
    return std::visit(
        [&](const auto& x) -> int {
            using T = std::decay_t<decltype(x)>;
            if constexpr (std::is_same_v<T, ado::DateValue> || std::is_same_v<T, std::monostate>) {
                return 0;
            } else {
                const auto& y = std::get<T>(b);
                return x < y ? -1 : (y < x ? 1 : 0);
            }
        },
        a);
}

bool row_less(const Row& a, const Row& b, std::size_t from) {
    for (std::size_t i = from; i < std::min(a.size(), b.size()); ++i)
        if (const int c = compare_values(a[i], b[i]); c != 0) return c < 0;
    return a.size() < b.size();
}

}  // namespace

std::optional<run_file::ChannelSample> digital_state(std::string_view text, const StateTexts& states) {
    const std::string_view t = without_trailing_blanks(text);
    const bool high = platform::equal_ignoring_case(t, without_trailing_blanks(states.high));
    const bool low = platform::equal_ignoring_case(t, without_trailing_blanks(states.low));
    if (high == low) return std::nullopt;
    return run_file::ChannelSample{high ? run_file::kSampleDigital : 0, 0};
}

std::optional<RowKey> row_key(std::span<const Value> row, std::size_t extra) {
    if (extra + 2 > row.size()) return std::nullopt;
    const auto* date = std::get_if<ado::DateValue>(&row[extra]);
    if (date == nullptr) return std::nullopt;
    const auto seconds = db_schema::seconds_of_date(*date);
    if (!seconds) return std::nullopt;
    const auto* ms = std::get_if<double>(&row[extra + 1]);
    return RowKey{*seconds, ms ? *ms : 0.0};
}

void split_ms(double ms, std::int16_t& milliseconds, std::int16_t& microseconds) {
    const double us = std::isfinite(ms) ? std::round(ms * 1000.0) : 0.0;
    const auto total = static_cast<std::int64_t>(std::clamp(us, 0.0, 999999.0));
    milliseconds = static_cast<std::int16_t>(total / 1000);
    microseconds = static_cast<std::int16_t>(total % 1000);
}

const char* record_from_row(const LogHeader& header, std::span<const Value> row, std::size_t extra, bool star,
                            std::span<std::uint8_t> record, std::span<std::uint8_t> extras,
                            const StateLookup& states) {
    const auto key = row_key(row, extra);
    if (!key) return "COLUMN #1 IS NOT A DATE";
    std::fill(record.begin(), record.end(), std::uint8_t{0});
    run_file::RecordHead head;
    head.time.seconds = static_cast<std::int32_t>(key->seconds);
    split_ms(key->ms, head.time.milliseconds, head.time.microseconds);
    std::size_t next = extra + (star ? 3 : 2);
    if (header.sigChange) {
        if (next + 1 < row.size()) {
            head.sigChangeMark = static_cast<std::uint8_t>(integer_of(row[next]));
            if (const auto* lv = std::get_if<double>(&row[next + 1]))
                head.sigChangeValue = static_cast<float>(*lv);
        }
        next += 2;
    }
    run_file::encode_record_head_cut(head, record);
    if (record.size() > run_file::kRecordHeadSize) {
        for (std::size_t b = 0; b < std::min<std::size_t>(header.blockCount, kMaxBlocks); ++b) {
            const BlockDescriptor& block = header.blocks[b];
            for (std::uint32_t j = 0; j < block.channel_count(); ++j) {
                run_file::ChannelSample sample{run_file::kSampleBad, 0};
                if (star) {
                    if (next < row.size()) sample = sample_of(row[next], block, b, j, states);
                    ++next;
                }
                run_file::write_sample(record, block, j, sample);
            }
        }
    }
    for (std::size_t k = 0; k < extra && k < row.size() && 8 * k + 8 <= extras.size(); ++k) {
        const Value& v = row[k];
        const auto at = extras.subspan(8 * k, 8);
        if (const auto* n = std::get_if<std::int64_t>(&v)) {
            put_pair(at, run_file::kSampleAnalog, static_cast<float>(*n));
        } else if (const auto* d = std::get_if<double>(&v)) {
            const auto f = float_of(*d);
            put_pair(at, f ? run_file::kSampleAnalog : run_file::kSampleBad, f.value_or(0));
        } else if (std::holds_alternative<std::string>(v) || std::holds_alternative<ado::DateValue>(v)) {
            put_pair(at, run_file::kSampleAnalog, 0);
        } else {
            put_pair(at, run_file::kSampleBad, 0);
        }
    }
    return nullptr;
}

void order_groups(std::span<Row> rows, std::size_t extra, bool descending) {
    for (std::size_t begin = 0; begin < rows.size();) {
        const auto key = row_key(rows[begin], extra);
        std::size_t end = begin + 1;
        while (end < rows.size() && row_key(rows[end], extra) == key) ++end;
        const auto first = rows.begin() + static_cast<std::ptrdiff_t>(begin);
        const auto last = rows.begin() + static_cast<std::ptrdiff_t>(end);
        if (end - begin > 1) {
            if (descending)
                std::sort(first, last, [extra](const Row& a, const Row& b) { return row_less(b, a, extra); });
            else
                std::sort(first, last, [extra](const Row& a, const Row& b) { return row_less(a, b, extra); });
        }
        begin = end;
    }
}

}  // namespace log_stores::mysql
