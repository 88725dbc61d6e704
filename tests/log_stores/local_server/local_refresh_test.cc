// The run list and record caches behind the range requests, over a folder of run files, a
// SQLite database and (with the test server) a MySQL database written by the stand-in logger.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "local_server/local_fixtures.h"
#include "log_stores/db_store/db_store.h"
#include "log_stores/db_store/db_store_testing.h"
#include "log_stores/local_server/local_data_server.h"
#include "log_stores/run_file/run_file_format.h"
#include "logger/logged_values.h"
#include "platform/ascii_text.h"
#include "platform/registry_key.h"
#include "qvr/settings/reg.h"
#include "support/debug_capture.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;
using log_stores::local::ChannelKey;
using log_stores::local::LocalDataServer;
using log_stores::local::RunEntry;
using log_stores::local::SampleFlags;
using log_stores::local::SampleValue;
using namespace local_server_test;
using ::testing::HasSubstr;

constexpr std::uint64_t kGate = log_stores::local::kRefreshPeriodMs;

std::string upper(const std::string& text) {
    return platform::ascii_upper_copy(text);
}

// A dashboard in the product's web folder showing AI 2, AI 6, DI 3 and a channel no run holds.
void write_dashboard() {
    const fs::path web = fs::path(qvr_test::test_root()) / "web";
    fs::create_directories(web / "DASHBOARDS");
    std::ofstream(web / "menu.xml") << "<menu><Item>kiln.xml</Item></menu>";
    std::ofstream(web / "DASHBOARDS" / "kiln.xml")
        << "<d><channel><prefix>DI</prefix><no>3</no></channel><channel><prefix>AI</prefix><no>6</no></"
           "channel>"
           "<channel><prefix>ZZ</prefix><no>1</no></channel><channel><prefix>AI</prefix><no>2</no></"
           "channel></d>";
    ::setenv("QVR_WEBHMI", web.c_str(), 1);
}

// Where each dashboard channel lies in the fixture's blocks: block, channel index, digital.
struct Place {
    int block;
    std::uint32_t index;
    bool digital;
};
const std::vector<Place> kDashboardPlaces = {{0, 1, false}, {1, 1, false}, {2, 2, true}, {-1, 0, false}};

TEST(CachedSample, IsTheFlagsAndValuePairOfTheRangeBuffersWithTheClearedFlagTakenOff) {
    const std::uint64_t sample = log_stores::local::PackSample(0xC1, 2.5f);
    EXPECT_EQ(SampleFlags(sample), 0x81u);
    EXPECT_EQ(SampleValue(sample), 2.5f);
    std::uint8_t bytes[8];
    std::memcpy(bytes, &sample, sizeof bytes);
    std::uint32_t flags = 0;
    float value = 0;
    std::memcpy(&flags, bytes, 4);
    std::memcpy(&value, bytes + 4, 4);
    EXPECT_EQ(flags, 0x81u);
    EXPECT_EQ(value, 2.5f);
}

