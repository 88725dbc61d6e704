#pragma once
// The port-statistics channels: when the host gives the device a statistics module, the
// scanner fills it with ten channels per device served by the module (an online state, a
// reset request and eight communication counters). It builds their channel records itself,
// keeps the counters privately and publishes them as digital and analog output values.
//
// Device 0's counters also hold the port totals: a count added for another device is added
// to device 0 as well. The link's counts are added to device 0 and published once per scan.
#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qvr/records/channel_record.h"
#include "qvr/host/host_tables.h"
#include "tolva_sc/link_counters.h"

namespace tolva {

inline constexpr int kStatsChannelsPerDevice = 10;
inline constexpr size_t kPortTextMax = 20;

// Counters are numbered 1-10 in channel order.
namespace stats_counter {
inline constexpr int kOnline = 1;
inline constexpr int kReset = 2;
inline constexpr int kReceiveBytes = 3;
inline constexpr int kReceivePackets = 4;
inline constexpr int kReceiveTimeouts = 5;
inline constexpr int kReceiveCommErrors = 6;
inline constexpr int kReceiveCrcErrors = 7;
inline constexpr int kTransmitBytes = 8;
inline constexpr int kTransmitPackets = 9;
inline constexpr int kTransmitErrors = 10;
}  // namespace stats_counter

struct StatsChannelSpec {
    std::string_view suffix;
    std::string_view description;
    std::string_view on_text_or_units;
    std::string_view off_text;
    qvr::ChannelKind kind;
};
extern const std::array<StatsChannelSpec, kStatsChannelsPerDevice> kStatsChannels;

// The ten records of device `index` of a statistics module (each zeroed, enabled). `type_name`
// is the DeviceRecord's TypeName; a non-empty port text is appended to the state texts of
// device 0's online channel.
void build_stats_records(std::string_view type_name, uint16_t device_number, int index,
                         std::string_view port_text, std::span<qvr::ChannelRecord, kStatsChannelsPerDevice> out);

class PortStatistics {
  public:
    // Sets the channels up for the statistics module `stats_code` (the record's own device
    // is device 0 of the module). 0, or -1 with errno when nothing was set up: a module that
    // is missing, not of 8 bytes per channel, or of fewer than 10 channels.
    int setup(const DeviceRecord& device, std::string_view stats_code);
    bool is_set_up() const { return set_up_; }

    // Counts `amount` on counter 1-10 of device `index` (and of device 0); sets the device
    // online. Published by the next publish().
    void add(int index, uint32_t amount, int counter);
    // The link's counts since the last call, on device 0.
    void add_link_counts(const LinkCounters& since_last);

    // Serves reset requests and writes what changed (everything on the first publish).
    void publish();
    // Takes every device offline, publishes and forgets the set-up.
    void shutdown();

    int device_count() const { return devices_; }
    uint32_t counter(int index, int counter) const;
    const std::string& port_text() const { return port_text_; }

  private:
    void add_locked(int index, uint32_t amount, int counter);

    mutable std::mutex mutex_;
    bool set_up_ = false;
    bool first_publish_ = true;
    std::string code_;
    std::string port_text_;
    int devices_ = 0;
    std::vector<uint32_t> counters_;
    std::vector<uint32_t> status_;
    std::vector<float> values_;
};

}  // namespace tolva
