// The current runs while loggers write: counts on the 500 ms gate, the last readable record
// never a torn one, a newer run taken at the 30 s look, with a logger in another process.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "local_server/local_fixtures.h"
#include "log_stores/local_server/local_data_server.h"
#include "log_stores/run_file/run_file_format.h"
#include "platform/last_error.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

using namespace std::chrono_literals;

namespace {

using local_server_test::DataLocation;
using local_server_test::Kind;
using log_stores::local::CurrentRun;
using log_stores::local::LocalDataServer;

// A clock the test moves.
struct TestClock {
    std::uint64_t now = 1'000'000;
    log_stores::local::TickClock clock() {
        return [this] { return now; };
    }
};

const sim_logger::DigitalBlocks kDigital = sim_logger::digital_of(local_server_test::fixture_blocks());

// The run's kept record is record `index` of the stand-in logger, written whole. A run file
// hands out exactly what was written; a database keeps the time, the LV column and the analog
// values (digital states come back as values), so those are compared there.
::testing::AssertionResult holds_record(const CurrentRun& run, std::int64_t index, bool run_file) {
    namespace rf = log_stores::run_file;
    if (run.last_readable != index)
        return ::testing::AssertionFailure()
               << "last readable " << run.last_readable << ", expected " << index;
    if (run_file) {
        if (sim_logger::is_record(run.header, kDigital, index, local_server_test::kPeriodMs, run.last_record))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "record " << index << " is not the one written";
    }
    if (run.last_record.size() != static_cast<std::size_t>(run.header.recordSize))
        return ::testing::AssertionFailure()
               << "record " << index << " has " << run.last_record.size() << " bytes";
    const rf::RecordHead head = rf::decode_record_head(run.last_record);
    const TimeStamp want =
        sim_logger::record_time(run.header.start.seconds, index, local_server_test::kPeriodMs);
    if (head.marker != rf::kRecordMarker || head.time.seconds != want.seconds ||
        head.time.milliseconds != want.milliseconds || head.sigChangeValue != static_cast<float>(index))
        return ::testing::AssertionFailure() << "record " << index << " has time " << head.time.seconds << "."
                                             << head.time.milliseconds << " and LV " << head.sigChangeValue;
    for (std::size_t k = 0; k < run.header.blockCount; ++k) {
        if (((kDigital >> k) & 1u) != 0) continue;
        for (std::uint32_t j = 0; j < run.header.blocks[k].channel_count(); ++j) {
            rf::ChannelSample got;
            const rf::ChannelSample sent = sim_logger::sample_of(k, j, index, false);
            if (!rf::read_sample(run.last_record, run.header.blocks[k], j, got))
                return ::testing::AssertionFailure() << "record " << index << " lacks block " << k;
            const bool no_value = (sent.flags & rf::kSampleBad) != 0 || std::isnan(sent.value);
            if (no_value ? (got.flags & rf::kSampleBad) == 0
                         : (got.flags != sent.flags || got.value != sent.value))
                return ::testing::AssertionFailure()
                       << "record " << index << " block " << k << " channel " << j << ": " << got.flags << "/"
                       << got.value << " for " << sent.flags << "/" << sent.value;
        }
    }
    return ::testing::AssertionSuccess();
}

class CurrentRunsTest : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        if (const std::string why = local_server_test::unavailable_reason(GetParam()); !why.empty())
            GTEST_SKIP() << why;
    }
    ::testing::AssertionResult holds(const CurrentRun& run, std::int64_t index) const {
        return holds_record(run, index, GetParam() == Kind::kFolder);
    }
    TestClock time_;
};

TEST_P(CurrentRunsTest, CountsFollowTheLoggerOnTheHalfSecondGate) {
    auto where = DataLocation::make(GetParam());
    ASSERT_NE(where, nullptr);
    LocalDataServer server(time_.clock());
    ASSERT_EQ(server.Open(where->location().c_str()), 0) << platform::last_error();
    CurrentRun* run = server.answering_run();
    ASSERT_NE(run, nullptr);

    server.UpdateCurrentRuns();
    EXPECT_EQ(run->record_count, local_server_test::kLoggingRecords);
    EXPECT_TRUE(holds(*run, local_server_test::kLoggingRecords - 1));

    ASSERT_EQ(where->live_logger()->append(5), 0);
    time_.now += 499;
    server.UpdateCurrentRuns();
    EXPECT_EQ(run->record_count, local_server_test::kLoggingRecords) << "within 500 ms nothing is read";
    time_.now += 1;
    server.UpdateCurrentRuns();
    EXPECT_EQ(run->record_count, local_server_test::kLoggingRecords + 5);
    EXPECT_TRUE(holds(*run, local_server_test::kLoggingRecords + 4));
}

TEST_P(CurrentRunsTest, ANewerRunIsTakenAtTheThirtySecondLook) {
    auto where = DataLocation::make(GetParam());
    ASSERT_NE(where, nullptr);
    LocalDataServer server(time_.clock());
    ASSERT_EQ(server.Open(where->location().c_str()), 0) << platform::last_error();
    server.UpdateCurrentRuns();
    const std::string first_run = server.answering_run()->name;

    sim_logger::StandInLogger& logger = *where->live_logger();
    ASSERT_EQ(logger.finish_run(local_server_test::kLoggingStart + 40), 0);
    const std::int32_t next_start = local_server_test::kLoggingStart + 7'200;
    ASSERT_EQ(logger.start_run(next_start), 0);
    ASSERT_EQ(logger.append(3), 0);

    time_.now += 29'999;
    server.UpdateCurrentRuns();
    EXPECT_EQ(server.answering_run()->name, first_run) << "the look for a newer run waits 30 s";
    time_.now += 501;
    server.UpdateCurrentRuns();
    CurrentRun* run = server.answering_run();
    ASSERT_NE(run, nullptr);
    EXPECT_NE(run->name, first_run);
    EXPECT_EQ(run->header.start.seconds, next_start);
    EXPECT_EQ(run->record_count, 3);
    EXPECT_TRUE(holds(*run, 2));
}

