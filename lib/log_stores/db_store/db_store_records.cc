// The DATA rows of a run: appending records, rewriting them, and reading them back by index
// and by time in the one order every query repeats.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "log_stores/db_schema/data_row.h"
#include "log_stores/db_schema/sql_text.h"
#include "log_stores/db_store/db_store.h"
#include "log_stores/db_store/db_store_state.h"
#include "log_stores/db_store/db_store_testing.h"
#include "log_stores/db_store/record_from_row.h"
#include "log_stores/run_file/run_file_format.h"
#include "platform/ado/recordset.h"
#include "platform/ado/text_codec.h"
#include "platform/last_error.h"

namespace log_stores {
namespace {

using Rows = std::vector<std::vector<ado::Variant>>;

// Rows per page of the record reader: one query serves this many sequential reads.
constexpr int kPageRows = 1000;
// Records written as one transaction.
constexpr std::size_t kRecordsPerTransaction = 1000;

template <std::size_t N>
void copy_text(char (&out)[N], std::string_view text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

// Orders every (DT, MS) group of `rows` by its other columns, so that equal times come back
// in the same order on every query.
void order_groups(Rows& rows, std::size_t dt, bool descending) {
    std::size_t begin = 0;
    while (begin < rows.size()) {
        const auto key = db_store::row_key(rows[begin], dt);
        std::size_t end = begin + 1;
        while (end < rows.size() && db_store::row_key(rows[end], dt) == key) ++end;
        if (end - begin > 1) {
            Rows group(std::make_move_iterator(rows.begin() + static_cast<std::ptrdiff_t>(begin)),
                       std::make_move_iterator(rows.begin() + static_cast<std::ptrdiff_t>(end)));
            db_schema::order_group(group, 0, descending);
            std::move(group.begin(), group.end(), rows.begin() + static_cast<std::ptrdiff_t>(begin));
        }
        begin = end;
    }
}

}  // namespace

std::uint64_t testing_record_queries(const CLogDbStore& store) { return store.state_->recordQueries; }

// ---- the ordered record reader ---------------------------------------------------------

PageRead CLogDbStore::State::read_page(const std::string& columns, bool descending, std::size_t extra,
                                      const std::optional<db_schema::RecordKey>& after, int limit, Rows& page,
                                      bool& complete) {
    State& s = *this;
    const ado::Dialect dialect = s.dialect();
    const std::string prefix = s.prefix_utf8();
    Rows rows;
    const auto fetch = [&](const std::function<std::string(int)>& build, bool literal) {
        ++s.recordQueries;
        const bool opened = literal ? s.query_with_kinds(s.main, build, ado::kReadOnly)
                                    : s.query(s.main, build(s.kinds.lowest()), ado::kReadOnly);
        return opened && s.fetch_rows(s.main, rows);
    };
    db_schema::PageRequest request;
    request.prefix = prefix;
    request.columns = columns;
    request.after = after;
    request.limit = limit;
    request.descending = descending;
    if (!fetch([&](int kind) { return db_schema::page_query(dialect, kind, request); }, after.has_value()))
        return PageRead::failed;
    std::vector<db_schema::RecordKey> keys;
    keys.reserve(rows.size());
    for (const auto& row : rows) {
        const auto key = db_store::row_key(row, extra);
        if (!key) return PageRead::not_a_date;
        keys.push_back(*key);
    }
    const db_schema::PageCut cut = db_schema::cut_page(keys, static_cast<std::size_t>(limit));
    if (cut.whole_group) {
        const db_schema::RecordKey key = keys.front();
        if (!fetch([&](int kind) { return db_schema::group_query(dialect, kind, prefix, columns, key); }, true))
            return PageRead::failed;
        complete = false;
    } else {
        complete = rows.size() < static_cast<std::size_t>(limit);
        rows.resize(cut.keep);
    }
    order_groups(rows, extra, descending);
    page = std::move(rows);
    return PageRead::ok;
}

// The row at `index` in the order of the pages' query, reading pages as needed.
PageRead CLogDbStore::State::row_at(RecordPages& pages, const std::string& columns, bool descending,
                                   std::size_t extra, std::int32_t index, int pageRows,
                                   const std::vector<ado::Variant>*& row) {
    row = nullptr;
    if (!pages.serves(columns, descending)) {
        pages.forget();
        pages.columns = columns;
        pages.descending = descending;
        pages.starts[0] = std::nullopt;
    }
    const auto in_page = [&] {
        return index >= pages.first && static_cast<std::size_t>(index - pages.first) < pages.rows.size();
    };
    if (in_page()) {
        row = &pages.rows[static_cast<std::size_t>(index - pages.first)];
        return PageRead::ok;
    }
    std::int32_t start = 0;
    std::optional<db_schema::RecordKey> after;
    if (!pages.rows.empty() && index >= pages.first) {
        // Past the last page, also one that reached the end: a run being logged grows.
        start = pages.first + static_cast<std::int32_t>(pages.rows.size());
        after = db_store::row_key(pages.rows.back(), extra);
    } else {
        auto it = pages.starts.upper_bound(index);
        --it;
        start = it->first;
        after = it->second;
    }
    for (;;) {
        Rows page;
        bool complete = false;
        const PageRead read = read_page(columns, descending, extra, after, pageRows, page, complete);
        if (read != PageRead::ok) {
            pages.rows.clear();
            return read;
        }
        pages.first = start;
        pages.rows = std::move(page);
        pages.complete = complete;
        pages.starts[start] = after;
        if (pages.rows.empty()) {
            pages.complete = true;
            return PageRead::ok;
        }
        if (in_page()) {
            row = &pages.rows[static_cast<std::size_t>(index - pages.first)];
            return PageRead::ok;
        }
        if (complete) return PageRead::ok;
        after = db_store::row_key(pages.rows.back(), extra);
        start += static_cast<std::int32_t>(pages.rows.size());
    }
}

int CLogDbStore::ReadLog(std::int32_t index, const LogHeader& header, std::uint8_t* out, std::int32_t bytes,
                         std::int32_t, std::int32_t extraSlots, const char* columnPrefix, std::int32_t limit,
                         bool descending) {
    State& s = *state_;
    if (!out || index < 0 || bytes <= 0 || extraSlots < 0 || extraSlots > 4096) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return s.fail_context("CAN'T MOVE FIRST DATA");
    }
    const std::string columns = s.select_list(columnPrefix, "*");
    const auto extra = static_cast<std::size_t>(extraSlots);
    const std::vector<ado::Variant>* row = nullptr;
    PageRead read;
    RecordPages limited;
    if (limit > 0) {
        // A limited read stands alone: the reader's kept pages stay as they are.
        if (index >= limit) {
            platform::set_last_error(platform::kErrorInvalidParameter);
            return s.fail_context("CAN'T MOVE FIRST DATA");
        }
        read = s.row_at(limited, columns, descending, extra, index, limit, row);
    } else {
        read = s.row_at(s.pages, columns, descending, extra, index, kPageRows, row);
    }
    if (read == PageRead::failed) {
        s.pages.forget();
        return s.fail(s.main, "CAN'T SELECT FROM DATA");
    }
    if (read == PageRead::not_a_date) {
        s.pages.forget();
        platform::set_last_error(platform::kErrorInvalidParameter);
        return s.fail_context("COLUMN #1 IS NOT A DATE");
    }
    if (!row) {
        platform::set_last_error(platform::kErrorNoData);
        return s.fail_context("CAN'T MOVE FIRST DATA");
    }
    const std::span<std::uint8_t> all(out, static_cast<std::size_t>(bytes) + 8 * extra);
    if (const char* failure = db_store::record_from_row(header, *row, extra, true, all.first(static_cast<std::size_t>(bytes)),
                                           all.subspan(static_cast<std::size_t>(bytes)))) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return s.fail_context(failure);
    }
    return 0;
}

