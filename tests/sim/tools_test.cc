// The programs a user runs by hand, run as real processes: their usage, their refusals and
// the reasons they give on the way out.
#include <gtest/gtest.h>

#include <cerrno>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_env.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

struct ToolRun {
    int exit_code = -1;
    std::string out;
    std::string err;
};

// Runs `program` with this process's environment less `unset` and plus `set` ("NAME=value"),
// both output streams into files, bounded by a minute.
ToolRun run_tool(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& set = {}, const std::vector<std::string>& unset = {}) {
    qvr_test::TempDir streams;
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        bool drop = false;
        for (const auto& u : unset) drop = drop || u == name;
        for (const auto& s : set) drop = drop || s.substr(0, s.find('=')) == name;
        if (!drop) env.push_back(entry);
    }
    env.insert(env.end(), set.begin(), set.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> all{program};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);

    const std::string out = (streams / "out").string();
    const std::string err = (streams / "err").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ToolRun run;
    if (rc != 0) {
        run.err = "cannot start " + program;
        return run;
    }
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 6000 && (done = ::waitpid(pid, &status, WNOHANG)) == 0; ++i)
        std::this_thread::sleep_for(10ms);
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        run.err = program + " did not end within a minute\n";
    } else if (WIFEXITED(status)) {
        run.exit_code = WEXITSTATUS(status);
    }
    run.out = qvr_test::read_file(out);
    run.err += qvr_test::read_file(err);
    return run;
}

std::string bin(const char* name) {
    return qvr_test::bin_path(name);
}

TEST(ToolUsage, EveryProgramPrintsItsUsageOnHelpAndExits0) {
    for (const char* program : {"tolva_sc", "qvr_host", "qvr_controller", "sim_config", "qvr_server", "qvr_logger",
                                "qvr_rig", "qvr_demo"}) {
        SCOPED_TRACE(program);
        if (!fs::exists(bin(program))) continue;  // a deliverable left out of this build
        const ToolRun run = run_tool(bin(program), {"--help"});
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_TRUE(run.out.starts_with("usage: ")) << run.out;
        EXPECT_EQ(run.err, "");
    }
}

