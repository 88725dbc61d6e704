#pragma once
// The device one scanner process serves: its configuration, its kinds' modules and private
// arrays, the serial link with the command layer, stations and kind handlers above it, the
// scan engine and the port-statistics channels; and the steps of the program's frame that
// work on them: initialisation, opening with retry, the command loop's round, reconfiguring,
// initialising values, resetting counters, saving outputs and the exit path.
//
// Everything runs on the main thread; the command state is written by the slot's callback.
// Failures are reported as the device's status text (the XML layer's text for an XML file
// that failed).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qvr/host/host_tables.h"
#include "tolva_ex/records.h"
#include "tolva_sc/config_files.h"
#include "tolva_sc/device_kinds.h"
#include "tolva_sc/df1_link.h"
#include "tolva_sc/kind_handlers.h"
#include "tolva_sc/message_link.h"
#include "tolva_sc/pccc_commands.h"
#include "tolva_sc/port_statistics.h"
#include "tolva_sc/save_timer.h"
#include "tolva_sc/scan_engine.h"
#include "tolva_sc/scanner_commands.h"
#include "tolva_sc/station_table.h"
#include "tolva_sc/table_faults.h"

namespace tolva {

inline constexpr uint32_t kOpenRetryMs = 1000;
// The status text of a device configured with counter inputs, which it cannot open.
inline constexpr const char* kCounterInputsText = "CI CHANNELS NOT SUPPORTED";

// "<prefix><number>" with the number as "%04d" of its low 12 bits, or the XML layer's text
// when the error is the XML parse error.
std::string failure_text(std::string_view prefix, int error);
// Sets the text as the device's status text and writes it to the trace.
void report_failure(std::string_view prefix, int error);
// The same, and what the status text has no room for (the folder, the port, the error's
// text) goes with it to standard error, the trace and the message sink, for a scanner that
// cannot start to be diagnosed.
void report_failure(std::string_view prefix, int error, std::string_view detail);

class ScannerDevice {
  public:
    ScannerDevice(DeviceRecord& device, int device_index, CommandState& commands, ConfigFiles files);
    ScannerDevice(const ScannerDevice&) = delete;
    ScannerDevice& operator=(const ScannerDevice&) = delete;

    // Start-up and reconfiguration: the statistics channels, when the device table holds this
    // device's statistics code and it is not empty.
    void setup_port_statistics();
    // Reads the configuration, opens the kinds' modules, sets the link up, carves the private
    // arrays, reloads changed channel tables and restores saved values. 0, or -1 with errno
    // (the status text says why).
    int initialise();
    // Fails every channel with `failure_code`, then runs the init handlers and an initial
    // scan until they succeed (every 1,000 ms) or the run flag is cleared.
    void open_with_retry(int failure_code);
    // The command loop until the run flag is cleared or a fatal failure.
    void run();
    // One round of it; false when the loop ends.
    bool round();
    // Everything the program does on its way out but ending the process: outputs saved,
    // channels failed with `code`, the port closed, Attached cleared, the statistics
    // channels offline. Returns `code`.
    int exit_path(int code);
    // Set when a failure must end the program (configuration unreadable at reconfiguration,
    // link set-up at initialisation): the exit code.
    std::optional<int> fatal_code() const { return fatal_; }

    // The pieces, for the loop and for tests.
    void fail_all_channels(int code);
    int reconfigure();
    int initialise_values();
    int reset_counters();
    // One scan, then the link's counts to the statistics channels; a port that failed is
    // closed (so the open with retry opens it again) and the scan fails with EIO.
    int scan(bool initial);
    void publish_next_due();
    void set_busy();
    void save_outputs();

    DeviceRecord& device() { return device_; }
    DeviceKinds& kinds() { return kinds_; }
    Df1Link& link() { return link_; }
    StationTable& stations() { return stations_; }
    PortStatistics& statistics() { return stats_; }
    const DeviceConfigRecord& config() const { return config_; }
    const AutosaveSettings& autosave() const { return autosave_; }
    const SaveTimer& save_timer() const { return save_timer_; }
    std::string_view config_name() const { return config_name_; }
    // The first table or module the device cannot use, reported as its status text whenever
    // the device is open; null when there is none.
    const TableFault* table_fault() const;

  private:
    bool running() const { return commands_.running.load(); }
    void store_config(const DeviceConfigRecord& config);
    bool open_kind_modules(KindModules& k);
    int carve_private_arrays();
    int load_kind(KindModules& k);
    void zero_unused_references(KindModules& k);
    // The kind is not served: its data module (null when it did not open) is answered with
    // the fault's error at every scan.
    void refuse_kind(KindModules& k, const TableFault& fault, void* data);
    void note_kind_fault(const TableFault& fault);
    void show_table_fault();
    int setup_link();
    int init_handlers();
    void wait_ms(uint32_t ms);
    // The loop's handling of a failed request.
    bool after_failure(std::string_view prefix, int error);

    DeviceRecord& device_;
    int index_;
    CommandState& commands_;
    ConfigFiles files_;
    std::string config_name_;

    DeviceConfigRecord config_{};
    AutosaveSettings autosave_;
    SaveTimer save_timer_;
    DeviceKinds kinds_;

    Df1Link link_;
    Df1MessageLink messages_{link_};
    PcccCommands pccc_;
    StationTable stations_;
    KindHandlers handlers_;
    AlarmNotices notices_;
    ScanEngine engine_;
    PortStatistics stats_;
    LinkCounters counted_{};
    std::optional<int> fatal_;
    std::vector<TableFault> kind_faults_;
    std::optional<TableFault> stats_fault_;
};

}  // namespace tolva
