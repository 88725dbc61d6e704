#pragma once
// The runtime host stand-in as a C++ fixture: it creates the host's four tables, the
// modules of devices and processors, receives alarm messages, derived-value notices and
// logger codes, lays out a configuration tree for a scanner and starts and stops programs.
// Everything lives under the IPC prefix of the process (tests have their own).
//
//   sim_host::RuntimeHost host;                       // tables + SYSER, ALARM, DERIVED ...
//   sim_host::DeviceSpec dev;                         // TOLVA 1, codes A1..A5, stats A6
//   dev.channels[3] = {sim_host::digital_output("DO1")};
//   host.add_device(dev);
//   host.alarms().wait_for(1, 30s);                   // decoded AlarmMessages
#include <sys/types.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "qvr/host/alarm.h"
#include "qvr/records/channel_record.h"
#include "qvr/host/host_tables.h"

namespace sim_host {

// Channel records for tests: enabled, with the given texts.
qvr::ChannelRecord analog_output(const std::string& tag, const std::string& description = {});
qvr::ChannelRecord analog_input(const std::string& tag, const std::string& description = {});
qvr::ChannelRecord digital_output(const std::string& tag, const std::string& description = {});
qvr::ChannelRecord digital_input(const std::string& tag, const std::string& description = {});

struct TableOptions {
    uint32_t device_capacity = 8;
    uint32_t process_capacity = 16;
    uint32_t logger_capacity = 8;
    uint32_t error_entries = 32;
    bool short_error_table = false;  // entries of 57 bytes, data length = entries x 57
    bool standard_processes = true;  // SYSER (SY), ALARM, DERIVED and processors of each class
    uint32_t syser_channels = 16;
    // Where the configuration tree lives; empty: a temporary folder removed with the host.
    std::filesystem::path tree_root;
    // Whether to open the host's process slot and bind "xalarms" and "derived".
    bool receive = true;
};

struct ProcessSpec {
    std::string name;
    std::string text;  // empty: the name
    std::string code;  // empty: no modules
    bool runs_process = false;
    bool enabled = true;
    bool has_value_records = false;
    int32_t pid = 0;
    bool analog = false;  // analog (8 bytes per channel) or digital (4) data module
    std::vector<qvr::ChannelRecord> channels;
    bool event_module = true;  // false: a host that failed to create "dm_XX_event"
};

struct LoggerSpec {
    std::string type = "stand";
    std::string label;
    bool enabled = true;
    uint32_t pid = 0;  // 0: the host's own
    uint32_t run_number = 1;
};

struct DeviceSpec {
    std::string type_name = "TOLVA";
    std::string name = "TOLVA DEVICE 1";
    uint16_t number = 1;
    std::string config_name = "TOLVA_1";
    // Module codes of AI, DI, AO, DO, CI ("" = kind absent) and the statistics module.
    std::array<std::string, 5> codes{"A1", "A2", "A3", "A4", "A5"};
    std::string stats_code = "A6";
    std::array<std::vector<qvr::ChannelRecord>, 5> channels;
    std::vector<qvr::ChannelRecord> stats_channels;
    // Kinds whose records come from the device's channel files in the configuration tree
    // (the binary tables "ai", "di", ...) rather than from `channels`.
    std::array<bool, 5> from_channel_files{};
    std::array<uint8_t, 704> config{};
    bool value_records = false;  // size the kind modules for 264-byte value records
    bool event_modules = true;   // false: a host that failed to create the kinds' "dm_XX_event"
};

// A mailslot the host receives on, drained by a thread of its own.
class MailslotInbox {
  public:
    explicit MailslotInbox(std::string name);
    ~MailslotInbox();
    MailslotInbox(const MailslotInbox&) = delete;
    MailslotInbox& operator=(const MailslotInbox&) = delete;

    // Messages received so far; waits up to `timeout` until there are at least `count`.
    std::vector<std::vector<std::byte>> wait_for(size_t count, std::chrono::milliseconds timeout);
    std::vector<std::vector<std::byte>> messages();
    // The messages so far, which are then no longer kept (for a long-running reader).
    std::vector<std::vector<std::byte>> take();
    void clear();
    // A slow peer: stop reading (the socket's queue fills and senders time out); resume.
    void pause();
    void resume();
    // A restart: unbind (senders' handles die), then bind again.
    void unbind();
    void bind();
    bool bound() const;

  private:
    void run();
    // Asks the reader thread to take up a changed state, and waits until it has (it never
    // polls a socket that is being closed, so a closed one is gone for senders at once).
    void sync(std::unique_lock<std::mutex>& lock);

