// The host stand-in's fixture and tool, read back with the runtime library.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <thread>

#include "host/runtime_host.h"
#include "platform/mailslot.h"
#include "qvr/host/device_modules.h"
#include "qvr/host/host_tables.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "support/child_process.h"
#include "support/test_env.h"

using namespace std::chrono_literals;
using qvr::ChannelKind;

namespace {
constexpr auto kLong = 30s;
}

TEST(RuntimeHost, ADeviceWithAllFiveKindsReadsBackThroughTheLibrary) {
    sim_host::RuntimeHost host;
    sim_host::DeviceSpec dev;
    dev.number = 3;
    dev.config[0] = 0x5A;
    const ChannelKind kinds[] = {ChannelKind::AI, ChannelKind::DI, ChannelKind::AO, ChannelKind::DO,
                                 ChannelKind::CI};
    for (int k = 0; k < 5; ++k)
        for (int i = 0; i <= k + 8; ++i) {
            qvr::ChannelRecord r =
                sim_host::analog_input("T" + std::to_string(k) + "_" + std::to_string(i + 1));
            r.head.Type = kinds[k];
            dev.channels[k].push_back(r);
        }
    dev.stats_channels = {sim_host::analog_input("STAT1")};
    ASSERT_EQ(host.add_device(dev), 0);

    int index = -1;
    DeviceRecord* d = shm_FindDevice("TOLVA", 3, &index);
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->DeviceName, "TOLVA DEVICE 1");
    EXPECT_EQ(std::string(d->KindCodes, 10), "A1A2A3A4A5");
    EXPECT_EQ(d->DeviceConfig[0], 0x5A);
    EXPECT_STREQ(shm_DeviceStatsCode(index), "A6");
    const auto folder = host.config_tree().current_config() / "TOLVA_1";
    for (int k = 0; k < 5; ++k) {
        SCOPED_TRACE(k);
        const std::string code = "A" + std::to_string(k + 1);
        void* data = shm_OpenDeviceData(code.c_str());
        ASSERT_NE(data, nullptr);
        const auto layout = qvr::data_module_layout(qvr::section_bytes(data), false);
        ASSERT_TRUE(layout);
        EXPECT_EQ(layout->channel_count, k + 9);
        EXPECT_EQ(layout->bytes_per_channel, qvr::is_digital(kinds[k]) ? 4 : 8);
        const qvr::ChannelRecord* records = shm_ConfRecords(data);
        ASSERT_NE(records, nullptr);
        EXPECT_STREQ(chanrec_GetTag(&records[k + 8]),
                     ("T" + std::to_string(k) + "_" + std::to_string(k + 9)).c_str());
        EXPECT_EQ(records[0].head.Type, kinds[k]);
        // Event module: the derived bitmap and one per logger the table can hold, whole bytes.
        const auto event = qvr::section_bytes(shm_OpenDeviceEvent(code.c_str()));
        EXPECT_EQ(qvr::load_u32(event, qvr::kOffDataLength),
                  (1 + host.options().logger_capacity) * qvr::event_bitmap_size(k + 9));
        // The configuration time is the channel file's.
        TimeStamp written{};
        const auto file = sim_host::read_channel_file(folder, kinds[k], &written);
        ASSERT_TRUE(file);
        EXPECT_EQ(file->size(), static_cast<size_t>(k + 9));
        EXPECT_EQ(std::memcmp(static_cast<std::byte*>(data) + qvr::kConfigTimeOffset, &written, 8), 0);
    }
    EXPECT_NE(shm_OpenDeviceData("A6"), nullptr);
    std::ifstream config(folder / "config", std::ios::binary);
    char auto_enable = 0;
    config.get(auto_enable);
    EXPECT_EQ(auto_enable, 1);
}

TEST(RuntimeHost, ChannelRecordsCanComeFromTheDevicesChannelFiles) {
    sim_host::RuntimeHost host;
    const auto folder = host.config_tree().current_config() / "TOLVA_1";
    std::filesystem::create_directories(folder);
    const qvr::ChannelRecord records[] = {sim_host::digital_output("FILE1"),
                                          sim_host::digital_output("FILE2")};
    sim_host::write_channel_file(folder, ChannelKind::DO, records, TimeStamp{1000, 5, 0});
    sim_host::DeviceSpec dev;
    dev.codes = {"", "", "", "A4", ""};
    dev.from_channel_files[3] = true;
    ASSERT_EQ(host.add_device(dev), 0);
    EXPECT_STREQ(chanrec_GetTag(host.channel_record("A4", 2)), "FILE2");
    EXPECT_EQ(qvr::load_u32(qvr::section_bytes(shm_OpenDeviceData("A4")), qvr::kConfigTimeOffset), 1000u);
}

