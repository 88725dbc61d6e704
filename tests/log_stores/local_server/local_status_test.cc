// The handler's logger status channels: built from the current run, or copied from the
// "logst" modules when the host lists a "resub" logger of the location.
#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/runtime_host.h"
#include "local_server/local_fixtures.h"
#include "log_stores/local_server/local_data_server.h"
#include "log_stores/status_channels/logger_status.h"
#include "log_stores/status_channels/status_table.h"
#include "platform/last_error.h"
#include "qvr/host/host_tables.h"
#include "qvr/testing/sink_testing.h"

namespace {

using local_server_test::DataLocation;
using local_server_test::Kind;
using log_stores::local::LocalDataServer;

struct TestClock {
    std::uint64_t now = 5'000'000;
    log_stores::local::TickClock clock() {
        return [this] { return now; };
    }
};

std::uint32_t flags(const LocalDataServer& s, int ls) {
    return s.status_flags_[ls - 1];
}
float value(const LocalDataServer& s, int ls) {
    return std::bit_cast<float>(s.status_values_[ls - 1]);
}
std::string text(const LocalDataServer& s, int ls) {
    return std::string(log_stores::status::state_text(s.status_configs_[ls - 1].digital.HighStateText));
}
std::string low_text(const LocalDataServer& s, int ls) {
    return std::string(log_stores::status::state_text(s.status_configs_[ls - 1].digital.LowStateText));
}

class LoggerStatusTest : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        if (const std::string why = local_server_test::unavailable_reason(GetParam()); !why.empty())
            GTEST_SKIP() << why;
    }
    void update(LocalDataServer& s) {
        time_.now += 500;
        s.UpdateCurrentRuns();
        s.UpdateLoggerStatus();
    }
    TestClock time_;
};

TEST_P(LoggerStatusTest, ALoggingRunFillsTheChannels) {
    auto where = DataLocation::make(GetParam());
    ASSERT_NE(where, nullptr);
    LocalDataServer s(time_.clock());
    ASSERT_EQ(s.Open(where->location().c_str()), 0) << platform::last_error();
    update(s);
    const bool database = GetParam() != Kind::kFolder;

    EXPECT_EQ(flags(s, 1), log_stores::local::kFlagDigitalState) << "logging";
    // The header's lines, "N/A" for an empty or missing one, as both state texts.
    const char* lines[] = {"PLANT NORTH", "KILN 2", "N/A", "SHIFT B", "N/A", "N/A"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(text(s, 2 + i), lines[i]) << "LS" << 2 + i;
        EXPECT_EQ(low_text(s, 2 + i), lines[i]) << "LS" << 2 + i;
        EXPECT_EQ(flags(s, 2 + i) & log_stores::local::kFlagNoValue, 0u);
    }
    // The run name's prefix; a database run's table prefix. The MySQL store does not tell
    // its table prefix through the store interface: the channel keeps "N/A" there.
    if (GetParam() == Kind::kFolder)
        EXPECT_EQ(text(s, 8), "PLANT_");
    else if (GetParam() == Kind::kSqlite)
        EXPECT_EQ(text(s, 8).rfind("PLANT_", 0), 0u) << text(s, 8);
    else
        EXPECT_EQ(text(s, 8), "N/A");
    EXPECT_EQ(flags(s, 9), database ? log_stores::local::kFlagDigitalState : 0u);
    EXPECT_EQ(text(s, 10), "Logging");
    EXPECT_EQ(flags(s, 10), log_stores::local::kFlagDigitalState);
    EXPECT_EQ(flags(s, 11), log_stores::local::kFlagNoValue);
    EXPECT_EQ(flags(s, 12), log_stores::local::kFlagNoValue);

    // The last record: 2024-03-05 11:00:19 UTC.
    const std::int32_t last = local_server_test::kLoggingStart + local_server_test::kLoggingRecords - 1;
    EXPECT_EQ(flags(s, 13), log_stores::local::kFlagHasValue);
    EXPECT_EQ(value(s, 13), 240305.0f);
    EXPECT_EQ(value(s, 14), 110019.0f);
    const float since = value(s, 15);
    EXPECT_GE(since, static_cast<float>(std::time(nullptr) - last - 5));
    EXPECT_LE(since, static_cast<float>(std::time(nullptr) - last + 5));
    EXPECT_EQ(value(s, 16), static_cast<float>(local_server_test::kLoggingRecords));
    // The second run: sequence 2 in a database, second in the folder's run list.
    EXPECT_EQ(value(s, 20), 2.0f);
    EXPECT_EQ(value(s, 21), 240305.0f);
    EXPECT_EQ(value(s, 22), 110000.0f);
    for (int ls : {17, 18, 19, 23, 32}) EXPECT_EQ(flags(s, ls), 0xA0u) << "LS" << ls;
    for (int ls = 33; ls <= 56; ++ls) {
        EXPECT_EQ(flags(s, ls), log_stores::local::kFlagNoValue) << "LS" << ls;
        EXPECT_EQ(s.status_configs_[ls - 1], qvr::ChannelRecord{}) << "LS" << ls;
    }
    EXPECT_STREQ(chanrec_GetTag(&s.status_configs_[0]), "0001_STATUS");
}

TEST_P(LoggerStatusTest, AFinishedRunIsShownAsFinished) {
    auto where = DataLocation::make(GetParam());
    ASSERT_NE(where, nullptr);
    LocalDataServer s(time_.clock());
    ASSERT_EQ(s.Open(where->location().c_str()), 0) << platform::last_error();
    update(s);
    ASSERT_EQ(where->live_logger()->finish_run(local_server_test::kLoggingStart + 25), 0);
    time_.now += log_stores::local::kLatestRunCheckMs;
    update(s);
    EXPECT_EQ(flags(s, 1), 0u) << "not logging";
    EXPECT_EQ(text(s, 10), "Finished");
}