int CLogDbStore::ReadLogs(std::int32_t first, const LogHeader& header, std::uint8_t* out, std::int32_t count,
                          std::int32_t extraSlots, const char* columnPrefix, std::int32_t) {
    if (!out || count <= 0 || header.recordSize <= 0 || extraSlots < 0) return 0;
    const std::size_t step = static_cast<std::size_t>(header.recordSize) + 8 * static_cast<std::size_t>(extraSlots);
    int n = 0;
    for (; n < count; ++n)
        if (ReadLog(first + n, header, out + step * static_cast<std::size_t>(n), header.recordSize, 0, extraSlots,
                    columnPrefix, 0, false) != 0)
            break;
    return n;
}

int CLogDbStore::ReadLogsByTime(const TimeStamp* from, const TimeStamp* to, const LogHeader& header,
                                std::uint8_t* out, std::int32_t recordBytes, std::int32_t count,
                                std::int32_t extraSlots, const char* columnPrefix, bool descending,
                                bool columnsOnly) {
    State& s = *state_;
    if (!out || count <= 0 || recordBytes <= 0 || extraSlots < 0 || extraSlots > 4096) return 0;
    const auto lower = from ? std::optional<TimeStamp>(*from) : std::nullopt;
    const auto upper = to ? std::optional<TimeStamp>(*to) : std::nullopt;
    const std::string columns =
        s.select_list(columnPrefix, columnsOnly ? (header.sigChange ? "DT, MS, LL, LV" : "DT, MS") : "*");
    const char* dir = descending ? "DESC" : "ASC";
    const std::string order = std::string(" ORDER BY DT ") + dir + ", MS " + dir;
    const ado::Dialect dialect = s.dialect();
    const std::string table = s.data_table();
    ++s.recordQueries;
    if (!s.query_with_kinds(
            s.main,
            [&](int kind) {
                return db_schema::limited_select(dialect, columns, table,
                                                 db_schema::range_condition(kind, lower, upper) + order, count);
            },
            ado::kReadOnly))
        return 0;
    Rows rows;
    if (!s.fetch_rows(s.main, rows)) return 0;
    const auto extra = static_cast<std::size_t>(extraSlots);
    order_groups(rows, extra, descending);
    const std::size_t step = static_cast<std::size_t>(recordBytes) + 8 * extra;
    int n = 0;
    for (; n < count && static_cast<std::size_t>(n) < rows.size(); ++n) {
        const std::span<std::uint8_t> all(out + step * static_cast<std::size_t>(n), step);
        if (db_store::record_from_row(header, rows[static_cast<std::size_t>(n)], extra, !columnsOnly,
                         all.first(static_cast<std::size_t>(recordBytes)),
                         all.subspan(static_cast<std::size_t>(recordBytes))))
            break;
    }
    return n;
}

