#pragma once
// Control ids of the two dialogs. The Qt widgets carry them as object names ("ctl_1008"),
// and a refused OK names the control that has to be corrected.
#include <string>

namespace tolva::cf {

namespace channel_ctl {
inline constexpr int kFileType = 1000;
inline constexpr int kFileNumber = 1002;
inline constexpr int kElement = 1003;
inline constexpr int kBit = 1004;
inline constexpr int kAddress = 1005;
inline constexpr int kBitLabel = 1006;
inline constexpr int kStation = 1008;
inline constexpr int kMnemonic = 1009;
inline constexpr int kElementLabel = 1011;
}  // namespace channel_ctl

namespace comm_ctl {
inline constexpr int kPort = 601;
inline constexpr int kBaudRate = 602;
inline constexpr int kReadFirst = 1010;
inline constexpr int kReadBack = 1011;
inline constexpr int kReplyTimeout = 1012;
inline constexpr int kReplyAck = 1013;
inline constexpr int kMaxRetries = 1014;
inline constexpr int kMaxEnquires = 1015;
}  // namespace comm_ctl

inline std::string control_name(int id) {
    return "ctl_" + std::to_string(id);
}

// Why OK was refused: the message to show and the control to correct.
struct Refusal {
    int control_id;
    std::string message;
};

}  // namespace tolva::cf
