#include <string>

#include "TOLVA_CF/logic/printout.h"
#include "qvr/config_remote/config_remote.h"

namespace tolva::cf {

namespace {

class ServerConfiguration final : public ConfigurationSource {
  public:
    int read_device_settings(std::string_view server, std::string_view device, StoredDeviceSettings& out) override {
        const std::string server_text(server);
        const std::string device_text(device);
        if (cfg_ReadAutoEnable(server_text.c_str(), device_text.c_str(), &out.auto_enable) < 0) return -1;
        if (cfg_ReadDeviceConfig(server_text.c_str(), device_text.c_str(), &out.config,
                                 static_cast<std::int32_t>(sizeof out.config)) < 0) {
            return -1;
        }
        return cfg_ReadAutosaveSettings(server_text.c_str(), device_text.c_str(), &out.save_outputs,
                                        &out.save_by_tag, &out.save_rate);
    }

    int read_channels(std::string_view server, std::string_view device, int kind, int first_index,
                      std::span<qvr::ChannelRecord> out) override {
        const std::string server_text(server);
        const std::string device_text(device);
        return cfg_ReadChannels(server_text.c_str(), device_text.c_str(), kind, out.data(), first_index,
                                static_cast<int>(out.size()));
    }
};

}  // namespace

ConfigurationSource& server_configuration() {
    static ServerConfiguration server;
    return server;
}

}  // namespace tolva::cf
