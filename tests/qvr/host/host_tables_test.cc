// Host tables and the module index, against the host stand-in's tables in real shared memory.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "host/host.h"
#include "host/runtime_host.h"
#include "platform/last_error.h"
#include "qvr/host/device_modules.h"
#include "qvr/host/host_tables.h"
#include "qvr/testing/module_index_testing.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "support/child_process.h"

using namespace std::chrono_literals;
using sim_host::ProcessSpec;
using sim_host::RuntimeHost;

namespace {

constexpr auto kLong = 30s;

sim_host::TableOptions bare() {
    sim_host::TableOptions o;
    o.standard_processes = false;
    return o;
}

}  // namespace

TEST(HostTables, TablesAreMissingUntilTheHostCreatesThem) {
    EXPECT_EQ(shm_OpenDeviceTable(), -1);
    EXPECT_EQ(shm_FindProcess("ALARM"), nullptr);
    EXPECT_EQ(shm_FindDeviceIndex("A1"), -1);
    RuntimeHost host;
    EXPECT_EQ(shm_OpenDeviceTable(), 0) << "a failed open is tried again";
    EXPECT_EQ(shm_OpenProcessTable(), 0);
    EXPECT_EQ(shm_OpenLoggerTable(), 0);
    EXPECT_EQ(shm_OpenErrorTable(), 0);
}

TEST(HostTables, FindProcessPrefersTheExactNameThenFiveCharacters) {
    RuntimeHost host(bare());
    host.add_process({"ALARMS", "SECOND"});
    host.add_process({"alarm", "FIRST"});
    host.add_process({"DERIVED", "D"});
    ASSERT_NE(shm_FindProcess("ALARM"), nullptr);
    EXPECT_STREQ(shm_FindProcess("ALARM")->ProcText, "FIRST");
    EXPECT_STREQ(shm_FindProcess("ALARMX")->ProcText, "SECOND") << "first record agreeing on 5 characters";
    EXPECT_STREQ(shm_FindProcess("derivedxyz")->ProcText, "D") << "8 characters compared";
    EXPECT_EQ(shm_FindProcess("AL"), nullptr);
    EXPECT_EQ(shm_FindProcess(""), nullptr);
}

TEST(HostTables, ModuleOwnerTextProcessingAndValueRecordsByClass) {
    RuntimeHost host;  // SYSER SY, MODBUS MB, CALC1 C1 (own program), USERA UA (value records)
    sim_host::DeviceSpec dev;
    dev.channels[3] = {sim_host::digital_output("DO1")};
    ASSERT_EQ(host.add_device(dev), 0);
    host.device(0)->ProcessId = 4242;
    struct Case {
        const char* code;
        int64_t owner;
        const char* text;
        int processing;
        int value_records;
    } cases[] = {
        {"MB", getpid(), "MODBUS SLAVE", 1, 0},  // "modb" names: the writer processes
        {"c1", getpid(), "CALCULATOR 1", 2, 0},  // runs a program of its own
        {"UA", 0, "USER ANALOG", 1, 1},          // no program of its own
        {"A4", 4242, "TOLVA DEVICE 1", 0, 0},    // a kind module: the scanner processes
        {"A6", 4242, "TOLVA DEVICE 1", 1, 0},    // the statistics module: the writer
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        EXPECT_EQ(shm_ModuleOwnerPid(c.code), c.owner);
        EXPECT_STREQ(shm_ModuleText(c.code), c.text);
        EXPECT_EQ(shm_ModuleProcessing(c.code), c.processing);
        EXPECT_EQ(shm_ModuleHasValueRecords(c.code), c.value_records);
    }
    // A module that exists but is in no table: no owner, no text, not an error.
    ASSERT_NE(sim_host::create_module("dm_ZZ", 20), nullptr);
    EXPECT_EQ(shm_ModuleOwnerPid("ZZ"), 0);
    EXPECT_STREQ(shm_ModuleText("ZZ"), "");
    EXPECT_EQ(shm_ModuleHasValueRecords("ZZ"), 0);
    // A module that cannot be opened.
    EXPECT_EQ(shm_ModuleOwnerPid("QQ"), -1);
    EXPECT_EQ(shm_ModuleText("QQ"), nullptr);
    EXPECT_EQ(shm_ModuleProcessing("QQ"), -1);
}

