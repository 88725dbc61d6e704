// The host stand-in's tool, run as real processes under the test's own prefix.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "host/host.h"
#include "platform/ipc_names.h"
#include "platform/shm_object.h"
#include "qvr/ipc/shm.h"
#include "support/child_process.h"

using qvr_test::ChildProcess;
using namespace std::chrono_literals;

namespace {

constexpr auto kLong = 30s;  // only so a broken build cannot hang

struct Run {
    int exit_code;
    std::string out;
};

Run host(std::vector<std::string> args, std::vector<std::string> env = {}) {
    auto child = ChildProcess::spawn(qvr_test::bin_path("qvr_host"), args, env, true);
    const auto code = child.wait_exit_code(kLong);
    return {code.value_or(-1), child.read_stdout(0ms)};
}

size_t runtime_files() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(platform::runtime_dir())) ++n;
    return n;
}

}  // namespace

TEST(HostTool, CreatesListsAndDumpsSectionsAndModules) {
    EXPECT_EQ(host({"create-module", "dm_AB", "64"}).exit_code, 0);
    EXPECT_EQ(host({"create-section", "dm_plain", "100"}).exit_code, 0);
    EXPECT_EQ(host({"create-module", "dm_AB", "64"}).exit_code, 0) << "an existing module is reused";
    EXPECT_NE(host({"create-section", "dm_plain", "100"}).exit_code, 0) << "an existing section is refused";

    const auto list = host({"list"});
    EXPECT_EQ(list.out, "section dm_AB\nsection dm_plain\nmutex   dm_AB.mut\nmutex   dm_plain.mut\n");

    ASSERT_EQ(host({"write", "dm_AB", "4", "hello"}).exit_code, 0);
    const auto dump = host({"dump", "dm_AB", "16"});
    EXPECT_EQ(dump.exit_code, 0);
    EXPECT_NE(dump.out.find("magic 0x4afc, data size 608"), std::string::npos) << dump.out;
    EXPECT_NE(dump.out.find("data length 64, waiters at 192, requests at 332"), std::string::npos);
    EXPECT_NE(dump.out.find("00 00 00 00 68 65 6c 6c 6f"), std::string::npos);
    EXPECT_NE(host({"dump", "dm_plain"}).out.find("plain section"), std::string::npos);
    EXPECT_NE(host({"dump", "dm_none"}).exit_code, 0);
    EXPECT_EQ(host({"bogus"}).exit_code, 2);
}

TEST(HostTool, WatcherReceivesCodesAndSeesTheWrittenData) {
    ASSERT_EQ(host({"create-module", "dm_AB", "64"}).exit_code, 0);
    auto watcher = ChildProcess::spawn(qvr_test::bin_path("qvr_host"), {"watch", "dm_AB", "1"}, {}, true);
    watcher.read_stdout(kLong, "watching");
    const std::string pid = std::to_string(watcher.pid());
    ASSERT_EQ(host({"write", "dm_AB", "0", "temperature 21.5"}).exit_code, 0);
    EXPECT_NE(watcher.read_stdout(kLong, "\"temperature 21.5\"").find("dm_AB data: \"temperature 21.5\""),
              std::string::npos);
    ASSERT_EQ(host({"send", pid, "300"}).exit_code, 0);
    ASSERT_EQ(host({"send", pid, "31"}).exit_code, 0);
    EXPECT_EQ(watcher.wait_exit_code(kLong), 0);
    const std::string out = watcher.read_stdout(0ms);
    EXPECT_NE(out.find("code 32\n"), std::string::npos) << out;
    EXPECT_NE(out.find("code 300\n"), std::string::npos);
    EXPECT_NE(out.find("code 31: stopping"), std::string::npos);
    EXPECT_NE(host({"send", pid, "300"}).exit_code, 0) << "the watcher's slot is gone";
}

TEST(HostTool, RemoveAllLeavesNothingEvenAfterACrash) {
    ASSERT_EQ(host({"create-module", "dm_AB", "64"}).exit_code, 0);
    ASSERT_EQ(host({"create-module", "dm_device", "794"}).exit_code, 0);
    auto watcher = ChildProcess::spawn(qvr_test::bin_path("qvr_host"), {"watch", "dm_AB", "2"}, {}, true);
    watcher.read_stdout(kLong, "watching");
    watcher.kill(SIGKILL);  // leaves its slot file behind
    ASSERT_TRUE(watcher.wait(kLong));
    // And a creator killed between creating and linking leaves a temporary object.
    ASSERT_TRUE(platform::shm_object_create(".creating.1.1", 64, 0660, {}));
    EXPECT_EQ(runtime_files(), 1u);

    const auto removed = host({"remove-all"});
    EXPECT_EQ(removed.exit_code, 0);
    EXPECT_NE(removed.out.find("removed 5 shared objects and 1 mailslots"), std::string::npos) << removed.out;
    EXPECT_TRUE(platform::shm_object_list().empty());
    EXPECT_EQ(runtime_files(), 0u);
    EXPECT_EQ(host({"list"}).out, "(nothing)\n");
}

TEST(HostTool, RemoveAllRefusesWithoutAPrefix) {
    EXPECT_NE(host({"remove-all"}, {"QUORVANE_IPC_PREFIX="}).exit_code, 0);
}

TEST(HostLibrary, PlainSectionGetsItsMutexSoItCanBeLocked) {
    void* s = sim_host::create_section("dm_tab", 200);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(shm_Lock(s), 0);
    EXPECT_EQ(shm_Unlock(s), 0);
    const auto list = sim_host::list_objects();
    EXPECT_EQ(list.sections, std::vector<std::string>{"dm_tab"});
    EXPECT_EQ(list.mutexes, std::vector<std::string>{"dm_tab.mut"});
}
