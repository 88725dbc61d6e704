// The scanner's device frame in this process, against real shared modules of the host
// stand-in and real controllers behind a pseudo-terminal: opening, failing channels,
// reconfiguring, references, saving outputs, a port that went away, and the command loop.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <future>
#include <thread>

#include "controller/interface_module.h"
#include "controller/pccc_network.h"
#include "controller/pseudo_terminal.h"
#include "host/runtime_host.h"
#include "pccc_test_support.h"
#include "platform/last_error.h"
#include "platform/registry_key.h"
#include "platform/serial_port.h"
#include "platform/testing/serial_port_testing.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/settings/reg.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"
#include "qvr/host/status_text.h"
#include "qvr/diag/trace.h"
#include "qvr/xml/xml.h"
#include "support/debug_capture.h"
#include "support/test_env.h"
#include "tolva_sc/saved_values.h"
#include "tolva_sc/scanner_device.h"

namespace {

using namespace std::chrono_literals;
using pccc_test::channel;
using pccc_test::hw;
namespace kind = tolva::kind;
namespace fs = std::filesystem;

constexpr uint8_t kStation = 1;
// Character times the link waits for the module's ACK: about 0.5 s at 19200 baud, so a
// loaded machine (many test runs at once) still answers in time. The default is 10 ms.
constexpr uint32_t kPatientReplyAck = 1000;

// A port whose every call fails as an unplugged adapter's does.
struct UnpluggedPort final : tolva::LinkPort {
    ssize_t read_some(std::span<uint8_t>) override {
        errno = EIO;
        return -1;
    }
    ssize_t write_some(std::span<const uint8_t>) override {
        errno = EIO;
        return -1;
    }
};

// The scanner's trace switched on for the debugger channel, as a service engineer would,
// and the lines that reach that channel.
class TraceLines {
  public:
    TraceLines() {
        platform::RegistryKey key;
        EXPECT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey,
                                                platform::kKeyAllAccess, key),
                  0);
        EXPECT_EQ(key.set_string("TOLVA_1_Debug", "ON"), 0);
        trace_Create("TOLVA_1");
    }
    ~TraceLines() { trace_Destroy(); }
    TraceLines(const TraceLines&) = delete;
    TraceLines& operator=(const TraceLines&) = delete;

    // The whole lines that start with `start`, in order, without the trace's name.
    std::vector<std::string> starting(std::string_view start) {
        const std::string head = "TOLVA_1 : " + std::string(start);
        std::vector<std::string> found;
        for (const auto& l : capture_.lines(head))
            if (l.starts_with(head)) found.push_back(l.substr(10));
        return found;
    }
    void clear() { capture_.clear(); }

  private:
    qvr_test::DebugCapture capture_;
};

qvr::ChannelRecord analog_in(int16_t element, const char* tag) {
    return channel(kind::kAI, hw(kStation, tolva::file_type::kInteger, 7, element), tag);
}
qvr::ChannelRecord analog_out(int16_t element, const char* tag) {
    return channel(kind::kAO, hw(kStation, tolva::file_type::kInteger, 7, element), tag);
}
qvr::ChannelRecord digital_in(int16_t bit, const char* tag) {
    return channel(kind::kDI, hw(kStation, tolva::file_type::kBinary, 3, 0, bit), tag);
}
qvr::ChannelRecord digital_out(int16_t bit, const char* tag) {
    return channel(kind::kDO, hw(kStation, tolva::file_type::kBinary, 3, 1, bit), tag);
}

struct Device : testing::Test {
    void SetUp() override {
        platform::set_serial_call_bound(20ms);
        ::setenv("QVR_SAVED_VALUES", host.config_tree().saved_values().c_str(), 1);
        ASSERT_EQ(line.open(), 0);
        ASSERT_EQ(sim_controller::map_port_name("COM5", line.device_path()), 0);
        network.add_station(kStation, 0x49);
        network.add_file(kStation, 7, tolva::file_type::kInteger, 20);
        network.add_file(kStation, 3, tolva::file_type::kBinary, 2);
        sim_controller::ModuleOptions options;
        options.answer_timeout = 40ms;
        module = std::make_unique<sim_controller::InterfaceModule>(options);
        network.attach(*module);
        ASSERT_EQ(module->start(line.take_module_side()), 0);

        config.ScanRate = 1000;
        std::memcpy(config.Comm.CommPort, "COM5", 4);
        config.Comm.ReplyTimeout = 1;
        config.Comm.ReplyAck = kPatientReplyAck;
        tolva::command_state().reset();
        errno = 0;
        slot_Open(tolva::scanner_slot_callback);
        ASSERT_EQ(errno, 0);
    }
    void TearDown() override {
        scanner.reset();
        slot_Close();
        module->stop();
        std::error_code ec;
        fs::current_path(fs::temp_directory_path(), ec);
    }