class LocalRefresh : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        if (const std::string why = unavailable_reason(GetParam()); !why.empty()) GTEST_SKIP() << why;
        write_dashboard();
        where_ = DataLocation::make(GetParam());
        ASSERT_NE(where_, nullptr);
        server_ = std::make_unique<LocalDataServer>([this] { return ticks_; });
        ASSERT_EQ(server_->Open(where_->location().c_str()), 0);
    }
    void TearDown() override {
        if (server_) server_->Close();
    }

    void refresh_after(std::uint64_t ms) {
        ticks_ += ms;
        server_->Refresh();
    }
    const std::vector<RunEntry>& runs() const { return server_->runs_; }
    std::vector<std::string> run_names() const {
        std::vector<std::string> names;
        for (const auto& r : runs()) names.push_back(r.name);
        return names;
    }
    const RunEntry* run_starting(std::int32_t start) const {
        for (const auto& r : runs())
            if (r.start.seconds == start) return &r;
        return nullptr;
    }

    // Every cached record of `run` is the record the store hands out when the run is read
    // whole by a store of its own: the logger's time, and the dashboard channels' samples.
    void expect_cached_as_written(const RunEntry& run, std::int64_t records) const {
        SCOPED_TRACE(run.name);
        ASSERT_EQ(run.records, records);
        ASSERT_EQ(run.times.size(), static_cast<std::size_t>(records));
        ASSERT_EQ(run.dashboard_samples.size(), static_cast<std::size_t>(records) * kDashboardPlaces.size());
        auto store =
            server_->collections_[0]->collection->OpenStore(run.name.c_str(), log_stores::kGenericRead);
        ASSERT_NE(store, nullptr);
        log_stores::LogHeader header{};
        ASSERT_EQ(store->ReadHeader(header), 0);
        const auto size = static_cast<std::size_t>(header.recordSize);
        std::vector<std::uint8_t> all(size * static_cast<std::size_t>(records));
        ASSERT_EQ(store->ReadLogs(0, header, all.data(), static_cast<std::int32_t>(records), 0, nullptr, 0),
                  records);
        for (std::int64_t i = 0; i < records; ++i) {
            const auto at = static_cast<std::size_t>(i);
            const TimeStamp want = sim_logger::record_time(run.start.seconds, i, kPeriodMs);
            ASSERT_EQ(run.times[at].seconds, want.seconds) << "record " << i;
            ASSERT_EQ(run.times[at].milliseconds, want.milliseconds) << "record " << i;
            const std::span<const std::uint8_t> record(all.data() + at * size, size);
            for (std::size_t k = 0; k < kDashboardPlaces.size(); ++k) {
                const std::uint64_t got = run.dashboard_samples[at * kDashboardPlaces.size() + k];
                const Place& p = kDashboardPlaces[k];
                if (p.block < 0) {
                    ASSERT_EQ(SampleFlags(got), log_stores::local::kFlagNoValue) << "record " << i;
                    continue;
                }
                log_stores::run_file::ChannelSample sample;
                ASSERT_TRUE(log_stores::run_file::read_sample(
                    record, header.blocks[static_cast<std::size_t>(p.block)], p.index, sample));
                ASSERT_EQ(SampleFlags(got), static_cast<std::uint32_t>(sample.flags) & ~0x40u)
                    << "record " << i << " channel " << k;
                if ((sample.flags & 0x20) == 0) {
                    ASSERT_EQ(SampleValue(got), sample.value) << "record " << i << " channel " << k;
                }
            }
        }
    }

    // The run file kind hands out the logger's own samples.
    void expect_logged_values(const RunEntry& run) const {
        for (std::int64_t i = 0; i < run.records; ++i) {
            for (std::size_t k = 0; k + 1 < kDashboardPlaces.size(); ++k) {
                const Place& p = kDashboardPlaces[k];
                const auto want =
                    sim_logger::sample_of(static_cast<std::size_t>(p.block), p.index, i, p.digital);
                const std::uint64_t got =
                    run.dashboard_samples[static_cast<std::size_t>(i) * kDashboardPlaces.size() + k];
                if (std::isnan(want.value) || (want.flags & 0x20) != 0) {
                    ASSERT_NE(SampleFlags(got) & 0x20u, 0u) << "record " << i;
                    continue;
                }
                ASSERT_EQ(SampleFlags(got), static_cast<std::uint32_t>(want.flags)) << "record " << i;
                ASSERT_EQ(SampleValue(got), want.value) << "record " << i;
            }
        }
    }

    std::uint64_t ticks_ = 5'000'000;
    std::unique_ptr<DataLocation> where_;
    std::unique_ptr<LocalDataServer> server_;
};

TEST_P(LocalRefresh, RunsAreListedSortedWithEveryRecordCached) {
    server_->Refresh();
    ASSERT_EQ(runs().size(), 2u) << ::testing::PrintToString(run_names());
    EXPECT_TRUE(std::is_sorted(runs().begin(), runs().end(), [](const RunEntry& a, const RunEntry& b) {
        return upper(a.name) < upper(b.name);
    }));
    const RunEntry* finished = run_starting(kFinishedStart);
    const RunEntry* logging = run_starting(kLoggingStart);
    ASSERT_NE(finished, nullptr);
    ASSERT_NE(logging, nullptr);
    EXPECT_NE(finished->stop.seconds, 0);
    EXPECT_EQ(logging->stop.seconds, 0);
    ASSERT_NE(finished->store, nullptr);
    ASSERT_NE(logging->store, nullptr);
    expect_cached_as_written(*finished, kFinishedRecords);
    expect_cached_as_written(*logging, kLoggingRecords);
    if (GetParam() == Kind::kFolder) {
        expect_logged_values(*finished);
        expect_logged_values(*logging);
    }

    // The dashboard set is known and selected.
    ASSERT_TRUE(server_->dashboard_.has_value());
    ASSERT_EQ(server_->dashboard_->size(), 4u);
    EXPECT_EQ(server_->selection_.size(), 4u);
}

