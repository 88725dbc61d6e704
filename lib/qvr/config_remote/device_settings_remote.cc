// A device's own settings on a server ("config", "saveconfig" and the extra file): through its
// folder, or by "GF"/"FF" with the "RF"/"WF" fallbacks.
#include <array>
#include <span>
#include <string>

#include "platform/last_error.h"
#include "qvr/config/cfg_device_config.h"
#include "qvr/config_remote/config_remote.h"
#include "qvr/config_remote/config_replies.h"
#include "qvr/config_remote/remote_way.h"
#include "qvr/requests/request_text.h"

using namespace qvr::config_remote;

namespace {

constexpr const char* kConfigFile = "config";
constexpr const char* kAutosaveFile = "saveconfig";
constexpr std::size_t kAutosaveSize = 6;
// The record of "config" follows its AutoEnable byte.
constexpr uint64_t kRecordOffset = 1;

using Autosave = std::array<uint8_t, kAutosaveSize>;

struct Settings {
    const uint8_t* auto_enable = nullptr;
    const uint8_t* save_outputs = nullptr;
    const uint8_t* save_by_tag = nullptr;
    const int32_t* save_rate = nullptr;
    bool any_autosave() const {
        return save_outputs != nullptr || save_by_tag != nullptr || save_rate != nullptr;
    }
    bool whole_autosave() const {
        return save_outputs != nullptr && save_by_tag != nullptr && save_rate != nullptr;
    }
};

bool sizes_ok(const char* device, const void* config, int32_t config_size, const void* extra,
              int32_t extra_size) {
    return device_ok(device) && (config == nullptr || config_size >= 0) &&
           (extra == nullptr || extra_size >= 0);
}

uint64_t size_of(const void* data, int32_t size) {
    return data != nullptr ? static_cast<uint64_t>(size) : 0;
}

std::string flag(const void* wanted) {
    return wanted != nullptr ? "1" : "0";
}

template <typename T>
std::string value_or_space(const T* value) {
    return value != nullptr ? std::to_string(+*value) : " ";
}

int read_auto_enable(const char* server, const char* device, uint8_t* out) {
    const std::string path = remote_path(device, kConfigFile);
    return read_remote(server, path, 0, std::span<uint8_t>(out, 1), chunk_limit(path));
}

int read_autosave(const char* server, const char* device, uint8_t* save_outputs, uint8_t* save_by_tag,
                  int32_t* save_rate) {
    const std::string path = remote_path(device, kAutosaveFile);
    Autosave bytes{};
    if (read_remote(server, path, 0, bytes, chunk_limit(path)) != 0) return -1;
    if (save_outputs != nullptr) *save_outputs = bytes[0];
    if (save_by_tag != nullptr) *save_by_tag = bytes[1];
    if (save_rate != nullptr)
        *save_rate = static_cast<int32_t>(
            static_cast<uint32_t>(bytes[2]) | static_cast<uint32_t>(bytes[3]) << 8 |
            static_cast<uint32_t>(bytes[4]) << 16 | static_cast<uint32_t>(bytes[5]) << 24);
    return 0;
}

int write_auto_enable(const char* server, const char* device, uint8_t value) {
    const std::string path = remote_path(device, kConfigFile);
    return write_remote(server, path, 0, std::span<const uint8_t>(&value, 1), chunk_limit(path), kOpenAlways);
}

// The settings given laid over the file's (a part left out keeps its stored value).
int write_autosave(const char* server, const char* device, const Settings& s) {
    const std::string path = remote_path(device, kAutosaveFile);
    Autosave bytes{};
    if (!s.whole_autosave()) {
        uint8_t outputs = 0, by_tag = 0;
        int32_t rate = 0;
        if (read_autosave(server, device, &outputs, &by_tag, &rate) == 0) {
            bytes[0] = outputs;
            bytes[1] = by_tag;
            for (int i = 0; i < 4; ++i)
                bytes[2 + i] = static_cast<uint8_t>(static_cast<uint32_t>(rate) >> (8 * i));
        }
    }
    if (s.save_outputs != nullptr) bytes[0] = *s.save_outputs;
    if (s.save_by_tag != nullptr) bytes[1] = *s.save_by_tag;
    if (s.save_rate != nullptr)
        for (int i = 0; i < 4; ++i)
            bytes[2 + i] = static_cast<uint8_t>(static_cast<uint32_t>(*s.save_rate) >> (8 * i));
    return write_remote(server, path, 0, bytes, chunk_limit(path), kOpenAlways);
}

// The record, the extra data, AutoEnable and the autosave settings file by file.
int read_settings_files(const char* server, const char* device, std::span<uint8_t> config,
                        std::span<uint8_t> extra, const char* extra_name, const SettingsOutputs& out) {
    const std::string path = remote_path(device, kConfigFile);
    if (!config.empty() && read_remote(server, path, kRecordOffset, config, chunk_limit(path)) != 0)
        return -1;
    if (!extra.empty()) {
        if (!file_name_ok(extra_name)) return platform::fail(platform::kErrorInvalidParameter);
        const std::string extra_path = remote_path(device, extra_name);
        if (read_remote(server, extra_path, 0, extra, chunk_limit(extra_path)) != 0) return -1;
    }
    if (out.auto_enable != nullptr && read_auto_enable(server, device, out.auto_enable) != 0) return -1;
    if ((out.save_outputs != nullptr || out.save_by_tag != nullptr || out.save_rate != nullptr) &&
        read_autosave(server, device, out.save_outputs, out.save_by_tag, out.save_rate) != 0)
        return -1;
    return 0;
}

int write_settings_files(const char* server, const char* device, std::span<const uint8_t> config,
                         std::span<const uint8_t> extra, const char* extra_name, const Settings& s) {
    const std::string path = remote_path(device, kConfigFile);
    if (!config.empty() &&
        write_remote(server, path, kRecordOffset, config, chunk_limit(path), kOpenAlways) != 0)
        return -1;
    if (!extra.empty()) {
        if (!file_name_ok(extra_name)) return platform::fail(platform::kErrorInvalidParameter);
        const std::string extra_path = remote_path(device, extra_name);
        if (write_remote(server, extra_path, 0, extra, chunk_limit(extra_path), kOpenAlways) != 0) return -1;
    }
    if (s.auto_enable != nullptr && write_auto_enable(server, device, *s.auto_enable) != 0) return -1;
    if (s.any_autosave() && write_autosave(server, device, s) != 0) return -1;
    return 0;
}

}  // namespace

