#pragma once
// The per-kind handlers that start-up and the scan engine call: an init handler that builds
// the kind's block list from its channel records, and a scan handler that moves the kind's
// values between the controllers and the status words and values it is given. Kinds are
// AI 0, DI 1, AO 2, DO 3, CI 4; counter inputs are not served by this device.
//
// Output scans (AO, DO): every block starts at status 0 without change marks; unless the
// scan reads its changed blocks (the first one with ReadFirst), a block whose data never came
// from the controller is read first; the values go into the blocks; changed blocks are
// written (only their changed elements, and of those only the bits the channels own) or, on
// the first scan with ReadFirst, read; unchanged blocks are read back with ReadBack; the
// block data then go back into the values.
#include <array>
#include <cstdint>
#include <span>

#include "qvr/records/channel_record.h"
#include "tolva_ex/records.h"
#include "tolva_sc/io_block.h"
#include "tolva_sc/io_transfer.h"
#include "tolva_sc/pccc_commands.h"
#include "tolva_sc/station_table.h"

namespace tolva {

inline constexpr int kKindCount = 5;
// A scan handler's result when the kind has nothing for the scan engine to judge.
inline constexpr int kNothingToJudge = 2;
namespace kind {
inline constexpr int kAI = 0;
inline constexpr int kDI = 1;
inline constexpr int kAO = 2;
inline constexpr int kDO = 3;
inline constexpr int kCI = 4;
}  // namespace kind

constexpr bool kind_is_digital(int k) {
    return (k & 1) != 0;
}

// Process-wide output actions: 0 none, 1 write, 2 read (first scan); the action of a block
// with a changed element; the action of a block without one (2 read with ReadBack, else 3).
struct OutputActions {
    int32_t first_scan = 0;
    int32_t changed = block_status::kWrite;
    int32_t unchanged = block_status::kValid;
};

class KindHandlers {
  public:
    KindHandlers(PcccCommands& commands, StationTable& stations);

    // 0, or -1: CI always (ENOTSUP), a kind outside 0-4 (EINVAL).
    int init(int kind, const DeviceConfigRecord& config, std::span<const qvr::ChannelRecord> records);
    // 0, or kNothingToJudge (2) for CI. `status` holds a word per channel; `values` a value per channel for analog kinds
    // (empty for digital ones). Channels beyond the shorter of the spans are not touched.
    int scan(int kind, const DeviceConfigRecord& config, std::span<const qvr::ChannelRecord> records,
             std::span<uint32_t> status, std::span<float> values);
    // The counter-reset command: nothing to do.
    int reset_counters() { return 0; }

    // Open and reconfiguration: stations that failed their probe are probed again, and the
    // lists that use a station that changed are built again.
    void reprobe_stations();
    // At the start of every scan: stations that failed their probe are probed again (once per
    // scan), and the lists that use a station that answered are built again.
    void begin_scan();

    const BlockList& blocks(int kind) const { return lists_[static_cast<size_t>(kind)]; }
    const OutputActions& actions() const { return actions_; }

  private:
    void rebuild_for(const std::vector<uint8_t>& changed_stations);
    void build(int kind);
    void scan_inputs(int kind, std::span<const qvr::ChannelRecord> records, std::span<uint32_t> status,
                     std::span<float> values);
    void scan_outputs(int kind, std::span<const qvr::ChannelRecord> records, std::span<uint32_t> status,
                      std::span<float> values);

    PcccCommands& commands_;
    StationTable& stations_;
    std::array<BlockList, kKindCount> lists_;
    std::array<std::span<const qvr::ChannelRecord>, kKindCount> records_{};
    std::array<bool, kKindCount> initialised_{};
    OutputActions actions_;
};

}  // namespace tolva