TEST(ToolUsage, TheScannerRefusesAnyOtherCommandLineSayingWhy) {
    qvr_test::TempDir dir;
    // A copy whose name has no '_', so no device type.
    const fs::path plain = dir / "tolvasc";
    fs::copy_file(bin("tolva_sc"), plain);
    fs::copy_file(bin("libtslib.so"), dir / "libtslib.so");
    struct Case {
        std::string program;
        std::vector<std::string> args;
        std::string reason;
    };
    const Case cases[] = {
        {bin("tolva_sc"), {}, "exactly one argument, the device number, is needed"},
        {bin("tolva_sc"), {"1", "2"}, "exactly one argument, the device number, is needed"},
        {bin("tolva_sc"), {"abc"}, "\"abc\" is no device number (1..65535)"},
        {bin("tolva_sc"), {"65536"}, "\"65536\" is no device number (1..65535)"},
        {plain.string(), {"1"}, "has no '_': the device type is the name up to its last '_'"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? std::string("(none)") : c.args[0]);
        const ToolRun run = run_tool(c.program, c.args, {"TOLVA_NO_REALTIME=1"});
        EXPECT_EQ(run.exit_code, 87);
        EXPECT_NE(run.err.find("tolva_sc: "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
        EXPECT_EQ(run.out, "");
    }
}

TEST(ToolUsage, TheScannerWithoutTheHostsDeviceTableSaysSoAndFails) {
    // This test's host has no device table at all: the scanner cannot look its device up.
    const ToolRun run = run_tool(bin("tolva_sc"), {"7"}, {"TOLVA_NO_REALTIME=1"});
    EXPECT_EQ(run.exit_code, ENOENT);
    EXPECT_NE(run.err.find("tolva_sc: CAN'T OPEN dm_device -0002"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

// The sample device as files, printed by the library's Qt back end on a machine without a
// display, and every failure of a print job with its reason.
class SampleDevicePrint : public testing::Test {
  protected:
    void SetUp() override {
        if (!fs::exists(bin("sim_config")) || !fs::exists(bin("TOLVA_CF.so"))) GTEST_SKIP() << "no TOLVA_CF";
        const ToolRun sample = run_tool(bin("sim_config"), {"sample", dir_.str()});
        ASSERT_EQ(sample.exit_code, 0) << sample.err;
        for (const char* file : {"device.rec", "config.rec", "channel.rec", "ai.tab", "di.tab", "ao.tab", "do.tab",
                                 "CURRENT_CONFIG/TOLVA_1/config"})
            EXPECT_TRUE(fs::exists(dir_ / file)) << file;
    }

    // print-all of the sample device with `tables` of its files; no display of any kind.
    ToolRun print_all(const std::string& output, const std::vector<std::string>& tables,
                      const std::string& config_folder) {
        std::vector<std::string> args{"--print", output, "print-all", path("device.rec"), "1", "0", "0", "0",
                                      path("config.rec")};
        for (const auto& t : tables) args.push_back(path(t.c_str()));
        return run_tool(bin("sim_config"), args, {"QVR_CURRENT_CONFIG=" + config_folder},
                        {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"});
    }

    std::string path(const char* name) const { return (dir_ / name).string(); }

    qvr_test::TempDir dir_;
};

TEST_F(SampleDevicePrint, PrintsToAPdfWithoutADisplay) {
    const ToolRun run = print_all(path("device.pdf"), {"ai.tab", "di.tab", "ao.tab", "do.tab"}, path("none"));
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.out, "result=0\n") << run.err;
    ASSERT_TRUE(fs::exists(path("device.pdf")));
    EXPECT_EQ(qvr_test::read_file(path("device.pdf")).substr(0, 5), "%PDF-");
    // Tables left out come from the configuration folder the sample holds.
    const ToolRun from_folder = print_all(path("folder.pdf"), {}, path("CURRENT_CONFIG"));
    EXPECT_EQ(from_folder.out, "result=0\n") << from_folder.err;
}

TEST_F(SampleDevicePrint, EveryFailureNamesItsReason) {
    struct Case {
        std::string output;
        std::vector<std::string> tables;
        std::string reason;
    };
    const Case cases[] = {
        {path("missing/device.pdf"), {"ai.tab", "di.tab", "ao.tab", "do.tab"},
         "the folder " + path("missing") + " does not exist"},
        {"NO_SUCH_PRINTER_HERE", {"ai.tab", "di.tab", "ao.tab", "do.tab"}, "no printer \"NO_SUCH_PRINTER_HERE\""},
        {path("short.pdf"), {"ai.tab", "di.tab"}, "the AO table, the DO table (not given) came from the configuration server"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        const ToolRun run = print_all(c.output, c.tables, path("none"));
        EXPECT_NE(run.out.find("result=-1"), std::string::npos) << run.out;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << run.err;
    }
}

TEST(ToolUsage, TheLoggerAddsEventsOnEveryLocationKindAndGivesTheStoresReason) {
    if (!fs::exists(bin("qvr_logger"))) GTEST_SKIP() << "no logger stores in this build";
    qvr_test::TempDir dir;
    for (const std::string& location :
         {(dir / "runs").string(), "Provider=SQLite.File;Data Source=" + (dir / "runs.sqlite").string()}) {
        SCOPED_TRACE(location);
        const ToolRun run = run_tool(bin("qvr_logger"), {"--folder", location, "--runs", "2", "--records", "10",
                                                         "--events", "3"});
        EXPECT_EQ(run.exit_code, 0) << run.err;
        EXPECT_TRUE(run.out.ends_with(" 10\ndone\n")) << run.out;
    }
    // Runs are dated now when no start is given: the file names carry the UTC date.
    char today[16];
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(today, sizeof today, "L1_%y%m%d_", &utc);
    bool dated = false;
    for (const auto& entry : fs::directory_iterator(dir / "runs"))
        dated = dated || entry.path().filename().string().starts_with(today);
    EXPECT_TRUE(dated) << today;

    const ToolRun refused = run_tool(
        bin("qvr_logger"), {"--folder", "Provider=SQLite.File;Data Source=" + (dir / "no/such/runs.sqlite").string()});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_NE(refused.err.find("cannot open"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("CAN'T OPEN DATABASE"), std::string::npos) << refused.err;

    const ToolRun wrong = run_tool(bin("qvr_logger"), {"--folder", dir.str(), "--records", "2", "--events", "3"});
    EXPECT_EQ(wrong.exit_code, 2);
    EXPECT_NE(wrong.err.find("--events 3 needs at least as many --records"), std::string::npos) << wrong.err;
}

}  // namespace
