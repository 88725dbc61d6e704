#include "qvr/diag/trace.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/debug_output.h"
#include "platform/registry_key.h"
#include "platform/testing/debug_output_testing.h"
#include "qvr/diag/debug_trace.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/trace_testing.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_env.h"

namespace {

using platform::RegistryHive;
using platform::RegistryKey;
using namespace std::chrono_literals;

void set_trace_value(const std::string& name, const std::string& value) {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::create(RegistryHive::machine, kProductKey, platform::kKeyAllAccess, key), 0);
    ASSERT_EQ(key.set_string(name, value), 0);
}

void remove_trace_value(const std::string& name) {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::create(RegistryHive::machine, kProductKey, platform::kKeyAllAccess, key), 0);
    key.delete_value(name);
}

// What the trace sends to the debugger channel, one entry per flushed line.
class DebuggerCapture {
  public:
    DebuggerCapture() {
        platform::set_debug_output_capture([this](std::string_view text) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(text);
        });
    }
    ~DebuggerCapture() {
        trace_Destroy();
        platform::set_debug_output_capture({});
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// Standard error of this process goes to a file while the object lives.
class StderrCapture {
  public:
    explicit StderrCapture(std::filesystem::path file) : file_(std::move(file)) {
        saved_ = ::dup(STDERR_FILENO);
        const int fd = ::open(file_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~StderrCapture() { restore(); }
    void restore() {
        if (saved_ < 0) return;
        ::dup2(saved_, STDERR_FILENO);
        ::close(saved_);
        saved_ = -1;
    }
    std::string text() const { return qvr_test::read_file(file_); }

  private:
    std::filesystem::path file_;
    int saved_ = -1;
};

}  // namespace

TEST(Trace, WritingBeforeCreationDoesNothing) {
    DebuggerCapture debugger;
    EXPECT_EQ(trace_Write("lost\n"), 0);
    EXPECT_EQ(trace_IsOn(), 0);
    trace_WriteHex("\x01", 1);
    EXPECT_TRUE(debugger.lines().empty());
}

TEST(Trace, OnlyATextBeginningWithOnSwitchesItOn) {
    DebuggerCapture debugger;
    struct Case {
        const char* value;  // null: absent
        int on;
    };
    const Case cases[] = {{"ON", 1}, {"on", 1},    {"On, please", 1}, {"OFF", 0},
                          {"", 0},   {nullptr, 0}, {"xon", 0},        {"O", 0}};
    for (const Case& c : cases) {
        if (c.value != nullptr)
            set_trace_value("Scanner_Debug", c.value);
        else
            remove_trace_value("Scanner_Debug");
        trace_Create("Scanner");
        EXPECT_EQ(trace_IsOn(), c.on) << (c.value ? c.value : "absent");
        EXPECT_EQ(trace_Write("line\n"), 1);
    }
    EXPECT_EQ(debugger.lines().size(), 3u);
}

TEST(Trace, DebuggerLinesAreWholeAndPrefixedOnce) {
    DebuggerCapture debugger;
    set_trace_value("Scanner_Debug", "ON");
    trace_Create("Scanner");
    trace_Write("reply ");
    trace_WriteHex("\x10\xff", 2);
    EXPECT_TRUE(debugger.lines().empty()) << "held until the line ends";
    trace_Write("done\n");
    trace_Write("next\n");
    EXPECT_EQ(debugger.lines(),
              (std::vector<std::string>{"Scanner : reply 0x10 0xff done\n", "Scanner : next\n"}));
}

TEST(Trace, AnOverLongMessageKeepsItsEnd) {
    DebuggerCapture debugger;
    set_trace_value("Scanner_Debug", "ON");
    trace_Create("Scanner");
    std::string message;
    for (int i = 0; message.size() < 5999; ++i) message += std::to_string(i % 10);
    message.resize(5999);
    message += '\n';
    trace_Write(message.c_str());
    ASSERT_EQ(debugger.lines().size(), 1u);
    const std::string line = debugger.lines()[0];
    EXPECT_EQ(line.size(), 4999u);
    EXPECT_EQ(line.substr(0, 10), "Scanner : ");
    EXPECT_EQ(line.substr(10), message.substr(message.size() - 4989));

    // A full buffer takes nothing more; the line still ends with CR LF.
    trace_Write(std::string(4995, 'a').c_str());
    trace_Write("\n");
    ASSERT_EQ(debugger.lines().size(), 2u);
    const std::string full = debugger.lines()[1];
    EXPECT_EQ(full.size(), 4999u);
    EXPECT_EQ(full.substr(full.size() - 3), "a\r\n");
}

TEST(Trace, ConsoleFileAndDebuggerEachGetTheMessage) {
    qvr_test::TempDir dir;
    DebuggerCapture debugger;
    StderrCapture console(dir / "stderr.txt");
    const auto file = dir / "trace.log";
    set_trace_value("Link_Debug", "ON");
    set_trace_value("Link_DebugType", "CON+FILE");
    set_trace_value("Link_DebugFile", file.string());
    trace_Create("Link");
    trace_Write(">>. Opening pipe connection\r\n");
    console.restore();
    EXPECT_EQ(console.text(), ">>. Opening pipe connection\r\n");
    EXPECT_EQ(qvr_test::read_file(file), ">>. Opening pipe connection\r\n");
    EXPECT_EQ(debugger.lines(), std::vector<std::string>{"Link : >>. Opening pipe connection\r\n"});

    // "con" in lower case is no console.
    trace_Destroy();
    set_trace_value("Link_DebugType", "con");
    trace_Create("Link");
    uint8_t outputs = 0;
    std::array<TraceCounterSetting, CDebugTrace::kCounterCount> counters{};
    ASSERT_TRUE(qvr::trace_snapshot(outputs, counters));
    EXPECT_EQ(outputs, CDebugTrace::kDebugger);
}

TEST(Trace, EditingTheRegistryFileSwitchesARunningTrace) {
    DebuggerCapture debugger;
    const auto hive = std::filesystem::path(qvr_test::registry_dir()) / "machine.reg";
    trace_Create("Scanner");
    trace_Write("before\n");
    EXPECT_EQ(trace_IsOn(), 0);
    // As a service engineer's editor saves it.
    qvr_test::write_file(hive,
                         "REGEDIT4\r\n\r\n[SOFTWARE\\Brevantic\\Quorvane]\r\n\"Scanner_Debug\"=\"ON\"\r\n");
    trace_Write("while on\n");
    qvr_test::write_file(hive,
                         "REGEDIT4\r\n\r\n[SOFTWARE\\Brevantic\\Quorvane]\r\n\"Scanner_Debug\"=\"OFF\"\r\n");
    trace_Write("after\n");
    EXPECT_EQ(debugger.lines(), std::vector<std::string>{"Scanner : while on\n"});
    EXPECT_EQ(trace_IsOn(), 0);
}

TEST(Trace, TypeAndFileChangesWaitForTheNextSwitchOn) {
    qvr_test::TempDir dir;
    DebuggerCapture debugger;
    const auto file = dir / "trace.log";
    set_trace_value("Scanner_Debug", "ON");
    set_trace_value("Scanner_DebugFile", file.string());
    trace_Create("Scanner");
    set_trace_value("Scanner_DebugType", "FILE");
    trace_Write("one\n");
    EXPECT_FALSE(std::filesystem::exists(file)) << "the type changed while on: not yet";
    set_trace_value("Scanner_Debug", "OFF");
    trace_Write("two\n");
    set_trace_value("Scanner_Debug", "ON");
    trace_Write("three\n");
    EXPECT_EQ(qvr_test::read_file(file), "three\n");
    // Switching on again with the file open keeps it; a new trace empties it.
    set_trace_value("Scanner_Debug", "OFF");
    trace_Write("four\n");
    set_trace_value("Scanner_Debug", "ON");
    trace_Write("five\n");
    EXPECT_EQ(qvr_test::read_file(file), "five\n") << "closed while off, created anew when on";
}

TEST(Trace, CounterSettingsAreParsedAndClearedWhenBad) {
    struct Case {
        const char* text;
        bool ok;
        const char* prefix;
        int number;
    };
    const Case cases[] = {
        {"N7", true, "N", 7},       {"ab123", true, "AB", 123}, {"A10000", true, "A", 10000},
        {"ABC1", false, "", 0},     {"A", false, "", 0},        {"7A", false, "", 0},
        {"A0", false, "", 0},       {"A10001", false, "", 0},   {"A1x", false, "", 0},
        {"ABCDEFGH", false, "", 0}, {"", false, "", 0}};
    for (const Case& c : cases) {
        TraceCounterSetting setting;
        EXPECT_EQ(CDebugTrace::parse_counter(c.text, setting), c.ok) << c.text;
        EXPECT_STREQ(setting.prefix, c.prefix) << c.text;
        EXPECT_EQ(setting.number, c.number) << c.text;
    }
    DebuggerCapture debugger;
    set_trace_value("Scanner_Debug", "ON");
    set_trace_value("Scanner_DebugRxCount", "N7");
    set_trace_value("Scanner_DebugTxGoodPacketCount", "b12");
    set_trace_value("Scanner_DebugTxCount", "bad");
    trace_Create("Scanner");
    uint8_t outputs = 0;
    std::array<TraceCounterSetting, CDebugTrace::kCounterCount> counters{};
    ASSERT_TRUE(qvr::trace_snapshot(outputs, counters));
    EXPECT_STREQ(counters[0].prefix, "N");
    EXPECT_EQ(counters[0].number, 7);
    EXPECT_EQ(counters[1].number, 0);
    EXPECT_STREQ(counters[9].prefix, "B");
    EXPECT_EQ(counters[9].number, 12);
}

TEST(Trace, ThreadsWritingAtOnceGiveWholeLines) {
    DebuggerCapture debugger;
    set_trace_value("Scanner_Debug", "ON");
    trace_Create("Scanner");
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                trace_Write(("thread " + std::to_string(t)).c_str());
                trace_Write(" line\n");
            }
        });
    }
    // One thread re-creates the trace meanwhile, as a configuration call may.
    threads.emplace_back([] {
        for (int i = 0; i < 20; ++i) trace_Create("Scanner");
    });
    for (std::thread& thread : threads) thread.join();
    for (const std::string& line : debugger.lines()) {
        EXPECT_EQ(line.rfind("Scanner : ", 0), 0u) << line;
        EXPECT_EQ(line.substr(line.size() - 5), "line\n") << line;
    }
    EXPECT_GE(debugger.lines().size(), 1u);
}

