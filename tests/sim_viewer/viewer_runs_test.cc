// qvr_viewer on runs that qvr_logger made, on every kind of location: the CSV of the latest
// run and of an earlier one, value by value; the run list and the header; a time range across
// runs in UTC and in local time; a run still being logged, read twice while it grows; and a
// latest run that has no record yet.
#include <gtest/gtest.h>

#include <thread>

#include "log_stores/log_factory.h"
#include "host/runtime_host.h"
#include "logger/stand_in_logger.h"
#include "support/child_process.h"
#include "viewer_fixture.h"
#ifdef VIEWER_TEST_WITH_MYSQL
#include "log_stores/mysql/register.h"
#endif

namespace {

using namespace viewer_test;
using namespace std::chrono_literals;

class ViewerRuns : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        if (const std::string why = unavailable_reason(GetParam()); !why.empty()) GTEST_SKIP() << why;
        place_ = std::make_unique<Place>(GetParam());
    }

    // qvr_logger writes the runs of `logged` to the place.
    void log(const Logged& logged) {
        const Ran logger = run(qvr_test::bin_path("qvr_logger"), logged.arguments(place_->writer()));
        ASSERT_EQ(logger.exit_code, 0) << logger.out << logger.err;
    }

    // The viewer's CSV: its header checked, its records returned.
    std::vector<std::vector<std::string>> csv(const Logged& logged, const std::vector<std::string>& args,
                                              const std::vector<std::string>& env = {}) {
        std::vector<std::string> all{"--csv"};
        all.insert(all.end(), args.begin(), args.end());
        all.push_back(place_->reader());
        const Ran viewer = run_viewer(all, env);
        EXPECT_EQ(viewer.exit_code, 0) << viewer.err;
        EXPECT_EQ(viewer.err, "");
        auto rows = csv_rows(viewer.out);
        if (rows.empty()) {
            ADD_FAILURE() << "no header line";
            return rows;
        }
        EXPECT_EQ(rows.front(), logged.header());
        rows.erase(rows.begin());
        return rows;
    }

    std::unique_ptr<Place> place_;
};

TEST_P(ViewerRuns, CsvOfTheLatestAndAnEarlierRunHoldsEveryValueLogged) {
    const Logged logged;
    log(logged);

    // The latest run by default, in a locale whose decimal mark is a comma.
    const auto latest = csv(logged, {}, {"LC_ALL=de_DE.UTF-8", "LANG=de_DE.UTF-8"});
    ASSERT_EQ(latest.size(), static_cast<std::size_t>(logged.records));
    for (long i = 0; i < logged.records; ++i)
        EXPECT_EQ(logged.mismatch(latest[static_cast<std::size_t>(i)], 1, i), "");

    const auto first = csv(logged, {"--run", "1"});
    ASSERT_EQ(first.size(), static_cast<std::size_t>(logged.records));
    for (long i = 0; i < logged.records; ++i) EXPECT_EQ(logged.mismatch(first[static_cast<std::size_t>(i)], 0, i), "");

    // Chosen channels, in the order asked, by tag or by prefix and number.
    const Ran chosen = run_viewer({"--csv", "--channels", "di2,AA1", place_->reader()});
    ASSERT_EQ(chosen.exit_code, 0) << chosen.err;
    const auto rows = csv_rows(chosen.out);
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(logged.records) + 1);
    EXPECT_EQ(rows[0], (std::vector<std::string>{"time", "DI2", "AI1"}));
    EXPECT_EQ(rows[6], (std::vector<std::string>{shown_time(logged.record_micros(1, 5)), "0", ""}))
        << "record 5: DI2 low, AI1 marked bad";
}