TEST_P(LocalRefresh, TheRunsTextsAndTheEventsFileAreKept) {
    server_->Refresh();
    ASSERT_EQ(runs().size(), server_->run_scans_.size());
    for (std::size_t i = 0; i < runs().size(); ++i) {
        SCOPED_TRACE(runs()[i].name);
        const auto& scan = server_->run_scans_[i];
        EXPECT_THAT(scan.header_section, HasSubstr("PLANT NORTH"));
        const bool finished = runs()[i].stop.seconds != 0;
        EXPECT_THAT(scan.text_section, HasSubstr(finished ? "KILN STARTED of the finished run"
                                                          : "KILN STARTED of the logging run"));
    }
    if (GetParam() == Kind::kFolder) {
        EXPECT_THAT(server_->events_text_, HasSubstr("SETPOINT CHANGED of the finished run"));
        EXPECT_THAT(server_->events_text_, HasSubstr("SETPOINT CHANGED of the logging run"));
    } else {
        EXPECT_EQ(server_->events_text_, "");
    }

    // An event of the run being logged is seen by the next refresh after the gate.
    auto* logger = where_->live_logger();
    ASSERT_NE(logger, nullptr);
    ASSERT_EQ(logger->add_event(TimeStamp{kLoggingStart + 15, 0, 0}, "BURNER TRIPPED"), 0);
    refresh_after(kGate);
    const RunEntry* logging = run_starting(kLoggingStart);
    ASSERT_NE(logging, nullptr);
    const auto& scan = server_->run_scans_[static_cast<std::size_t>(logging - runs().data())];
    const std::string seen = scan.text_section + server_->events_text_;
    EXPECT_THAT(seen, HasSubstr("BURNER TRIPPED"));
}

TEST_P(LocalRefresh, NewRecordsOfTheLoggingRunAppearWithinOneRefresh) {
    server_->Refresh();
    auto* logger = where_->live_logger();
    ASSERT_NE(logger, nullptr);
    ASSERT_EQ(logger->append(7, 3), 0);
    refresh_after(kGate / 2);
    EXPECT_EQ(run_starting(kLoggingStart)->records, kLoggingRecords) << "the gate holds for 1,000 ms";
    refresh_after(kGate / 2);
    expect_cached_as_written(*run_starting(kLoggingStart), kLoggingRecords + 7);
    expect_cached_as_written(*run_starting(kFinishedStart), kFinishedRecords);
}

TEST_P(LocalRefresh, ARunAddedBetweenRefreshesAppearsAfterTheGateAndTheFinishedOneKeepsItsCache) {
    server_->Refresh();
    auto* logger = where_->live_logger();
    ASSERT_NE(logger, nullptr);
    ASSERT_EQ(logger->append(5, 5), 0);
    constexpr std::int32_t kThirdStart = kLoggingStart + 3'600;
    ASSERT_EQ(logger->finish_run(kLoggingStart + 30), 0);
    ASSERT_EQ(logger->start_run(kThirdStart), 0);
    ASSERT_EQ(logger->append(4, 2), 0);

    refresh_after(kGate - 1);
    EXPECT_EQ(runs().size(), 2u) << "not before the gate";
    refresh_after(1);
    ASSERT_EQ(runs().size(), 3u) << ::testing::PrintToString(run_names());
    EXPECT_TRUE(std::is_sorted(runs().begin(), runs().end(), [](const RunEntry& a, const RunEntry& b) {
        return upper(a.name) < upper(b.name);
    }));
    const RunEntry* second = run_starting(kLoggingStart);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second->stop.seconds, 0) << "listed as finished now";
    expect_cached_as_written(*second, kLoggingRecords + 5);
    const RunEntry* third = run_starting(kThirdStart);
    ASSERT_NE(third, nullptr);
    expect_cached_as_written(*third, 4);
}

TEST_P(LocalRefresh, ARunThatVanishedIsDropped) {
    server_->Refresh();
    ASSERT_EQ(runs().size(), 2u);
    auto* logger = where_->live_logger();
    ASSERT_NE(logger, nullptr);
    logger->purge(kFinishedStop + 1);
    refresh_after(kGate);
    ASSERT_EQ(runs().size(), 1u) << ::testing::PrintToString(run_names());
    EXPECT_EQ(runs()[0].start.seconds, kLoggingStart);
    EXPECT_EQ(server_->run_scans_.size(), 1u);
    expect_cached_as_written(runs()[0], kLoggingRecords);
}

