#pragma once
// What a database store keeps between calls, shared by its source files.
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "log_stores/db_schema/append_ledger.h"
#include "log_stores/db_schema/data_columns.h"
#include "log_stores/db_schema/date_literal.h"
#include "log_stores/db_schema/record_query.h"
#include "log_stores/db_schema/row_count.h"
#include "log_stores/db_store/db_store.h"
#include "log_stores/db_access/log_db_data_acc.h"
#include "platform/ado/variant.h"

namespace log_stores {

inline constexpr std::size_t kDbErrorContextSize = 31;

// Rows of DATA in the one order every read repeats, a page at a time, with the start of
// every page read, so that a read behind the current page restarts from the nearest start.
struct RecordPages {
    std::string columns;  // the select list the pages were read with
    bool descending = false;
    std::int32_t first = 0;  // index of rows[0]
    std::vector<std::vector<ado::Variant>> rows;
    bool complete = false;  // rows reach the end of the run
    // Page start index -> the key of the row before it (none for index 0).
    std::map<std::int32_t, std::optional<db_schema::RecordKey>> starts;

    bool serves(std::string_view cols, bool desc) const { return !starts.empty() && columns == cols && descending == desc; }
    void forget() {
        starts.clear();
        rows.clear();
        complete = false;
        first = 0;
    }
};

enum class PageRead { ok, failed, not_a_date };

struct CLogDbStore::State {
    CLogDbDataAcc main;
    CLogDbDataAcc logging;
    bool loggingOpen = false;
    bool mainOpened = false;  // the main connection was made for this run: it may be made again
    std::string connection;  // 8-bit texts, as handed in
    std::string logger;
    std::string prefix;
    std::int32_t sequence = 0;
    std::uint32_t access = 0;
    db_schema::LiteralKinds kinds = db_schema::LiteralKinds::for_connection("");
    bool digitalText = false;
    db_schema::ChannelLookup lookup;
    // Which channel columns of DATA were made for digital channels, from the CHANNELS rows, so
    // that a value always fits its column whatever the configurations say now.
    std::map<std::pair<std::size_t, std::uint16_t>, bool> digitalColumns;
    char errorText[kErrorTextSize] = {};
    char errorContext[kDbErrorContextSize] = {};
    RecordPages pages;
    // Set once the store is meant to log: a logging connection that was lost is opened again
    // by the next WriteLogs.
    bool loggingWanted = false;
    // What the store has stored, so that a lost connection never stores a record twice.
    db_schema::AppendLedger ledger;
    // The server's id of the logging session that last held the run's writer lock (MariaDB).
    std::optional<std::int64_t> writerSession;
    // The rows of DATA as last counted.
    db_schema::RowCount rowCount;
    // Statements that read DATA rows for the record reads (a test hook counts them).
    std::uint64_t recordQueries = 0;

    // Keeps the accessor's error description and the context; -1.
    int fail(CLogDbDataAcc& acc, const char* context);
    // Only the context (the text stays as it was); -1.
    int fail_context(const char* context);
    void set_context(const char* context);

    ado::Dialect dialect() { return main.ConnectionDialect(); }
    // UTF-8 forms for statements.
    std::string logger_utf8() const;
    std::string prefix_utf8() const;
    std::string data_table();
    std::string run_row(std::string_view columns);
    int lock_for_writes() const;
    // The caller's columns ahead of `rest`; a star after other columns is qualified with the
    // table, the form every engine reads.
    std::string select_list(const char* columnPrefix, std::string_view rest);
    // Sets a column of the current row only when the value differs from the stored one: an
    // update that changes nothing counts as no row updated on some servers.
    bool put_changed(CLogDbDataAcc& acc, std::int32_t field, const ado::Variant& value, bool& changed);

    // Opens a query on `acc` (static cursor, adCmdUnknown).
    bool query(CLogDbDataAcc& acc, const std::string& sql, int lockType);
    // A statement with a time literal, tried with the literal kinds as the schema rules say;
    // true once one kind was accepted.
    bool query_with_kinds(CLogDbDataAcc& acc, const std::function<std::string(int kind)>& build, int lockType);
    // One count query: the count, 0 without a row, nothing on failure.
    std::optional<std::int64_t> count_of(const std::string& sql);
    // Every column of every row of the open recordset on `acc`.
    bool fetch_rows(CLogDbDataAcc& acc, std::vector<std::vector<ado::Variant>>& rows);
    bool at_end(CLogDbDataAcc& acc);

    // One page of the record reader after `after`, cut on a whole (DT, MS) group, each group
    // in its one order; `complete` when it reaches the end of the run.
    PageRead read_page(const std::string& columns, bool descending, std::size_t extra,
                       const std::optional<db_schema::RecordKey>& after, int limit,
                       std::vector<std::vector<ado::Variant>>& page, bool& complete);
    // The row at `index` of the order, reading pages from the nearest kept start; null past the end.
    PageRead row_at(RecordPages& pages, const std::string& columns, bool descending, std::size_t extra,
                    std::int32_t index, int pageRows, const std::vector<ado::Variant>*& row);

    // The rows of DATA with that DT and MS; nothing when the count fails.
    std::optional<std::int64_t> rows_with_key(db_schema::RecordKey key);
    // The latest time of DATA and its rows (nothing inside: no rows); nothing on failure.
    std::optional<std::optional<db_schema::Tail>> read_tail();
    // The oldest or the latest time of DATA (nothing inside: no rows); nothing on failure.
    std::optional<std::optional<db_schema::RecordKey>> end_key(bool latest);
    // The queries RowCount counts DATA with.
    db_schema::CountQueries count_queries();

    // MariaDB: the logging session takes the run's writer lock (see writer_lock.h); false with
    // the texts set when it cannot.
    bool claim_writer();
    // One batch of records as one transaction on the logging connection.
    enum class Sent { ok, not_stored, unanswered, bad_record };
    Sent send_batch(const LogHeader& header, std::span<const std::uint8_t> records, std::size_t count);

    bool read_digital_text_switch();
    void learn_digital_columns();
    // The configurations the DATA rows are written with: the caller's, made to agree with the
    // kind of each channel's column.
    const qvr::ChannelRecord* writing_config(std::size_t block, std::uint16_t channel) const;
    int stamp_text_time();
};

// The seconds of a value read from a date column, also when the driver hands the date as text.
std::optional<std::int32_t> seconds_of_value(const ado::Variant& value);

}  // namespace log_stores
