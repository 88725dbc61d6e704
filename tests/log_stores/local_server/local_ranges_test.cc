// The range requests of the local data server ("5S".."8S") on a data folder the stand-in
// logger made: summaries of time windows, record ranges into registered caller buffers
// (whole entries only, nothing past a capacity, nothing lost or doubled across requests),
// unknown handles, and section texts.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "local_server/range_runs.h"
#include "log_stores/text_files/event_line.h"
#include "qvr/requests/local_buffers.h"
#include "support/debug_capture.h"

namespace {

using namespace range_test;
using log_stores::local::ChannelKey;
using log_stores::local::ChannelToken;
using log_stores::local::LocalDataServer;
using log_stores::local::ParseChannelToken;
using qvr::local_buffers::Registration;

std::string h(const Registration& r) {
    return std::to_string(r.handle());
}

// ---- channel tokens and the selection ----

TEST(ChannelTokens, DigitsLettersAndEverythingElse) {
    struct Case {
        const char* token;
        ChannelToken::Kind kind;
        int number;
        const char* prefix;
    } cases[] = {
        {"1", ChannelToken::kNumber, 1, ""},
        {"00012", ChannelToken::kNumber, 12, ""},
        {"99999", ChannelToken::kNumber, 99999, ""},
        {"123456", ChannelToken::kNone, 0, ""},
        {"AI", ChannelToken::kPrefix, 0, "AI"},
        {"d", ChannelToken::kPrefix, 0, "d"},
        {"ABC", ChannelToken::kNone, 0, ""},
        {"A1", ChannelToken::kNone, 0, ""},
        {"", ChannelToken::kNone, 0, ""},
        {" 1", ChannelToken::kNone, 0, ""},
        {"-1", ChannelToken::kNone, 0, ""},
        {"\xC4", ChannelToken::kNone, 0, ""},
    };
    for (const Case& c : cases) {
        const ChannelToken t = ParseChannelToken(c.token);
        EXPECT_EQ(t.kind, c.kind) << c.token;
        if (c.kind == ChannelToken::kNumber) {
            EXPECT_EQ(t.number, c.number) << c.token;
        }
        if (c.kind == ChannelToken::kPrefix) {
            EXPECT_EQ(std::string(t.prefix.data(), std::strlen(c.prefix)), c.prefix);
        }
    }
}

std::string keys_text(const std::vector<ChannelKey>& keys) {
    std::string out;
    for (const ChannelKey& k : keys)
        out += std::string(k.prefix.data(), k.prefix[1] != '\0' ? 2 : 1) + std::to_string(k.number) + " ";
    return out;
}

TEST(ChannelSelection, ListOrderForTheRequestSortedAndUniqueForTheHandler) {
    LocalDataServer server;
    EXPECT_EQ(keys_text(server.SelectChannels("DI,3,1,AI,2,2,di,3")), "DI3 DI1 AI2 AI2 di3 ");
    EXPECT_EQ(keys_text(server.selection_), "AI2 DI1 DI3 ");
    // A number before any prefix names nothing; 0, an over-long or a bad token ends the group.
    const std::string long_token(100, '7');
    EXPECT_EQ(keys_text(server.SelectChannels("5,AI,1,0,6,AI,7," + long_token + ",8,ZZ,65535,65536,9")),
              "AI1 AI7 ZZ65535 ");
    EXPECT_EQ(keys_text(server.selection_), "AI1 AI2 AI7 DI1 DI3 ZZ65535 ");
    EXPECT_TRUE(server.SelectChannels("").empty());
}

// ---- a server over the stand-in logger's runs ----

class RangeTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(runs_.ok());
        server_.runs_ = runs_.run_array();
        ASSERT_EQ(server_.runs_.size(), 3u);
    }

    RangeRuns runs_;
    LocalDataServer server_;
};

