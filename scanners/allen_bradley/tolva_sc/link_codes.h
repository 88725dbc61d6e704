#pragma once
// Results of the serial link: 32-bit codes whose high byte 0x01 marks the data-link family.
// They travel as the thread's last-error value; any other value there is a platform error
// (an unplugged adapter gives EIO, which makes the scanner open the port again).
#include <cstdint>

namespace tolva::link_error {

inline constexpr int kTimeout = 0x1000001;
inline constexpr int kBadDlePair = 0x1000002;  // DLE and a byte other than ETX, ENQ or DLE in a message
inline constexpr int kTooLong = 0x1000003;     // message longer than the receive buffer
inline constexpr int kBcc = 0x1000004;
inline constexpr int kNak = 0x1000006;       // the peer refused every transmission
inline constexpr int kTooShort = 0x1000007;  // message of 5 bytes or fewer

inline constexpr int kFamilyMask = 0xFF000000;
inline constexpr int kFamily = 0x01000000;

constexpr bool is_link_error(int code) {
    return (code & kFamilyMask) == kFamily;
}

}  // namespace tolva::link_error