int cfg_ReadDeviceSettings(const char* server, const char* device, void* config, int32_t config_size,
                           void* extra, int32_t extra_size, const char* extra_name, uint8_t* auto_enable,
                           uint8_t* save_outputs, uint8_t* save_by_tag, int32_t* save_rate) {
    if (!sizes_ok(device, config, config_size, extra, extra_size))
        return platform::fail(platform::kErrorInvalidParameter);
    const auto way = way_to(server);
    if (!way) return -1;
    if (way->by_folder)
        return cfg_LoadDeviceConfig(device_folder(way->folder, device).c_str(), config, config_size, extra,
                                    extra_size, extra_name, auto_enable, save_outputs, save_by_tag,
                                    save_rate);

    const std::span<uint8_t> config_out(static_cast<uint8_t*>(config), size_of(config, config_size));
    const std::span<uint8_t> extra_out(static_cast<uint8_t*>(extra), size_of(extra, extra_size));
    const uint64_t reply_size = config_out.size() + extra_out.size() + kSettingsReplyHead;
    std::string device_text, extra_text;
    if (reply_size > INT32_MAX || !text_field(device, device_text) || !text_field(extra_name, extra_text))
        return platform::fail(platform::kErrorInvalidParameter);
    const SettingsOutputs out{auto_enable, save_outputs, save_by_tag, save_rate};

    const std::string request = "GF," + std::to_string(reply_size) + "," + device_text + "," +
                                std::to_string(config_out.size()) + "," + std::to_string(extra_out.size()) +
                                "," + extra_text + "," + flag(auto_enable) + "," + flag(save_outputs) + "," +
                                flag(save_by_tag) + "," + flag(save_rate);
    qvr::requests::Reply reply;
    const uint32_t capacity =
        reply_size > kMinReplyCapacity ? static_cast<uint32_t>(reply_size) : kMinReplyCapacity;
    const int result = qvr::requests::send_text(server, request, capacity, reply);
    if (take_settings_reply(result, reply.all(), config_out, extra_out, out)) return 0;
    if (result == -1 && failed_finally()) return -1;
    trace_line("GF to " + server_name(server) + " not answered in full (result " + std::to_string(result) +
               ", " + std::to_string(reply.received) + " of " + std::to_string(reply_size) +
               " bytes): reading the files");
    return read_settings_files(server, device, config_out, extra_out, extra_name, out);
}

int cfg_ReadDeviceConfig(const char* server, const char* device, void* config, int32_t config_size) {
    return cfg_ReadDeviceSettings(server, device, config, config_size, nullptr, 0, nullptr, nullptr, nullptr,
                                  nullptr, nullptr);
}

int cfg_ReadDeviceConfigAndExtra(const char* server, const char* device, void* config, int32_t config_size,
                                 void* extra, int32_t extra_size, const char* extra_name) {
    return cfg_ReadDeviceSettings(server, device, config, config_size, extra, extra_size, extra_name, nullptr,
                                  nullptr, nullptr, nullptr);
}

int cfg_ReadAutoEnable(const char* server, const char* device, uint8_t* auto_enable) {
    if (!device_ok(device) || auto_enable == nullptr) return platform::fail(platform::kErrorInvalidParameter);
    const auto way = way_to(server);
    if (!way) return -1;
    if (way->by_folder)
        return cfg_LoadDeviceConfig(device_folder(way->folder, device).c_str(), nullptr, 0, nullptr, 0,
                                    nullptr, auto_enable, nullptr, nullptr, nullptr);
    return read_auto_enable(server, device, auto_enable);
}

