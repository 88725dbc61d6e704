// Counting a run's rows without counting them all each time, over a table of times held here:
// after the first count only the rows from the latest time counted are asked for, and every
// row again when the oldest ones change.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "log_stores/db_schema/row_count.h"

namespace {

using log_stores::db_schema::CountQueries;
using log_stores::db_schema::RowCount;
using log_stores::db_schema::TimeKey;

struct Table {
    std::vector<TimeKey> rows;  // in the order written
    std::size_t lastCounted = 0;  // rows the last count statement looked at
    bool failing = false;

    CountQueries queries() {
        CountQueries q;
        q.first = [this]() -> std::optional<std::optional<TimeKey>> {
            if (failing) return std::nullopt;
            if (rows.empty()) return std::optional<TimeKey>{};
            return *std::min_element(rows.begin(), rows.end());
        };
        q.last = [this]() -> std::optional<std::optional<TimeKey>> {
            if (failing) return std::nullopt;
            if (rows.empty()) return std::optional<TimeKey>{};
            return *std::max_element(rows.begin(), rows.end());
        };
        q.count = [this](std::optional<TimeKey> from,
                         std::optional<TimeKey> split) -> std::optional<std::pair<std::int64_t, std::int64_t>> {
            if (failing) return std::nullopt;
            std::int64_t n = 0, m = 0;
            lastCounted = 0;
            for (const TimeKey& k : rows) {
                if (from && k < *from) continue;
                ++lastCounted;
                ++n;
                if (split && !(k < *split)) ++m;
            }
            return std::pair{n, m};
        };
        return q;
    }
    void add(std::int64_t seconds, int times = 1) {
        for (int i = 0; i < times; ++i) rows.push_back({seconds, 0});
    }
};

TEST(RowCount, GrowingRunsAreCountedFromTheLatestTimeOn) {
    Table t;
    RowCount count;
    EXPECT_EQ(count.rows(t.queries()), 0);
    t.add(1);
    EXPECT_EQ(count.rows(t.queries()), 1) << "the first rows after an empty table";
    for (std::int64_t s = 2; s <= 1000; ++s) t.add(s);
    EXPECT_EQ(count.rows(t.queries()), 1000);
    EXPECT_EQ(count.rows(t.queries()), 1000);
    EXPECT_LE(t.lastCounted, 1u) << "only the rows from the latest time counted";
    // More rows at the latest time and after it.
    t.add(1000, 3);
    t.add(1001, 2);
    EXPECT_EQ(count.rows(t.queries()), 1005);
    EXPECT_LE(t.lastCounted, 6u);
    t.add(1001);
    EXPECT_EQ(count.rows(t.queries()), 1006);
}

TEST(RowCount, APurgeOfTheOldestRowsOrAForgetCountsEveryRowAgain) {
    Table t;
    RowCount count;
    for (std::int64_t s = 1; s <= 100; ++s) t.add(s);
    EXPECT_EQ(count.rows(t.queries()), 100);
    t.rows.erase(t.rows.begin(), t.rows.begin() + 10);
    EXPECT_EQ(count.rows(t.queries()), 90);
    EXPECT_EQ(t.lastCounted, 90u);
    count.forget();
    EXPECT_EQ(count.rows(t.queries()), 90);
    EXPECT_EQ(t.lastCounted, 90u);
    t.failing = true;
    EXPECT_FALSE(count.rows(t.queries()));
    t.failing = false;
    t.rows.clear();
    EXPECT_EQ(count.rows(t.queries()), 0);
}

}  // namespace
