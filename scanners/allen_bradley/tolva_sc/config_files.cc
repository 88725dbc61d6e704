#include "tolva_sc/config_files.h"

#include <cerrno>

#include "platform/last_error.h"

namespace tolva {

ConfigFiles current_folder_config_files() {
    ConfigFiles files;
    files.load_device_config = [](DeviceConfigRecord&) { return platform::fail(ENOSYS); };
    files.load_autosave = [](AutosaveSettings&) { return platform::fail(ENOSYS); };
    files.load_channels = [](int, std::span<qvr::ChannelRecord>) { return platform::fail(ENOSYS); };
    return files;
}

}  // namespace tolva
