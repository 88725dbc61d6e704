#include "log_stores/db_schema/data_row.h"

#include <algorithm>
#include <cmath>

#include "log_stores/db_schema/date_literal.h"
#include "log_stores/db_schema/sql_text.h"
#include "log_stores/run_file/run_file_format.h"
#include "platform/ado/text_codec.h"

namespace log_stores::db_schema {
namespace {

constexpr std::size_t kStateTextLength = 32;

ado::Variant finite_or_null(float value) {
    return std::isfinite(value) ? ado::Variant::r4(value) : ado::Variant::null();
}

ado::Variant state_text(const qvr::ChannelRecord* config, bool high) {
    if (!config || !qvr::is_digital(config->head.Type)) return ado::Variant::text(u"");
    const char* text = high ? config->digital.HighStateText : config->digital.LowStateText;
    const std::size_t n = static_cast<std::size_t>(std::find(text, text + kStateTextLength, '\0') - text);
    return ado::Variant::text(ado::utf16_from_cp1252({text, n}));
}

}  // namespace

std::int32_t first_channel_field(bool sig_change) {
    return sig_change ? 5 : 3;
}

std::optional<std::vector<FieldValue>> data_row_values(const LogHeader& header,
                                                       std::span<const std::uint8_t> record,
                                                       bool digital_text, const ChannelLookup& lookup) {
    if (header.recordSize < static_cast<std::int32_t>(run_file::kRecordHeadSize) ||
        record.size() < static_cast<std::size_t>(header.recordSize))
        return std::nullopt;
    record = record.first(static_cast<std::size_t>(header.recordSize));
    const run_file::RecordHead head = run_file::decode_record_head(record);
    const bool sig_change = header.sigChange != 0;
    std::vector<FieldValue> fields;
    fields.push_back({0, ado::Variant::date(date_value(head.time.seconds))});
    fields.push_back({1, ado::Variant::i4(head.time.milliseconds)});
    if (sig_change) {
        fields.push_back({3, ado::Variant::i4(head.sigChangeMark)});
        fields.push_back({4, finite_or_null(head.sigChangeValue)});
    }
    std::int32_t field = first_channel_field(sig_change);
    const std::size_t blocks = std::min<std::size_t>(header.blockCount, kMaxBlocks);
    for (std::size_t b = 0; b < blocks; ++b) {
        const BlockDescriptor& block = header.blocks[b];
        const std::uint32_t n = block.channel_count();
        for (std::uint32_t j = 0; j < n; ++j, ++field) {
            run_file::ChannelSample sample;
            if (!run_file::read_sample(record, block, j, sample)) return std::nullopt;
            ado::Variant value;
            if (sample.flags & run_file::kSampleBad) {
                value = ado::Variant::null();
            } else if (!(sample.flags & run_file::kSampleAnalog)) {
                const bool high = (sample.flags & run_file::kSampleDigital) != 0;
                const auto channel = static_cast<std::uint16_t>(block.firstChannel + j);
                const qvr::ChannelRecord* config = digital_text && lookup ? lookup(b, channel) : nullptr;
                if (digital_text && (!config || qvr::is_digital(config->head.Type))) {
                    value = state_text(config, high);
                } else if (digital_text) {
                    // The column of a channel configured as analog is numeric: a text there
                    // is refused and would stop logging.
                    value = ado::Variant::i4(high ? 1 : 0);
                } else {
                    value = ado::Variant::i4(high ? 1 : 0);
                }
            } else if (block_bytes_per_channel(block) >= 8) {
                value = finite_or_null(sample.value);
            } else {
                value = ado::Variant::null();
            }
            fields.push_back({field, std::move(value)});
        }
    }
    return fields;
}

ado::Variant column_text(std::string_view utf8, std::size_t column_size) {
    return ado::Variant::text(ado::utf16_from_utf8(cut_to_characters(utf8, column_size)));
}

}  // namespace log_stores::db_schema
