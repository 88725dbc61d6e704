// The logged-data client over a real kind-3 link to the local data server, on a folder of run
// files, a SQLite and a MySQL location: summaries of windows before, across and after the
// runs, record ranges with their values, a record buffer that fills and goes on from the last
// time, handles the handler never gave out, a value buffer too small for what is asked, and
// the HEADER and TEXT sections.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "local_server/local_fixtures.h"
#include "log_stores/local_server/local_backend.h"
#include "log_stores/local_server/local_data_server.h"
#include "logger/logged_values.h"
#include "platform/last_error.h"
#include "qvr/link/link.h"
#include "qvr/requests/local_buffers.h"
#include "qvr/requests/logged_data_requests.h"

namespace {

using namespace local_server_test;
namespace rf = log_stores::run_file;

constexpr const char* kList = "AI,2,6,DI,3,XX,1";
constexpr std::size_t kChannels = 4;
constexpr std::int64_t kAllRecords = kFinishedRecords + kLoggingRecords;

std::uint64_t micros(const TimeStamp& t) {
    return std::uint64_t{static_cast<std::uint32_t>(t.seconds)} * 1'000'000u +
           static_cast<std::uint64_t>(t.milliseconds) * 1000u + static_cast<std::uint64_t>(t.microseconds);
}
TimeStamp stamp(std::uint64_t us) {
    return TimeStamp{static_cast<std::int32_t>(us / 1'000'000u),
                     static_cast<std::int16_t>(us / 1000u % 1000u), static_cast<std::int16_t>(us % 1000u)};
}
// Record `index` of the finished (run 0) or logging run (1).
TimeStamp time_of(int run, std::int64_t index) {
    return sim_logger::record_time(run == 0 ? kFinishedStart : kLoggingStart, index, kPeriodMs);
}

class LocalLdcTest : public ::testing::TestWithParam<Kind> {
  protected:
    void SetUp() override {
        if (const std::string why = unavailable_reason(GetParam()); !why.empty()) GTEST_SKIP() << why;
        log_stores::RegisterLocalDataServer();
        where_ = DataLocation::make(GetParam());
        ASSERT_NE(where_, nullptr);
        server_ = where_->location();
        ASSERT_EQ(ldc_IsLocalData(nullptr, server_.c_str()), 0);
    }
    void TearDown() override {
        link_CloseAll();
        EXPECT_EQ(qvr::local_buffers::live_count(), 0u);
    }

  public:
    // One "7S" (or "8S" with `value_bytes`) over the link, into buffers with guard bytes.
    struct Range {
        int rc = 0;
        TimeStamp start{}, end{};
        std::uint32_t records = 0, runs = 0;
        int last = -1;
        std::vector<std::uint8_t> heads, values, run_entries;
        bool guards_ok = true;
        TimeStamp head_time(std::size_t i) const {
            TimeStamp t;
            std::memcpy(&t, heads.data() + i * 16 + 4, sizeof t);
            return t;
        }
        std::pair<std::uint32_t, float> sample(std::size_t record, std::size_t k) const {
            std::uint32_t flags;
            float value;
            std::memcpy(&flags, values.data() + (record * kChannels + k) * 8, 4);
            std::memcpy(&value, values.data() + (record * kChannels + k) * 8 + 4, 4);
            return {flags, value};
        }
    };

  protected:
    bool database() const { return GetParam() != Kind::kFolder; }
    static constexpr std::uint8_t kGuard = 0xC3;
    Range range(std::optional<TimeStamp> from, std::optional<TimeStamp> to, std::uint32_t capacity,
                int run_capacity, std::optional<std::int64_t> value_bytes = std::nullopt) {
        Range r;
        r.start = from.value_or(TimeStamp{});
        r.end = to.value_or(TimeStamp{});
        r.heads.assign(capacity * 16 + 32, kGuard);
        r.values.assign(capacity * kChannels * 8 + 32, kGuard);
        r.run_entries.assign(static_cast<std::size_t>(run_capacity) * 20 + 32, kGuard);
        r.rc = value_bytes
                   ? ldc_ReadRecordRangeEx(nullptr, server_.c_str(), from ? 1 : 0, &r.start, to ? 1 : 0,
                                           &r.end, kList, static_cast<int>(capacity), r.heads.data(),
                                           r.values.data(), r.run_entries.data(), run_capacity, *value_bytes,
                                           &r.records, &r.runs, &r.last)
                   : ldc_ReadRecordRange(nullptr, server_.c_str(), from ? 1 : 0, &r.start, to ? 1 : 0, &r.end,
                                         kList, capacity, r.heads.data(), r.values.data(),
                                         r.run_entries.data(), run_capacity, &r.records, &r.runs, &r.last);
        const auto untouched_from = [](const std::vector<std::uint8_t>& b, std::size_t used) {
            for (std::size_t i = used; i < b.size(); ++i)
                if (b[i] != kGuard) return false;
            return true;
        };
        r.guards_ok = untouched_from(r.heads, r.records * 16) &&
                      untouched_from(r.values, r.records * kChannels * 8) &&
                      untouched_from(r.run_entries, r.runs * 20);
        return r;
    }