TEST_P(LocalRefresh, AfterCloseAndOpenOnlyTheNewLocationsRunsAreKept) {
    LocationOptions other;
    other.logger = "OTHER";
    other.logging_run = false;
    ASSERT_EQ(where_->add_logger("OTHER", other), 0);
    server_->Refresh();
    ASSERT_EQ(runs().size(), 2u);
    server_->Close();
    ASSERT_EQ(server_->Open(where_->location_of("OTHER").c_str()), 0);
    refresh_after(1);
    ASSERT_EQ(runs().size(), 1u) << ::testing::PrintToString(run_names());
    EXPECT_EQ(server_->run_scans_.size(), 1u);
    expect_cached_as_written(runs()[0], kFinishedRecords);
    if (GetParam() == Kind::kFolder) {
        EXPECT_THAT(server_->events_text_, HasSubstr("of the finished run"));
        EXPECT_THAT(server_->events_text_, ::testing::Not(HasSubstr("of the logging run")));
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, LocalRefresh, ::testing::Values(Kind::kFolder, Kind::kSqlite, Kind::kMySql),
                         [](const ::testing::TestParamInfo<Kind>& p) {
                             return std::string(kind_name(p.param));
                         });

// Folder kind only: files the store cannot use.
class LocalRefreshFolder : public LocalRefresh {};

// With the events file in use a run's "TEXT" is the folder's whole events file: it is kept
// once, as the folder's event lines, not once more for every run.
TEST_P(LocalRefreshFolder, WithTheEventsFileInUseTheRunsKeepNoCopyOfIt) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey,
                                            platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string("EventsTextFile", "ON"), 0);
    server_->Refresh();
    ASSERT_EQ(runs().size(), 2u);
    for (const auto& scan : server_->run_scans_) {
        EXPECT_EQ(scan.text_section, "");
        EXPECT_THAT(scan.header_section, HasSubstr("PLANT NORTH"));
    }
    EXPECT_THAT(server_->events_text_, HasSubstr("SETPOINT CHANGED of the logging run"));
}

TEST_P(LocalRefreshFolder, ADamagedRunFileIsSkippedWithItsLine) {
    qvr_test::DebugCapture debug;
    const fs::path bad = fs::path(where_->folder()) / "PLANT_240306_100000_240306_110000.qdl";
    // A run file cut inside its channel sections: its tag opens, its header does not hold.
    fs::copy_file(fs::path(where_->run_locations().front()), bad);
    fs::resize_file(bad, 950);
    server_->Refresh();
    ASSERT_EQ(runs().size(), 3u) << ::testing::PrintToString(run_names());
    const RunEntry* damaged = nullptr;
    for (const auto& r : runs())
        if (r.name == bad.filename().string()) damaged = &r;
    ASSERT_NE(damaged, nullptr);
    EXPECT_EQ(damaged->records, 0);
    EXPECT_THAT(debug.lines("GraphFiltered"),
                ::testing::ElementsAre("Corrupt file GraphFiltered " + bad.string() + "\r\n"));
    expect_cached_as_written(*run_starting(kFinishedStart), kFinishedRecords);
    expect_cached_as_written(*run_starting(kLoggingStart), kLoggingRecords);

    // Said once, not on every refresh.
    refresh_after(kGate);
    EXPECT_EQ(debug.lines("GraphFiltered").size(), 1u);
}

TEST_P(LocalRefreshFolder, TheFolderIsListedAgainOnlyWhenItChanged) {
    // Files the listing takes as runs, slipped in with the folder's time put back.
    const fs::path folder = where_->folder();
    const auto slip_in = [&](const char* name, fs::file_time_type time) {
        fs::copy_file(fs::path(where_->run_locations().front()), folder / name);
        fs::last_write_time(folder, time);
    };
    const auto an_hour_ago = fs::file_time_type::clock::now() - std::chrono::hours(1);
    fs::last_write_time(folder, an_hour_ago);
    server_->Refresh();
    ASSERT_EQ(runs().size(), 2u);
    slip_in("PLANT_240306_100000_240306_110000.qdl", an_hour_ago);
    refresh_after(kGate);
    EXPECT_EQ(runs().size(), 2u) << "the folder's time did not move";
    fs::last_write_time(folder, an_hour_ago + std::chrono::seconds(1));
    refresh_after(kGate);
    EXPECT_EQ(runs().size(), 3u);

    // A folder changed moments ago may change again within the same tick of its clock.
    const auto just_now = fs::file_time_type::clock::now();
    fs::last_write_time(folder, just_now);
    refresh_after(kGate);
    slip_in("PLANT_240307_100000_240307_110000.qdl", just_now);
    refresh_after(kGate);
    EXPECT_EQ(runs().size(), 4u);
}