    // Adds the device and makes the scanner for it, in its configuration folder.
    tolva::ScannerDevice& make(sim_host::DeviceSpec spec) {
        spec.config = {};
        std::memcpy(spec.config.data(), &config, sizeof config);
        index = host.add_device(spec);
        // A failed set-up ends the case (gtest reports the exception): nothing may go on
        // with an index of -1.
        if (index < 0) throw std::runtime_error("the host refused the device " + spec.name);
        folder = host.config_tree().current_config() / spec.config_name;
        fs::current_path(folder);
        record = host.device(index);
        if (record == nullptr) throw std::runtime_error("no device record for " + spec.name);
        record->Attached = 1;
        shm_RegisterStatusEntry(qvr::kStatusEntryDevice, spec.name.c_str());
        tolva::ConfigFiles files;
        files.load_device_config = [this](tolva::DeviceConfigRecord& c) {
            if (config_error != 0) return platform::fail(config_error);
            c = config;
            return 0;
        };
        files.load_autosave = [this](tolva::AutosaveSettings& a) {
            a = autosave;
            return 0;
        };
        files.load_channels = [this](int k, std::span<qvr::ChannelRecord> records) {
            auto loaded = sim_host::read_channel_file(folder, static_cast<qvr::ChannelKind>(k), nullptr);
            if (!loaded) return platform::fail(ENOENT);
            for (size_t i = 0; i < records.size(); ++i) records[i] = i < loaded->size() ? (*loaded)[i] : qvr::ChannelRecord{};
            return 0;
        };
        scanner = std::make_unique<tolva::ScannerDevice>(*record, index, tolva::command_state(), files);
        return *scanner;
    }
    static sim_host::DeviceSpec spec_with(std::array<std::vector<qvr::ChannelRecord>, 5> channels) {
        sim_host::DeviceSpec spec;
        for (size_t k = 0; k < 5; ++k)
            if (channels[k].empty()) spec.codes[k].clear();
        spec.channels = std::move(channels);
        spec.stats_code.clear();
        return spec;
    }
    // A device with one analog output, saved every 200 ms, whose value changed and was
    // written; its saved-values file is removed, so the next save shows.
    tolva::ScannerDevice& open_changed_setpoint() {
        autosave = {1, 0, 200};
        auto& d = make(spec_with({{{}, {}, {analog_out(4, "SETPOINT")}, {}, {}}}));
        EXPECT_EQ(d.initialise(), 0);
        d.open_with_retry(0);
        host.set_value("A3", 1, 3.0f);
        EXPECT_EQ(d.scan(false), 0);
        const auto files = tolva::saved_values_files("TOLVA_1", kind::kAO);
        EXPECT_TRUE(files);
        if (files) fs::remove(files->bin);
        return d;
    }
    // Read under the table's lock: the scanner may be setting it on another thread.
    std::string status_text() {
        void* table = shm_OpenSection(qvr::kErrorTableName);
        if (shm_Lock(table) != 0) return "(no table)";
        std::string text = "(no entry)";
        for (const auto& e : host.status_entries())
            if (e.name == "TOLVA DEVICE 1") text = e.text;
        shm_Unlock(table);
        return text;
    }

    sim_host::RuntimeHost host;
    sim_controller::PseudoTerminal line;
    sim_controller::ControllerNetwork network{0};
    std::unique_ptr<sim_controller::InterfaceModule> module;
    tolva::DeviceConfigRecord config{};
    tolva::AutosaveSettings autosave;
    int config_error = 0;
    int index = -1;
    fs::path folder;
    DeviceRecord* record = nullptr;
    std::unique_ptr<tolva::ScannerDevice> scanner;
};

TEST(ScannerCommands, EachCodeSetsItsRequestAndOthersNothing) {
    tolva::CommandState s;
    tolva::handle_command(s, 300);
    tolva::handle_command(s, 300);
    tolva::handle_command(s, 302);
    tolva::handle_command(s, 303);
    tolva::handle_command(s, 304);
    tolva::handle_command(s, 32);
    tolva::handle_command(s, 305);
    EXPECT_EQ(s.scan_requests.load(), 2);
    EXPECT_TRUE(s.reconfigure && s.reset_counters && s.initialise_values);
    EXPECT_TRUE(s.running);
    tolva::handle_command(s, 31);
    EXPECT_FALSE(s.running);
}

TEST_F(Device, OpeningPublishesValuesStatusWordsAndTheNextDueTime) {
    network.set_value(kStation, "N7:2", 42);
    network.set_value(kStation, "B3:0/1", 1);
    auto& d = make(spec_with({{{analog_in(2, "LEVEL")}, {digital_in(1, "PUMP")}, {}, {}, {}}}));
    ASSERT_EQ(d.initialise(), 0);
    d.open_with_retry(0);
    EXPECT_EQ(host.value("A1", 1), 42.0f);
    EXPECT_EQ(host.status_word("A1", 1) & 0xA0u, 0x80u);  // analog, not failed
    EXPECT_EQ(host.status_word("A2", 1) & 0xA1u, 0x01u);  // digital, not failed, state 1
    EXPECT_NE(record->NextDue.seconds, 0);
    EXPECT_EQ(record->Busy, 0);
    EXPECT_EQ(status_text(), "");
    // The link's settings as it uses them, for the host to see.
    tolva::DeviceConfigRecord shown;
    std::memcpy(&shown, record->DeviceConfig, sizeof shown);
    EXPECT_EQ(shown.Comm.BaudRate, 19200u);
    EXPECT_EQ(shown.Comm.MaxRetries, tolva::kDefaultMaxRetries);

    network.set_value(kStation, "N7:2", -7);
    ASSERT_EQ(d.scan(false), 0);
    EXPECT_EQ(host.value("A1", 1), -7.0f);
}

