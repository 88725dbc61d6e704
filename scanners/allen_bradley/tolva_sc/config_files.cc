#include "tolva_sc/config_files.h"

#include "qvr/config/cfg_channel_tables.h"
#include "qvr/config/cfg_device_config.h"

namespace tolva {

ConfigFiles current_folder_config_files() {
    ConfigFiles files;
    files.load_device_config = [](DeviceConfigRecord& config) {
        return cfg_LoadDeviceConfigFromCwd(&config, static_cast<int32_t>(sizeof config));
    };
    files.load_autosave = [](AutosaveSettings& settings) {
        return cfg_LoadAutosaveSettingsFromCwd(&settings.save_outputs, &settings.save_by_tag,
                                               &settings.save_rate_ms);
    };
    files.load_channels = [](int kind, std::span<qvr::ChannelRecord> records) {
        return cfg_LoadChannelsFromCwd(kind, records.data(), 0, static_cast<int>(records.size()));
    };
    return files;
}

}  // namespace tolva
