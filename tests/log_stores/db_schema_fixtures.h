#pragma once
// Run headers, channel configurations and records for the schema rule tests.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "log_stores/log_header.h"
#include "log_stores/run_file/run_file_format.h"
#include "qvr/records/channel_record.h"

namespace log_stores_test {

inline qvr::ChannelRecord analog_channel(std::string_view tag, bool enabled = true) {
    qvr::ChannelRecord r{};
    r.head.Type = qvr::ChannelKind::AI;
    qvr::split_text(r, qvr::ChannelText::Tag, tag);
    r.head.Flags.set(qvr::AnalogFlag::Enable, enabled);
    return r;
}

inline qvr::ChannelRecord digital_channel(std::string_view tag, std::string_view low, std::string_view high) {
    qvr::ChannelRecord r{};
    r.head.Type = qvr::ChannelKind::DI;
    qvr::split_text(r, qvr::ChannelText::Tag, tag);
    r.head.Flags.set(qvr::DigitalFlag::Enable, true);
    std::memcpy(r.digital.LowStateText, low.data(), std::min<std::size_t>(low.size(), 32));
    std::memcpy(r.digital.HighStateText, high.data(), std::min<std::size_t>(high.size(), 32));
    return r;
}

// Blocks of {prefix, first, last}, laid out as the stores rebuild them: 8 bytes per channel.
struct BlockSpec {
    std::string prefix;
    std::uint16_t first;
    std::uint16_t last;
};

inline log_stores::LogHeader header_of(const std::vector<BlockSpec>& specs, bool tag_columns,
                                       bool sig_change) {
    log_stores::LogHeader h{};
    h.formatTag = 0x8001;
    h.tagColumns = tag_columns ? 1 : 0;
    h.sigChange = sig_change ? 1 : 0;
    h.blockCount = static_cast<std::uint16_t>(specs.size());
    std::int32_t size = 16;
    for (std::size_t b = 0; b < specs.size(); ++b) {
        auto& block = h.blocks[b];
        std::memcpy(block.prefix.data(), specs[b].prefix.data(),
                    std::min<std::size_t>(specs[b].prefix.size(), 2));
        block.firstChannel = specs[b].first;
        block.lastChannel = specs[b].last;
        block.blockKind = 8;
        block.recordOffset = static_cast<std::uint16_t>(size);
        size += static_cast<std::int32_t>(8 * block.channel_count());
    }
    h.recordSize = size;
    return h;
}

struct Sample {
    std::int32_t flags;
    float value;
};

// One record: the head, then the samples of every channel in block order.
inline std::vector<std::uint8_t> record_of(const log_stores::LogHeader& h, TimeStamp time,
                                           const std::vector<Sample>& samples, std::uint8_t mark = 0,
                                           float lv = 0) {
    std::vector<std::uint8_t> rec(static_cast<std::size_t>(h.recordSize));
    log_stores::run_file::RecordHead head;
    head.time = time;
    head.sigChangeMark = mark;
    head.sigChangeValue = lv;
    log_stores::run_file::encode_record_head(head, rec);
    std::size_t k = 0;
    for (std::size_t b = 0; b < h.blockCount; ++b)
        for (std::uint32_t j = 0; j < h.blocks[b].channel_count(); ++j, ++k) {
            const Sample s = k < samples.size() ? samples[k] : Sample{0x20, 0};
            log_stores::run_file::write_sample(rec, h.blocks[b], j, {s.flags, s.value});
        }
    return rec;
}

}  // namespace log_stores_test