int cfg_ReadAutosaveSettings(const char* server, const char* device, uint8_t* save_outputs,
                             uint8_t* save_by_tag, int32_t* save_rate) {
    if (!device_ok(device)) return platform::fail(platform::kErrorInvalidParameter);
    const auto way = way_to(server);
    if (!way) return -1;
    if (way->by_folder)
        return cfg_LoadDeviceConfig(device_folder(way->folder, device).c_str(), nullptr, 0, nullptr, 0,
                                    nullptr, nullptr, save_outputs, save_by_tag, save_rate);
    return read_autosave(server, device, save_outputs, save_by_tag, save_rate);
}

int cfg_WriteDeviceSettings(const char* server, const char* user, const char* device, const void* config,
                            int32_t config_size, const void* extra, int32_t extra_size,
                            const char* extra_name, const uint8_t* auto_enable, const uint8_t* save_outputs,
                            const uint8_t* save_by_tag, const int32_t* save_rate) {
    if (!sizes_ok(device, config, config_size, extra, extra_size))
        return platform::fail(platform::kErrorInvalidParameter);
    const auto way = way_to(server);
    if (!way) return -1;
    if (way->by_folder)
        return cfg_SaveDeviceConfig(user, device_folder(way->folder, device).c_str(), config, config_size,
                                    extra, extra_size, extra_name, auto_enable, save_outputs, save_by_tag,
                                    save_rate);

    const std::span<const uint8_t> config_in(static_cast<const uint8_t*>(config),
                                             size_of(config, config_size));
    const std::span<const uint8_t> extra_in(static_cast<const uint8_t*>(extra), size_of(extra, extra_size));
    const uint64_t data_size = config_in.size() + extra_in.size();
    std::string user_text, device_text, extra_text;
    if (data_size > INT32_MAX || !user_field(user, user_text) || !text_field(device, device_text) ||
        !text_field(extra_name, extra_text))
        return platform::fail(platform::kErrorInvalidParameter);

    std::string request = "FF," + std::to_string(data_size) + "," + user_text + "," + device_text + "," +
                          std::to_string(config_in.size()) + "," + std::to_string(extra_in.size()) + "," +
                          extra_text + "," + value_or_space(auto_enable) + "," +
                          value_or_space(save_outputs) + "," + value_or_space(save_by_tag) + "," +
                          value_or_space(save_rate);
    request.push_back('\0');
    request.append(reinterpret_cast<const char*>(config_in.data()), config_in.size());
    request.append(reinterpret_cast<const char*>(extra_in.data()), extra_in.size());
    qvr::requests::Reply reply;
    const int result = qvr::requests::send_bytes(server, request, kWriteReplyCapacity, reply);
    if (result == -1) {
        if (failed_finally()) return -1;
        trace_line("FF to " + server_name(server) + " failed (error " +
                   std::to_string(platform::last_error()) + "): writing the files");
        const Settings settings{auto_enable, save_outputs, save_by_tag, save_rate};
        if (write_settings_files(server, device, config_in, extra_in, extra_name, settings) != 0) return -1;
    }
    if (has_text(device)) touch_configuration(server);
    platform::set_last_error(0);
    return 0;
}

int cfg_WriteDeviceConfig(const char* server, const char* user, const char* device, const void* config,
                          int32_t config_size) {
    return cfg_WriteDeviceSettings(server, user, device, config, config_size, nullptr, 0, nullptr, nullptr,
                                   nullptr, nullptr, nullptr);
}

int cfg_WriteDeviceConfigAndExtra(const char* server, const char* user, const char* device,
                                  const void* config, int32_t config_size, const void* extra,
                                  int32_t extra_size, const char* extra_name) {
    return cfg_WriteDeviceSettings(server, user, device, config, config_size, extra, extra_size, extra_name,
                                   nullptr, nullptr, nullptr, nullptr);
}

int cfg_WriteAutoEnable(const char* server, const char* user, const char* device, uint8_t auto_enable) {
    if (!device_ok(device)) return platform::fail(platform::kErrorInvalidParameter);
    const auto way = way_to(server);
    if (!way) return -1;
    if (way->by_folder)
        return cfg_SaveDeviceConfig(user, device_folder(way->folder, device).c_str(), nullptr, 0, nullptr, 0,
                                    nullptr, &auto_enable, nullptr, nullptr, nullptr);
    return write_auto_enable(server, device, auto_enable);
}

int cfg_WriteAutosaveSettings(const char* server, const char* user, const char* device, uint8_t save_outputs,
                              uint8_t save_by_tag, int32_t save_rate) {
    if (!device_ok(device)) return platform::fail(platform::kErrorInvalidParameter);
    const auto way = way_to(server);
    if (!way) return -1;
    if (way->by_folder)
        return cfg_SaveDeviceConfig(user, device_folder(way->folder, device).c_str(), nullptr, 0, nullptr, 0,
                                    nullptr, nullptr, &save_outputs, &save_by_tag, &save_rate);
    return write_autosave(server, device, Settings{nullptr, &save_outputs, &save_by_tag, &save_rate});
}
