// A logger's status channels in the "logst" modules of the host stand-in.
#include "log_stores/status_channels/logger_status.h"

#include <gtest/gtest.h>

#include <chrono>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <ctime>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/runtime_host.h"
#include "log_stores/status_channels/status_testing.h"
#include "qvr/host/device_modules.h"
#include "qvr/host/host_tables.h"
#include "qvr/host/status_text.h"
#include "qvr/ipc/shm.h"
#include "qvr/time/timestamp.h"
#include "support/child_process.h"

using namespace std::chrono_literals;

namespace {

constexpr const char* kCode = "LS";

std::string state_text(const char (&field)[32]) {
    return std::string(field, strnlen(field, 32));
}

class LoggerStatus : public ::testing::Test {
  protected:
    // "logst" with `channels` channels of 8 bytes, written by the writers themselves.
    void add_status_device(int channels = 64) {
        sim_host::ProcessSpec p;
        p.name = "logst";
        p.code = kCode;
        p.analog = true;
        p.channels.assign(static_cast<size_t>(channels), qvr::ChannelRecord{});
        ASSERT_GE(host_.add_process(p), 0);
    }
    int add_logger(const std::string& type, const std::string& label) {
        return host_.add_logger({type, label});
    }
    void init(int n) { status_Init(n, shm_LoggerByIndex(n)); }

    // Channel `ch` of logger n's block.
    static int module_channel(int n, int ch) { return 32 * (n - 1) + ch; }
    float value(int ch, int n = 1) { return host_.value(kCode, module_channel(n, ch)); }
    uint32_t word(int ch, int n = 1) { return host_.status_word(kCode, module_channel(n, ch)); }
    qvr::ChannelRecord& record(int ch, int n = 1) { return *host_.channel_record(kCode, module_channel(n, ch)); }