    std::unique_ptr<DataLocation> where_;
    std::string server_;
};

// AI 2 (block 0, index 1), AI 6 (block 1, index 1), DI 3 (block 2, index 2), XX 1 (none).
// A database keeps a digital channel as the number of its flag bit 0x01, handed out as an
// analog value.
void expect_record(const LocalLdcTest::Range& r, std::size_t at, int run, std::int64_t index, bool database) {
    EXPECT_EQ(micros(r.head_time(at)), micros(time_of(run, index))) << at;
    const struct {
        std::size_t block;
        std::uint32_t j;
        bool digital;
    } held[] = {{0, 1, false}, {1, 1, false}, {2, 2, true}};
    for (std::size_t k = 0; k < 3; ++k) {
        auto want = sim_logger::sample_of(held[k].block, held[k].j, index, held[k].digital);
        if (database && held[k].digital) want = {0x80, (want.flags & 0x01) != 0 ? 1.0f : 0.0f};
        const auto [flags, value] = r.sample(at, k);
        EXPECT_EQ(flags & log_stores::local::kFlagCleared, 0u);
        if (std::isnan(want.value)) {
            EXPECT_NE(flags & rf::kSampleBad, 0u) << "record " << index << " channel " << k;
        } else {
            EXPECT_EQ(flags, static_cast<std::uint32_t>(want.flags))
                << "record " << index << " channel " << k;
            EXPECT_EQ(value, want.value) << "record " << index << " channel " << k;
        }
    }
    EXPECT_EQ(r.sample(at, 3).first, log_stores::local::kFlagNoValue);
}

TEST_P(LocalLdcTest, SummariesOfWindowsBeforeAcrossAndAfterTheRuns) {
    // "RS" updates the status channels and answers their logging bit, which "5S" carries.
    std::array<char, 16> rs{};
    std::uint32_t length = rs.size();
    const int logging = link_SendText(server_.c_str(), "RS", rs.data(), &length);
    ASSERT_GE(logging, 0);
    const std::uint32_t logging_end = static_cast<std::uint32_t>(time_of(1, kLoggingRecords - 1).seconds);
    struct Case {
        const char* what;
        std::uint32_t from;
        int flags;
        std::uint32_t to;
        std::array<std::uint32_t, 4> want;  // start, end, records, runs
    } cases[] = {
        {"everything", 0, 0, 0, {kFinishedStart, logging_end, kAllRecords, 2}},
        {"before", kFinishedStart - 1000, 3, kFinishedStart - 10, {0, 0, 0, 0}},
        {"across", kFinishedStart + 20, 3, kLoggingStart + 5, {kFinishedStart, logging_end, 10 + 5, 2}},
        {"inside the finished run",
         kFinishedStart + 5,
         3,
         kFinishedStart + 8,
         {kFinishedStart, kFinishedStop, 3, 1}},
        {"between the runs", kFinishedStop + 10, 3, kLoggingStart - 10, {0, 0, 0, 0}},
        {"after", logging_end + 10, 1, 0, {0, 0, 0, 0}},
        {"up to the logging run", 0, 2, kLoggingStart, {kFinishedStart, kFinishedStop, kFinishedRecords, 1}},
    };
    for (const Case& c : cases) {
        std::uint32_t start = c.from, end = c.to, count = 99, size = 99;
        int last = -1;
        ASSERT_EQ(ldc_GetSummary(nullptr, server_.c_str(), 0, &start, c.flags, &end, &count, &size, &last), 1)
            << c.what << " " << platform::last_error();
        EXPECT_EQ((std::array<std::uint32_t, 4>{start, end, count, size}), c.want) << c.what;
        EXPECT_EQ(last, logging) << c.what;
    }
}

TEST_P(LocalLdcTest, AllRecordsWithTheirValuesAndRunsWhenNoBoundIsGiven) {
    const Range r = range(std::nullopt, std::nullopt, 200, 4);
    ASSERT_EQ(r.rc, 1) << platform::last_error();
    EXPECT_EQ(r.records, static_cast<std::uint32_t>(kAllRecords));
    EXPECT_EQ(r.runs, 2u);
    EXPECT_TRUE(r.guards_ok);
    EXPECT_EQ(r.start.seconds, kFinishedStart);
    EXPECT_EQ(micros(r.end), micros(time_of(1, kLoggingRecords - 1)) + 1'000'000u);
    for (std::int64_t i = 0; i < kFinishedRecords; ++i)
        expect_record(r, static_cast<std::size_t>(i), 0, i, database());
    for (std::int64_t i = 0; i < kLoggingRecords; ++i)
        expect_record(r, static_cast<std::size_t>(kFinishedRecords + i), 1, i, database());
    std::int32_t first[2];
    TimeStamp starts[2];
    for (int e = 0; e < 2; ++e) {
        std::memcpy(&first[e], r.run_entries.data() + e * 20, 4);
        std::memcpy(&starts[e], r.run_entries.data() + e * 20 + 4, 8);
    }
    EXPECT_EQ(first[0], 0);
    EXPECT_EQ(first[1], kFinishedRecords);
    EXPECT_EQ(starts[0].seconds, kFinishedStart);
    EXPECT_EQ(starts[1].seconds, kLoggingStart);
}

TEST_P(LocalLdcTest, AFullRecordBufferGoesOnFromTheLastTimeAndNothingIsLostOrDoubled) {
    std::vector<std::uint64_t> got;
    std::optional<TimeStamp> from;
    for (int round = 0; round < 50; ++round) {
        const Range r = range(from, TimeStamp{kLoggingStart + 3600, 0, 0}, 7, 2);
        ASSERT_EQ(r.rc, 1) << platform::last_error();
        ASSERT_TRUE(r.guards_ok);
        for (std::uint32_t i = 0; i < r.records; ++i) got.push_back(micros(r.head_time(i)));
        if (r.records < 7 && r.runs < 2) break;
        from = stamp(got.back() + 1);
    }
    std::vector<std::uint64_t> want;
    for (std::int64_t i = 0; i < kFinishedRecords; ++i) want.push_back(micros(time_of(0, i)));
    for (std::int64_t i = 0; i < kLoggingRecords; ++i) want.push_back(micros(time_of(1, i)));
    EXPECT_EQ(got, want);
}

TEST_P(LocalLdcTest, HandlesTheHandlerNeverGaveOutAreRefusedWith87) {
    TimeStamp start{kFinishedStart, 0, 0}, end{kLoggingStart, 0, 0};
    std::array<std::uint8_t, 160> heads{};
    const qvr::local_buffers::Registration s(&start, sizeof start), e(&end, sizeof end),
        h(heads.data(), heads.size());
    const std::string ok = std::to_string(s.handle()) + ",1," + std::to_string(e.handle()) + ",0,10," +
                           std::to_string(h.handle()) + ",0,0,0";
    for (const std::string& request :
         {"7S,1," + ok,
          "7S,1,424242,1," + std::to_string(e.handle()) + ",0,10," + std::to_string(h.handle()) + ",0,0,0",
          "7S,1," + std::to_string(s.handle()) + ",1," + std::to_string(e.handle()) + ",0,10,-7,0,0,0",
          std::string("6S,TEXT,99999999,10")}) {
        std::array<char, 64> reply{};
        std::uint32_t length = reply.size();
        const int rc = link_SendText(server_.c_str(), request.c_str(), reply.data(), &length);
        if (request == "7S,1," + ok) {
            EXPECT_EQ(rc, 1) << std::string(reply.data());
            EXPECT_EQ(std::string(reply.data()).substr(0, 7), "1,10,0,");
        } else {
            EXPECT_EQ(rc, -1) << request;
            EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter) << request;
        }
    }
}

