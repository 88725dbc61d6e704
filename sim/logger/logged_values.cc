#include "logger/logged_values.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace sim_logger {

namespace rf = log_stores::run_file;

rf::ChannelSample sample_of(std::size_t block, std::uint32_t channel, std::int64_t index, bool digital) {
    if (digital) {
        // A digital state lives in bit 0 of the flag word, as in the host's status words.
        const bool high = (index / (channel + 1)) % 2 != 0;
        return {high ? rf::kSampleDigital : 0, high ? 1.0f : 0.0f};
    }
    if (channel == 0 && index % 13 == 5) return {rf::kSampleAnalog | rf::kSampleBad, -1.0f};
    if (channel == 1 && index % 17 == 3) return {rf::kSampleAnalog, std::numeric_limits<float>::quiet_NaN()};
    const float ramp = static_cast<float>(index % 1000) * 0.5f + static_cast<float>(block) * 100.0f +
                       static_cast<float>(channel);
    return {rf::kSampleAnalog, ramp};
}

TimeStamp record_time(std::int32_t start, std::int64_t index, std::uint32_t period_ms) {
    const std::int64_t ms = index * period_ms;
    return TimeStamp{static_cast<std::int32_t>(start + ms / 1000), static_cast<std::int16_t>(ms % 1000), 0};
}

void fill_record(const log_stores::LogHeader& header, DigitalBlocks digital, std::int64_t index,
                 std::uint32_t period_ms, std::span<std::uint8_t> out) {
    std::memset(out.data(), 0, out.size());
    rf::RecordHead head;
    head.sigChangeMark = 1;
    head.time = record_time(header.start.seconds, index, period_ms);
    head.sigChangeValue = static_cast<float>(index);
    rf::encode_record_head(head, out);
    for (std::size_t k = 0; k < header.blockCount; ++k) {
        const bool is_digital = k < 64 && ((digital >> k) & 1u) != 0;
        for (std::uint32_t j = 0; j < header.blocks[k].channel_count(); ++j)
            rf::write_sample(out, header.blocks[k], j, sample_of(k, j, index, is_digital));
    }
}

bool is_record(const log_stores::LogHeader& header, DigitalBlocks digital, std::int64_t index,
               std::uint32_t period_ms, std::span<const std::uint8_t> record) {
    if (record.size() < static_cast<std::size_t>(header.recordSize)) return false;
    const rf::RecordHead head = rf::decode_record_head(record);
    const TimeStamp time = record_time(header.start.seconds, index, period_ms);
    if (head.marker != rf::kRecordMarker || head.time.seconds != time.seconds ||
        head.time.milliseconds != time.milliseconds || head.sigChangeValue != static_cast<float>(index))
        return false;
    for (std::size_t k = 0; k < header.blockCount; ++k) {
        const bool is_digital = k < 64 && ((digital >> k) & 1u) != 0;
        for (std::uint32_t j = 0; j < header.blocks[k].channel_count(); ++j) {
            rf::ChannelSample got;
            if (!rf::read_sample(record, header.blocks[k], j, got)) return false;
            rf::ChannelSample want = sample_of(k, j, index, is_digital);
            if (std::isnan(want.value)) {
                if ((got.flags & rf::kSampleBad) == 0 || (got.flags & ~rf::kSampleBad) != want.flags) return false;
                continue;
            }
            if (got.flags != want.flags || got.value != want.value) return false;
        }
    }
    return true;
}

}  // namespace sim_logger
