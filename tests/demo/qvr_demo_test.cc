// The demo program as CI and logs see it (standard output is a pipe): it runs the whole
// road, shows every channel with a value, reports alarm messages and the output write
// reaching the controller, stops the scanner by command 31, and leaves no shared object,
// folder or process behind.
#include <signal.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

namespace {

using namespace std::chrono_literals;
using qvr_test::ChildProcess;

constexpr const char* kEnd = "demo: removed ";

struct Identity {
    std::string prefix;
    std::filesystem::path folder;
    int scanner_pid = 0;
};

Identity identity_of(const std::string& out) {
    Identity id;
    std::smatch m;
    if (std::regex_search(out, m, std::regex(R"(demo: IPC prefix (\S+), folder (\S+) )"))) {
        id.prefix = m[1];
        id.folder = m[2].str();
    }
    if (std::regex_search(out, m, std::regex(R"(started tolva_sc 1 \(pid (\d+)\))"))) id.scanner_pid = std::stoi(m[1]);
    return id;
}

// The rows of the last table snapshot: tag -> "value units status".
std::vector<std::string> last_table(const std::string& out) {
    std::vector<std::string> rows;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("--- ")) rows.clear();
        else if (line.starts_with("    ")) rows.push_back(line);
    }
    return rows;
}

std::string row_of(const std::vector<std::string>& rows, const std::string& tag) {
    const std::regex pattern("^    \\S+ +" + tag + " +");
    for (const auto& r : rows)
        if (std::regex_search(r, pattern)) return r;
    return {};
}

void expect_nothing_left(const Identity& id) {
    ASSERT_FALSE(id.prefix.empty());
    ASSERT_FALSE(id.folder.empty());
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm"))
        EXPECT_FALSE(entry.path().filename().string().starts_with(id.prefix)) << entry.path();
    EXPECT_FALSE(std::filesystem::exists(id.folder)) << id.folder;
    ASSERT_GT(id.scanner_pid, 0);
    // An orphan would still be there; a zombie is reaped by its new parent at once.
    const auto proc = std::filesystem::path("/proc") / std::to_string(id.scanner_pid);
    for (int i = 0; i < 100 && std::filesystem::exists(proc); ++i) std::this_thread::sleep_for(20ms);
    EXPECT_FALSE(std::filesystem::exists(proc)) << "tolva_sc " << id.scanner_pid << " is still there";
}

TEST(QvrDemo, RunsTheWholeRoadForAFewSecondsAndLeavesNothingBehind) {
    auto demo = ChildProcess::spawn(qvr_test::bin_path("qvr_demo"), {"--seconds", "6"}, {}, true);
    const std::string out = demo.read_stdout(120s, kEnd);
    ASSERT_EQ(demo.wait_exit_code(30s), 0) << out;
    std::this_thread::sleep_for(50ms);
    const std::string all = demo.read_stdout(0ms);

    const auto rows = last_table(all);
    for (const char* tag : {"LEVEL", "TEMP", "REMOTE", "RUN", "FAULT", "SETPOINT", "SPEED", "PUMP", "VALVE",
                            "TOLVA_1_RB", "TOLVA_1_TP"}) {
        const std::string row = row_of(rows, tag);
        ASSERT_FALSE(row.empty()) << tag << "\n" << all;
        EXPECT_TRUE(std::regex_search(row, std::regex(tag + std::string(R"( +(-?[0-9.]+|[A-Z]+) )")))) << row;
        EXPECT_EQ(row.find("failed"), std::string::npos) << row;
    }
    EXPECT_TRUE(std::regex_search(row_of(rows, "SETPOINT"), std::regex(R"( 42 +%)"))) << all;
    EXPECT_TRUE(std::regex_search(row_of(rows, "PUMP"), std::regex(R"( ON )"))) << all;
    EXPECT_NE(row_of(rows, "TOLVA_1_RB").find("BYTES"), std::string::npos);

    // LEVEL ramps through its warning (80) and its alarm (90) within the first seconds.
    EXPECT_TRUE(std::regex_search(all, std::regex(R"(alarm message: warning +LEVEL +\(A1:1\) +high +priority 7)")))
        << all;
    EXPECT_TRUE(std::regex_search(all, std::regex(R"(alarm message: alarm +LEVEL +\(A1:1\) +high +priority 7)")))
        << all;
    EXPECT_NE(all.find("controller: received S1 0F/00 file 7 element 10 size 2 data 2A 00 -> STS 00"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("controller: station 1 now holds N7:10 = 42 (SETPOINT) and B3:1/0 = 1 (PUMP)"),
              std::string::npos)
        << all;
    EXPECT_NE(all.find("demo: stopping: command 31 to tolva_sc"), std::string::npos);
    EXPECT_NE(all.find("demo: tolva_sc ended with exit code 0"), std::string::npos) << all;
    EXPECT_EQ(all.find("\x1b["), std::string::npos) << "cursor control without a terminal";
    expect_nothing_left(identity_of(all));
}

class StopSignal : public testing::TestWithParam<int> {};

TEST_P(StopSignal, StopsTheScannerByCommand31AndLeavesNothingBehind) {
    auto demo = ChildProcess::spawn(qvr_test::bin_path("qvr_demo"), {}, {}, true);
    std::string out = demo.read_stdout(60s, "demo: device open");
    ASSERT_NE(out.find("demo: device open"), std::string::npos) << out;
    demo.read_stdout(30s, "--- ");
    demo.kill(GetParam());
    out = demo.read_stdout(60s, kEnd);
    ASSERT_EQ(demo.wait_exit_code(30s), 0) << out;
    EXPECT_NE(out.find("demo: stopping: command 31 to tolva_sc"), std::string::npos) << out;
    EXPECT_NE(out.find("demo: tolva_sc ended with exit code 0"), std::string::npos) << out;
    expect_nothing_left(identity_of(out));
}

INSTANTIATE_TEST_SUITE_P(QvrDemo, StopSignal, testing::Values(SIGINT, SIGTERM),
                         [](const testing::TestParamInfo<int>& p) { return p.param == SIGINT ? "Interrupt" : "Terminate"; });

}  // namespace