TEST_P(LocalLdcTest, AValueBufferThatHoldsFewerRecordsGetsWholeRecordsOnly) {
    // Room for 3 records and most of a fourth.
    const Range r = range(std::nullopt, std::nullopt, 20, 2, 3 * kChannels * 8 + 31);
    ASSERT_EQ(r.rc, 1) << platform::last_error();
    EXPECT_EQ(r.records, 3u);
    EXPECT_TRUE(r.guards_ok);
    for (std::int64_t i = 0; i < 3; ++i) expect_record(r, static_cast<std::size_t>(i), 0, i, database());
    // Not one record fits: an error, never an empty range that would end the caller's reading.
    const Range none = range(std::nullopt, std::nullopt, 20, 2, 31);
    EXPECT_EQ(none.rc, -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInsufficientBuffer);
    EXPECT_TRUE(none.guards_ok);
}

TEST_P(LocalLdcTest, HeaderAndTextSections) {
    std::vector<char> buffer(4096, '#');
    int length = static_cast<int>(buffer.size());
    ASSERT_EQ(ldc_GetSectionText(nullptr, server_.c_str(), "HEADER", buffer.data(), &length), 1);
    // The section's lines, without its "[HEADER]" line.
    const std::string header_lines = std::string(kHeaderText).substr(std::strlen("[HEADER]\r\n"));
    EXPECT_EQ(std::string(buffer.data(), static_cast<std::size_t>(length)), header_lines);

    length = static_cast<int>(buffer.size());
    ASSERT_EQ(ldc_GetSectionText(nullptr, server_.c_str(), "TEXT", buffer.data(), &length), 1);
    const std::string text(buffer.data(), static_cast<std::size_t>(length));
    std::size_t at = 0;
    for (const int run : {0, 1})
        for (const FixtureEvent& e : fixture_events(run)) {
            const std::size_t found = text.find(e.text, at);
            ASSERT_NE(found, std::string::npos) << e.text << " in time order in:\n" << text;
            at = found;
        }
    // Whole lines: a buffer one byte short of the text and its NUL loses the last line.
    std::vector<char> small(static_cast<std::size_t>(length), '#');
    int small_length = length;
    ASSERT_EQ(ldc_GetSectionText(nullptr, server_.c_str(), "TEXT", small.data(), &small_length), 1);
    const std::size_t last_line = text.rfind("\r\n", text.size() - 3) + 2;
    EXPECT_EQ(std::string(small.data(), static_cast<std::size_t>(small_length)), text.substr(0, last_line));
    EXPECT_EQ(small[static_cast<std::size_t>(small_length)], '\0');
}

