// What a store knows of what it appended: how many rows of a batch's latest time the table held
// before it, whether an unanswered batch is in by the rows of that time now, and which records
// of a failed call are not sent again.
#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "log_stores/db_schema/append_ledger.h"

namespace {

using log_stores::db_schema::AppendLedger;
using log_stores::db_schema::Batch;
using log_stores::db_schema::Tail;
using log_stores::db_schema::TimeKey;

std::vector<TimeKey> keys(std::initializer_list<std::int64_t> seconds) {
    std::vector<TimeKey> out;
    for (const auto s : seconds) out.push_back({s, 0});
    return out;
}

TEST(AppendLedger, RowsBeforeABatchComeFromTheTailOrFromTheTable) {
    AppendLedger ledger;
    ledger.start(Tail{{10, 0}, 2});
    int asked = 0;
    const auto count_at = [&](TimeKey) -> std::optional<std::int64_t> {
        ++asked;
        return 7;
    };
    const struct {
        std::vector<TimeKey> keys;
        std::int64_t before;
        std::int64_t latest_in_batch;
        int asked;
    } cases[] = {
        {keys({11, 12, 12}), 0, 2, 0},  // newer than the table's end
        {keys({10, 10}), 2, 2, 0},      // at the table's latest time
        {keys({5, 9}), 7, 1, 1},        // older: only the table can tell
    };
    for (const auto& c : cases) {
        asked = 0;
        const auto b = ledger.batch(c.keys, 0, count_at);
        ASSERT_TRUE(b);
        EXPECT_EQ(b->rowsBefore, c.before);
        EXPECT_EQ(b->latestInBatch, c.latest_in_batch);
        EXPECT_EQ(asked, c.asked);
    }
    EXPECT_FALSE(ledger.batch(keys({1}), 0, [](TimeKey) { return std::optional<std::int64_t>{}; }));
}

TEST(AppendLedger, AnUnansweredBatchIsInWhenItsLatestTimeHasItsRows) {
    AppendLedger ledger;
    ledger.start(Tail{{10, 0}, 1});
    const auto none = [](TimeKey) { return std::optional<std::int64_t>{}; };
    const auto b = ledger.batch(keys({10, 10, 10}), 0, none);
    ASSERT_TRUE(b);
    EXPECT_EQ(AppendLedger::outcome(*b, 4), AppendLedger::Outcome::stored);
    EXPECT_EQ(AppendLedger::outcome(*b, 1), AppendLedger::Outcome::not_stored);
    EXPECT_EQ(AppendLedger::outcome(*b, 2), AppendLedger::Outcome::unknown);
    // Stored: the tail moves on, so the next batch at that time counts these rows.
    ledger.stored(*b);
    EXPECT_EQ(ledger.batch(keys({10}), 0, none)->rowsBefore, 4);
    EXPECT_EQ(ledger.batch(keys({11}), 0, none)->rowsBefore, 0);
}

TEST(AppendLedger, AFailedCallsStoredRecordsAreSkippedWhenHandedInAgain) {
    std::vector<std::vector<std::uint8_t>> records{{1, 2}, {3, 4}, {5, 6}, {7, 8}};
    const auto record = [&](std::size_t i) { return std::span<const std::uint8_t>(records[i]); };
    const auto none = [](TimeKey) { return std::optional<std::int64_t>{}; };
    for (const auto outcome : {AppendLedger::Outcome::stored, AppendLedger::Outcome::not_stored}) {
        AppendLedger ledger;
        ledger.start(std::nullopt);
        EXPECT_EQ(ledger.begin_call(4, record), 0u);
        // Two records in, the third's commit unanswered.
        const auto first = ledger.batch(keys({1, 2}), 0, none);
        ledger.stored(*first);
        const auto third = ledger.batch(keys({3}), 2, none);
        ledger.end_call(2, record, third);
        ASSERT_TRUE(ledger.pending());
        EXPECT_EQ(ledger.resolve_pending(outcome == AppendLedger::Outcome::stored ? 1 : 0), outcome);
        EXPECT_FALSE(ledger.pending());
        // The same records again: what is in is not sent twice.
        EXPECT_EQ(ledger.begin_call(4, record), outcome == AppendLedger::Outcome::stored ? 3u : 2u);
        ledger.end_call(4, nullptr, std::nullopt);
        // Other records: nothing skipped.
        EXPECT_EQ(ledger.begin_call(4, record), 0u);
    }
    // Records that differ from the failed call's are written whole.
    AppendLedger ledger;
    ledger.start(std::nullopt);
    ledger.begin_call(4, record);
    ledger.end_call(2, record, std::nullopt);
    records[0][0] = 9;
    EXPECT_EQ(ledger.begin_call(4, record), 0u);
}

TEST(AppendLedger, AnUnresolvablePendingBatchStaysPending) {
    AppendLedger ledger;
    ledger.start(std::nullopt);
    std::vector<std::uint8_t> r{1};
    const auto record = [&](std::size_t) { return std::span<const std::uint8_t>(r); };
    const auto b = ledger.batch(keys({5, 5}), 0, [](TimeKey) { return std::optional<std::int64_t>{}; });
    ledger.end_call(0, record, b);
    EXPECT_EQ(ledger.resolve_pending(1), AppendLedger::Outcome::unknown);
    EXPECT_TRUE(ledger.pending());
}

}  // namespace
