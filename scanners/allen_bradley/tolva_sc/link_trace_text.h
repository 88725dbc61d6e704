#pragma once
// Readable forms of link traffic for the trace.
#include <cstdint>
#include <span>
#include <string>

namespace tolva {

// "DST=01 SRC=00 CMD=0F STS=00 TNS=0056 [12] 01 00 0F ..." (the header fields only when the
// message has a whole header).
std::string describe_message(std::span<const uint8_t> message);

// Bytes as upper-case hex pairs separated by blanks.
std::string hex_bytes(std::span<const uint8_t> bytes);

}  // namespace tolva