// "5S" with index 1 summarises the second collection (the sibling of a _FAST_LOG folder),
// which has no run array of its own.
TEST(LocalSummary, IndexOneIsTheSecondCollection) {
    LocationOptions fast;
    fast.logger = "PLANT_FAST_LOG";
    auto where = DataLocation::make(Kind::kFolder, fast);
    ASSERT_NE(where, nullptr);
    LocationOptions slow;
    slow.logger = "PLANT";
    slow.logging_run = false;
    ASSERT_EQ(where->add_logger("PLANT", slow), 0);
    log_stores::local::LocalDataServer server;
    ASSERT_EQ(server.Open(where->location().c_str()), 0) << platform::last_error();
    ASSERT_TRUE(server.collections_[1]);
    server.Refresh();
    const std::string main = server.GetStoreSummary("0,0,0,0");
    EXPECT_EQ(main.substr(0, main.rfind(',')), "1," + std::to_string(kFinishedStart) + "," +
                                                   std::to_string(time_of(1, kLoggingRecords - 1).seconds) +
                                                   "," + std::to_string(kAllRecords) + ",2");
    const std::string second = server.GetStoreSummary("1,0,0,0");
    EXPECT_EQ(second.substr(0, second.rfind(',')), "1," + std::to_string(kFinishedStart) + "," +
                                                       std::to_string(kFinishedStop) + "," +
                                                       std::to_string(kFinishedRecords) + ",1");
    const std::string window = server.GetStoreSummary("1," + std::to_string(kFinishedStart + 10) + ",3," +
                                                      std::to_string(kFinishedStart + 15));
    EXPECT_EQ(window.substr(0, window.rfind(',')),
              "1," + std::to_string(kFinishedStart) + "," + std::to_string(kFinishedStop) + ",5,1");
    server.Close();
}

INSTANTIATE_TEST_SUITE_P(Kinds, LocalLdcTest, ::testing::Values(Kind::kFolder, Kind::kSqlite, Kind::kMySql),
                         [](const ::testing::TestParamInfo<Kind>& p) {
                             return std::string(kind_name(p.param));
                         });

}  // namespace
