#pragma once
// Runs for the run file store's tests, its helper process and its fuzz target: headers laid
// out by the logger's rules, channel configurations with recognisable bytes, and records
// whose every byte follows from their index, so a torn or misplaced record shows.
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "log_stores/log_header.h"
#include "log_stores/run_file/le_bytes.h"
#include "log_stores/run_file/run_file_format.h"
#include "log_stores/run_file/run_file_layout.h"
#include "qvr/records/channel_record.h"

namespace run_file_test {

using log_stores::LogHeader;

// `blocks` blocks of `width` analog channels each, devices "B0", "B1" ..., from channel 1.
inline LogHeader make_header(std::size_t blocks, std::uint16_t width, std::int32_t start = 1'600'000'000) {
    LogHeader h;
    h.blockCount = static_cast<std::uint16_t>(blocks);
    for (std::size_t k = 0; k < blocks; ++k) {
        h.blocks[k].prefix = {'B', static_cast<char>('0' + k % 10)};
        h.blocks[k].firstChannel = 1;
        h.blocks[k].lastChannel = width;
    }
    h.start = {start, 0, 0};
    h.sigChange = 1;
    log_stores::run_file::lay_out_header(h, "UTC");
    return h;
}

// Configurations whose bytes name their block and channel.
struct Configurations {
    std::vector<std::vector<qvr::ChannelRecord>> blocks;
    std::vector<const qvr::ChannelRecord*> pointers;
    const qvr::ChannelRecord* const* get() const { return pointers.data(); }
};
inline qvr::ChannelRecord configuration(std::size_t block, std::size_t channel) {
    qvr::ChannelRecord r{};
    for (std::size_t i = 0; i < qvr::kChannelRecordSize; ++i)
        r.bytes[i] = static_cast<std::uint8_t>(block * 31 + channel * 7 + i);
    return r;
}
inline Configurations make_configurations(const LogHeader& h) {
    Configurations c;
    for (std::size_t k = 0; k < h.blockCount; ++k) {
        std::vector<qvr::ChannelRecord> block;
        for (std::size_t j = 0; j < h.blocks[k].channel_count(); ++j) block.push_back(configuration(k, j));
        c.blocks.push_back(std::move(block));
    }
    for (const auto& block : c.blocks) c.pointers.push_back(block.data());
    return c;
}

// Record `index`: time and values follow from it; the sig-change mark is 1 below `marked`.
inline void fill_record(const LogHeader& h, std::int64_t index, std::span<std::uint8_t> out,
                        std::int64_t marked = 1'000'000'000) {
    namespace rf = log_stores::run_file;
    std::memset(out.data(), 0, out.size());
    rf::RecordHead head;
    head.sigChangeMark = index < marked ? 1 : 0;
    head.time = {static_cast<std::int32_t>(h.start.seconds + index), static_cast<std::int16_t>(index % 1000), 0};
    head.sigChangeValue = static_cast<float>(index);
    rf::encode_record_head(head, out);
    for (std::size_t k = 0; k < h.blockCount; ++k)
        for (std::uint32_t j = 0; j < h.blocks[k].channel_count(); ++j)
            rf::write_sample(out, h.blocks[k], j,
                             {rf::kSampleAnalog, static_cast<float>(index * 1000 + std::int64_t(k) * 100 + j)});
}
inline std::vector<std::uint8_t> make_records(const LogHeader& h, std::int64_t first, std::int64_t count,
                                              std::int64_t marked = 1'000'000'000) {
    const auto size = static_cast<std::size_t>(h.recordSize);
    std::vector<std::uint8_t> out(size * static_cast<std::size_t>(count));
    for (std::int64_t i = 0; i < count; ++i)
        fill_record(h, first + i, std::span(out).subspan(static_cast<std::size_t>(i) * size, size), marked);
    return out;
}
// True when `record` is exactly record `index`.
inline bool is_record(const LogHeader& h, std::int64_t index, std::span<const std::uint8_t> record) {
    std::vector<std::uint8_t> expected(static_cast<std::size_t>(h.recordSize));
    fill_record(h, index, expected);
    return record.size() >= expected.size() && std::memcmp(record.data(), expected.data(), expected.size()) == 0;
}

}  // namespace run_file_test