TEST_P(ViewerRuns, ListAndHeaderShowTheRunsAndTheLatestRunsChannels) {
    const Logged logged;
    log(logged);

    const Ran list = run_viewer({place_->reader()});
    ASSERT_EQ(list.exit_code, 0) << list.err;
    const long length = logged.records * logged.period_ms / 1000 + 1;
    for (int r = 0; r < logged.runs; ++r) {
        const std::uint64_t start = std::uint64_t{static_cast<std::uint32_t>(logged.run_start(r))} * 1'000'000u;
        EXPECT_TRUE(has_line(list.out, {std::to_string(r + 1), shown_time(start),
                                        shown_time(start + static_cast<std::uint64_t>(length) * 1'000'000u),
                                        std::to_string(logged.records), shown_time(logged.record_micros(r, 0)),
                                        shown_time(logged.record_micros(r, logged.records - 1))}))
            << "run " << r + 1 << "\n" << list.out;
    }

    const Ran header = run_viewer({"--header", place_->reader()});
    ASSERT_EQ(header.exit_code, 0) << header.err;
    EXPECT_NE(header.out.find("run 2 of 2\n"), std::string::npos) << header.out;
    EXPECT_NE(header.out.find("\n  Stand-in logger\n"), std::string::npos) << header.out;
    EXPECT_NE(header.out.find("channels (5)\n"), std::string::npos) << header.out;
    EXPECT_TRUE(has_line(header.out, {"AA2", "AI2", "analog", "Stand-in", "AI2"})) << header.out;
    EXPECT_TRUE(has_line(header.out, {"DD1", "DI1", "digital"})) << header.out;
}

TEST_P(ViewerRuns, ATimeRangeTakesTheRecordsOfEveryRunInItInUtcOrLocalTime) {
    const Logged logged;
    log(logged);
    // From record 30 of the first run to record 10 of the second: the bound before it is
    // inside, the one after it outside.
    const std::uint64_t from = logged.record_micros(0, 30);
    const std::uint64_t to = logged.record_micros(1, 10);
    const auto check = [&](const std::vector<std::vector<std::string>>& rows, long offset, const std::string& zone) {
        ASSERT_EQ(rows.size(), 20u);
        for (long i = 0; i < 10; ++i) EXPECT_EQ(logged.mismatch(rows[static_cast<std::size_t>(i)], 0, 30 + i, offset, zone), "");
        for (long i = 0; i < 10; ++i)
            EXPECT_EQ(logged.mismatch(rows[static_cast<std::size_t>(10 + i)], 1, i, offset, zone), "");
    };
    check(csv(logged, {"--from", shown_time(from), "--to", shown_time(to)}), 0, "Z");

    // India keeps +05:30 all year: the same records, shown and asked for in its local time.
    const long india = 5 * 3600 + 30 * 60;
    const std::string local_from = shown_time(from, india, "");
    const std::string local_to = shown_time(to, india, "").replace(10, 1, " ");
    check(csv(logged, {"--local", "--from", local_from, "--to", local_to}, {"TZ=Asia/Kolkata"}), india, "+05:30");

    // A range inside one run, that run named.
    const auto within = csv(logged, {"--run", "2", "--from", "@" + std::to_string(logged.run_start(1) + 2)});
    ASSERT_EQ(within.size(), static_cast<std::size_t>(logged.records - 8));
    EXPECT_EQ(logged.mismatch(within.front(), 1, 8), "");
}

TEST_P(ViewerRuns, ARunStillBeingLoggedGivesWhatItHoldsAndMoreOnTheNextCall) {
    Logged logged;
    logged.runs = 1;
    logged.records = 1'000'000;
    logged.period_ms = 20;
    std::vector<std::string> args = logged.arguments(place_->writer());
    args.insert(args.end(), {"--paced"});
    auto logger = qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_logger"), args);

    // Each call returns the records there are at that moment, all of them right.
    const auto records_now = [&] { return csv(logged, {}); };
    std::vector<std::vector<std::string>> first;
    // Only a failure waits this long: on a loaded machine one call of the viewer can take a
    // minute while the logger writes on.
    constexpr auto kPatience = 900s;
    auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (first.size() < 5 && std::chrono::steady_clock::now() < deadline && logger.running()) {
        const Ran viewer = run_viewer({"--csv", place_->reader()});
        if (viewer.exit_code == 0) first = csv_rows(viewer.out);
        if (!first.empty()) {
            EXPECT_EQ(first.front(), logged.header());
            first.erase(first.begin());
        }
        if (first.size() < 5) std::this_thread::sleep_for(100ms);
    }
    ASSERT_GE(first.size(), 5u) << "the viewer never saw the run being logged";
    std::vector<std::vector<std::string>> second;
    deadline = std::chrono::steady_clock::now() + kPatience;
    while (second.size() < first.size() + 5 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(200ms);
        second = records_now();
    }
    ASSERT_GE(second.size(), first.size() + 5) << "the run did not grow between two calls";
    for (std::size_t i = 0; i < first.size(); ++i) EXPECT_EQ(first[i], second[i]) << "record " << i;
    for (std::size_t i = 0; i < second.size(); ++i)
        EXPECT_EQ(logged.mismatch(second[i], 0, static_cast<long>(i)), "");

    const Ran list = run_viewer({place_->reader()});
    const auto row = line_words(list.out, "1");
    ASSERT_GE(row.size(), 3u) << list.out;
    EXPECT_EQ(row[1], shown_time(logged.record_micros(0, 0)));
    EXPECT_EQ(row[2], "logging");
    EXPECT_TRUE(logger.running()) << "the logger ended before the test";
}