    std::string name_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::vector<std::byte>> messages_;
    bool paused_ = false;
    bool stop_ = false;
    bool unbind_ = false;
    uint64_t requested_ = 0;
    uint64_t handled_ = 0;
    struct Receiver;
    std::unique_ptr<Receiver> receiver_;
    int wake_ = -1;
    std::thread thread_;
};

// The "xalarms" inbox with the messages decoded.
class AlarmInbox : public MailslotInbox {
  public:
    AlarmInbox() : MailslotInbox(qvr::kAlarmMailslotName) {}
    std::vector<qvr::AlarmMessage> alarms(size_t at_least = 0,
                                          std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
    std::vector<qvr::AlarmMessage> take_alarms();
};

// The "derived" inbox: two-character module codes.
class DerivedInbox : public MailslotInbox {
  public:
    DerivedInbox() : MailslotInbox(qvr::kDerivedMailslotName) {}
    std::vector<std::string> codes(size_t at_least = 0,
                                   std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
};

// Codes received on the host's own process slot (logger event codes and others).
std::vector<uint32_t> slot_codes(size_t at_least = 0,
                                 std::chrono::milliseconds timeout = std::chrono::milliseconds(0));
void clear_slot_codes();

// A configuration tree for scanners: CURRENT_CONFIG with a folder per device, a BIN folder,
// a registry folder, and the environment a started program needs.
struct ConfigTree {
    std::filesystem::path root;
    std::filesystem::path current_config() const { return root / "CURRENT_CONFIG"; }
    std::filesystem::path bin() const { return root / "BIN"; }
    std::filesystem::path registry() const { return root / "registry"; }
    std::filesystem::path saved_values() const { return root / "SAVED_VALUES"; }
    // "QVR_CURRENT_CONFIG=...", "QVR_BIN=...", "QVR_SAVED_VALUES=...",
    // "BREVANTIC_REGISTRY_DIR=..." and the current IPC prefix and runtime folder.
    std::vector<std::string> environment() const;
};

// The device configuration file "config" of a device's configuration folder: AutoEnable 1,
// then the configuration record. False when it cannot be written.
bool write_device_config(const std::filesystem::path& folder, std::span<const uint8_t, 704> config);

// Channel files: the binary table of a kind ("ai", "di", "ao", "do", "ci") in a device's
// configuration folder: the TimeStamp of its last write, then the records.
void write_channel_file(const std::filesystem::path& folder, qvr::ChannelKind kind,
                        std::span<const qvr::ChannelRecord> records, TimeStamp written);
std::optional<std::vector<qvr::ChannelRecord>> read_channel_file(const std::filesystem::path& folder,
                                                                 qvr::ChannelKind kind, TimeStamp* written);

// A program started by the host; stopped (code 31, then killed) and reaped on destruction.
class HostProcess {
  public:
    HostProcess() = default;
    HostProcess(pid_t pid) : pid_(pid) {}
    ~HostProcess();
    HostProcess(HostProcess&& other) noexcept;
    HostProcess& operator=(HostProcess&& other) noexcept;
    HostProcess(const HostProcess&) = delete;
    HostProcess& operator=(const HostProcess&) = delete;

    pid_t pid() const { return pid_; }
    bool running() const;
    // Sends code 31 and waits up to `timeout` for the end; kills it if it does not end.
    // The wait status, or nullopt when it had to be killed.
    std::optional<int> stop(std::chrono::milliseconds timeout);
    std::optional<int> wait(std::chrono::milliseconds timeout);
    void kill(int signal);

  private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

class RuntimeHost {
  public:
    // Creates the tables, or takes over the ones an earlier host of this prefix left
    // (the standard processes are added only to an empty process table).
    explicit RuntimeHost(TableOptions options = {});
    ~RuntimeHost();
    RuntimeHost(const RuntimeHost&) = delete;
    RuntimeHost& operator=(const RuntimeHost&) = delete;

    const TableOptions& options() const { return options_; }

    // Appends a record (and creates its modules). Its 0-based record index, or 1-based
    // logger index; -1 when the table is full or a module cannot be created.
    int add_process(const ProcessSpec& spec);
    int add_logger(const LoggerSpec& spec);
    int add_device(const DeviceSpec& spec);

    // Creates the three modules of `code` for `records` (`analog`: 8 bytes per channel), or
    // only the data and configuration modules without `event_module`.
    bool create_modules(const std::string& code, std::span<const qvr::ChannelRecord> records, bool analog,
                        bool value_records, TimeStamp configured, bool event_module = true);

    // Event bitmaps: derived inputs (bitmap 0) and logger n's triggers (1-based).
    bool set_derived_input(const std::string& code, int channel, bool on);
    bool set_logger_channel(const std::string& code, int logger, int channel, bool on);

    // Records in the tables (the host's own view; null when absent).
    DeviceRecord* device(int index);
    ProcessRecord* process(const std::string& name);
    LoggerRecord* logger(int index);
    // Moves a process record to the end of the table as another process would (no cache
    // of this process hears of it).
    bool move_process_last_raw(const std::string& name);

    // Channel state of module `code` (channel 1-based).
    uint32_t status_word(const std::string& code, int channel);
    float value(const std::string& code, int channel);
    void set_status_word(const std::string& code, int channel, uint32_t word);
    void set_value(const std::string& code, int channel, float value);
    qvr::ChannelRecord* channel_record(const std::string& code, int channel);
    // The error table's entries with a name: (type, name, text).
    struct StatusEntry {
        int type;
        std::string name;
        std::string text;
    };
    std::vector<StatusEntry> status_entries();

    AlarmInbox& alarms() { return *alarms_; }
    DerivedInbox& derived() { return *derived_; }

    // The configuration tree (created on first use), with a device folder per added device
    // holding its "config" file (AutoEnable 1 and the device's configuration record).
    const ConfigTree& config_tree();
    // Starts `program` (a path, or a name found in the tree's BIN folder, then on the PATH)
    // with `args`, in the configuration folder, with the tree's environment. In a process
    // group of its own a terminal's Ctrl-C reaches only the host, which then stops it.
    std::optional<HostProcess> start(const std::string& program, const std::vector<std::string>& args,
                                     bool own_process_group = false);

  private:
    void create_tables();
    void add_standard_processes();
    std::span<std::byte> bytes(const std::string& section);

    TableOptions options_;
    uint32_t devices_ = 0;
    std::vector<std::string> device_stats_codes_;
    std::unique_ptr<AlarmInbox> alarms_;
    std::unique_ptr<DerivedInbox> derived_;
    std::optional<ConfigTree> tree_;
    bool own_tree_ = false;
};

}  // namespace sim_host