TEST_F(RangeTest, SummaryOfWindowsBeforeAcrossInsideAndAfterTheRuns) {
    const std::string a = std::to_string(kStartA);
    // The logging run ends at its last record (19 x 250 ms after its start).
    const std::string c_end = std::to_string(kStartC + 4);
    struct Case {
        std::string fields;
        std::string reply;
    } cases[] = {
        {"0,0,0,0", "1," + a + "," + c_end + ",100,3,0"},
        {"0," + std::to_string(kStartA - 50) + ",3," + std::to_string(kStartA - 10), "1,0,0,0,0,0"},
        {"0," + std::to_string(kStartA + 5) + ",3," + std::to_string(kStartB + 2),
         "1," + a + "," + std::to_string(kStartB + 10) + ",28,2,0"},  // 20 of A, 8 of B
        {"0," + std::to_string(kStartA + 2) + ",3," + std::to_string(kStartA + 4),
         "1," + a + "," + std::to_string(kStartA + 10) + ",8,1,0"},
        {"0," + std::to_string(kStartA + 50) + ",3," + std::to_string(kStartA + 60), "1,0,0,0,0,0"},  // a gap
        {"0," + std::to_string(kStartC + 100) + ",1,0", "1,0,0,0,0,0"},
        {"0,0,2," + std::to_string(kStartB), "1," + a + "," + std::to_string(kStartA + 10) + ",40,1,0"},
        {"0," + std::to_string(kStartB) + ",1,0", "1," + std::to_string(kStartB) + "," + c_end + ",60,2,0"},
    };
    for (const Case& c : cases) EXPECT_EQ(server_.GetStoreSummary(c.fields), c.reply) << c.fields;
    server_.status_flags_[0] |= 1;  // the current run logs
    EXPECT_EQ(server_.GetStoreSummary("0,0,0,0"), "1," + a + "," + c_end + ",100,3,1");
}

TEST_F(RangeTest, SummaryFieldsAreCheckedAndTheSecondCollectionMustExist) {
    for (const char* fields :
         {"", "0,0,0", "0,0,0,0,0", "2,0,0,0", "-1,0,0,0", "0,x,0,0", "0,4294967296,1,0", "1,0,0,0"})
        EXPECT_EQ(server_.GetStoreSummary(fields), "-1,87") << fields;
}

// One range request's buffers, with guard bytes behind each to show nothing is written past
// what was registered.
struct RangeBuffers {
    static constexpr std::uint8_t kGuard = 0xA5;
    static constexpr std::size_t kGuardBytes = 64;
    RangeBuffers(std::size_t records, std::size_t channels, std::size_t runs, std::string list_text)
        : list(std::move(list_text)),
          record_bytes(records * 16 + kGuardBytes, kGuard),
          value_bytes(records * channels * 8 + kGuardBytes, kGuard),
          run_bytes(runs * 20 + kGuardBytes, kGuard) {}
    bool guards_intact(std::size_t records, std::size_t channels, std::size_t runs) const {
        const auto intact = [](const std::vector<std::uint8_t>& b, std::size_t used) {
            for (std::size_t i = used; i < b.size(); ++i)
                if (b[i] != kGuard) return false;
            return true;
        };
        return intact(record_bytes, records * 16) && intact(value_bytes, records * channels * 8) &&
               intact(run_bytes, runs * 20);
    }
    TimeStamp start{}, end{};
    std::string list;
    std::vector<std::uint8_t> record_bytes, value_bytes, run_bytes;

    TimeStamp record_time(std::size_t i) const {
        TimeStamp t;
        std::memcpy(&t, record_bytes.data() + i * 16 + 4, sizeof t);
        return t;
    }
    std::pair<std::uint32_t, float> sample(std::size_t record, std::size_t channels, std::size_t k) const {
        std::uint32_t flags;
        float value;
        std::memcpy(&flags, value_bytes.data() + (record * channels + k) * 8, 4);
        std::memcpy(&value, value_bytes.data() + (record * channels + k) * 8 + 4, 4);
        return {flags, value};
    }
};

// Sends a "7S" for `b`, registering what it names with the capacities given (a capacity of
// its own for each buffer where a test wants to register less than it asks).
struct RangeCall {
    int start_given = 1;
    int end_given = 1;
    std::size_t record_capacity = 0;
    std::size_t run_capacity = 0;
    std::optional<std::size_t> registered_records, registered_values, registered_runs;
    std::optional<std::int64_t> value_field;  // "8S" with this eleventh field
};

