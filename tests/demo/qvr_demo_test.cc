// The demo program as CI and logs see it (standard output is a pipe): it runs the whole
// road, shows every channel with a value, reports alarm messages and the output write
// reaching the controller, stops the scanner by command 31, and leaves no shared object,
// folder or process behind.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/child_process.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using qvr_test::ChildProcess;

constexpr const char* kEnd = "demo: removed ";

struct Identity {
    std::string prefix;
    std::filesystem::path folder;
    int scanner_pid = 0;
};

// The text between `before` and `after` in `out`, or "".
std::string between(const std::string& out, const std::string& before, const std::string& after) {
    const size_t from = out.find(before);
    if (from == std::string::npos) return {};
    const size_t begin = from + before.size();
    const size_t to = out.find(after, begin);
    return to == std::string::npos ? std::string() : out.substr(begin, to - begin);
}

Identity identity_of(const std::string& out) {
    Identity id;
    id.prefix = between(out, "demo: IPC prefix ", ", folder ");
    id.folder = between(out, ", folder ", " (runtime");
    const std::string pid = between(out, "started tolva_sc 1 (pid ", ")");
    if (!pid.empty()) id.scanner_pid = std::stoi(pid);
    return id;
}

std::vector<std::string> words(const std::string& line) {
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string w; in >> w;) out.push_back(w);
    return out;
}

std::vector<std::string> lines_of(const std::string& out) {
    std::vector<std::string> lines;
    std::istringstream in(out);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The rows of the last table snapshot, as words: kind, tag, value, [units,] status words.
std::vector<std::vector<std::string>> last_table(const std::string& out) {
    std::vector<std::vector<std::string>> rows;
    for (const auto& line : lines_of(out)) {
        if (line.starts_with("--- ")) rows.clear();
        else if (line.starts_with("    ")) rows.push_back(words(line));
    }
    return rows;
}

std::vector<std::string> row_of(const std::vector<std::vector<std::string>>& rows, const std::string& tag) {
    for (const auto& r : rows)
        if (r.size() >= 4 && r[1] == tag) return r;
    return {};
}

// An alarm message line of `form` for `tag`, e.g. "alarm message: warning LEVEL (A1:1) high priority 7 ...".
// "alarm message: alarm LEVEL high priority 7 value 90: TANK LEVEL HIGH": the channel by
// its tag and the text its configuration holds for that alarm.
bool has_alarm_line(const std::string& out, const std::string& form, const std::string& tag,
                    const std::string& priority, const std::string& text) {
    for (const auto& line : lines_of(out)) {
        const auto w = words(line);
        if (w.size() >= 8 && w[0] == "alarm" && w[1] == "message:" && w[2] == form && w[3] == tag &&
            w[4] == "high" && w[5] == "priority" && w[6] == priority && line.ends_with(": " + text))
            return true;
    }
    return false;
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
        const auto row = row_of(rows, tag);
        ASSERT_FALSE(row.empty()) << tag << "\n" << all;
        const bool number = row[2].find_first_not_of("-.0123456789") == std::string::npos;
        const bool state = row[2].find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos;
        EXPECT_TRUE(number || state) << tag << ": " << row[2];
        EXPECT_EQ(std::find(row.begin(), row.end(), "failed"), row.end()) << tag;
    }
    EXPECT_EQ(row_of(rows, "SETPOINT")[2], "42");
    EXPECT_EQ(row_of(rows, "SETPOINT")[3], "%");
    EXPECT_EQ(row_of(rows, "PUMP")[2], "ON");
    EXPECT_EQ(row_of(rows, "TOLVA_1_RB")[3], "BYTES");
    EXPECT_NE(std::stod(row_of(rows, "TOLVA_1_RB")[2]), 0.0);

    // LEVEL ramps through its warning (80) and its alarm (90) within the first seconds.
    EXPECT_TRUE(has_alarm_line(all, "warning", "LEVEL", "7", "TANK LEVEL HIGH")) << all;
    EXPECT_TRUE(has_alarm_line(all, "alarm", "LEVEL", "7", "TANK LEVEL HIGH")) << all;
    // Every kind, statistics row and status word is explained once, before the first table.
    for (const char* word : {"AI/DI", "AO/DO", "PS", "RB/RP", "RT", "RE", "RC", "TB/TP", "TE", "ST", "RS", "failed"})
        EXPECT_NE(all.substr(0, all.find("--- ")).find(word), std::string::npos) << word;
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

// A pipe into head: the reader goes away while the demo runs; it must still stop the
// scanner and remove what it made.
TEST(QvrDemo, AReaderThatGoesAwayEndsTheDemoWhichLeavesNothingBehind) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    std::string program = qvr_test::bin_path("qvr_demo");
    char* argv[] = {program.data(), nullptr};
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    ASSERT_EQ(rc, 0);
    std::string out;
    const auto end = std::chrono::steady_clock::now() + 60s;
    while (std::chrono::steady_clock::now() < end) {
        const size_t open = out.find("demo: device open");
        if (open != std::string::npos && out.find("--- ", open) != std::string::npos) break;
        pollfd p{fds[0], POLLIN, 0};
        if (::poll(&p, 1, 100) <= 0) continue;
        char buffer[4096];
        const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
        if (n <= 0) break;
        out.append(buffer, static_cast<size_t>(n));
    }
    ::close(fds[0]);
    ASSERT_NE(out.find("demo: device open"), std::string::npos) << out;
    int status = 0;
    pid_t done = 0;
    for (int i = 0; i < 600 && (done = ::waitpid(pid, &status, WNOHANG)) == 0; ++i) std::this_thread::sleep_for(100ms);
    if (done == 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    EXPECT_NE(done, 0) << "the demo runs on without its reader";
    EXPECT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
    expect_nothing_left(identity_of(out));
}

INSTANTIATE_TEST_SUITE_P(QvrDemo, StopSignal, testing::Values(SIGINT, SIGTERM),
                         [](const testing::TestParamInfo<int>& p) { return p.param == SIGINT ? "Interrupt" : "Terminate"; });

}  // namespace
