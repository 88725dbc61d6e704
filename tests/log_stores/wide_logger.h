#pragma once
// A logger as wide as a DATA table on MariaDB can be: 64 blocks, analog channels and digital
// ones logged as state texts, and records whose analog values are random 32-bit patterns, so
// that a value that comes back changed in any bit is seen.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "db_schema_fixtures.h"
#include "log_stores/log_header.h"
#include "log_stores/run_file/run_file_format.h"

namespace log_stores_test {

// InnoDB keeps at most 1,017 columns: DT, MS, TX, LL, LV and TP leave 1,011 for channels.
inline constexpr int kWidestWithSigChange = 1011;

struct WideLogger {
    log_stores::LogHeader header{};
    // One vector per block, the block's configurations in channel order.
    std::vector<std::vector<qvr::ChannelRecord>> configs;
    std::vector<const qvr::ChannelRecord*> table;
    int digital = 0;  // the channels of the last blocks are digital
};

// `channels` spread over 64 blocks of two-letter prefixes, the last `digital` of them digital.
inline WideLogger wide_logger(int channels, int digital, bool sig_change) {
    WideLogger w;
    w.digital = digital;
    std::vector<BlockSpec> specs;
    const int blocks = static_cast<int>(log_stores::kMaxBlocks);
    int placed = 0;
    for (int b = 0; b < blocks; ++b) {
        const int n = channels / blocks + (b < channels % blocks ? 1 : 0);
        const std::string prefix{static_cast<char>('A' + b / 26), static_cast<char>('A' + b % 26)};
        specs.push_back({prefix, 1, static_cast<std::uint16_t>(n)});
        std::vector<qvr::ChannelRecord> block;
        for (int k = 0; k < n; ++k, ++placed) {
            const std::string tag = prefix + std::to_string(k + 1);
            block.push_back(placed >= channels - digital ? digital_channel(tag, "CLOSED \x80", "OPEN")
                                                         : analog_channel(tag));
        }
        w.configs.push_back(std::move(block));
    }
    w.header = header_of(specs, false, sig_change);
    for (const auto& block : w.configs) w.table.push_back(block.data());
    return w;
}

inline bool digital_at(const WideLogger& w, int index, int channels) { return index >= channels - w.digital; }

// `count` records a second apart; analog values are random finite bit patterns, digital ones
// alternate.
inline std::vector<std::uint8_t> wide_records(const WideLogger& w, int count, std::int32_t start,
                                              std::uint32_t seed) {
    const auto& h = w.header;
    std::mt19937 random(seed);
    int channels = 0;
    for (std::size_t b = 0; b < h.blockCount; ++b) channels += static_cast<int>(h.blocks[b].channel_count());
    std::vector<std::uint8_t> out;
    for (int i = 0; i < count; ++i) {
        std::vector<Sample> samples;
        for (int k = 0; k < channels; ++k) {
            if (digital_at(w, k, channels)) {
                samples.push_back({(i + k) % 2 ? 0x01 : 0x00, 0});
                continue;
            }
            float value = 0;
            do {
                const std::uint32_t bits = static_cast<std::uint32_t>(random());
                std::memcpy(&value, &bits, sizeof value);
            } while (!std::isfinite(value));
            samples.push_back({0x80, value});
        }
        const auto r = record_of(h, TimeStamp{start + i, static_cast<std::int16_t>(i % 1000), 0}, samples,
                                 static_cast<std::uint8_t>(i % 2), 0.5f);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

// Every analog value read back has the bits it was written with; digital channels come back
// as the stores read state texts, so only the analog ones are compared.
inline void expect_same_analog_bits(const WideLogger& w, std::span<const std::uint8_t> written,
                                    std::span<const std::uint8_t> read, int count) {
    const auto& h = w.header;
    const auto size = static_cast<std::size_t>(h.recordSize);
    int channels = 0;
    for (std::size_t b = 0; b < h.blockCount; ++b) channels += static_cast<int>(h.blocks[b].channel_count());
    int wrong = 0;
    for (int i = 0; i < count; ++i) {
        const auto a = written.subspan(static_cast<std::size_t>(i) * size, size);
        const auto r = read.subspan(static_cast<std::size_t>(i) * size, size);
        EXPECT_EQ(log_stores::run_file::decode_record_head(r).time.seconds,
                  log_stores::run_file::decode_record_head(a).time.seconds);
        int k = 0;
        for (std::size_t b = 0; b < h.blockCount; ++b)
            for (std::uint32_t j = 0; j < h.blocks[b].channel_count(); ++j, ++k) {
                if (digital_at(w, k, channels)) continue;
                log_stores::run_file::ChannelSample x{}, y{};
                log_stores::run_file::read_sample(a, h.blocks[b], j, x);
                log_stores::run_file::read_sample(r, h.blocks[b], j, y);
                std::uint32_t xb = 0, yb = 0;
                std::memcpy(&xb, &x.value, 4);
                std::memcpy(&yb, &y.value, 4);
                if ((y.flags & 0x80) == 0 || xb != yb) {
                    if (++wrong <= 5) ADD_FAILURE() << "record " << i << " channel " << k << ": " << std::hex << xb
                                                    << " came back " << yb << " flags " << y.flags;
                }
            }
    }
    EXPECT_EQ(wrong, 0);
}

}  // namespace log_stores_test
