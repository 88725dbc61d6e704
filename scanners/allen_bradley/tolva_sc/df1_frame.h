#pragma once
// Framing of one message on the wire: DLE STX, the message with every DLE doubled, DLE ETX,
// and the block check (two's complement of the 8-bit sum of the message bytes).
#include <cstdint>
#include <span>
#include <vector>

namespace tolva::df1 {

inline constexpr uint8_t kDle = 0x10;
inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kEnq = 0x05;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;

// Header positions shared by requests and replies.
inline constexpr size_t kDstPos = 0;
inline constexpr size_t kSrcPos = 1;
inline constexpr size_t kCmdPos = 2;
inline constexpr size_t kStsPos = 3;
inline constexpr size_t kTnsLowPos = 4;
inline constexpr size_t kTnsHighPos = 5;
inline constexpr size_t kHeaderSize = 6;
// The longest message the link takes in, whatever a caller waits for: every reply the
// scanner asks for fits, so a repeat or a late reply of a larger read is still read whole.
inline constexpr size_t kMaxMessage = 256;

uint8_t block_check(std::span<const uint8_t> message);

// Replaces `frame` with the framed message.
void encode_frame(std::span<const uint8_t> message, std::vector<uint8_t>& frame);

}  // namespace tolva::df1