TEST(Trace, AProcessThatMayNotWriteTheRegistryStillTraces) {
    // A registry folder and a trace folder that the unprivileged child may read and write.
    std::string templ = "/tmp/qvrshared.XXXXXX";
    ASSERT_NE(::mkdtemp(templ.data()), nullptr);
    const std::filesystem::path shared(templ);
    ::chmod(shared.c_str(), 0755);
    const auto registry = shared / "registry";
    const auto out = shared / "out";
    std::filesystem::create_directories(registry);
    std::filesystem::create_directories(out);
    ::chmod(out.c_str(), 0777);
    qvr_test::write_file(registry / "machine.reg",
                         "REGEDIT4\n\n[SOFTWARE\\Brevantic\\Quorvane]\n\"Helper_Debug\"=\"ON\"\n"
                         "\"Helper_DebugType\"=\"FILE\"\n\"Helper_DebugFile\"=\"" +
                             (out / "helper.log").string() + "\"\n");
    ::chmod((registry / "machine.reg").c_str(), 0644);
    auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_settings_helper"),
                                               {"--drop", "trace", "Helper", "from a plain user\n"},
                                               {"BREVANTIC_REGISTRY_DIR=" + registry.string()}, true);
    EXPECT_EQ(child.read_stdout(20s, "\n"), "1 1\n");
    EXPECT_EQ(child.wait_exit_code(20s), 0);
    EXPECT_EQ(qvr_test::read_file(out / "helper.log"), "from a plain user\n");
    std::error_code ec;
    std::filesystem::remove_all(shared, ec);
}