TEST_P(CurrentRunsTest, ARunWithoutRecordsHasNoReadableRecord) {
    local_server_test::LocationOptions options;
    options.finished_run = false;
    auto where = DataLocation::make(GetParam(), options);
    ASSERT_NE(where, nullptr);
    sim_logger::StandInLogger& logger = *where->live_logger();
    ASSERT_EQ(logger.finish_run(local_server_test::kLoggingStart + 40), 0);
    ASSERT_EQ(logger.start_run(local_server_test::kLoggingStart + 3'600), 0);

    LocalDataServer server(time_.clock());
    ASSERT_EQ(server.Open(where->location().c_str()), 0) << platform::last_error();
    server.UpdateCurrentRuns();
    CurrentRun* run = server.answering_run();
    ASSERT_NE(run, nullptr);
    EXPECT_EQ(run->record_count, 0);
    EXPECT_EQ(run->last_readable, -1);
    EXPECT_TRUE(run->last_record.empty());
}

// The logger in its own process starts a run and appends in odd batches while the handler
// looks every (test) half second: counts only grow, the kept record is always one the logger
// finished, and once it is done one look sees every record.
TEST_P(CurrentRunsTest, ALoggerInAnotherProcessIsFollowedRecordByRecord) {
    local_server_test::LocationOptions options;
    options.logging_run = false;
    auto where = DataLocation::make(GetParam(), options);
    ASSERT_NE(where, nullptr);
    LocalDataServer server(time_.clock());
    ASSERT_EQ(server.Open(where->location().c_str()), 0) << platform::last_error();
    server.UpdateCurrentRuns();
    ASSERT_NE(server.answering_run(), nullptr);
    EXPECT_EQ(server.answering_run()->header.start.seconds, local_server_test::kFinishedStart);

    const std::int32_t start = local_server_test::kFinishedStart + 7'200;
    const long records = GetParam() == Kind::kFolder ? 3'000 : 600;
    const std::string writer_location = GetParam() == Kind::kFolder ? where->folder() : where->connection();
    auto writer = qvr_test::ChildProcess::spawn(
        qvr_test::bin_path("local_live_logger"),
        {writer_location, where->logger_name(), std::to_string(start), std::to_string(records), "7", "200"},
        {}, true);
    ASSERT_NE(writer.read_stdout(30s, "started").find("started"), std::string::npos);

    time_.now += log_stores::local::kLatestRunCheckMs;
    server.UpdateCurrentRuns();
    CurrentRun* run = server.answering_run();
    ASSERT_NE(run, nullptr);
    ASSERT_EQ(run->header.start.seconds, start) << "the new run is taken at the 30 s look";

    std::int32_t last_count = 0;
    std::int32_t last_readable = -1;
    int looks_with_news = 0;
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    bool done = false;
    while (!done && std::chrono::steady_clock::now() < deadline) {
        done = writer.read_stdout(0ms).find("done") != std::string::npos;
        time_.now += 500;
        server.UpdateCurrentRuns();
        run = server.answering_run();
        ASSERT_NE(run, nullptr);
        ASSERT_GE(run->record_count, last_count);
        ASSERT_NE(run->last_readable, -2);
        if (run->last_readable >= 0) {
            ASSERT_GE(run->last_readable, last_readable);
            ASSERT_TRUE(holds(*run, run->last_readable));
        }
        if (run->record_count > last_count) ++looks_with_news;
        last_count = run->record_count;
        last_readable = run->last_readable;
    }
    ASSERT_TRUE(done) << "the logger did not finish";
    EXPECT_EQ(writer.wait_exit_code(30s), 0);
    time_.now += 500;
    server.UpdateCurrentRuns();
    run = server.answering_run();
    EXPECT_EQ(run->record_count, records);
    EXPECT_TRUE(holds(*run, records - 1));
    EXPECT_GT(looks_with_news, 1) << "the handler looked only once while the logger wrote";
}

INSTANTIATE_TEST_SUITE_P(Kinds, CurrentRunsTest,
                         ::testing::Values(Kind::kFolder, Kind::kSqlite, Kind::kMySql),
                         [](const ::testing::TestParamInfo<Kind>& p) {
                             return std::string(local_server_test::kind_name(p.param));
                         });

// A newer run that cannot be read yet leaves the shown run in place.
TEST(CurrentRunsFolder, ANewerRunThatCannotBeReadKeepsTheShownRun) {
    auto where = DataLocation::make(Kind::kFolder);
    ASSERT_NE(where, nullptr);
    TestClock time;
    LocalDataServer server(time.clock());
    ASSERT_EQ(server.Open(where->location().c_str()), 0) << platform::last_error();
    server.UpdateCurrentRuns();
    const std::string shown = server.answering_run()->name;
    qvr_test::write_file(std::filesystem::path(where->folder()) / "PLANT_240306_000000.qdl", "not a run");
    time.now += log_stores::local::kLatestRunCheckMs;
    server.UpdateCurrentRuns();
    ASSERT_NE(server.answering_run(), nullptr);
    EXPECT_EQ(server.answering_run()->name, shown);
    EXPECT_EQ(server.answering_run()->record_count, local_server_test::kLoggingRecords);
}

}  // namespace
