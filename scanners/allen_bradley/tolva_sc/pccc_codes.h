#pragma once
// Results of the command layer. Every code is 32 bits and its high byte names the family:
// 0x01 data link (link_codes.h), 0x02 application, 0x03 local status, 0x04 remote status,
// 0x05 extended status; any other value is a platform error.
#include <cstdint>
#include <string_view>

namespace tolva::pccc_error {

// The reply came from the interface module's own address instead of the station.
inline constexpr int kFromModule = 0x2000001;
// The reply's command is not the request's command with bit 0x40.
inline constexpr int kWrongCommand = 0x2000002;
// The reply belongs to another station or another transaction.
inline constexpr int kOtherTransaction = 0x2000003;
// The reply carries fewer data bytes than were asked for.
inline constexpr int kShortReply = 0x2000004;
// The run flag was cleared while the command waited: no data.
inline constexpr int kStopped = 0x2000005;

inline constexpr int kLocalFamily = 0x3000000;
inline constexpr int kRemoteFamily = 0x4000000;
inline constexpr int kExtendedFamily = 0x5000000;

constexpr int family(int code) {
    return static_cast<int>((static_cast<uint32_t>(code) >> 24) & 0xFF);
}

// A status the controller (or the module) answered with: the command is over.
constexpr bool is_status_error(int code) {
    const int f = family(code);
    return f == 3 || f == 4 || f == 5;
}

// The word that names the family in a station's status text.
constexpr std::string_view family_word(int code) {
    switch (family(code)) {
        case 1:
            return "Data Link ";
        case 2:
            return "App ";
        case 3:
            return "Local ";
        case 4:
            return "Remote ";
        case 5:
            return "Extended ";
        default:
            return "Win32 ";
    }
}

}  // namespace tolva::pccc_error