TEST_F(Device, FailingAllChannelsMarksWordsAndValueRecords) {
    auto spec = spec_with({{{analog_in(0, "A"), analog_in(1, "B")}, {}, {}, {}, {}}});
    spec.value_records = true;
    auto& d = make(spec);
    ASSERT_EQ(d.initialise(), 0);
    d.open_with_retry(0);
    host.set_status_word("A1", 2, host.status_word("A1", 2) | 0x800 | 0x40 | 0x2);
    d.fail_all_channels(0x1000001);
    EXPECT_EQ(errno, 0x1000001);
    for (int c = 1; c <= 2; ++c) {
        const uint32_t w = host.status_word("A1", c);
        EXPECT_EQ(w & (0x20 | 0x800 | 0x40 | 0x2), 0x20u) << c;
    }
    const auto bytes = qvr::section_bytes(shm_OpenSection("dm_A1"));
    const auto layout = qvr::data_module_layout(bytes, false);
    ASSERT_TRUE(layout && layout->value_records);
    EXPECT_EQ(qvr::load_u16(bytes, *layout->value_records + qvr::kValueRecordSize), 13);
    EXPECT_EQ(qvr::load_u16(bytes, qvr::kModuleErrorOffset), 0x0001);
    EXPECT_EQ(record->LastScanMs, 0);
    EXPECT_EQ(d.kinds()[kind::kAI].status[1] & 0x20u, 0x20u);
}

// The records come from the configuration module of the kind's own code, whatever code the
// data module's head holds: another code's module may hold fewer records.
TEST_F(Device, AKindTakesTheRecordsOfItsOwnConfigurationModule) {
    auto& d = make(spec_with({{{analog_in(0, "A"), analog_in(1, "B"), analog_in(2, "C")}, {digital_in(0, "D")}, {}, {}, {}}}));
    const auto data = qvr::section_bytes(shm_OpenSection("dm_A1"));
    std::memcpy(data.data() + qvr::kModuleCodeOffset, "A2", 2);
    ASSERT_EQ(d.initialise(), 0);
    const auto conf = qvr::section_bytes(shm_OpenSection("dm_A1_conf"));
    const auto records = d.kinds()[kind::kAI].records;
    EXPECT_EQ(reinterpret_cast<const std::byte*>(records.data()), conf.data() + qvr::kConfRecordsOffset);
    ASSERT_EQ(records.size(), 3u);
    EXPECT_STREQ(chanrec_GetTag(&records[2]), "C");
}

// A kind whose configuration module cannot be used is not served, but its data module says
// why and answers every scan, and the status text keeps naming it while the device runs.
TEST_F(Device, AKindWithoutAUsableConfigurationIsReportedAndAnswered) {
    network.set_value(kStation, "B3:0/0", 1);
    auto& d = make(spec_with({{{analog_in(0, "A"), analog_in(1, "B")}, {digital_in(0, "D")}, {}, {}, {}}}));
    void* conf = shm_OpenSection("dm_A1_conf");
    qvr::store_u32(qvr::section_bytes(conf), qvr::kOffDataLength, qvr::kChannelRecordSize);
    ASSERT_EQ(d.initialise(), 0);
    EXPECT_FALSE(d.kinds()[kind::kAI].open());
    ASSERT_NE(d.table_fault(), nullptr);
    EXPECT_EQ(d.table_fault()->text, "BAD dm_A1_conf DATA LENGTH");
    d.open_with_retry(0);
    EXPECT_EQ(status_text(), "BAD dm_A1_conf DATA LENGTH");
    EXPECT_EQ(host.status_word("A2", 1) & 0x21u, 0x01u) << "the other kind is served";
    const auto data = qvr::section_bytes(shm_OpenSection("dm_A1"));
    for (int c = 1; c <= 2; ++c) EXPECT_NE(host.status_word("A1", c) & 0x20u, 0u) << c;

    // This process is the scanner here: a request it queued and the scan fired is gone.
    void* module = shm_OpenSection("dm_A1");
    for (int round = 0; round < 2; ++round) {
        qvr::store_u16(data, qvr::kModuleErrorOffset, 0);
        ASSERT_EQ(shm_QueueRequest(module, qvr::kSectionChangedCode), 0);
        ASSERT_EQ(d.scan(false), 0);
        EXPECT_EQ(shm_CancelRequest(module), -1) << "round " << round << ": the request was not fired";
        EXPECT_EQ(qvr::load_u16(data, qvr::kModuleErrorOffset), platform::kErrorInvalidData);
    }
    // A failing link fails every channel; the kind that is not served keeps its reason.
    d.fail_all_channels(EIO);
    EXPECT_EQ(qvr::load_u16(data, qvr::kModuleErrorOffset), platform::kErrorInvalidData);
    EXPECT_EQ(qvr::load_u16(qvr::section_bytes(shm_OpenSection("dm_A2")), qvr::kModuleErrorOffset), EIO);
}