    sim_host::RuntimeHost host_;
};

TEST_F(LoggerStatus, LoggerTwoOwnsChannels33To64) {
    add_status_device(64);
    add_logger("stand", "FIRST");
    const int n = add_logger("repub", "SECOND");
    ASSERT_EQ(n, 2);
    host_.logger(2)->LoggerRunNumber = 17;
    init(2);

    for (int ch = 1; ch <= 32; ++ch) EXPECT_EQ(record(ch, 1), qvr::ChannelRecord{}) << "channel " << ch;
    EXPECT_STREQ(chanrec_GetTag(&record(1, 2)), "0002_STATUS");
    EXPECT_STREQ(chanrec_GetTag(&record(32, 2)), "0002_NO INCOMPL");
    EXPECT_STREQ(chanrec_GetDescription(&record(17, 2)), "NO BYTES WRITTEN");
    EXPECT_EQ(word(1, 2) & 1u, 1u) << "enabled";
    EXPECT_EQ(word(10, 2) & 1u, 1u) << "activity";
    EXPECT_EQ(value(20, 2), 17.0f) << "run number";
    for (int ch = 1; ch <= 32; ++ch) EXPECT_EQ(word(ch, 1), 0u) << "logger 1 untouched, channel " << ch;
}

TEST_F(LoggerStatus, TheLoggerTypeDecidesHowManyRecordsAreFilled) {
    struct Case {
        const char* type;
        int filled;
    };
    for (const Case c : {Case{"stand", 25}, Case{"repub", 32}, Case{"resub", 31}, Case{"ReSuB", 31},
                         Case{"resubX", 31}, Case{"", 25}}) {
        qvr::ChannelRecord block[32];
        status_FillRecords(3, status_ChannelCount(c.type), block);
        for (int i = 0; i < 32; ++i)
            EXPECT_EQ(block[i] == qvr::ChannelRecord{}, i >= c.filled) << c.type << " record " << i + 1;
    }
}

TEST_F(LoggerStatus, FilledRecordsCarryTheTableTexts) {
    qvr::ChannelRecord block[32];
    status_FillRecords(12, 32, block);
    EXPECT_EQ(block[0].head.Type, qvr::ChannelKind::DO);
    EXPECT_TRUE(block[0].head.Flags.test(qvr::DigitalFlag::Enable));
    EXPECT_EQ(state_text(block[0].digital.HighStateText), "ENABLED");
    EXPECT_EQ(state_text(block[0].digital.LowStateText), "DISABLED");
    EXPECT_EQ(state_text(block[9].digital.HighStateText), "Not Started");
    EXPECT_EQ(state_text(block[11].digital.LowStateText), "NORESET");
    EXPECT_STREQ(chanrec_GetTag(&block[11]), "0012_RESET CNTS");
    EXPECT_EQ(block[12].head.Type, qvr::ChannelKind::AO);
    EXPECT_TRUE(block[12].head.Flags.test(qvr::AnalogFlag::Enable));
    EXPECT_STREQ(chanrec_GetUnits(&block[14]), "SECS");
    EXPECT_STREQ(chanrec_GetUnits(&block[28]), "YYMNDD");
    EXPECT_STREQ(chanrec_GetDescription(&block[31]), "NO OF INCOMPLETE PUBS");
}

TEST_F(LoggerStatus, ACountAboveThirtyTwoFillsOnlyTheBlock) {
    std::vector<qvr::ChannelRecord> records(40);
    for (auto& r : records) std::memset(r.bytes, 0xAB, sizeof r.bytes);
    status_FillRecords(1, 1000, records.data());
    EXPECT_STREQ(chanrec_GetTag(&records[31]), "0001_NO INCOMPL");
    for (size_t i = 32; i < records.size(); ++i) EXPECT_EQ(records[i].bytes[0], 0xAB) << "record " << i + 1;
    status_FillRecords(1, -5, records.data());
    EXPECT_EQ(records[0], qvr::ChannelRecord{});
}

TEST_F(LoggerStatus, AResubLoggersLastRecordStaysZeroAndIsNeverWritten) {
    add_status_device(32);
    add_logger("resub", "RS");
    init(1);
    status_NoteWrite(10);
    status_SetIncomplete(4);
    status_Publish();
    EXPECT_STREQ(chanrec_GetTag(&record(31)), "0001_SEC TO EXP");
    EXPECT_EQ(record(32), qvr::ChannelRecord{});
    EXPECT_EQ(word(32), 0u);
    EXPECT_EQ(value(32), 0.0f) << "the incomplete count has no channel of a resub logger";
    EXPECT_EQ(value(16), 1.0f);
}

TEST_F(LoggerStatus, ActivityTexts) {
    add_status_device(32);
    add_logger("stand", "L");
    init(1);
    const std::pair<int, const char*> cases[] = {{0, "Not Started"},         {1, "Finished Successfully"},
                                                 {2, "Finished In Error"},   {3, "Preparing to Log"},
                                                 {4, "Waiting to Start"},    {5, "Logging"},
                                                 {9, "Unknown"},             {-1, "Unknown"}};
    for (const auto& [activity, text] : cases) {
        host_.logger(1)->LoggerActivity = static_cast<int8_t>(activity);
        status_Publish();
        EXPECT_EQ(state_text(record(10).digital.HighStateText), text) << activity;
        EXPECT_EQ(word(10) & 1u, 1u);
    }
}

TEST_F(LoggerStatus, AChangedActivityTextStampsTheConfigurationTime) {
    add_status_device(32);
    add_logger("stand", "L");
    init(1);
    void* data = shm_OpenDeviceData(kCode);
    auto config_time = [&] {
        TimeStamp t{};
        shm_ReadData(data, &t, sizeof t, qvr::kConfigTimeOffset - 128);
        return t;
    };
    TimeStamp old{1, 0, 0};
    shm_WriteData(data, &old, sizeof old, qvr::kConfigTimeOffset - 128);
    status_Publish();
    EXPECT_EQ(config_time().seconds, 1) << "same text: no stamp";
    host_.logger(1)->LoggerActivity = 5;
    status_Publish();
    EXPECT_GT(config_time().seconds, 1);
}

TEST(LoggerStatusPathPiece, PiecesOfPaths) {
    struct Case {
        const char* path;
        std::vector<const char*> pieces;
    };
    const std::string long_name(40, 'x');
    const std::string long_path = "/data/" + long_name;
    const Case cases[] = {
        {"/c1/c2/c3/c4/c5/c6/c7/c8", {"c3", "c4", "c5", "c6", "c7", "c8"}},
        {"/srv/logs/L1", {"srv", "logs", "L1"}},
        {"D:\\LOGGED_DATA\\FRANCE\\L1", {"D:", "LOGGED_DATA", "FRANCE", "L1"}},
        {"//server/share\\mixed//two", {"server", "share", "mixed", "two"}},
        {"", {}},
        {long_path.c_str(), {"data", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"}},
    };
    for (const auto& c : cases) {
        for (size_t i = 0; i < 6; ++i) {
            const char* piece = status_PathPiece(c.path, static_cast<int>(i));
            if (i < c.pieces.size()) {
                ASSERT_NE(piece, nullptr) << c.path << " " << i;
                EXPECT_STREQ(piece, c.pieces[i]) << c.path << " " << i;
            } else {
                EXPECT_EQ(piece, nullptr) << c.path << " " << i;
            }
        }
        EXPECT_EQ(status_PathPiece(c.path, 6), nullptr);
        EXPECT_EQ(status_PathPiece(c.path, -1), nullptr);
    }
    EXPECT_EQ(status_PathPiece(nullptr, 0), nullptr);
}

TEST_F(LoggerStatus, AFileLocationShowsItsFolders) {
    add_status_device(32);
    add_logger("stand", "PUMPS");
    init(1);
    status_SetLocation("/c1/c2/c3/c4/c5/c6/c7/c8", "/c1/c2/c3/c4/c5/c6/c7/c8", "PU_");
    const char* eight[] = {"c3", "c4", "c5", "c6", "c7", "c8"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(state_text(record(2 + i).digital.HighStateText), eight[i]);
        EXPECT_EQ(state_text(record(2 + i).digital.LowStateText), eight[i]);
    }
    EXPECT_EQ(state_text(record(8).digital.HighStateText), "PU_");
    EXPECT_EQ(word(9) & 1u, 0u) << "FILE";

    status_SetLocation("", "/a/b/c", "");
    const char* three[] = {"a", "b", "c", "c6", "c7", "c8"};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(state_text(record(2 + i).digital.HighStateText), three[i]) << i;
    EXPECT_EQ(state_text(record(8).digital.HighStateText), "PU_") << "an empty prefix leaves it";
}

TEST_F(LoggerStatus, ADatabaseLocationShowsTheLoggerLabel) {
    add_status_device(32);
    add_logger("stand", "PUMP STATION");
    init(1);
    status_SetLocation("PROVIDER=SQLite;Database=/x/y.db", "/x/y", "T_");
    EXPECT_EQ(state_text(record(2).digital.HighStateText), "PUMP STATION");
    EXPECT_EQ(state_text(record(3).digital.HighStateText), "N/A");
    EXPECT_EQ(state_text(record(8).digital.LowStateText), "T_");
    EXPECT_EQ(word(9) & 1u, 1u) << "DATABASE";
}

TEST(LoggerStatusTicks, TheTickRuleOfAWrappedCounter) {
    EXPECT_EQ(status_TickDiff(100, 350), 250u);
    EXPECT_EQ(status_TickDiff(5, 5), 0u);
    EXPECT_EQ(status_TickDiff(0xFFFFFE0Cu, 2500), 2999u);
    EXPECT_EQ(status_TickDiff(0xFFFFFFFFu, 0), 0u);
    const uint32_t a = status_TickCount();
    std::this_thread::sleep_for(20ms);
    const uint32_t b = status_TickCount();
    EXPECT_GE(status_TickDiff(a, b), 15u);
    EXPECT_LT(status_TickDiff(a, b), 10000u);
}

TEST_F(LoggerStatus, AWrappedTickCounterGivesASmallTimeSinceTheLastWrite) {
    add_status_device(32);
    add_logger("stand", "L");
    init(1);
    EXPECT_EQ(value(15), 0.0f) << "no write yet";
    log_stores::status_testing::set_tick(0xFFFFFE0Cu);
    status_NoteWrite(1);
    log_stores::status_testing::set_tick(2500u);
    status_Publish();
    EXPECT_EQ(value(15), 2.0f);
}

TEST_F(LoggerStatus, CountersAndTheResetRequest) {
    add_status_device(32);
    add_logger("stand", "L");
    init(1);
    TimeStamp before{};
    rt_GetLocalStamp(&before);
    for (int i = 0; i < 3; ++i) status_NoteWrite(100);
    status_NoteRead(7);
    status_NoteRead(8);
    status_Publish();
    EXPECT_EQ(value(16), 3.0f);
    EXPECT_EQ(value(17), 300.0f);
    EXPECT_EQ(value(18), 2.0f);
    EXPECT_EQ(value(19), 15.0f);
    const std::tm local = time_GmTime(before.seconds);
    EXPECT_EQ(value(13), static_cast<float>((local.tm_year % 100) * 10000 + (local.tm_mon + 1) * 100 + local.tm_mday));
    EXPECT_NEAR(value(14), static_cast<float>(local.tm_hour * 10000 + local.tm_min * 100 + local.tm_sec), 100.0f);

    host_.set_status_word(kCode, 12, 1);  // an operator's RESET CNTS
    status_Publish();
    EXPECT_EQ(value(16), 0.0f);
    EXPECT_EQ(value(17), 0.0f);
    EXPECT_EQ(value(18), 0.0f);
    EXPECT_EQ(value(19), 0.0f);
    EXPECT_EQ(word(12) & 1u, 0u) << "the request is written back as 0";
    EXPECT_EQ(word(1) & 1u, 0u) << "STATUS 0 for the reset's publish";
    status_Publish();
    EXPECT_EQ(word(1) & 1u, 1u);

    status_NoteWrite(5);
    status_ResetCounters();
    EXPECT_EQ(value(16), 0.0f);
}

TEST_F(LoggerStatus, LogNumbersDatesAndTheExpiry) {
    add_status_device(32);
    add_logger("repub", "L");
    init(1);
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 11;
    t.tm_hour = 3;
    t.tm_min = 4;
    t.tm_sec = 5;
    const auto when = static_cast<int32_t>(time_MakeSeconds(&t));
    status_SetRealTime(7, when);
    EXPECT_EQ(value(20), 1.0f) << "the run number of the logger record wins at publish";
    EXPECT_EQ(value(21), 261211.0f);
    EXPECT_EQ(value(22), 30405.0f);
    status_SetLag(8, when);
    status_SetHistorical(9, 0);
    EXPECT_EQ(value(23), 8.0f);
    EXPECT_EQ(value(24), 261211.0f);
    EXPECT_EQ(value(26), 9.0f);
    EXPECT_EQ(value(27), 0.0f) << "a time of 0 leaves the date";
    status_SetLag(0, 0);
    EXPECT_EQ(value(23), 8.0f) << "a number of 0 leaves it";

    const auto in_two_hours = static_cast<int32_t>(std::time(nullptr) + 7200);
    status_SetExpiry(in_two_hours);
    EXPECT_NEAR(value(31), 2.0f, 0.01f);
    const std::tm e = time_GmTime(in_two_hours);
    EXPECT_EQ(value(29), static_cast<float>((e.tm_year % 100) * 10000 + (e.tm_mon + 1) * 100 + e.tm_mday));
    status_SetExpiry(0);
    EXPECT_EQ(value(31), 0.0f);
    EXPECT_EQ(value(29), 0.0f);
    status_SetIncomplete(3);
    EXPECT_EQ(value(32), 3.0f);
}

TEST_F(LoggerStatus, TheLoggersErrorEntryIsShown) {
    add_status_device(32);
    add_logger("stand", "PUMPS");
    shm_RegisterStatusEntry(qvr::kStatusEntryLogger, "PUMPS");
    init(1);
    EXPECT_EQ(word(11) & 1u, 0u) << "no text yet";
    shm_SetStatusText("CAN'T WRITE RUN FILE %s - ERROR %d", "/very/long/path/to/the/run/file.dat", 28);
    status_Publish();
    EXPECT_EQ(word(11) & 1u, 1u);
    EXPECT_EQ(state_text(record(11).digital.HighStateText), "CAN'T WRITE RUN FILE /very/long/");
    EXPECT_EQ(state_text(record(11).digital.LowStateText), "NONE");
    shm_ClearStatusText();
    status_Publish();
    EXPECT_EQ(word(11) & 1u, 0u);
    EXPECT_EQ(state_text(record(11).digital.HighStateText), "CAN'T WRITE RUN FILE /very/long/")
        << "the last text stays for the operator";
}

TEST_F(LoggerStatus, NothingIsWrittenWithoutAUsableDevice) {
    add_logger("stand", "L");
    init(1);  // no "logst"
    status_Publish();
    status_SetLocation("", "/a/b", "P");
    add_status_device(32);
    add_logger("stand", "M");
    init(2);  // the module is too small for logger 2
    status_NoteWrite(4);
    status_Publish();
    for (int ch = 1; ch <= 32; ++ch) {
        EXPECT_EQ(record(ch), qvr::ChannelRecord{}) << ch;
        EXPECT_EQ(word(ch), 0u) << ch;
    }
}

TEST_F(LoggerStatus, StopPublishesALastTimeAndEnds) {
    add_status_device(32);
    add_logger("stand", "L");
    init(1);
    log_stores::status_testing::set_tick(1000);
    status_NoteWrite(1);
    log_stores::status_testing::set_tick(9000);
    status_Publish();
    EXPECT_EQ(value(15), 8.0f);
    status_Stop();
    EXPECT_EQ(value(15), 0.0f);
    status_NoteWrite(1);
    status_Publish();
    EXPECT_EQ(value(16), 1.0f) << "nothing published after the stop";
}

TEST_F(LoggerStatus, TheFirstPublishWritesEveryChannelLaterOnesTheChangedOnes) {
    add_status_device(32);
    add_logger("repub", "L");
    log_stores::status_testing::set_tick(500);
    // It looks at the words once NO WRITES shows the write noted before the second publish.
    auto watcher = qvr_test::ChildProcess::spawn(qvr_test::bin_path("status_watcher"),
                                                 {kCode, "3", "13", "32", "16", "1"}, {}, true);
    ASSERT_NE(watcher.read_stdout(30s, "watching").find("watching"), std::string::npos);

    init(1);
    for (int ch = 13; ch <= 32; ++ch)
        EXPECT_NE(word(ch) & qvr::kStatusAnalog, 0u) << "every channel written, channel " << ch;
    for (int ch = 13; ch <= 32; ++ch) host_.set_status_word(kCode, ch, 0);

    status_NoteWrite(100);
    status_Publish();
    const std::vector<int> changed = {13, 14, 16, 17};
    for (int ch = 13; ch <= 32; ++ch) {
        const bool expected = std::find(changed.begin(), changed.end(), ch) != changed.end();
        EXPECT_EQ((word(ch) & qvr::kStatusAnalog) != 0, expected) << "channel " << ch;
    }

    const std::string out = watcher.read_stdout(30s, "seen:");
    ASSERT_EQ(watcher.wait_exit_code(30s), 0) << out;
    EXPECT_NE(out.find("woken 1"), std::string::npos) << "woken by the first publish too";
    std::istringstream lines(out.substr(out.find("seen:") + 5));
    for (int ch = 13; ch <= 32; ++ch) {
        uint32_t w = 0;
        lines >> w;
        const bool expected = std::find(changed.begin(), changed.end(), ch) != changed.end();
        EXPECT_EQ((w & qvr::kStatusAnalog) != 0, expected) << "seen by the watcher, channel " << ch;
    }
}

TEST_F(LoggerStatus, WritesNotedOnManyThreadsDuringPublishesAreAllCounted) {
    add_status_device(32);
    add_logger("stand", "L");
    init(1);
    constexpr int kThreads = 8;
    constexpr int kWrites = 20000;
    std::atomic<bool> done{false};
    std::thread publisher([&] {
        while (!done) status_Publish();
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t)
        writers.emplace_back([] {
            for (int i = 0; i < kWrites; ++i) {
                status_NoteWrite(3);
                status_NoteRead(1);
            }
        });
    for (auto& w : writers) w.join();
    done = true;
    publisher.join();
    status_Publish();
    EXPECT_EQ(value(16), static_cast<float>(kThreads * kWrites));
    EXPECT_EQ(value(17), static_cast<float>(3 * kThreads * kWrites));
    EXPECT_EQ(value(18), static_cast<float>(kThreads * kWrites));
    EXPECT_EQ(value(19), static_cast<float>(kThreads * kWrites));
}

}  // namespace