// ---- writing ---------------------------------------------------------------------------

namespace {

const char* field_failure(std::int32_t field, bool sigChange) {
    switch (field) {
        case 0:
            return "CAN'T SET DT";
        case 1:
            return "CAN'T SET MS";
        default:
            break;
    }
    if (sigChange && field == 3) return "CAN'T SET LL";
    if (sigChange && field == 4) return "CAN'T SET LV";
    return "CAN'T SET CHANNEL";
}

// The fields a record leaves out (the text, the spare column) are given as NULL, which is what
// they get anyway: a row that names every column is an INSERT the engine need not resolve
// column by column, and on SQLite that resolution, paid at each execution, was most of a wide
// row's cost.
void with_every_field(std::vector<db_schema::FieldValue>& values, std::int32_t field_count) {
    if (field_count <= 0) return;
    std::vector<bool> given(static_cast<std::size_t>(field_count), false);
    for (const auto& f : values)
        if (f.index >= 0 && f.index < field_count) given[static_cast<std::size_t>(f.index)] = true;
    for (std::int32_t i = 0; i < field_count; ++i)
        if (!given[static_cast<std::size_t>(i)]) values.push_back({i, ado::Variant::null()});
}

}  // namespace

CLogDbStore::State::Sent CLogDbStore::State::send_batch(const LogHeader& header,
                                                        std::span<const std::uint8_t> records,
                                                        std::size_t count) {
    State& s = *this;
    const auto size = static_cast<std::size_t>(header.recordSize);
    const db_schema::ChannelLookup configs = [&s](std::size_t b, std::uint16_t c) { return s.writing_config(b, c); };
    // One row needs no transaction of its own: the server commits its INSERT alone.
    const bool transaction = count > 1;
    if (transaction && s.logging.BeginTrans() != 0) {
        s.fail(s.logging, "CAN'T ADD LOG");
        return Sent::not_stored;
    }
    // A failure before the commit leaves the rows out: the transaction ends unfinished.
    const Sent unfinished = transaction ? Sent::not_stored : Sent::unanswered;
    for (std::size_t i = 0; i < count; ++i) {
        auto values = db_schema::data_row_values(header, records.subspan(i * size, size), s.digitalText, configs);
        if (!values) {
            if (transaction) s.logging.RollbackTrans();
            platform::set_last_error(platform::kErrorInvalidParameter);
            s.fail_context("CAN'T ADD LOG");
            return Sent::bad_record;
        }
        with_every_field(*values, s.logging.FieldCount());
        if (s.logging.AddNew() != 0) {
            s.fail(s.logging, "CAN'T LOG SCAN");
            return Sent::not_stored;
        }
        bool written = true;
        for (const auto& f : *values)
            if (s.logging.PutFieldByIndex(f.index, f.value) != 0) {
                written = false;
                break;
            }
        if (!written || s.logging.Update() != 0) {
            s.fail(s.logging, "CAN'T ADD LOG");
            s.logging.CancelUpdate();
            return written ? unfinished : Sent::not_stored;
        }
    }
    if (transaction && s.logging.CommitTrans() != 0) {
        s.fail(s.logging, "CAN'T ADD LOG");
        return Sent::unanswered;
    }
    return Sent::ok;
}

