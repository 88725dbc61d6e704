#pragma once
// The in-memory header of one logged run, filled by every store kind's ReadHeader and
// written by the run file store. Times are UTC seconds since 1970.
#include <array>
#include <cstdint>

#include "platform/time_zone.h"
#include "qvr/time/timestamp.h"

namespace log_stores {

inline constexpr std::size_t kMaxBlocks = 64;
inline constexpr std::size_t kBlockCarriedSize = 42;

// One block of channels of one device.
struct BlockDescriptor {
    std::array<char, 2> prefix{};  // the device's 2-letter code
    std::uint16_t firstChannel = 0;
    std::uint16_t lastChannel = 0;
    std::uint16_t blockKind = 0;
    std::uint16_t recordOffset = 0;  // where the block's data starts inside a record
    std::array<std::uint8_t, kBlockCarriedSize> carried{};

    // lastChannel - firstChannel + 1; 0 for a block whose last channel lies below its first.
    std::uint32_t channel_count() const {
        return lastChannel < firstChannel ? 0u : std::uint32_t{lastChannel} - firstChannel + 1u;
    }
    bool operator==(const BlockDescriptor&) const = default;
};

struct LogHeader {
    std::int32_t endOfData = 0;
    std::uint16_t formatTag = 0;
    std::uint16_t blockCount = 0;  // blocks in use, at most 64
    std::int32_t recordCount = 0;
    TimeStamp start{};
    TimeStamp stop{};  // seconds 0 while the run is logged
    std::int32_t dataStart = 0;
    std::int32_t recordSize = 0;
    std::array<BlockDescriptor, kMaxBlocks> blocks{};
    std::uint8_t tagColumns = 0;
    std::uint8_t sigChange = 0;
    std::array<char, 2> triggerPrefix{};
    std::int16_t triggerNumber = 0;
    std::array<char, 2> lagPrefix{};
    std::int16_t lagNumber = 0;
    // Copied between file and memory unchanged; no store interprets them.
    std::array<std::uint8_t, 8> carried8{};
    std::int32_t carried32 = 0;
    std::int16_t carried16 = 0;
    std::int32_t extendedLength = 0;
    std::int32_t extendedOffset = 0;
    platform::TimeZoneInformation timeZone{};
};

bool operator==(const LogHeader& a, const LogHeader& b);

}  // namespace log_stores
