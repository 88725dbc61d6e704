#pragma once
// What the scanner reads from its device's configuration folder (the current folder): the
// device configuration record, the output-saving settings and the channel tables. Tests put
// their own readers in; the program uses the configuration store's.
#include <cstdint>
#include <functional>

#include "tolva_ex/records.h"
#include "tolva_sc/channel_reload.h"

namespace tolva {

struct AutosaveSettings {
    uint8_t save_outputs = 0;
    uint8_t save_by_tag = 0;
    int32_t save_rate_ms = 0;
};

struct ConfigFiles {
    // 0, or -1 with errno (1465 for an XML file that failed; its text is the XML status).
    std::function<int(DeviceConfigRecord& config)> load_device_config;
    std::function<int(AutosaveSettings& settings)> load_autosave;
    ChannelTableLoader load_channels;
};

// The configuration store's readers of the current folder.
ConfigFiles current_folder_config_files();

}  // namespace tolva