std::string send_range(LocalDataServer& server, RangeBuffers& b, const RangeCall& c, std::size_t channels) {
    const Registration start(&b.start, sizeof b.start);
    const Registration end(&b.end, sizeof b.end);
    const Registration list(b.list.data(), b.list.size() + 1);
    const Registration records(b.record_bytes.data(), c.registered_records.value_or(c.record_capacity * 16));
    const Registration values(b.value_bytes.data(),
                              c.registered_values.value_or(c.record_capacity * channels * 8));
    const Registration runs(b.run_bytes.data(), c.registered_runs.value_or(c.run_capacity * 20));
    std::string fields = std::to_string(c.start_given) + "," + h(start) + "," + std::to_string(c.end_given) +
                         "," + h(end) + "," + h(list) + "," + std::to_string(c.record_capacity) + "," +
                         h(records) + "," + h(values) + "," + h(runs) + "," + std::to_string(c.run_capacity);
    if (c.value_field) return server.ReadRecordRangeEx(fields + "," + std::to_string(*c.value_field));
    return server.ReadRecordRange(fields);
}

constexpr const char* kList = "AI,2,6,DI,3,XX,1";
constexpr std::size_t kChannels = 4;

// The expected samples of AI 2 (block 0, index 1), AI 6 (block 1, index 1), DI 3 (block 2,
// index 2) and XX 1 (held by no run) in record `index`.
void expect_samples(const RangeBuffers& b, std::size_t at, std::int64_t index) {
    const struct {
        std::size_t block;
        std::uint32_t j;
        bool digital;
    } held[] = {{0, 1, false}, {1, 1, false}, {2, 2, true}};
    for (std::size_t k = 0; k < 3; ++k) {
        const auto want = sim_logger::sample_of(held[k].block, held[k].j, index, held[k].digital);
        const auto [flags, value] = b.sample(at, kChannels, k);
        if (std::isnan(want.value)) {
            EXPECT_NE(flags & rf::kSampleBad, 0u) << "record " << index << " channel " << k;
        } else {
            EXPECT_EQ(flags, static_cast<std::uint32_t>(want.flags))
                << "record " << index << " channel " << k;
            EXPECT_EQ(value, want.value) << "record " << index << " channel " << k;
        }
    }
    EXPECT_EQ(b.sample(at, kChannels, 3).first, log_stores::local::kFlagNoValue);
}

TEST_F(RangeTest, RangeAcrossTwoRunsGivesHeadsValuesAndRunEntries) {
    RangeBuffers b(200, kChannels, 8, kList);
    b.start = {kStartA + 5, 0, 0};  // record 20 of A
    b.end = {kStartB + 2, 500, 0};  // B's records 0..9
    RangeCall c;
    c.record_capacity = 200;
    c.run_capacity = 8;
    EXPECT_EQ(send_range(server_, b, c, kChannels), "1,30,2,0");
    for (std::size_t i = 0; i < 30; ++i) {
        const std::size_t run = i < 20 ? 0 : 1;
        const std::int64_t index =
            i < 20 ? static_cast<std::int64_t>(i) + 20 : static_cast<std::int64_t>(i) - 20;
        const TimeStamp t = b.record_time(i);
        EXPECT_EQ(micros(t), micros(time_of(run, index))) << i;
        std::uint16_t marker;
        std::memcpy(&marker, b.record_bytes.data() + i * 16, 2);
        EXPECT_EQ(marker, 0x8004);
        expect_samples(b, i, index);
    }
    // {first record in the output, start, stop} per run met.
    struct Entry {
        std::int32_t first;
        TimeStamp start, stop;
    } e[2];
    std::memcpy(e, b.run_bytes.data(), sizeof e);
    EXPECT_EQ(e[0].first, 0);
    EXPECT_EQ(e[0].start.seconds, kStartA);
    EXPECT_EQ(e[0].stop.seconds, kStartA + 10);
    EXPECT_EQ(e[1].first, 20);
    EXPECT_EQ(e[1].start.seconds, kStartB);
    EXPECT_TRUE(b.guards_intact(30, kChannels, 2));
    // The window as given stays.
    EXPECT_EQ(b.start.seconds, kStartA + 5);
    EXPECT_EQ(b.end.seconds, kStartB + 2);
    EXPECT_EQ(b.end.milliseconds, 500);
}

TEST_F(RangeTest, BoundsNotGivenAreTheRunsFirstStartAndLastEndPlusASecondWrittenBack) {
    RangeBuffers b(200, kChannels, 8, kList);
    b.start = {1, 2, 3};
    b.end = {4, 5, 6};
    RangeCall c;
    c.start_given = 0;
    c.end_given = 0;
    c.record_capacity = 200;
    c.run_capacity = 8;
    EXPECT_EQ(send_range(server_, b, c, kChannels), "1,100,3,0");
    EXPECT_EQ(micros(b.start), micros(TimeStamp{kStartA, 0, 0}));
    EXPECT_EQ(micros(b.end), micros(time_of(2, kRecordsC - 1)) + 1'000'000u);
    EXPECT_EQ(micros(b.record_time(99)), micros(time_of(2, kRecordsC - 1)));
}