TEST(HostTables, ModuleIndexesCoverProcessorsThenSixPerDevice) {
    RuntimeHost host;  // 6 standard processes
    sim_host::DeviceSpec a;
    a.channels[0] = {sim_host::analog_input("AI1")};
    sim_host::DeviceSpec b = a;
    b.number = 2;
    b.codes = {"B1", "", "B3", "", ""};
    b.stats_code = "B6";
    ASSERT_EQ(host.add_device(a), 0);
    ASSERT_EQ(host.add_device(b), 1);
    EXPECT_EQ(shm_FindDeviceIndex("SY"), 0);
    EXPECT_EQ(shm_FindDeviceIndex("ua"), 5);
    EXPECT_EQ(shm_FindDeviceIndex("A1"), 6);
    EXPECT_EQ(shm_FindDeviceIndex("A5"), 10);
    EXPECT_EQ(shm_FindDeviceIndex("A6"), 11);
    EXPECT_EQ(shm_FindDeviceIndex("B3"), 14);
    EXPECT_EQ(shm_FindDeviceIndex("B6"), 17);
    EXPECT_EQ(shm_FindDeviceIndex("B2"), -1) << "absent kind";
    EXPECT_EQ(shm_FindDeviceIndex(""), -1);
    int index = -1;
    EXPECT_EQ(shm_FindDevice("tolvaXX", 2, &index), host.device(1));
    EXPECT_EQ(index, 1);
    EXPECT_EQ(shm_FindDevice("TOLVA", 3, nullptr), nullptr);
}

TEST(HostTables, FailedCacheAllocationIsAFailureNotIndexZero) {
    RuntimeHost host;
    qvr::module_index::fail_next_cache_allocation();
    EXPECT_EQ(shm_FindDeviceIndex("MB"), -1);
    EXPECT_EQ(errno, 8);
    EXPECT_EQ(shm_FindDeviceIndex("MB"), 3) << "the next lookup builds the cache";
}

TEST(HostTables, CachedModulesFollowMovedRecordsAndGrownTables) {
    RuntimeHost host(bare());
    host.add_process({"P1", "", "P1"});
    host.add_process({"P2", "", "P2"});
    void* p1 = shm_OpenDeviceData("P1");
    void* p2 = shm_OpenDeviceData("P2");
    ASSERT_NE(p1, nullptr);
    ASSERT_NE(p1, p2);
    // Another process reorders the table: index 0 is now P2's.
    ASSERT_TRUE(host.move_process_last_raw("P1"));
    EXPECT_EQ(shm_FindDeviceIndex("P2"), 0);
    EXPECT_EQ(shm_OpenDeviceData("P2"), p2);
    EXPECT_EQ(shm_OpenDeviceData("P1"), p1);
    EXPECT_EQ(shm_OpenDeviceConf("P2"), shm_OpenSection("dm_P2_conf"));
    // The table grows after the cache was built.
    sim_host::DeviceSpec dev;
    dev.codes = {"D1", "", "", "", ""};
    dev.stats_code = "";
    ASSERT_EQ(host.add_device(dev), 0);
    EXPECT_EQ(shm_FindDeviceIndex("D1"), 2);
    EXPECT_EQ(shm_OpenDeviceData("D1"), shm_OpenSection("dm_D1"));
}

TEST(HostTables, MoveProcessLastKeepsTheCacheInStepAndTakesTheTableLock) {
    RuntimeHost host(bare());
    for (const char* name : {"P1", "P2", "P3"}) host.add_process({name, "", name});
    void* p1 = shm_OpenDeviceData("P1");
    auto helper = qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_test_helper"),
                                                {"lock-hold", "dm_datproc", "1"}, {}, true);
    ASSERT_NE(helper.read_stdout(kLong, "held").find("held"), std::string::npos);
    std::thread mover([] { EXPECT_EQ(shm_MoveProcessLast("P1"), 0); });
    std::this_thread::sleep_for(200ms);
    EXPECT_STREQ(qvr::process_record(0)->ProcName, "P1")
        << "nothing moves while another process holds the table";
    helper.kill(SIGKILL);
    helper.wait(kLong);
    mover.join();
    EXPECT_STREQ(qvr::process_record(0)->ProcName, "P2");
    EXPECT_STREQ(qvr::process_record(2)->ProcName, "P1");
    EXPECT_EQ(shm_FindDeviceIndex("P1"), 2);
    EXPECT_EQ(shm_OpenDeviceData("P1"), p1);
    EXPECT_EQ(shm_MoveProcessLast("NONE"), -1);
}