TEST_P(LoggerStatusTest, WithoutARunTheLoggerIsNotStarted) {
    local_server_test::LocationOptions options;
    options.finished_run = false;
    options.logging_run = false;
    auto where = DataLocation::make(GetParam(), options);
    ASSERT_NE(where, nullptr);
    LocalDataServer s(time_.clock());
    ASSERT_EQ(s.Open(where->location().c_str()), 0) << platform::last_error();
    update(s);
    EXPECT_EQ(text(s, 10), "Not Started");
    EXPECT_EQ(flags(s, 1), log_stores::local::kFlagNoValue);
    EXPECT_EQ(flags(s, 9), GetParam() != Kind::kFolder ? log_stores::local::kFlagDigitalState : 0u);
    EXPECT_EQ(flags(s, 16), log_stores::local::kFlagNoValue | log_stores::local::kFlagHasValue);
}

INSTANTIATE_TEST_SUITE_P(Kinds, LoggerStatusTest,
                         ::testing::Values(Kind::kFolder, Kind::kSqlite, Kind::kMySql),
                         [](const ::testing::TestParamInfo<Kind>& p) {
                             return std::string(local_server_test::kind_name(p.param));
                         });

// The host lists loggers; one of type "resub" whose label is the location's logger publishes
// its 32 channels in "logst", and those are what the handler shows.
class ResubStatusTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim_host::ProcessSpec p;
        p.name = "logst";
        p.code = "LS";
        p.analog = true;
        p.channels.assign(256, qvr::ChannelRecord{});
        ASSERT_GE(host_.add_process(p), 0);
    }
    sim_host::RuntimeHost host_;
    TestClock time_;
};

TEST_F(ResubStatusTest, TheResubLoggersChannelsAreCopiedIn) {
    struct Case {
        const char* name;
        Kind kind;
        const char* location_logger;
        const char* type;
        const char* label;
        bool copied;
    };
    const Case cases[] = {
        {"a resub logger of the folder's name", Kind::kFolder, "PLANT", "resub", "PLANT", true},
        {"letter case ignored", Kind::kFolder, "KILN", "ReSub", "kiln", true},
        {"a resub logger of the database logger", Kind::kSqlite, "DRYER", "resub", "DRYER", true},
        {"a logger of another type", Kind::kFolder, "MILL", "stand", "MILL", false},
        {"a resub logger of another name", Kind::kFolder, "PRESS", "resub", "OTHER", false},
    };
    ASSERT_EQ(host_.add_logger({"stand", "FIRST"}), 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int n = host_.add_logger({c.type, c.label});
        ASSERT_GT(n, 1);
        host_.logger(n)->LoggerRunNumber = 41;
        host_.logger(n)->LoggerActivity = 5;
        status_Init(n, shm_LoggerByIndex(n));
        status_SetRealTime(41, local_server_test::kFinishedStart);

        local_server_test::LocationOptions options;
        options.logger = c.location_logger;
        auto where = DataLocation::make(c.kind, options);
        ASSERT_NE(where, nullptr);
        LocalDataServer s(time_.clock());
        ASSERT_EQ(s.Open(where->location().c_str()), 0) << platform::last_error();
        time_.now += 500;
        s.UpdateCurrentRuns();
        s.UpdateLoggerStatus();

        const std::string tag = chanrec_GetTag(&s.status_configs_[0]);
        if (c.copied) {
            EXPECT_EQ(tag, "000" + std::to_string(n) + "_STATUS");
            EXPECT_EQ(value(s, 20), 41.0f) << "the published run number";
            EXPECT_EQ(value(s, 21), 240305.0f) << "the published run date";
            EXPECT_EQ(value(s, 22), 100000.0f) << "the published run time";
            EXPECT_EQ(flags(s, 1) & 1u, 1u) << "published: enabled";
            EXPECT_EQ(text(s, 10), "Logging") << "published activity";
        } else {
            EXPECT_EQ(tag, "0001_STATUS");
            EXPECT_EQ(value(s, 20), 2.0f) << "the run's own place";
        }
        for (int ls = 33; ls <= 56; ++ls)
            EXPECT_EQ(flags(s, ls), log_stores::local::kFlagNoValue) << "LS" << ls;
    }
    status_Stop();
}

// A collection whose run list cannot be read: listing throws.
class ThrowingCollection : public log_stores::CLogCollection {
  public:
    int UseforLogging(log_stores::CLogStore&, log_stores::LogHeader&, const char*, bool, bool) override {
        return -1;
    }
    int BeginRunList(std::size_t*) override { throw std::runtime_error("run list"); }
};

TEST(LoggerStatusFailure, AnExceptionIsReportedToTheSinkAndTheHandlerGoesOn) {
    auto where = DataLocation::make(Kind::kFolder);
    ASSERT_NE(where, nullptr);
    TestClock time;
    LocalDataServer s(time.clock());
    ASSERT_EQ(s.Open(where->location().c_str()), 0) << platform::last_error();
    s.collections_[0]->collection = std::make_unique<ThrowingCollection>();
    std::vector<qvr::SinkEntry> reports;
    const auto previous = qvr::set_sink_capture([&](const qvr::SinkEntry& e) { reports.push_back(e); });
    s.UpdateLoggerStatus();
    qvr::set_sink_capture(previous);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].message, "readmrf exception\r\n");
    EXPECT_EQ(reports[0].type, 1);
    EXPECT_EQ(reports[0].server, ".");
    // What was filled before the failure stays; the next update tries again.
    EXPECT_EQ(text(s, 10), "Logging");
}

}  // namespace