TEST_F(RangeTest, WindowsBeforeInAGapAndAfterTheRunsAreEmpty) {
    for (const auto& [from, to] :
         {std::pair{kStartA - 100, kStartA - 1}, std::pair{kStartA + 20, kStartB - 1},
          std::pair{kStartC + 5, kStartC + 100}, std::pair{kStartB + 5, kStartB + 5}}) {
        RangeBuffers b(10, kChannels, 2, kList);
        b.start = {from, 0, 0};
        b.end = {to, 0, 0};
        RangeCall c;
        c.record_capacity = 10;
        c.run_capacity = 2;
        EXPECT_EQ(send_range(server_, b, c, kChannels), "1,0,0,0") << from;
        EXPECT_TRUE(b.guards_intact(0, kChannels, 0));
    }
}

// A caller whose buffer came back full asks again from the last record's time plus 1 us: it
// gets every record of the window exactly once, each under the run it belongs to.
TEST_F(RangeTest, FullBuffersContinueFromTheLastTimeWithNothingLostOrDoubled) {
    for (const std::size_t run_capacity : {std::size_t{0}, std::size_t{1}, std::size_t{2}}) {
        std::vector<std::uint64_t> got;
        std::vector<std::pair<std::uint64_t, std::int32_t>> run_starts;  // (record time, run start)
        TimeStamp from{kStartA - 1, 0, 0};
        for (int round = 0; round < 100; ++round) {
            RangeBuffers b(7, kChannels, run_capacity, kList);
            b.start = from;
            b.end = {kStartC + 100, 0, 0};
            RangeCall c;
            c.record_capacity = 7;
            c.run_capacity = run_capacity;
            const std::string reply = send_range(server_, b, c, kChannels);
            unsigned records = 0, entries = 0;
            int last = 0;
            ASSERT_EQ(std::sscanf(reply.c_str(), "1,%u,%u,%d", &records, &entries, &last), 3) << reply;
            ASSERT_TRUE(b.guards_intact(records, kChannels, entries));
            for (unsigned e = 0; e < entries; ++e) {
                std::int32_t first;
                TimeStamp start;
                std::memcpy(&first, b.run_bytes.data() + e * 20, 4);
                std::memcpy(&start, b.run_bytes.data() + e * 20 + 4, 8);
                ASSERT_LT(static_cast<unsigned>(first), records);
                // A run that goes on from the previous request is announced again at the
                // request's first record; it must be the run that record belongs to.
                const std::uint64_t t = micros(b.record_time(static_cast<std::size_t>(first)));
                ASSERT_GE(t, micros(start));
                ASSERT_LT(t, micros(start) + 20'000'000u);
                if (run_starts.empty() || run_starts.back().second != start.seconds)
                    run_starts.emplace_back(t, start.seconds);
            }
            for (unsigned i = 0; i < records; ++i) got.push_back(micros(b.record_time(i)));
            const bool full = records == 7 || (run_capacity > 0 && entries == run_capacity);
            if (!full) break;
            ASSERT_GT(records, 0u);
            from = log_stores::local::ranges::stamp_of(got.back() + 1);
        }
        std::vector<std::uint64_t> want;
        for (std::size_t run = 0; run < kRuns.size(); ++run)
            for (int i = 0; i < kRuns[run].records; ++i) want.push_back(micros(time_of(run, i)));
        EXPECT_EQ(got, want) << "run capacity " << run_capacity;
        if (run_capacity > 0) {
            // Every run is first announced at its first record.
            std::vector<std::pair<std::uint64_t, std::int32_t>> expected;
            for (std::size_t run = 0; run < kRuns.size(); ++run)
                expected.emplace_back(micros(time_of(run, 0)), kRuns[run].start);
            EXPECT_EQ(run_starts, expected) << "run capacity " << run_capacity;
        }
    }
}

