#include "log_stores/db_store/record_from_row.h"

#include <algorithm>
#include <cstring>

#include "log_stores/db_store/db_store_state.h"
#include "log_stores/run_file/run_file_format.h"

namespace log_stores::db_store {
namespace {

float float_of(const ado::Variant& v, bool& ok) {
    ok = true;
    try {
        if (v.type() == ado::VarType::r4) return static_cast<float>(v.real_value());
        return static_cast<float>(v.to_r8());
    } catch (...) {
        ok = false;
        return 0;
    }
}

void put_pair(std::uint8_t* at, std::int32_t flags, float value) {
    std::memcpy(at, &flags, 4);
    std::memcpy(at + 4, &value, 4);
}

}  // namespace

std::optional<db_schema::RecordKey> row_key(std::span<const ado::Variant> row, std::size_t dt) {
    if (dt + 2 > row.size()) return std::nullopt;
    const auto seconds = seconds_of_value(row[dt]);
    if (!seconds) return std::nullopt;
    try {
        return db_schema::RecordKey{*seconds, row[dt + 1].is_null() ? 0 : row[dt + 1].to_i4()};
    } catch (...) {
        return std::nullopt;
    }
}

// Builds one record from a DATA row whose extra columns come first; `star` when the row holds
// every column of DATA.
const char* record_from_row(const LogHeader& header, std::span<const ado::Variant> row, std::size_t extra, bool star,
                            std::span<std::uint8_t> record, std::span<std::uint8_t> extras) {
    const auto key = row_key(row, extra);
    if (!key) return "COLUMN #1 IS NOT A DATE";
    std::fill(record.begin(), record.end(), std::uint8_t{0});
    run_file::RecordHead head;
    head.time.seconds = key->seconds;
    head.time.milliseconds = static_cast<std::int16_t>(std::clamp(key->milliseconds, 0, 999));
    std::size_t next = extra + (star ? 3 : 2);
    bool ok = true;
    if (header.sigChange) {
        if (next + 1 < row.size()) {
            try {
                head.sigChangeMark = row[next].is_null() ? 0 : static_cast<std::uint8_t>(row[next].to_i4());
            } catch (...) {
            }
            if (!row[next + 1].is_null()) {
                const float lv = float_of(row[next + 1], ok);
                head.sigChangeValue = ok ? lv : 0;
            }
        }
        next += 2;
    }
    run_file::encode_record_head_cut(head, record);
    const bool values = record.size() > run_file::kRecordHeadSize && star;
    const std::size_t blocks = std::min<std::size_t>(header.blockCount, kMaxBlocks);
    for (std::size_t b = 0; b < blocks; ++b) {
        const BlockDescriptor& block = header.blocks[b];
        for (std::uint32_t j = 0; j < block.channel_count(); ++j) {
            run_file::ChannelSample sample{run_file::kSampleBad, 0};
            if (values && next < row.size() && !row[next].is_null()) {
                const float v = float_of(row[next], ok);
                if (ok) sample = {run_file::kSampleAnalog, v};
            }
            if (values) ++next;
            run_file::write_sample(record, block, j, sample);
        }
    }
    for (std::size_t k = 0; k < extra && k < row.size() && 8 * k + 8 <= extras.size(); ++k) {
        const ado::Variant& v = row[k];
        if (v.is_null() || v.is_empty()) {
            put_pair(extras.data() + 8 * k, run_file::kSampleBad, 0);
        } else if (v.type() == ado::VarType::bstr) {
            put_pair(extras.data() + 8 * k, run_file::kSampleAnalog, 0);
        } else {
            const float f = float_of(v, ok);
            put_pair(extras.data() + 8 * k, ok ? run_file::kSampleAnalog : run_file::kSampleBad, ok ? f : 0);
        }
    }
    return nullptr;
}

}  // namespace log_stores::db_store