int CLogDbStore::WriteLogs(const LogHeader& header, const std::uint8_t* records, std::int32_t count) {
    State& s = *state_;
    if (!s.loggingWanted) return -1;
    if (count <= 0) return 0;
    if (!records || header.recordSize < static_cast<std::int32_t>(run_file::kRecordHeadSize)) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return s.fail_context("CAN'T ADD LOG");
    }
    // Appended rows may join the last page read; the page starts stay valid.
    s.pages.rows.clear();
    s.pages.complete = false;
    const auto size = static_cast<std::size_t>(header.recordSize);
    const auto total = static_cast<std::size_t>(count);
    const std::span<const std::uint8_t> all(records, size * total);
    const auto record = [&](std::size_t i) { return all.subspan(i * size, size); };
    std::vector<db_schema::TimeKey> keys(total);
    for (std::size_t i = 0; i < total; ++i) {
        const run_file::RecordHead head = run_file::decode_record_head(record(i));
        keys[i] = {head.time.seconds, static_cast<double>(head.time.milliseconds)};
    }
    const auto count_at = [&s](db_schema::TimeKey key) {
        return s.rows_with_key({static_cast<std::int32_t>(key.seconds), static_cast<std::int32_t>(key.ms)});
    };
    const auto failed = [&](const char* text) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        copy_text(s.errorText, text);
        return s.fail_context("CAN'T ADD LOG");
    };
    constexpr const char* kUntold =
        "the rows of a write cut off by a lost connection cannot be told from the table: nothing more is written";

    // One reopen per call; the failure's texts stay what the user sees, whatever it says.
    bool reopened = false;
    const auto reopen = [&] {
        if (reopened) return false;
        reopened = true;
        const std::string text = s.errorText, context = s.errorContext;
        s.logging.RollbackTrans();
        s.logging.CloseAll();
        s.loggingOpen = false;
        LogHeader copy = header;
        const bool ok = OpenForLogging(copy) == 0;
        copy_text(s.errorText, text);
        s.set_context(context.c_str());
        return ok;
    };
    if (!s.loggingOpen && !reopen()) return -1;
    // A batch of an earlier call whose commit went unanswered: in the table or not.
    if (const auto& pending = s.ledger.pending()) {
        const auto now = count_at(pending->latest);
        if (!now || s.ledger.resolve_pending(*now) == db_schema::AppendLedger::Outcome::unknown)
            return now ? failed(kUntold) : s.fail(s.main, "CAN'T ADD LOG");
    }
    if (!s.ledger.started()) {
        const auto tail = s.read_tail();
        if (!tail) return s.fail(s.main, "CAN'T ADD LOG");
        s.ledger.start(*tail);
    }
    // Records a failed call stored already, handed in again: not sent twice.
    std::size_t done = s.ledger.begin_call(total, record);
    while (done < total) {
        const std::size_t n = std::min(kRecordsPerTransaction, total - done);
        const auto batch = s.ledger.batch(std::span(keys).subspan(done, n), done, count_at);
        if (!batch) {
            s.fail(s.main, "CAN'T ADD LOG");
            s.ledger.end_call(done, record, std::nullopt);
            return -1;
        }
        const State::Sent sent = s.send_batch(header, all.subspan(done * size, n * size), n);
        if (sent == State::Sent::ok) {
            s.ledger.stored(*batch);
            done += n;
            continue;
        }
        if (sent == State::Sent::bad_record) {
            s.ledger.end_call(done, record, std::nullopt);
            return -1;
        }
        const bool unanswered = sent == State::Sent::unanswered;
        if (!reopen()) {
            s.ledger.end_call(done, record, unanswered ? batch : std::nullopt);
            return -1;
        }
        if (unanswered) {
            // The connection went after the rows were sent: the table tells whether they are in.
            const auto now = count_at(batch->latest);
            const auto outcome =
                now ? db_schema::AppendLedger::outcome(*batch, *now) : db_schema::AppendLedger::Outcome::unknown;
            if (outcome == db_schema::AppendLedger::Outcome::stored) {
                s.ledger.stored(*batch);
                done += n;
                continue;
            }
            if (outcome == db_schema::AppendLedger::Outcome::unknown) {
                s.ledger.end_call(done, record, batch);
                return now ? failed(kUntold) : s.fail(s.main, "CAN'T ADD LOG");
            }
        }
        // Not in the table: the same records again on the new connection.
    }
    s.ledger.end_call(total, nullptr, std::nullopt);
    return 0;
}