TEST_F(RangeTest, EveryHandleThatIsNotLiveIsAnsweredWith87AndNothingIsWritten) {
    RangeBuffers b(10, kChannels, 2, kList);
    b.start = {kStartA, 0, 0};
    b.end = {kStartC + 100, 0, 0};
    const Registration start(&b.start, sizeof b.start);
    const Registration end(&b.end, sizeof b.end);
    const Registration list(b.list.data(), b.list.size() + 1);
    const Registration records(b.record_bytes.data(), 160);
    const Registration values(b.value_bytes.data(), 320);
    const Registration runs(b.run_bytes.data(), 40);
    std::int64_t ended = 0;
    {
        const Registration gone(b.record_bytes.data(), 160);
        ended = gone.handle();
    }
    const std::vector<std::string> good = {"1",  h(start),   "1",       h(end),  h(list),
                                           "10", h(records), h(values), h(runs), "2"};
    for (const std::size_t field : {1u, 3u, 4u, 6u, 7u, 8u}) {
        for (const std::int64_t bad : {ended, std::int64_t{0x7FFFFFFFFFFF}, std::int64_t{-5}}) {
            std::vector<std::string> f = good;
            f[field] = std::to_string(bad);
            std::string fields;
            for (const auto& x : f) fields += (fields.empty() ? "" : ",") + x;
            EXPECT_EQ(server_.ReadRecordRange(fields), "-1,87") << fields;
            EXPECT_EQ(server_.ReadRecordRangeEx(fields + ",320"), "-1,87") << fields;
        }
    }
    EXPECT_TRUE(b.guards_intact(0, kChannels, 0));
    EXPECT_EQ(b.start.seconds, kStartA);
    // Handle 0 names no buffer: allowed only where nothing would be written there.
    std::vector<std::string> f = good;
    f[4] = "0";  // no channels
    f[7] = "0";  // so no values
    f[8] = "0";
    f[9] = "0";  // and no run entries
    std::string fields;
    for (const auto& x : f) fields += (fields.empty() ? "" : ",") + x;
    EXPECT_EQ(server_.ReadRecordRange(fields), "1,10,0,0");
    f[1] = "0";
    fields.clear();
    for (const auto& x : f) fields += (fields.empty() ? "" : ",") + x;
    EXPECT_EQ(server_.ReadRecordRange(fields), "-1,87") << "the start stamp is written back";
    // No buffer where records, values or run entries are asked for.
    for (const std::size_t field : {6u, 7u, 8u}) {
        std::vector<std::string> g = good;
        g[field] = "0";
        std::string text;
        for (const auto& x : g) text += (text.empty() ? "" : ",") + x;
        EXPECT_EQ(server_.ReadRecordRange(text), "-1,87") << text;
    }
}

TEST_F(RangeTest, MalformedFieldsAreRefused) {
    for (const char* fields :
         {"", "1,2,3", "1,2,3,4,5,6,7,8,9,10,11", "1,2,3,4,5,x,7,8,9,10", "1,2,3,4,5,-1,7,8,9,10",
          "1,2,3,4,5,6,7,8,9,-1", "1,2,3,4,5,99999999999999999999,7,8,9,10"})
        EXPECT_EQ(server_.ReadRecordRange(fields), "-1,87") << fields;
    EXPECT_EQ(server_.ReadRecordRangeEx("1,2,3,4,5,6,7,8,9,10"), "-1,87");
}

// A request that names more than it registered gets whole entries within what it registered.
TEST_F(RangeTest, CapacitiesBeyondTheRegisteredBuffersGiveWholeEntriesOnly) {
    struct Case {
        const char* what;
        RangeCall call;
        std::string reply;
        std::size_t records, runs;
    };
    const auto call = [](std::size_t recs, std::size_t runs) {
        RangeCall c;
        c.record_capacity = recs;
        c.run_capacity = runs;
        return c;
    };
    std::vector<Case> cases;
    {
        Case c{"record buffer of 5.5 heads", call(50, 4), "1,5,1,0", 5, 1};
        c.call.registered_records = 5 * 16 + 8;
        cases.push_back(c);
    }
    {
        Case c{"value buffer of 3 records and a half", call(50, 4), "1,3,1,0", 3, 1};
        c.call.registered_values = 3 * kChannels * 8 + 20;
        cases.push_back(c);
    }
    {
        Case c{"8S value capacity below what was registered", call(50, 4), "1,2,1,0", 2, 1};
        c.call.value_field = 2 * kChannels * 8 + 31;
        cases.push_back(c);
    }
    {
        Case c{"8S value capacity above what was registered", call(50, 4), "1,4,1,0", 4, 1};
        c.call.registered_values = 4 * kChannels * 8;
        c.call.value_field = 1'000'000;
        cases.push_back(c);
    }
    {
        Case c{"run buffer of half an entry", call(50, 4), "1,40,0,0", 40, 0};
        c.call.registered_runs = 10;
        cases.push_back(c);
    }
    for (const Case& c : cases) {
        RangeBuffers b(50, kChannels, 4, kList);
        b.start = {kStartA, 0, 0};
        b.end = {kStartA + 10, 0, 0};
        EXPECT_EQ(send_range(server_, b, c.call, kChannels), c.reply) << c.what;
        EXPECT_TRUE(b.guards_intact(c.records, kChannels, c.runs)) << c.what;
    }
    // Records are asked for but not one fits the value buffer: an error, not an empty range.
    RangeBuffers b(50, kChannels, 4, kList);
    b.start = {kStartA, 0, 0};
    b.end = {kStartA + 10, 0, 0};
    RangeCall c = call(50, 4);
    c.value_field = 31;
    EXPECT_EQ(send_range(server_, b, c, kChannels), "-1,122");
    EXPECT_TRUE(b.guards_intact(0, kChannels, 0));
}

