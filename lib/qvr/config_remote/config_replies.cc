#include "qvr/config_remote/config_replies.h"

#include <algorithm>
#include <cstring>

namespace qvr::config_remote {

namespace {

void copy_out(std::span<const char> from, std::size_t at, std::span<uint8_t> to) {
    if (!to.empty()) std::memcpy(to.data(), from.data() + at, to.size());
}

}  // namespace

bool take_channels_reply(int result, std::span<const char> reply, std::span<uint8_t> records,
                         std::span<uint8_t> extra) {
    if (result != 0 || reply.size() != kChannelsReplyHead + records.size() + extra.size()) return false;
    copy_out(reply, kChannelsReplyHead, records);
    copy_out(reply, kChannelsReplyHead + records.size(), extra);
    return true;
}

bool take_settings_reply(int result, std::span<const char> reply, std::span<uint8_t> config,
                         std::span<uint8_t> extra, const SettingsOutputs& out) {
    if (result != 0 || reply.size() != kSettingsReplyHead + config.size() + extra.size()) return false;
    const auto byte = [&](std::size_t at) { return static_cast<uint8_t>(reply[at]); };
    if (out.auto_enable != nullptr) *out.auto_enable = byte(2);
    if (out.save_outputs != nullptr) *out.save_outputs = byte(3);
    if (out.save_by_tag != nullptr) *out.save_by_tag = byte(4);
    if (out.save_rate != nullptr) {
        const uint32_t rate = static_cast<uint32_t>(byte(5)) | static_cast<uint32_t>(byte(6)) << 8 |
                              static_cast<uint32_t>(byte(7)) << 16 | static_cast<uint32_t>(byte(8)) << 24;
        *out.save_rate = static_cast<int32_t>(rate);
    }
    copy_out(reply, kSettingsReplyHead, config);
    copy_out(reply, kSettingsReplyHead + config.size(), extra);
    return true;
}

}  // namespace qvr::config_remote
