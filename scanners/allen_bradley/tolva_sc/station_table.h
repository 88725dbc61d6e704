#pragma once
// The stations that the device's channels address: per station the processor type it
// reported, the I/O directory of a processor that keeps one, and a short text of the last
// communication error with it. The texts are shown one after the other as the device's
// status text.
//
// A station whose probe failed (switched off, unreachable) is marked unprobed: its O and I
// channels stay unlinked, and it is probed again on every open and reconfiguration
// (probe_unprobed) and at the start of every scan (begin_scan), at most once per scan, until
// a probe answers: a controller that comes back is served with its own commands at once.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "tolva_ex/records.h"
#include "tolva_sc/pccc_commands.h"
#include "tolva_sc/station_directory.h"

namespace tolva {

inline constexpr size_t kMaxStations = 40;
inline constexpr size_t kStationTextMax = 30;
inline constexpr int64_t kTextRotationMs = 10'000;
// Directory entries read by one request (78 bytes, 39 elements).
inline constexpr size_t kEntriesPerRequest = 13;

struct StationRecord {
    uint8_t station = 0;
    uint8_t processor_type = 0;
    bool type_known = false;  // a diagnostic status has answered, so processor_type is real
    bool probed = false;
    IoDirectory directory;
    std::array<char, kStationTextMax + 1> status_text{};
    bool probed_since_scan_began = false;

    std::string_view text() const { return status_text.data(); }
    StationAddressing addressing() const {
        return {probed, pccc::is_directory_based(processor_type), &directory};
    }
};

// Receives the text to show; an empty text clears the device's status text.
using StatusTextSink = std::function<void(std::string_view text)>;
using Clock = std::function<int64_t()>;

// The text a failed transfer leaves: "S<station> F<file>: ", the family word and the low 24
// bits of the code in hex, cut to 30 characters.
std::string station_error_text(uint8_t station, uint16_t file, int code);

class StationTable {
  public:
    // `clock` gives monotonic milliseconds (the platform's clock when empty); the sink
    // defaults to the device's status text.
    explicit StationTable(PcccCommands& commands, Clock clock = {}, StatusTextSink sink = {});

    // The station's entry, made and probed on first use; null when the table is full.
    StationRecord* ensure(uint8_t station);
    const StationRecord* find(uint8_t station) const;
    // The stored type byte, 0 for a station not in the table.
    uint8_t processor_type(uint8_t station) const;
    std::optional<NormalAddress> normalise(const ChannelHwRecord& hw, bool digital) const;

    // After a transfer: a failure replaces the station's text, a success clears a text that
    // names the same file.
    void update_status_text(const TransferRequest& request);
    // Clears every station's text (open and reconfiguration).
    void rebuild_text_list();
    // At the end of every scan: every 10 s the next non-empty text is shown.
    void rotate();

    // Probes every unprobed station again now; the stations whose type or directory changed.
    std::vector<uint8_t> probe_unprobed();
    // At the start of a scan: probes every unprobed station that was not probed since the
    // last scan began (on open, say); the stations whose type or directory changed.
    std::vector<uint8_t> begin_scan();

    size_t size() const { return stations_.size(); }
    const std::vector<StationRecord>& stations() const { return stations_; }

  private:
    StationRecord* find_mutable(uint8_t station);
    // true when the probe succeeded; the directory and type are stored either way.
    bool probe(StationRecord& record);
    bool read_directory(StationRecord& record);
    // Probes the unprobed stations that `due` accepts; those whose type or directory changed.
    std::vector<uint8_t> reprobe(const std::function<bool(const StationRecord&)>& due);
    int64_t now() const;

    PcccCommands& commands_;
    Clock clock_;
    StatusTextSink sink_;
    std::vector<StationRecord> stations_;
    size_t shown_ = 0;
    std::optional<int64_t> last_change_ms_;
};

}  // namespace tolva