TEST(RangeNoRuns, HistoryRequestsWithoutRunsGetNoReplyAndADebugLine) {
    qvr_test::DebugCapture capture;
    LocalDataServer server;
    EXPECT_EQ(server.GetStoreSummary("0,0,0,0"), "");
    RangeBuffers b(4, 1, 1, "AI,1");
    RangeCall c;
    c.record_capacity = 4;
    c.run_capacity = 1;
    EXPECT_EQ(send_range(server, b, c, 1), "");
    EXPECT_EQ(capture.lines("No RT Records GraphFiltered for 0:d\r\n").size(), 2u);
    EXPECT_TRUE(b.guards_intact(0, 1, 0));
}

// A run in memory whose samples carry flag 0x40, as a writer may leave it.
class FlaggedStore : public log_stores::CLogStore {
  public:
    explicit FlaggedStore(const log_stores::LogHeader& h) : header_(h) {}
    int ReadHeader(log_stores::LogHeader& h) override {
        h = header_;
        return 0;
    }
    int ReadLogs(std::int32_t first, const log_stores::LogHeader& h, std::uint8_t* out, std::int32_t count,
                 std::int32_t, const char*, std::int32_t) override {
        for (std::int32_t i = 0; i < count; ++i) {
            const std::span<std::uint8_t> r(out + static_cast<std::size_t>(i) * h.recordSize,
                                            static_cast<std::size_t>(h.recordSize));
            rf::RecordHead head;
            head.time = {h.start.seconds + first + i, 0, 0};
            rf::encode_record_head(head, r);
            rf::write_sample(r, h.blocks[0], 0, {static_cast<std::int32_t>(0x80 | 0x40), 1.5f});
        }
        return count;
    }
    int ReadLog(std::int32_t, const log_stores::LogHeader&, std::uint8_t*, std::int32_t, std::int32_t,
                std::int32_t, const char*, std::int32_t, bool) override {
        return -1;
    }
    int GetNoLogs(const log_stores::LogHeader&) override { return 3; }

  private:
    log_stores::LogHeader header_;
};

TEST(RangeFlags, FlagClearedIsNeverHandedOut) {
    log_stores::LogHeader header = sim_logger::make_header({{"AI", 1, 1, false, {}}}, kStartA);
    LocalDataServer server;
    log_stores::local::RunEntry run;
    run.header = header;
    run.start = {kStartA, 0, 0};
    run.stop = {kStartA + 5, 0, 0};
    for (int i = 0; i < 3; ++i) run.times.push_back({kStartA + i, 0, 0});
    run.records = 3;
    run.store = std::make_unique<FlaggedStore>(header);
    server.runs_.push_back(std::move(run));
    RangeBuffers b(3, 1, 0, "AI,1");
    b.start = {kStartA, 0, 0};
    b.end = {kStartA + 5, 0, 0};
    RangeCall c;
    c.record_capacity = 3;
    ASSERT_EQ(send_range(server, b, c, 1), "1,3,0,0");
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(b.sample(i, 1, 0).first, 0x80u) << i;
        EXPECT_EQ(b.sample(i, 1, 0).second, 1.5f) << i;
    }
}

// ---- sections ----