TEST(HostTables, StatsCodesAreReadOnlyInsideTheTable) {
    // A device table sized for its records only (no code array), as an older host makes it.
    void* table = sim_host::create_module(qvr::kDeviceTableName, 4 + 2 * qvr::kDeviceRecordSize);
    ASSERT_NE(table, nullptr);
    auto bytes = qvr::section_bytes(table);
    qvr::store_u32(bytes, qvr::kTableCountOffset, 2);
    EXPECT_EQ(qvr::device_count(), 2u);
    EXPECT_EQ(shm_DeviceStatsCode(0), nullptr);
    EXPECT_EQ(shm_DeviceStatsCode(1), nullptr);
    EXPECT_EQ(shm_FindDeviceIndex("A6"), -1);
    // A count beyond what the section holds shows only the records it has.
    qvr::store_u32(bytes, qvr::kTableCountOffset, 1000000);
    EXPECT_EQ(qvr::device_count(), 2u);
    EXPECT_EQ(shm_DeviceStatsCode(0), nullptr);
}

namespace {

// Two devices whose codes "A6" and "B6" follow their records in a table of `length` data
// bytes (as much of them as the data holds).
void two_devices_with_codes(uint32_t length) {
    void* table = sim_host::create_module(qvr::kDeviceTableName, length);
    ASSERT_NE(table, nullptr);
    auto bytes = qvr::section_bytes(table);
    qvr::store_u32(bytes, qvr::kTableCountOffset, 2);
    const size_t codes = qvr::kTableRecordsOffset + 2 * qvr::kDeviceRecordSize;
    std::memcpy(bytes.data() + codes, "A6B6", std::min<size_t>(4, qvr::kSectionDataOffset + length - codes));
}

}  // namespace

TEST(HostTables, StatsCodesAreReadWhenTheDataHoldsTheWholeCodeArray) {
    two_devices_with_codes(4 + 2 * 790);
    EXPECT_STREQ(shm_DeviceStatsCode(0), "A6");
    EXPECT_STREQ(shm_DeviceStatsCode(1), "B6");
}

TEST(HostTables, ADataAreaOneByteShortOfTheCodeArrayHasNoCodes) {
    two_devices_with_codes(4 + 2 * 790 - 1);
    EXPECT_EQ(shm_DeviceStatsCode(0), nullptr) << "its own code lies inside, the array does not";
    EXPECT_EQ(shm_DeviceStatsCode(1), nullptr);
}

TEST(HostTables, StatsCodesFollowTheLastRecord) {
    RuntimeHost host;
    sim_host::DeviceSpec a, b;
    b.number = 2;
    b.codes = {"B1", "", "", "", ""};
    b.stats_code = "";
    host.add_device(a);
    host.add_device(b);
    EXPECT_STREQ(shm_DeviceStatsCode(0), "A6");
    EXPECT_STREQ(shm_DeviceStatsCode(1), "");
    // An index before the array is as far outside it as one past the end, and says so.
    for (int index : {2, -1}) {
        platform::set_last_error(0);
        EXPECT_EQ(shm_DeviceStatsCode(index), nullptr) << index;
        EXPECT_EQ(platform::last_error(), platform::kErrorBadNetName) << index;
    }
}

TEST(HostTables, LoggersByIndexAndName) {
    RuntimeHost host;
    host.add_logger({"stand", "Boiler House"});
    host.add_logger({"repub", "Export"});
    EXPECT_EQ(shm_LoggerIndex("boiler house"), 1);
    EXPECT_EQ(shm_LoggerIndex("EXPORT"), 2);
    EXPECT_EQ(shm_LoggerIndex("none"), 0);
    ASSERT_NE(shm_LoggerByIndex(2), nullptr);
    EXPECT_EQ(std::string(shm_LoggerByIndex(2)->LoggerType, 5), "repub");
    EXPECT_EQ(shm_LoggerByIndex(0), nullptr);
    EXPECT_EQ(shm_LoggerByIndex(3), nullptr);
}
