#include "tolva_sc/kind_handlers.h"

#include <algorithm>
#include <cerrno>

#include "platform/last_error.h"

namespace tolva {

KindHandlers::KindHandlers(PcccCommands& commands, StationTable& stations)
    : commands_(commands), stations_(stations) {}

void KindHandlers::build(int k) {
    lists_[static_cast<size_t>(k)] =
        build_block_list(records_[static_cast<size_t>(k)], kind_is_digital(k), stations_);
}

int KindHandlers::init(int k, const DeviceConfigRecord& config, std::span<const qvr::ChannelRecord> records) {
    if (k < 0 || k >= kKindCount) return platform::fail(EINVAL);
    if (k == kind::kCI) return platform::fail(ENOTSUP);
    const auto i = static_cast<size_t>(k);
    records_[i] = records;
    build(k);
    initialised_[i] = true;
    if (k == kind::kAO || k == kind::kDO) {
        actions_.first_scan = config.Comm.ReadFirst != 0 ? block_status::kRead : block_status::kWrite;
        actions_.unchanged = config.Comm.ReadBack != 0 ? block_status::kRead : block_status::kValid;
    }
    return 0;
}

void KindHandlers::rebuild_for(const std::vector<uint8_t>& changed_stations) {
    if (changed_stations.empty()) return;
    for (int k = 0; k < kKindCount; ++k) {
        const auto i = static_cast<size_t>(k);
        if (!initialised_[i]) continue;
        const bool affected = std::any_of(changed_stations.begin(), changed_stations.end(),
                                          [&](uint8_t s) { return lists_[i].uses_station(s); });
        if (affected) build(k);
    }
}

void KindHandlers::reprobe_stations() {
    rebuild_for(stations_.probe_unprobed());
}

void KindHandlers::begin_scan() {
    rebuild_for(stations_.begin_scan());
}

int KindHandlers::scan(int k, const DeviceConfigRecord&, std::span<const qvr::ChannelRecord> records,
                       std::span<uint32_t> status, std::span<float> values) {
    if (k < 0 || k >= kKindCount) return platform::fail(EINVAL);
    if (k == kind::kCI) return kNothingToJudge;
    if (!initialised_[static_cast<size_t>(k)]) return 0;
    // The lists were built from these records; a later build uses what the scan hands over.
    records_[static_cast<size_t>(k)] = records;
    if (k == kind::kAO || k == kind::kDO) {
        scan_outputs(k, records, status, values);
    } else {
        scan_inputs(k, records, status, values);
    }
    return 0;
}

void KindHandlers::scan_inputs(int k, std::span<const qvr::ChannelRecord> records, std::span<uint32_t> status,
                               std::span<float> values) {
    BlockList& list = lists_[static_cast<size_t>(k)];
    read_all_blocks(list, commands_, stations_);
    blocks_to_channels(list, records, kind_is_digital(k), status, values, stations_);
}

void KindHandlers::scan_outputs(int k, std::span<const qvr::ChannelRecord> records,
                                std::span<uint32_t> status, std::span<float> values) {
    BlockList& list = lists_[static_cast<size_t>(k)];
    const bool digital = kind_is_digital(k);
    actions_.changed = actions_.first_scan != 0 ? actions_.first_scan : block_status::kWrite;
    reset_output_blocks(list);
    // A first scan that reads the outputs (ReadFirst) needs no read before it.
    if (actions_.changed == block_status::kWrite) read_unread_blocks(list, commands_, stations_);
    channels_to_blocks(list, records, digital, status, values, stations_,
                       {actions_.changed, actions_.unchanged});
    transfer_output_blocks(list, commands_, stations_);
    blocks_to_channels(list, records, digital, status, values, stations_);
    // DO runs before AO in a scan: AO then takes the first-scan action and clears it.
    const bool ao_follows = k == kind::kDO && initialised_[kind::kAO] && !records_[kind::kAO].empty();
    if (!ao_follows) actions_.first_scan = 0;
}

}  // namespace tolva
