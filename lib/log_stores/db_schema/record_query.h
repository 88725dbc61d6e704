#pragma once
// Reading a run's records in one order that every query repeats: DT, MS and, inside one
// (DT, MS), every other column. The database orders by (DT, MS) alone, which the TM index
// serves at any run size; a page ends on a whole (DT, MS) group, and the reader orders each
// group by its other columns (order_group). Texts are UTF-8.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ado/dialect.h"
#include "platform/ado/variant.h"
#include "qvr/time/timestamp.h"

namespace log_stores::db_schema {

// A query with an optional row limit, in the engine's form: "SELECT TOP n <columns> FROM ..."
// or "SELECT <columns> FROM ... LIMIT n". `rest` follows the table (conditions, ORDER BY).
std::string limited_select(const ado::Dialect& dialect, std::string_view columns, std::string_view table,
                           std::string_view rest, std::optional<int> limit);

// A record's place in the order: its DT seconds and MS.
struct RecordKey {
    std::int32_t seconds = 0;
    std::int32_t milliseconds = 0;
    friend bool operator==(const RecordKey&, const RecordKey&) = default;
};

struct PageRequest {
    std::string_view prefix;         // the run's table prefix
    std::string_view columns = "*";  // the select list (column prefix text included)
    std::optional<RecordKey> after;  // rows after this key (before it when descending)
    int limit = 0;                   // rows per page; 0 for no limit
    bool descending = false;
};

// "SELECT <columns> FROM <prefix>DATA" with the rows after the key in the range condition's
// form (literals of `kind`), ordered by DT and MS, limited.
std::string page_query(const ado::Dialect& dialect, int kind, const PageRequest& request);
// Every row of one (DT, MS) group.
std::string group_query(const ado::Dialect& dialect, int kind, std::string_view prefix,
                        std::string_view columns, RecordKey key);
// The key of the latest record: one row, newest first.
std::string latest_key_query(const ado::Dialect& dialect, std::string_view prefix);
// The key of the oldest record.
std::string first_key_query(const ado::Dialect& dialect, std::string_view prefix);
// "SELECT COUNT(*), <rows at or after split>" over the rows at or after `from` (every row
// without it; 0 for the second without `split`), literals of `kind`.
std::string count_from_query(const ado::Dialect& dialect, int kind, std::string_view prefix,
                             std::optional<RecordKey> from, std::optional<RecordKey> split);

// How much of a fetched page the reader keeps: the rows before the last (DT, MS) group when
// the page was full (that group may go on past it), every row when it was not. A full page of
// one group keeps nothing and asks for that group whole.
struct PageCut {
    std::size_t keep = 0;
    bool whole_group = false;
};
PageCut cut_page(std::span<const RecordKey> keys, std::size_t limit);

// Orders the rows of one (DT, MS) group by their columns from `first_column` on, left to
// right: NULL first, then numbers by value, dates, texts; the same rows always come out in
// the same order. `descending` gives the reverse.
void order_group(std::vector<std::vector<ado::Variant>>& rows, std::size_t first_column, bool descending);
// The comparison order_group uses: negative, 0 or positive.
int compare_values(const ado::Variant& a, const ado::Variant& b);

}  // namespace log_stores::db_schema
