#pragma once
// The replies of the bulk reads: "IF" (result, then from byte 2 the channel records and the
// extra data) and "GF" (result; byte 2 AutoEnable, 3 SaveOutputs, 4 SaveByTag, 5-8 SaveRate;
// from byte 9 the configuration record and the extra data). A reply is taken only when its
// result is 0 and its length is exactly what was asked for; else the caller falls back.
#include <cstdint>
#include <span>

namespace qvr::config_remote {

inline constexpr uint32_t kChannelsReplyHead = 2;
inline constexpr uint32_t kSettingsReplyHead = 9;

// Copies the records and then the extra data out of `reply` (the bytes that arrived).
bool take_channels_reply(int result, std::span<const char> reply, std::span<uint8_t> records,
                         std::span<uint8_t> extra);

struct SettingsOutputs {
    uint8_t* auto_enable = nullptr;
    uint8_t* save_outputs = nullptr;
    uint8_t* save_by_tag = nullptr;
    int32_t* save_rate = nullptr;
};
bool take_settings_reply(int result, std::span<const char> reply, std::span<uint8_t> config,
                         std::span<uint8_t> extra, const SettingsOutputs& out);

}  // namespace qvr::config_remote