class SectionTest : public RangeTest {
  protected:
    std::string section(const std::string& name, std::size_t capacity, std::string* reply = nullptr) {
        std::vector<char> buffer(capacity + 16, '#');
        const Registration r(buffer.data(), capacity);
        const std::string answer = server_.GetSectionText(name + "," + h(r) + "," + std::to_string(capacity));
        if (reply != nullptr) *reply = answer;
        for (std::size_t i = capacity; i < buffer.size(); ++i)
            if (buffer[i] != '#') ADD_FAILURE() << "written past the capacity: " << name;
        unsigned used = 0;
        if (std::sscanf(answer.c_str(), "1,%u", &used) != 1) return "<" + answer + ">";
        EXPECT_LT(used, capacity);
        EXPECT_EQ(buffer[used], '\0');
        return std::string(buffer.data(), used);
    }
};

TEST_F(SectionTest, HeaderIsTheCurrentRunsHeaderInWholeLines) {
    server_.collections_[0].emplace();
    auto runs = runs_.run_array();
    server_.collections_[0]->current.store = std::move(runs.back().store);
    ASSERT_TRUE(server_.collections_[0]->current.store);
    server_.collections_[0]->current.header_text = "[HEADER]\r\nLine one\r\nLine two\r\n";
    EXPECT_EQ(section("HEADER", 100), "[HEADER]\r\nLine one\r\nLine two\r\n");
    EXPECT_EQ(section("header", 100), "[HEADER]\r\nLine one\r\nLine two\r\n");
    // "[HEADER]\r\nLine one\r\n" is 20 bytes; with its NUL it needs 21.
    EXPECT_EQ(section("HEADER", 21), "[HEADER]\r\nLine one\r\n");
    EXPECT_EQ(section("HEADER", 20), "[HEADER]\r\n");
    EXPECT_EQ(section("HEADER", 5), "");
}

TEST_F(SectionTest, TextOfEveryRunMergedWithTheEventsFileInTimeOrder) {
    // Events of the runs (their companions write the date first), and of the data folder's
    // events file (time first), interleaved in time.
    using log_stores::text_files::EventLineForm;
    using log_stores::text_files::format_event_line;
    ASSERT_EQ(runs_.logger().add_event({kStartC + 3, 0, 0}, "run C event"), 0);
    server_.runs_ = runs_.run_array();
    server_.events_text_ =
        format_event_line({kStartC + 1, 0, 0}, "folder event 1", EventLineForm::TimeFirst) + "\r\n" +
        format_event_line({kStartC + 5, 0, 0}, "folder event 2", EventLineForm::TimeFirst) + "\r\n";
    const std::string text = section("TEXT", 4096);
    const auto at = [&](const char* needle) { return text.find(needle); };
    ASSERT_NE(at("run C event"), std::string::npos) << text;
    ASSERT_NE(at("folder event 1"), std::string::npos) << text;
    ASSERT_NE(at("folder event 2"), std::string::npos) << text;
    EXPECT_LT(at("folder event 1"), at("run C event"));
    EXPECT_LT(at("run C event"), at("folder event 2"));
    // Whole lines only: cut just before the last line's CR LF, the line is left out.
    const std::size_t last_line = text.rfind("\r\n", text.size() - 3) + 2;
    EXPECT_EQ(section("TEXT", text.size()), text.substr(0, last_line));
}

TEST_F(SectionTest, NamesMissingOrTooLongAndUnknownHandles) {
    std::string reply;
    section("", 10, &reply);
    EXPECT_EQ(reply, "-1,0");
    section(std::string(100, 'S'), 10, &reply);
    EXPECT_EQ(reply, "-1,0");
    EXPECT_EQ(section(std::string(99, 'S'), 10), "") << "a section no run has";
    EXPECT_EQ(server_.GetSectionText("TEXT"), "-1,0");
    EXPECT_EQ(server_.GetSectionText("TEXT,5"), "-1,0");
    EXPECT_EQ(server_.GetSectionText("TEXT,123456789,10"), "-1,87");
    EXPECT_EQ(server_.GetSectionText("TEXT,0,10"), "-1,87");
    std::vector<char> buffer(10);
    const Registration r(buffer.data(), buffer.size());
    EXPECT_EQ(server_.GetSectionText("TEXT," + h(r) + ",-1"), "-1,87");
    EXPECT_EQ(server_.GetSectionText("TEXT," + h(r) + ",x"), "-1,87");
}

}  // namespace