TEST_F(Device, ReconfigureShowsTheLinkDefaultsAndReadsChangedTables) {
    auto& d = make(spec_with({{{analog_in(0, "A")}, {}, {}, {}, {}}}));
    ASSERT_EQ(d.initialise(), 0);
    d.open_with_retry(0);
    // A configuration saved with zero settings: the host must still see what the link uses.
    config.Comm.BaudRate = 0;
    config.Comm.ReplyAck = 0;
    config.ScanRate = 2000;
    network.set_value(kStation, "N7:5", 55);
    sim_host::write_channel_file(folder, qvr::ChannelKind::AI, std::vector{analog_in(5, "A")}, TimeStamp{1, 0, 0});
    ASSERT_EQ(d.reconfigure(), 0);
    tolva::DeviceConfigRecord shown;
    std::memcpy(&shown, record->DeviceConfig, sizeof shown);
    EXPECT_EQ(shown.Comm.BaudRate, 19200u);
    EXPECT_EQ(shown.Comm.ReplyAck, tolva::kDefaultReplyAck);
    EXPECT_EQ(shown.ScanRate, 2000u);
    // The changed table was taken; its channel is read with a patient link again.
    config.Comm.ReplyAck = kPatientReplyAck;
    ASSERT_EQ(d.reconfigure(), 0);
    EXPECT_EQ(host.value("A1", 1), 55.0f);

    // An unreadable configuration ends the program.
    config_error = ENOENT;
    EXPECT_EQ(d.reconfigure(), -1);
    EXPECT_EQ(d.fatal_code(), ENOENT);
    EXPECT_EQ(status_text(), "CAN'T READ CONFIGURATION -0002");
}

TEST_F(Device, APortThatCannotBeSetUpEndsTheProgram) {
    std::memcpy(config.Comm.CommPort, "COM9", 4);  // mapped to no device
    auto& d = make(spec_with({{{analog_in(0, "A")}, {}, {}, {}, {}}}));
    EXPECT_EQ(d.initialise(), -1);
    ASSERT_TRUE(d.fatal_code());
    EXPECT_NE(*d.fatal_code(), 0);
    EXPECT_EQ(status_text(), tolva::failure_text("CAN'T LOAD PATH DESCS -", *d.fatal_code()));
    EXPECT_FALSE(d.round());
}

TEST_F(Device, InitialisingValuesMakesTheReadingTheReference) {
    auto ai = analog_in(0, "FLOW");
    ai.head.Flags.set(qvr::AnalogFlag::ScalingEnable, true);
    ai.head.Flags.set(qvr::AnalogFlag::ReferenceEnable, true);
    ai.analog.Gain = 5.0f;
    const std::vector<qvr::ChannelRecord> records{ai};
    const std::vector<float> saved{2.5f};
    ASSERT_EQ(tolva::saved_values_write("TOLVA_1", kind::kAI, saved, records), 15);
    network.set_value(kStation, "N7:0", 3);
    auto& d = make(spec_with({{records, {}, {}, {}, {}}}));
    ASSERT_EQ(d.initialise(), 0);
    d.open_with_retry(0);
    EXPECT_EQ(host.value("A1", 1), 12.5f);  // 3 x 5 - 2.5
    ASSERT_EQ(d.initialise_values(), 0);
    EXPECT_EQ(d.kinds()[kind::kAI].reference[0], 15.0f);
    EXPECT_EQ(host.value("A1", 1), 0.0f);
    std::vector<float> read(1);
    ASSERT_GE(tolva::saved_values_read("TOLVA_1", kind::kAI, false, std::span<float>(read), records), 0);
    EXPECT_EQ(read[0], 15.0f);
}

