#pragma once
// The rows of a run's DATA table without counting them all each time. Counting every row costs
// in proportion to the run (a third of a second at a million rows on MariaDB), and readers
// count between blocks. After one full count a store counts only the rows from the latest time
// it saw then on, which the (DT, MS) index finds at once, and counts all again when the oldest
// rows changed (a purge deletes from the start) or when it deleted rows itself. Runs grow at
// their end: a record written later with a time before the latest one counted is not seen.
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

#include "log_stores/db_schema/append_ledger.h"

namespace log_stores::db_schema {

// The queries a count is made of; each gives nothing when it fails.
struct CountQueries {
    // The oldest and the latest time (nothing inside: no rows).
    std::function<std::optional<std::optional<TimeKey>>()> first;
    std::function<std::optional<std::optional<TimeKey>>()> last;
    // In one statement: the rows at or after `from` (every row without it), and of those the
    // rows at or after `split` (none without it).
    std::function<std::optional<std::pair<std::int64_t, std::int64_t>>(std::optional<TimeKey> from,
                                                                        std::optional<TimeKey> split)>
        count;
};

class RowCount {
  public:
    // The rows now; nothing when a query fails.
    std::optional<std::int64_t> rows(const CountQueries& queries);
    // The next count counts every row.
    void forget() { mark_.reset(); }

  private:
    // What a count found: the rows, the oldest and the latest time, and the rows at or after
    // that latest time (from the same statement as the rows).
    struct Mark {
        std::int64_t total = 0;
        std::optional<TimeKey> first;
        std::optional<TimeKey> last;
        std::int64_t fromLast = 0;
    };
    std::optional<Mark> mark_;
};

}  // namespace log_stores::db_schema