// A run being logged caught while its file is made: empty at first, then with a header cut
// short, then whole. It is opened and read once it can be, and its line is said once.
TEST_P(LocalRefreshFolder, ARunBeingMadeIsReadOnceItsFileHolds) {
    qvr_test::DebugCapture debug;
    const fs::path making = fs::path(where_->folder()) / "PLANT_240306_100000.qdl";
    std::string whole;
    {
        std::ifstream in(where_->run_locations().back(), std::ios::binary);
        whole.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_GT(whole.size(), 950u);
    const auto put = [&](std::size_t bytes) {
        std::ofstream out(making, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
        out.write(whole.data(), static_cast<std::streamsize>(bytes));
    };
    put(0);
    server_->Refresh();
    const auto made = [&]() -> const RunEntry* {
        for (const auto& r : runs())
            if (r.name == making.filename().string()) return &r;
        return nullptr;
    };
    ASSERT_NE(made(), nullptr) << ::testing::PrintToString(run_names());
    EXPECT_EQ(made()->store, nullptr) << "an empty file does not open";

    put(950);
    refresh_after(kGate);
    ASSERT_NE(made()->store, nullptr);
    EXPECT_EQ(made()->records, 0);
    refresh_after(kGate);
    EXPECT_EQ(debug.lines("GraphFiltered"),
              std::vector<std::string>{"Corrupt file GraphFiltered " + making.string() + "\r\n"});

    put(whole.size());
    refresh_after(kGate);
    EXPECT_EQ(made()->records, kLoggingRecords);
    EXPECT_EQ(debug.lines("GraphFiltered").size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Folder, LocalRefreshFolder, ::testing::Values(Kind::kFolder),
                         [](const ::testing::TestParamInfo<Kind>& p) {
                             return std::string(kind_name(p.param));
                         });

// The database store's query counters, on SQLite.
class LocalRefreshSqlite : public LocalRefresh {};

// A database run's records are read by pages in one order: a refresh must go on from its own
// place, whatever requests read through the run's store in between.
TEST_P(LocalRefreshSqlite, ARefreshReadsOnlyTheNewRecordsWhateverWasReadBetween) {
    auto* logger = where_->live_logger();
    ASSERT_NE(logger, nullptr);
    // Pages of 1,000 rows: the run spans several.
    constexpr std::int64_t kMore = 2'480;
    ASSERT_EQ(logger->append(kMore, 496), 0);
    server_->Refresh();
    const auto logging_scan = [&]() -> LocalDataServer::RunScan& {
        const RunEntry* logging = run_starting(kLoggingStart);
        return server_->run_scans_[static_cast<std::size_t>(logging - runs().data())];
    };
    auto* reader = dynamic_cast<log_stores::CLogDbStore*>(logging_scan().record_reader.get());
    ASSERT_NE(reader, nullptr);
    // Settle the texts' second look first.
    refresh_after(kGate);
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        // What a range or section request does through the run's store.
        const RunEntry& run = *run_starting(kLoggingStart);
        std::vector<std::uint8_t> some(static_cast<std::size_t>(run.header.recordSize) * 5);
        EXPECT_EQ(run.store->ReadLogs(0, run.header, some.data(), 5, 0, nullptr, 0), 5);
        std::size_t size = 0;
        run.store->ReadSection("TEXT", nullptr, &size, 0, 0);

        ASSERT_EQ(logger->append(10, 10), 0);
        auto* own = dynamic_cast<log_stores::CLogDbStore*>(run.store.get());
        ASSERT_NE(own, nullptr);
        const auto queries = [&] {
            return log_stores::testing_record_queries(*reader) + log_stores::testing_record_queries(*own);
        };
        const std::uint64_t before = queries();
        refresh_after(kGate);
        EXPECT_LE(queries() - before, 2u) << "record queries of one refresh";
        EXPECT_EQ(run_starting(kLoggingStart)->records, kLoggingRecords + kMore + 10 * (round + 1));
    }
    expect_cached_as_written(*run_starting(kLoggingStart), kLoggingRecords + kMore + 30);

    // Once finished and read to its end, the run is not read again.
    ASSERT_EQ(logger->finish_run(kLoggingStart + 3'600), 0);
    refresh_after(kGate);
    EXPECT_TRUE(logging_scan().records_complete);
    EXPECT_EQ(logging_scan().record_reader, nullptr);
    expect_cached_as_written(*run_starting(kLoggingStart), kLoggingRecords + kMore + 30);
}

INSTANTIATE_TEST_SUITE_P(Sqlite, LocalRefreshSqlite, ::testing::Values(Kind::kSqlite),
                         [](const ::testing::TestParamInfo<Kind>& p) {
                             return std::string(kind_name(p.param));
                         });

}  // namespace
