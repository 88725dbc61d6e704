#pragma once
// The configuration printout of one device: the device block and settings, then one
// listing per channel kind, each a heading on every page and two lines per enabled channel.
// Records the caller does not give are read from the configuration server.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "TOLVA_CF/exports.h"
#include "TOLVA_CF/logic/line_printer.h"

namespace tolva::cf {

inline constexpr int kChannelKindCount = 5;  // AI DI AO DO CI

// A device's settings as the configuration server keeps them.
struct StoredDeviceSettings {
    std::uint8_t auto_enable = 0;
    DeviceConfigRecord config{};
    std::uint8_t save_outputs = 0;
    std::uint8_t save_by_tag = 0;
    std::int32_t save_rate = 0;
};

// Where records the caller does not give come from. Each read is 0, or -1 with errno set.
class ConfigurationSource {
  public:
    virtual ~ConfigurationSource() = default;
    virtual int read_device_settings(std::string_view server, std::string_view device,
                                     StoredDeviceSettings& out) = 0;
    // Channels first_index .. first_index + out.size() - 1 (0-based) of the kind.
    virtual int read_channels(std::string_view server, std::string_view device, int kind, int first_index,
                              std::span<qvr::ChannelRecord> out) = 0;
};

// The configuration server through the runtime library's configuration access.
ConfigurationSource& server_configuration();

struct PrintAllRequest {
    std::string_view server;
    const HostDeviceRecord* device = nullptr;
    int status = 0;
    bool autosave = false;
    bool by_tag = false;
    std::int32_t save_rate_ms = 0;
    const DeviceConfigRecord* config = nullptr;         // null: read from the server
    const qvr::ChannelRecord* const* channels = nullptr;  // per kind; null: read from the server
};

struct PrintKindRequest {
    std::string_view server;
    const HostDeviceRecord* device = nullptr;
    int kind = 0;
    int first = 0;  // 0: 1
    int last = 0;   // 0: the kind's count
    const qvr::ChannelRecord* records = nullptr;  // the kind's table from channel 1; null: read
};

// Each prints a whole job on `target`, with printer state of its own, and ends the last
// page. 0, or -1 with errno: invalid argument, metrics, range, read, page start or end.
int print_all_config(const TolvaPrintTarget& target, const PrintAllRequest& request, ConfigurationSource& source);
int print_kind_config(const TolvaPrintTarget& target, const PrintKindRequest& request,
                      ConfigurationSource& source);

}  // namespace tolva::cf