TEST_F(Device, APortThatFailedIsClosedAndOpenedAgain) {
    network.set_value(kStation, "N7:0", 9);
    auto& d = make(spec_with({{{analog_in(0, "A")}, {}, {}, {}, {}}}));
    ASSERT_EQ(d.initialise(), 0);
    d.open_with_retry(0);
    d.link().attach(std::make_unique<UnpluggedPort>());
    EXPECT_EQ(d.scan(false), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_FALSE(d.link().is_open());
    EXPECT_NE(host.status_word("A1", 1) & 0x20u, 0u);
    network.set_value(kStation, "N7:0", 10);
    d.open_with_retry(EIO);
    ASSERT_TRUE(d.link().is_open());
    EXPECT_NE(dynamic_cast<tolva::SerialLinkPort*>(d.link().port()), nullptr);
    EXPECT_EQ(host.value("A1", 1), 10.0f);
    EXPECT_EQ(host.status_word("A1", 1) & 0x20u, 0u);
}

TEST_F(Device, EveryExitSavesChangedOutputs) {
    auto& d = make(spec_with({{{}, {}, {analog_out(4, "SETPOINT")}, {}, {}}}));
    ASSERT_EQ(d.initialise(), 0);
    d.open_with_retry(0);
    host.set_value("A3", 1, 7.0f);
    ASSERT_EQ(d.scan(false), 0);
    EXPECT_EQ(network.value(kStation, "N7:4"), 7.0);
    EXPECT_EQ(d.exit_path(0x1000001), 0x1000001);
    std::vector<float> read(1);
    const std::vector<qvr::ChannelRecord> records{analog_out(4, "SETPOINT")};
    ASSERT_GE(tolva::saved_values_read("TOLVA_1", kind::kAO, false, std::span<float>(read), records), 0);
    EXPECT_EQ(read[0], 7.0f);
    EXPECT_EQ(record->Attached, 0);
    EXPECT_NE(host.status_word("A3", 1) & 0x20u, 0u);
}

TEST_F(Device, OutputsAreSavedWhenTheirTimeComesWithoutAnyCommand) {
    auto& d = open_changed_setpoint();
    const fs::path bin = tolva::saved_values_files("TOLVA_1", kind::kAO).value().bin;
    auto loop = std::async(std::launch::async, [&] { d.run(); });
    bool saved = false;
    for (int i = 0; i < 500 && !saved; ++i) {
        std::this_thread::sleep_for(20ms);
        saved = fs::exists(bin);
    }
    tolva::command_state().running = false;
    slot_SendCode(static_cast<uint32_t>(getpid()), 31);
    ASSERT_EQ(loop.wait_for(30s), std::future_status::ready);
    EXPECT_TRUE(saved);
}

TEST_F(Device, OutputsAreSavedWhileScanRequestsNeverRunOut) {
    auto& d = open_changed_setpoint();
    const fs::path bin = tolva::saved_values_files("TOLVA_1", kind::kAO).value().bin;
    // A host asking for scans faster than they end: a request is always pending.
    bool saved = false;
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!saved && std::chrono::steady_clock::now() < until) {
        tolva::command_state().scan_requests = 5;
        ASSERT_TRUE(d.round());
        saved = fs::exists(bin);
    }
    tolva::command_state().scan_requests = 0;
    EXPECT_TRUE(saved);
}

TEST_F(Device, ACounterInputTableNeverOpensAndSaysWhy) {
    auto& d = make(spec_with({{{analog_in(0, "A")}, {}, {}, {}, {analog_in(1, "COUNT")}}}));
    ASSERT_EQ(d.initialise(), 0);
    auto open = std::async(std::launch::async, [&] { d.open_with_retry(0); });
    bool shown = false;
    for (int i = 0; i < 500 && !shown; ++i) {
        std::this_thread::sleep_for(20ms);
        shown = status_text() == tolva::kCounterInputsText;
    }
    tolva::command_state().running = false;
    slot_SendCode(static_cast<uint32_t>(getpid()), 31);
    ASSERT_EQ(open.wait_for(30s), std::future_status::ready);
    EXPECT_TRUE(shown);
}

TEST_F(Device, CommandsDuringTheOpenRetryDoNotShortenThePause) {
    // Each attempt probes the station once more, and a counter input table makes it fail.
    network.set_mode(kStation, sim_controller::StationMode::extended, 0x0B);
    auto& d = make(spec_with({{{analog_in(0, "A")}, {}, {}, {}, {analog_in(1, "COUNT")}}}));
    ASSERT_EQ(d.initialise(), 0);
    network.clear_commands();
    auto open = std::async(std::launch::async, [&] { d.open_with_retry(0); });
    const auto until = std::chrono::steady_clock::now() + 2500ms;
    while (std::chrono::steady_clock::now() < until) {
        slot_SendCode(static_cast<uint32_t>(getpid()), 300);
        std::this_thread::sleep_for(10ms);
    }
    const size_t probes = network.commands().size();
    tolva::command_state().running = false;
    slot_SendCode(static_cast<uint32_t>(getpid()), 31);
    ASSERT_EQ(open.wait_for(30s), std::future_status::ready);
    // About three attempts in 2.5 s at one or two probes each; a pause cut by every code
    // would probe every few milliseconds.
    EXPECT_GE(probes, 1u);
    EXPECT_LE(probes, 10u);
}

TEST_F(Device, ScanRequestsCountUntilTheNextDueTimeIsPublished) {
    auto& d = make(spec_with({{{analog_in(0, "A")}, {}, {}, {}, {}}}));
    ASSERT_EQ(d.initialise(), 0);
    d.open_with_retry(0);
    network.clear_commands();
    tolva::command_state().scan_requests = 3;
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(d.round());
    EXPECT_EQ(tolva::command_state().scan_requests.load(), 0);
    EXPECT_EQ(network.commands().size(), 3u);
    tolva::command_state().scan_requests = 2;
    tolva::command_state().initialise_values = true;
    ASSERT_TRUE(d.round());  // initialising values comes first and publishes
    EXPECT_EQ(tolva::command_state().scan_requests.load(), 0);
}