TEST_P(ViewerRuns, ALatestRunWithoutRecordsIsTheLatestRun) {
    const Logged logged;
    log(logged);
#ifdef VIEWER_TEST_WITH_MYSQL
    log_stores::RegisterMySqlLogStores();
#endif
    // The logger starts a third run and has written nothing to it yet.
    sim_logger::LoggerOptions options;
    options.location = place_->writer();
    options.blocks = {{"AA", 1, 3, false, {}}, {"DD", 1, 2, true, {}}};
    for (int k = 1; k <= 3; ++k) options.blocks[0].channels.push_back(sim_host::analog_input("AI" + std::to_string(k)));
    for (int k = 1; k <= 2; ++k) options.blocks[1].channels.push_back(sim_host::digital_input("DI" + std::to_string(k)));
    sim_logger::StandInLogger logger;
    ASSERT_EQ(logger.open(options), 0);
    const std::int32_t third = logged.run_start(2);
    ASSERT_EQ(logger.start_run(third), 0);

    EXPECT_TRUE(csv(logged, {}).empty()) << "the latest run has no records";
    const Ran list = run_viewer({place_->reader()});
    ASSERT_EQ(list.exit_code, 0) << list.err;
    const std::uint64_t start = std::uint64_t{static_cast<std::uint32_t>(third)} * 1'000'000u;
    EXPECT_TRUE(has_line(list.out, {"3", shown_time(start), "logging", "0", "-", "-"})) << list.out;
    EXPECT_EQ(csv(logged, {"--run", "2"}).size(), static_cast<std::size_t>(logged.records));
}

// Long runs come over the link in pages: none of their records is lost or doubled where a
// page ends, also when many records share one time.
TEST(ViewerPages, LongRunsAreReadWholeAcrossPages) {
    const struct {
        long records;
        std::uint32_t period_ms;
    } cases[] = {{150'000, 1}, {70'000, 0}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.period_ms);
        Place place(Kind::kFolder);
        Logged logged;
        logged.records = c.records;
        logged.period_ms = c.period_ms;
        std::vector<std::string> args = logged.arguments(place.writer());
        args.insert(args.end(), {"--batch", "1000"});
        const Ran logger = run(qvr_test::bin_path("qvr_logger"), args);
        ASSERT_EQ(logger.exit_code, 0) << logger.err;

        const Ran viewer = run_viewer({"--csv", place.reader()});
        ASSERT_EQ(viewer.exit_code, 0) << viewer.err;
        const auto rows = csv_rows(viewer.out);
        ASSERT_EQ(rows.size(), static_cast<std::size_t>(c.records) + 1);
        std::size_t wrong = 0;
        for (long i = 0; i < c.records; ++i)
            if (!logged.mismatch(rows[static_cast<std::size_t>(i) + 1], 1, i).empty()) ++wrong;
        EXPECT_EQ(wrong, 0u);

        const Ran list = run_viewer({place.reader()});
        EXPECT_EQ(line_words(list.out, "1").at(3), std::to_string(c.records)) << list.out;
        EXPECT_EQ(line_words(list.out, "2").at(3), std::to_string(c.records)) << list.out;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ViewerRuns, ::testing::ValuesIn(kAllKinds),
                         [](const auto& kind) { return std::string(kind_name(kind.param)); });

}  // namespace
