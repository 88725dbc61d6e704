#include "sample_files.h"

#include <array>
#include <cstring>
#include <fstream>

#include "TOLVA_CF/exports.h"
#include "host/runtime_host.h"
#include "qvr/time/timestamp.h"
#include "rig/sample_device.h"

namespace sim_config {
namespace {

constexpr const char* kKindFiles[] = {"ai.tab", "di.tab", "ao.tab", "do.tab", "ci.tab"};

bool write_bytes(const std::filesystem::path& path, const void* bytes, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
    return static_cast<bool>(out.flush());
}

// The configuration program's record of the device the host stand-in would make.
tolva::HostDeviceRecord host_record(const sim_host::DeviceSpec& spec, const tolva::DeviceConfigRecord& config) {
    tolva::HostDeviceRecord device{};
    device.PortNumber = 3;
    std::strncpy(device.DeviceName, spec.name.c_str(), sizeof device.DeviceName - 1);
    std::strncpy(device.ConfigFolder, spec.config_name.c_str(), sizeof device.ConfigFolder - 1);
    for (std::size_t k = 0; k < spec.codes.size(); ++k) {
        if (spec.codes[k].size() != 2 || spec.channels[k].empty()) continue;
        std::memcpy(device.Kinds[k].ModuleCode, spec.codes[k].data(), 2);
        device.Kinds[k].ChannelCount = static_cast<std::uint16_t>(spec.channels[k].size());
    }
    device.Config = config;
    return device;
}

}  // namespace

std::vector<std::string> write_sample_device(const std::filesystem::path& folder, std::string& error) {
    sim_host::DeviceSpec spec;
    tolva::DeviceConfigRecord config{};
    sim_rig::plain_device(spec, config);
    sim_rig::describe_sample_device(spec, config);

    std::vector<std::string> written;
    const auto fail = [&](const std::filesystem::path& path) {
        error = "cannot write " + path.string();
        return std::vector<std::string>{};
    };
    const auto put = [&](const char* name, const void* bytes, std::size_t size, const std::string& what) {
        const auto path = folder / name;
        if (!write_bytes(path, bytes, size)) return false;
        written.push_back(path.string() + "  " + what);
        return true;
    };

    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    const tolva::HostDeviceRecord device = host_record(spec, config);
    if (!put("device.rec", &device, sizeof device, "device record, 924 bytes (" + spec.name + ")"))
        return fail(folder / "device.rec");
    if (!put("config.rec", &config, sizeof config, "device configuration, 704 bytes"))
        return fail(folder / "config.rec");
    const qvr::ChannelRecord& level = spec.channels[0][0];
    if (!put("channel.rec", &level, sizeof level, "one channel record, 216 bytes (AI LEVEL)"))
        return fail(folder / "channel.rec");
    for (std::size_t k = 0; k < 4; ++k) {
        const auto& table = spec.channels[k];
        const std::string what = "channel table of module " + spec.codes[k] + ", " + std::to_string(table.size()) +
                                 " x 216 bytes";
        if (!put(kKindFiles[k], table.data(), table.size() * sizeof(qvr::ChannelRecord), what))
            return fail(folder / kKindFiles[k]);
    }

    // The same device as the configuration server keeps it (QVR_CURRENT_CONFIG on this machine).
    const auto device_folder = folder / "CURRENT_CONFIG" / spec.config_name;
    std::filesystem::create_directories(device_folder, ec);
    std::array<std::uint8_t, 704> bytes{};
    std::memcpy(bytes.data(), &config, sizeof config);
    if (!sim_host::write_device_config(device_folder, bytes)) return fail(device_folder / "config");
    const std::uint8_t no_autosave[6] = {};
    if (!write_bytes(device_folder / "saveconfig", no_autosave, sizeof no_autosave))
        return fail(device_folder / "saveconfig");
    TimeStamp now{};
    rt_GetLocalStamp(&now);
    for (std::size_t k = 0; k < 4; ++k)
        sim_host::write_channel_file(device_folder, static_cast<qvr::ChannelKind>(k), spec.channels[k], now);
    written.push_back(device_folder.string() + "  configuration folder (config, saveconfig, ai, di, ao, do)");
    return written;
}

}  // namespace sim_config