// A command that fails on a port that went away: its own text, then the open with retry
// (fail all channels with the error, open the port again) brings the device back, all in
// one round of the loop.
TEST_F(Device, ACommandThatFailsReportsItsTextAndTheLoopOpensTheDeviceAgain) {
    struct Case {
        const char* command;
        std::atomic<bool> tolva::CommandState::*flag;
        const char* text;
    };
    const Case cases[] = {
        {"reconfigure", &tolva::CommandState::reconfigure, "CAN'T RECONFIGURE DEVICE -0005"},
        {"initialise values", &tolva::CommandState::initialise_values, "CAN'T INITIALISE VALUES - 0005"},
        {"scan", nullptr, "CAN'T SCAN DEVICE -0005"},
    };
    network.set_value(kStation, "N7:0", 9);
    auto& d = make(spec_with({{{analog_in(0, "A")}, {}, {}, {}, {}}}));
    ASSERT_EQ(d.initialise(), 0);
    d.open_with_retry(0);
    TraceLines trace;
    int value = 10;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        d.link().attach(std::make_unique<UnpluggedPort>());
        network.set_value(kStation, "N7:0", value);
        if (c.flag != nullptr)
            (tolva::command_state().*c.flag) = true;
        else
            tolva::command_state().scan_requests = 1;
        ASSERT_TRUE(d.round());
        EXPECT_EQ(trace.starting("CAN'T "), std::vector<std::string>{std::string(c.text) + "\n"});
        EXPECT_EQ(status_text(), "");
        EXPECT_NE(dynamic_cast<tolva::SerialLinkPort*>(d.link().port()), nullptr);
        EXPECT_EQ(host.value("A1", 1), static_cast<float>(value));
        EXPECT_EQ(host.status_word("A1", 1) & 0x20u, 0u);
        trace.clear();
        ++value;
    }
}