int CLogDbStore::RewriteLogs(std::int32_t, const LogHeader& header, const std::uint8_t* records,
                             std::int32_t bytes) {
    State& s = *state_;
    s.pages.forget();
    if (bytes == 0) return 0;
    if (!records || bytes < 0 || header.recordSize < static_cast<std::int32_t>(run_file::kRecordHeadSize) ||
        bytes % header.recordSize != 0) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return s.fail_context("CAN'T WRITE LOG");
    }
    const auto size = static_cast<std::size_t>(header.recordSize);
    const std::string table = s.data_table();
    const db_schema::ChannelLookup configs = [&s](std::size_t b, std::uint16_t c) { return s.writing_config(b, c); };
    // Each record goes to the row of its own time.
    for (std::size_t at = 0; at < static_cast<std::size_t>(bytes); at += size) {
        const std::span<const std::uint8_t> record(records + at, size);
        const run_file::RecordHead head = run_file::decode_record_head(record);
        const auto values = db_schema::data_row_values(header, record, s.digitalText, configs);
        if (!values) {
            platform::set_last_error(platform::kErrorInvalidParameter);
            return s.fail_context("CAN'T WRITE LOG");
        }
        if (!s.query_with_kinds(
                s.main,
                [&](int kind) {
                    return "SELECT * FROM " + table + " WHERE DT = " + db_schema::date_literal(kind, head.time.seconds) +
                           " AND MS=" + std::to_string(head.time.milliseconds);
                },
                s.lock_for_writes()))
            return s.fail(s.main, "CAN'T WRITE LOG");
        if (s.at_end(s.main)) {
            platform::set_last_error(platform::kErrorFileNotFound);
            s.errorText[0] = '\0';
            return s.fail_context("CAN'T WRITE LOG");
        }
        bool changed = false;
        for (const auto& f : *values) {
            if (f.index <= 1) continue;  // the row was found by its DT and MS
            if (!s.put_changed(s.main, f.index, f.value, changed))
                return s.fail(s.main, field_failure(f.index, header.sigChange != 0));
        }
        if (changed && s.main.Update() != 0) return s.fail(s.main, "CAN'T ADD LOG");
    }
    return 0;
}

}  // namespace log_stores