TEST(RuntimeHost, InboxesModelASlowPeerAndARestart) {
    sim_host::RuntimeHost host;
    auto sender = platform::MailslotSender::open(qvr::kDerivedMailslotName, 100ms);
    ASSERT_TRUE(sender);
    const std::byte code[2] = {std::byte{'A'}, std::byte{'B'}};
    host.derived().pause();
    int timed_out = 0;
    auto took = std::chrono::steady_clock::duration{};
    for (int i = 0; i < 1000 && timed_out == 0; ++i) {
        const auto started = std::chrono::steady_clock::now();
        if (sender->send(code) != 0 && errno == ETIMEDOUT) ++timed_out;
        took = std::chrono::steady_clock::now() - started;
    }
    EXPECT_EQ(timed_out, 1) << "a paused inbox leaves its queue full";
    // A generous bound on the 100 ms time-out, for a loaded machine.
    EXPECT_LT(took, 2s) << "the failing send outlasted its time-out";
    host.derived().resume();
    EXPECT_FALSE(host.derived().codes(1, kLong).empty());
    host.derived().unbind();
    EXPECT_NE(sender->send(code), 0) << "the old handle is dead after a restart";
    host.derived().bind();
    EXPECT_TRUE(platform::MailslotSender::open(qvr::kDerivedMailslotName));
}

TEST(RuntimeHost, StartsAndStopsAProgramInTheConfigurationTree) {
    sim_host::RuntimeHost host;
    auto program = host.start(qvr_test::bin_path("qvr_host"), {"watch", "dm_MB", "1"});
    ASSERT_TRUE(program);
    EXPECT_TRUE(program->running());
    // The watcher is ready once it has claimed the waiter slot.
    const auto until = std::chrono::steady_clock::now() + kLong;
    const auto bytes = qvr::section_bytes(shm_OpenDeviceData("MB"));
    const auto slot = qvr::waiter_slot(*qvr::signal_areas(bytes), 1);
    while (qvr::entry_pid(bytes, *slot) != static_cast<uint32_t>(program->pid()) &&
           std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(qvr::entry_pid(bytes, *slot), static_cast<uint32_t>(program->pid()));
    const auto status = program->stop(kLong);
    ASSERT_TRUE(status) << "ended on code 31";
    EXPECT_TRUE(WIFEXITED(*status));
    EXPECT_FALSE(program->running());
}

TEST(RuntimeHost, ToolCreatesTablesAndDevicesForPeople) {
    const std::string root = qvr_test::test_root() + "/tool";
    auto tool = [&](std::vector<std::string> args) {
        auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_host"), args,
                                                   {"QVR_HOST_ROOT=" + root}, true);
        const auto code = child.wait_exit_code(kLong);
        return std::make_pair(code.value_or(-1), child.read_stdout(0ms));
    };
    EXPECT_EQ(tool({"--help"}).first, 0);
    EXPECT_NE(tool({"--help"}).second.find("add-device NUMBER"), std::string::npos);
    ASSERT_EQ(tool({"create-tables"}).first, 0);
    ASSERT_EQ(tool({"add-device", "2", "AI=4,DO=2"}).first, 0);
    ASSERT_EQ(tool({"add-logger", "stand", "Boiler"}).first, 0);
    const auto [code, out] = tool({"tables"});
    EXPECT_EQ(code, 0);
    EXPECT_NE(out.find("device 0: TOLVA 2 \"TOLVA DEVICE 2\" config TOLVA_2 codes B1"), std::string::npos)
        << out;
    EXPECT_NE(out.find("process 0: SYSER"), std::string::npos);
    EXPECT_NE(out.find("logger 1: stand \"Boiler\""), std::string::npos);
    EXPECT_EQ(tool({"add-device", "2", "XX=1"}).first, 2);
    // The library in this process sees what the tool made.
    EXPECT_NE(shm_FindDevice("tolva", 2, nullptr), nullptr);
    void* data = shm_OpenDeviceData("B4");
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(qvr::data_module_layout(qvr::section_bytes(data), false)->channel_count, 2);
}