TEST(FailureText, ShowsTheLowTwelveBitsOrTheXmlLayersText) {
    xml_SetSubject("ai");
    xml_SetOperation(" Load");
    xml_SetStatus(kXmlStatusFailed, "Root Element <Channels> not found");
    const char* xml_text = "ai Load - Root Element <Channels> not found";
    struct Case {
        const char* prefix;
        int error;
        const char* text;
    };
    const Case cases[] = {
        {"CAN'T SCAN DEVICE -", EIO, "CAN'T SCAN DEVICE -0005"},
        {"CAN'T INITIALISE VALUES - ", EIO, "CAN'T INITIALISE VALUES - 0005"},
        {"CAN'T INITIALISE DEVICE -", 0x1000001, "CAN'T INITIALISE DEVICE -0001"},
        {"CAN'T INITIALISE DEVICE -", 4096, "CAN'T INITIALISE DEVICE -0000"},
        {"CAN'T INITIALISE DEVICE -", 4095, "CAN'T INITIALISE DEVICE -4095"},
        {"CAN'T INITIALISE DEVICE -", -1, "CAN'T INITIALISE DEVICE -4095"},
        {"CAN'T READ CONFIGURATION -", platform::kErrorXmlParse, xml_text},
        {"CAN'T RECONFIGURE DEVICE -", platform::kErrorXmlParse, xml_text},
        // Only the error itself is the XML layer's, not one that masks to the same number.
        {"CAN'T READ CONFIGURATION -", platform::kErrorXmlParse | 0x1000, "CAN'T READ CONFIGURATION -1465"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(tolva::failure_text(c.prefix, c.error), c.text) << c.prefix << c.error;
}

// The controller stand-in's line goes away: the scan request fails in the loop's round, the
// channels fail with the scan's error and the device is opened again every second until a
// line is back behind the port name; the round then ends with the device scanning again.
TEST_F(Device, ALineThatWentAwayIsOpenedAgainWithinTheRound) {
    network.set_value(kStation, "N7:0", 9);
    auto& d = make(spec_with({{{analog_in(0, "A")}, {}, {}, {}, {}}}));
    ASSERT_EQ(d.initialise(), 0);
    d.open_with_retry(0);
    ASSERT_EQ(host.value("A1", 1), 9.0f);
    TraceLines trace;
    module->stop();
    line = sim_controller::PseudoTerminal{};
    // The port name must not keep the old pseudo-terminal's number: the system hands it to
    // the next pseudo-terminal opened anywhere, and under load another test's line took it,
    // so the reopen reached that line instead of failing.
    ASSERT_EQ(sim_controller::map_port_name("COM5", qvr_test::test_root() + "/no-line"), 0);
    tolva::command_state().scan_requests = 1;
    auto loop = std::async(std::launch::async, [&] { return d.round(); });
    bool retrying = false;
    for (int i = 0; i < 500 && !retrying; ++i) {
        std::this_thread::sleep_for(20ms);
        retrying = trace.starting("CAN'T INITIALISE DEVICE -").size() >= 2;
    }
    ASSERT_TRUE(retrying) << status_text();
    EXPECT_TRUE(status_text().starts_with("CAN'T INITIALISE DEVICE -")) << status_text();
    const auto texts = trace.starting("CAN'T ");
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "CAN'T SCAN DEVICE -0005\n");
    {
        // The round is still writing the module: read it under its lock, as the host does.
        void* section = shm_OpenSection("dm_A1");
        ASSERT_EQ(shm_Lock(section), 0);
        const uint32_t word = host.status_word("A1", 1);
        const uint16_t error = qvr::load_u16(qvr::section_bytes(section), qvr::kModuleErrorOffset);
        shm_Unlock(section);
        EXPECT_NE(word & 0x20u, 0u);
        EXPECT_EQ(error, EIO);
    }
    EXPECT_EQ(loop.wait_for(0s), std::future_status::timeout);

    network.set_value(kStation, "N7:0", 10);
    ASSERT_EQ(line.open(), 0);
    ASSERT_EQ(sim_controller::map_port_name("COM5", line.device_path()), 0);
    ASSERT_EQ(module->start(line.take_module_side()), 0);
    ASSERT_EQ(loop.wait_for(30s), std::future_status::ready);
    EXPECT_TRUE(loop.get());
    EXPECT_EQ(status_text(), "");
    EXPECT_EQ(host.value("A1", 1), 10.0f);
    EXPECT_EQ(host.status_word("A1", 1) & 0x20u, 0u);
    EXPECT_EQ(record->Busy, 0);
}

// ReadFirst and ReadBack are the device configuration's, not a channel table's: a
// reconfiguration takes them although no table changed.
TEST_F(Device, ReconfigureTakesReadBackAndReadFirstWithoutATableChange) {
    auto& d = make(spec_with({{{}, {}, {analog_out(4, "SETPOINT")}, {digital_out(2, "PUMP")}, {}}}));
    ASSERT_EQ(d.initialise(), 0);
    d.open_with_retry(0);
    host.set_value("A3", 1, 5.0f);
    ASSERT_EQ(d.scan(false), 0);
    ASSERT_EQ(network.value(kStation, "N7:4"), 5.0);
    network.set_value(kStation, "N7:4", 8);  // changed at the controller
    ASSERT_EQ(d.scan(false), 0);
    EXPECT_EQ(host.value("A3", 1), 5.0f);  // no ReadBack: not seen

    // The reconfiguration's first scan writes what differs from the controller; from then on
    // unchanged outputs are read back.
    config.Comm.ReadBack = 1;
    ASSERT_EQ(d.reconfigure(), 0);
    ASSERT_EQ(network.value(kStation, "N7:4"), 5.0);
    network.set_value(kStation, "N7:4", 8);
    ASSERT_EQ(d.scan(false), 0);
    EXPECT_EQ(host.value("A3", 1), 8.0f);

    // ReadFirst: what the host asked for meanwhile is replaced by the controller's value
    // on the reconfiguration's scan rather than written.
    config.Comm.ReadBack = 0;
    config.Comm.ReadFirst = 1;
    host.set_value("A3", 1, 6.0f);
    network.clear_commands();
    ASSERT_EQ(d.reconfigure(), 0);
    EXPECT_EQ(network.value(kStation, "N7:4"), 8.0);
    EXPECT_EQ(host.value("A3", 1), 8.0f);
    const auto commands = network.commands();
    EXPECT_EQ(std::count_if(commands.begin(), commands.end(), [](auto& c) { return c.is_write(); }), 0);
    // The first scan is over: a later change is written.
    host.set_value("A3", 1, 7.0f);
    ASSERT_EQ(d.scan(false), 0);
    EXPECT_EQ(network.value(kStation, "N7:4"), 7.0);
}

TEST_F(Device, ReferencesSurviveAReconfigureAndOnlyAReloadedTableZeroesThem) {
    auto flow = analog_in(0, "FLOW");
    flow.head.Flags.set(qvr::AnalogFlag::ScalingEnable, true);
    flow.head.Flags.set(qvr::AnalogFlag::ReferenceEnable, true);
    flow.analog.Gain = 5.0f;
    auto level = flow;
    qvr::split_text(level, qvr::ChannelText::Tag, "LEVEL");
    tolva::write_channel_hw(level.bytes, hw(kStation, tolva::file_type::kInteger, 7, 1));
    const std::vector<qvr::ChannelRecord> records{flow, level};
    ASSERT_GT(tolva::saved_values_write("TOLVA_1", kind::kAI, std::vector<float>{2.5f, 1.0f}, records), 0);
    network.set_value(kStation, "N7:0", 3);
    network.set_value(kStation, "N7:1", 3);
    auto& d = make(spec_with({{records, {}, {}, {}, {}}}));
    ASSERT_EQ(d.initialise(), 0);
    d.open_with_retry(0);
    ASSERT_EQ(host.value("A1", 1), 12.5f);
    ASSERT_EQ(d.initialise_values(), 0);  // references 15 and 15
    ASSERT_EQ(host.value("A1", 1), 0.0f);

    ASSERT_EQ(d.reconfigure(), 0);
    EXPECT_EQ(d.kinds()[kind::kAI].reference[0], 15.0f);
    EXPECT_EQ(d.kinds()[kind::kAI].reference[1], 15.0f);
    EXPECT_EQ(host.value("A1", 1), 0.0f);
    EXPECT_EQ(host.value("A1", 2), 0.0f);

    // LEVEL loses its reference option in the edited table: its reference goes, FLOW's stays.
    level.head.Flags.set(qvr::AnalogFlag::ReferenceEnable, false);
    sim_host::write_channel_file(folder, qvr::ChannelKind::AI, std::vector{flow, level}, TimeStamp{1, 0, 0});
    ASSERT_EQ(d.reconfigure(), 0);
    EXPECT_EQ(d.kinds()[kind::kAI].reference[0], 15.0f);
    EXPECT_EQ(d.kinds()[kind::kAI].reference[1], 0.0f);
    EXPECT_EQ(host.value("A1", 1), 0.0f);
    EXPECT_EQ(host.value("A1", 2), 15.0f);
}

// The scan engine on its own over the device's modules, with a clock that each kind's
// handler moves on by the kind's cost: each module gets its kind's time, LastScanMs the sum,
// unless the last kind scanned had nothing to judge.
TEST_F(Device, ScanTimesGoToEachModuleAndTheSumToLastScanMs) {
    auto& d = make(spec_with({{{analog_in(0, "A")},
                               {digital_in(1, "D")},
                               {analog_out(4, "S")},
                               {digital_out(2, "P")},
                               {analog_in(1, "COUNT")}}}));
    ASSERT_EQ(d.initialise(), 0);
    const char* codes[] = {"A1", "A2", "A3", "A4", "A5"};
    const auto scan_time = [&](size_t k) {
        return qvr::load_u32(qvr::section_bytes(shm_OpenSection((std::string("dm_") + codes[k]).c_str())),
                             qvr::kScanTimeOffset);
    };
    constexpr std::array<int64_t, 5> cost{11, 7, 5, 3, 2};  // AI, DI, AO, DO, CI
    constexpr uint32_t kUntouched = 999;
    constexpr int32_t kNoScan = -5;
    struct Case {
        const char* name;
        std::array<bool, 5> open;
        std::array<int, 5> result;
        int scan;
        int32_t last_scan_ms;
    };
    const Case cases[] = {
        {"every kind judged", {true, true, true, true, false}, {0, 0, 0, 0, 0}, 0, 26},
        {"counter inputs, nothing to judge, first", {true, true, true, true, true}, {0, 0, 0, 0, 2}, 0, 26},
        {"only counter inputs", {false, false, false, false, true}, {0, 0, 0, 0, 2}, 0, kNoScan},
        {"nothing to judge in the last kind", {true, true, false, false, false}, {2, 0, 0, 0, 0}, 0, kNoScan},
        {"one kind judged", {false, true, false, false, false}, {0, 0, 0, 0, 0}, 0, 7},
        {"a kind failed", {true, true, true, true, false}, {0, 0, -1, 0, 0}, -1, kNoScan},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tolva::DeviceKinds kinds = d.kinds();
        for (size_t k = 0; k < 5; ++k) {
            if (!c.open[k]) kinds[k].conf = nullptr;
            ASSERT_TRUE(!c.open[k] || kinds[k].open()) << k;
            qvr::store_u32(qvr::section_bytes(kinds[k].data), qvr::kScanTimeOffset, kUntouched);
        }
        int64_t clock = 1000;
        tolva::AlarmNotices notices;
        tolva::ScanEngine engine(
            kinds,
            [&](int k, auto, auto, auto) {
                clock += cost[static_cast<size_t>(k)];
                if (c.result[static_cast<size_t>(k)] == -1) errno = EIO;
                return c.result[static_cast<size_t>(k)];
            },
            notices, tolva::ScanHooks{{}, {}, {}, record, [&] { return clock; }});
        record->LastScanMs = kNoScan;
        EXPECT_EQ(engine.scan(false), c.scan);
        EXPECT_EQ(record->LastScanMs, c.last_scan_ms);
        // A kind keeps its old time unless it was judged in this scan.
        bool failed = false;
        for (const int k : {kind::kCI, kind::kDO, kind::kAO, kind::kDI, kind::kAI}) {
            const auto i = static_cast<size_t>(k);
            failed = failed || (c.open[i] && c.result[i] == -1);
            const bool judged = c.open[i] && c.result[i] == 0 && !failed;
            EXPECT_EQ(scan_time(i), judged ? static_cast<uint32_t>(cost[i]) : kUntouched) << codes[i];
        }
    }
}

}  // namespace

TEST_F(Device, NoticesThatNoBatchCouldTakeAreTracedNotLostSilently) {
    TraceLines trace;
    qvr::ChannelRecord level = analog_in(2, "LEVEL");
    level.head.Flags.set(qvr::AnalogFlag::HighAlarmEnable, true);
    level.analog.Gain = 1.0f;
    level.analog.HighAlarmLimit = 90;
    level.analog.HighAlarmDeadband = 85;
    auto spec = spec_with({{{level}, {}, {}, {}, {}}});
    spec.event_modules = false;
    network.set_value(kStation, "N7:2", 10);
    auto& d = make(spec);
    ASSERT_EQ(d.initialise(), 0);
    d.open_with_retry(0);
    trace.clear();

    network.set_value(kStation, "N7:2", 95);  // crosses the high alarm limit
    ASSERT_EQ(d.scan(false), 0);
    EXPECT_EQ(host.value("A1", 1), 95.0f);  // the value is still published
    auto lost = [&] {
        std::vector<std::string> found;
        for (const auto& l : trace.starting(""))
            if (l.find(" notice(s) of the scan not delivered (error ") != std::string::npos) found.push_back(l);
        return found;
    };
    ASSERT_EQ(lost().size(), 1u);
    EXPECT_TRUE(lost()[0].starts_with("1 notice(s)")) << lost()[0];

    trace.clear();
    ASSERT_EQ(d.scan(false), 0);  // nothing new to announce, so nothing is reported lost
    EXPECT_TRUE(lost().empty());
}
