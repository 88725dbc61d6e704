#include "log_stores/mysql/mysql_store.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <span>

#include "log_stores/db_collection/run_channels.h"
#include "log_stores/db_schema/data_row.h"
#include "log_stores/db_schema/date_literal.h"
#include "log_stores/db_schema/header_text.h"
#include "log_stores/db_schema/run_naming.h"
#include "log_stores/db_schema/sql_text.h"
#include "log_stores/db_schema/writer_lock.h"
#include "log_stores/log_location.h"
#include "log_stores/run_file/run_file_format.h"
#include "platform/ado/text_codec.h"
#include "platform/last_error.h"
#include "platform/time_zone.h"
#include "qvr/diag/trace.h"
#include "qvr/settings/reg.h"
#include "qvr/util/bounded_copy.h"

namespace log_stores {
namespace {

constexpr std::size_t kMaxPlaceholders = 65535;
constexpr std::size_t kMaxBatchRows = 1000;
constexpr std::size_t kSourceLength = 24;
// How long a new writing session waits for the one it replaces to end (seconds).
constexpr int kWriterLockWait = 60;
// More extra columns than any select list holds.
constexpr std::int32_t kMaxExtraSlots = 4096;

std::size_t length_of(const char* text) {
    return text == nullptr ? 0 : std::strlen(text);
}

std::int64_t integer_of(const mysql::Value& value) {
    if (const auto* n = std::get_if<std::int64_t>(&value)) return *n;
    // A float out of the integers' range converts to nothing defined: 0.
    if (const auto* d = std::get_if<double>(&value))
        return std::isfinite(*d) && std::abs(*d) < 9.2e18 ? static_cast<std::int64_t>(*d) : 0;
    return 0;
}

std::optional<std::int32_t> seconds_of(const mysql::Value& value) {
    const auto* date = std::get_if<ado::DateValue>(&value);
    if (date == nullptr) return std::nullopt;
    return db_schema::seconds_of_date(*date);
}

mysql::Value date_or_null(std::int32_t seconds) {
    if (seconds == 0) return std::monostate{};
    return db_schema::date_value(seconds);
}

std::string trimmed(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

mysql::Value bound(const ado::Variant& v) {
    switch (v.type()) {
        case ado::VarType::null:
        case ado::VarType::empty:
            return std::monostate{};
        case ado::VarType::date:
            return v.to_date();
        case ado::VarType::bstr:
            return ado::utf8_from_utf16(v.to_text());
        case ado::VarType::r4:
        case ado::VarType::r8:
            return v.to_r8();
        default:
            return v.to_i8();
    }
}

}  // namespace

CLogDbMySQLStore::CLogDbMySQLStore() = default;
CLogDbMySQLStore::~CLogDbMySQLStore() = default;

void CLogDbMySQLStore::fail(std::string_view context, std::string_view text) {
    qvr::copy_cut(context, errorContext_, sizeof errorContext_);
    qvr::copy_cut(text, errorText_, sizeof errorText_);
}

std::size_t CLogDbMySQLStore::batch_rows(std::size_t columns) {
    if (columns == 0) return kMaxBatchRows;
    return std::clamp<std::size_t>(kMaxPlaceholders / columns, 1, kMaxBatchRows);
}

std::size_t CLogDbMySQLStore::columns_of(const LogHeader& header) {
    std::size_t channels = 0;
    for (std::size_t b = 0; b < std::min<std::size_t>(header.blockCount, kMaxBlocks); ++b)
        channels += header.blocks[b].channel_count();
    return static_cast<std::size_t>(db_schema::first_channel_field(header.sigChange != 0)) + channels + 1;
}

std::size_t CLogDbMySQLStore::rows_per_insert(const LogHeader& header) {
    const std::size_t columns = columns_of(header);
    // Each value costs its type (2 bytes) and at most 9 bytes, a state text 97; the packet keeps
    // a quarter for the statement's text and the protocol.
    const std::size_t row_bytes = columns * (digitalText_ ? 100 : 12) + 2 * columns + 3;
    const std::size_t by_packet = std::max<std::size_t>(1, session_.max_packet() * 3 / 4 / row_bytes);
    return std::min(batch_rows(columns), by_packet);
}

int CLogDbMySQLStore::connect(bool shared) {
    writer_.reset();
    writerLock_ = false;
    const auto keys = mysql::parse_connection_keys(ado::utf8_from_cp1252(connection_));
    if (!keys.keys) {
        fail(keys.context);
        return -1;
    }
    if (auto failure = shared ? session_.connect_shared(*keys.keys) : session_.connect(*keys.keys)) {
        fail(*failure);
        return -1;
    }
    return 0;
}

int CLogDbMySQLStore::Open(const char* server, const char* location, std::uint32_t access) {
    const int rc = open_here(location, access);
    // The retry through a remote data provider has no provider here: it is named in the trace,
    // and the first attempt's texts stay.
    if (rc != 0 && server != nullptr && *server != '\0' && location != nullptr &&
        std::strncmp(location, "PROVIDER=MS REMOTE", 18) != 0)
        trace_Write("MySQL store: PROVIDER=MS REMOTE: provider not available\r\n");
    return rc;
}

int CLogDbMySQLStore::open_here(const char* location, std::uint32_t access) {
    Close();
    if (length_of(location) > kMaxMySqlLocation) {
        fail("BADLY FORMED PATH NAME");
        return platform::fail(0);
    }
    std::string rest(location == nullptr ? "" : location);
    std::size_t size = 0;
    GetLoggerNameFromLocation(rest, &size, nullptr);
    char name[261] = {};
    std::int32_t sequence = 0;
    if (size == 0 || size > sizeof name || GetLoggerNameFromLocation(rest, &size, name) != 1 ||
        GetLoggerSeqFromLocation(rest, sequence) != 1) {
        fail("BADLY FORMED PATH NAME");
        return platform::fail(0);
    }
    access_ = access;
    connection_ = rest;
    loggerName_ = name;
    sequence_ = sequence;
    // A reader shares the process's connection; writing takes one of its own.
    if (connect(true) != 0) return -1;
    const mysql::Value params[] = {ado::utf8_from_cp1252(loggerName_), std::int64_t{sequence_}};
    auto result = session_.run(
        "select sTablePrefix from LOGGERS where sLoggerName = ? AND nLoggerSequence = ?", params);
    if (const auto* failure = std::get_if<mysql::Failure>(&result)) {
        fail("SELECT failed", failure->text);
        session_.close();
        return -1;
    }
    const auto& rows = std::get<mysql::Result>(result).rows;
    const std::string* prefix = rows.empty() ? nullptr : std::get_if<std::string>(&rows[0][0]);
    if (prefix == nullptr) {
        fail("CAN'T FIND LOGGER NAME AND SEQ");
        session_.close();
        return -1;
    }
    tablePrefix_ = db_schema::stored_prefix(ado::cp1252_from_utf8(*prefix));
    return 0;
}

int CLogDbMySQLStore::OpenForLogging(LogHeader& header) {
    logging_ = true;
    // What a digital value is written as may change with the switch; another writer may have
    // added rows since.
    writer_.reset();
    ledger_.forget_tail();
    // Transactions and the writer's lock need a connection of this store's own; when it cannot
    // be had now, the first WriteLogs tries again.
    if (session_.shared()) {
        session_.close();
        connect(false);
    }
    char value[64] = {};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof value - 1;
    std::optional<std::string_view> setting;
    if (reg_AccessProductValue(platform::RegistryHive::machine, kProductKey, platform::kKeyQueryValue,
                               "DatabaseDigitalText", &type, value, &size) == 0 &&
        type == kRegSz)
        setting = std::string_view(value, strnlen(value, sizeof value - 1));
    digitalText_ = db_schema::digital_text_selected(setting);
    if (digitalText_ && !lookup_) {
        if (auto modules = db_collection::lookup_in_modules(header)) lookup_ = std::move(*modules);
    }
    return 0;
}

void CLogDbMySQLStore::GetLocation(char* text, std::size_t* size) {
    char sequence[12];
    std::snprintf(sequence, sizeof sequence, "%08d", sequence_);
    copy_with_size(connection_ + ";LoggerName=" + loggerName_ + ";LoggerSeq=" + sequence, text, size);
}

int CLogDbMySQLStore::Close() {
    writer_.reset();
    ledger_ = {};
    rowCount_.forget();
    writerLock_ = false;
    session_.close();
    pages_ = {};
    stateTexts_.reset();
    timeIndex_ = true;
    lastIndex_ = -1;
    return 0;
}

std::optional<std::optional<db_schema::TimeKey>> CLogDbMySQLStore::end_key(bool latest) {
    auto result = session_.run("SELECT DT, MS FROM " + data_table() +
                               (latest ? " ORDER BY DT DESC, MS DESC LIMIT 1" : " ORDER BY DT, MS LIMIT 1"));
    if (const auto* failure = std::get_if<mysql::Failure>(&result)) {
        fail("CAN'T GET DATA", failure->text);
        return std::nullopt;
    }
    const auto& rows = std::get<mysql::Result>(result).rows;
    if (rows.empty()) return std::optional<db_schema::TimeKey>{};
    const auto seconds = seconds_of(rows[0][0]);
    const auto* ms = std::get_if<double>(&rows[0][1]);
    if (!seconds || ms == nullptr) {
        fail("COLUMN #1 IS NOT A DATE");
        return std::nullopt;
    }
    return std::optional<db_schema::TimeKey>{db_schema::TimeKey{*seconds, *ms}};
}

int CLogDbMySQLStore::GetNoLogs(const LogHeader&) {
    using Key = std::optional<db_schema::TimeKey>;
    db_schema::CountQueries q;
    q.first = [this] { return end_key(false); };
    q.last = [this] { return end_key(true); };
    q.count = [this](Key from, Key split) -> std::optional<std::pair<std::int64_t, std::int64_t>> {
        // MS is compared with the float the table holds, read back as it was.
        std::vector<mysql::Value> params;
        const auto at_or_after = [&](const db_schema::TimeKey& key) {
            const mysql::Value dt = ado::DateValue{static_cast<std::int32_t>(key.seconds), 0};
            params.insert(params.end(), {dt, dt, key.ms});
            return std::string("(DT > ? OR (DT = ? AND MS >= ?))");
        };
        std::string sql = "SELECT COUNT(*), ";
        sql += split ? "SUM(CASE WHEN " + at_or_after(*split) + " THEN 1 ELSE 0 END)" : std::string("0");
        sql += " FROM " + data_table();
        if (from) sql += " WHERE " + at_or_after(*from);
        auto result = session_.run(sql, params);
        const auto* ok = std::get_if<mysql::Result>(&result);
        if (ok == nullptr || ok->rows.empty() || ok->rows[0].size() < 2) {
            fail("CAN'T GET DATA", ok ? "SELECT COUNT failed" : std::get<mysql::Failure>(result).text);
            return std::nullopt;
        }
        return std::pair{integer_of(ok->rows[0][0]), integer_of(ok->rows[0][1])};
    };
    const auto n = rowCount_.rows(q);
    if (!n) return -1;
    return static_cast<int>(std::clamp<std::int64_t>(*n, 0, INT32_MAX));
}

int CLogDbMySQLStore::ReadHeader(LogHeader& header) {
    const mysql::Value params[] = {ado::utf8_from_cp1252(loggerName_), std::int64_t{sequence_}};
    auto run = session_.run(
        "select dStartTime, dStopTime, sTablePrefix, bTagColumns, bSigChange, sTriggerPrefix, "
        "nTriggerNumber, "
        "sLagPrefix, nLagNumber from LOGGERS where sLoggerName = ? AND nLoggerSequence = ?",
        params);
    if (const auto* failure = std::get_if<mysql::Failure>(&run)) {
        fail("CAN'T GET DATA", failure->text);
        return -1;
    }
    const auto& rows = std::get<mysql::Result>(run).rows;
    if (rows.empty()) {
        fail("CAN'T FIND LOGGER NAME AND SEQ");
        return -1;
    }
    const mysql::Row& r = rows[0];
    const auto start = seconds_of(r[0]);
    if (!start) {
        fail("COLUMN #1 IS NOT A DATE");
        return -1;
    }
    header = LogHeader{};
    header.start.seconds = *start;
    header.stop.seconds = seconds_of(r[1]).value_or(0);
    header.tagColumns = static_cast<std::uint8_t>(integer_of(r[3]) != 0);
    header.sigChange = static_cast<std::uint8_t>(integer_of(r[4]) != 0);
    const auto two = [](const mysql::Value& v, std::array<char, 2>& out) {
        if (const auto* s = std::get_if<std::string>(&v)) {
            const std::string t = ado::cp1252_from_utf8(*s);
            for (std::size_t i = 0; i < 2 && i < t.size(); ++i) out[i] = t[i];
        }
    };
    two(r[5], header.triggerPrefix);
    header.triggerNumber = static_cast<std::int16_t>(integer_of(r[6]));
    two(r[7], header.lagPrefix);
    header.lagNumber = static_cast<std::int16_t>(integer_of(r[8]));

    auto channels = session_.run("select nBlock, sPrefix, nChannelNumber, sSource, bLag from " +
                                 mysql::quoted(ado::utf8_from_cp1252(tablePrefix_) + "CHANNELS") +
                                 " ORDER BY nBlock, nChannelNumber");
    if (const auto* failure = std::get_if<mysql::Failure>(&channels)) {
        fail("CAN'T GET DATA", failure->text);
        return -1;
    }
    std::array<bool, kMaxBlocks> seen{};
    std::size_t all_channels = 0;
    for (const mysql::Row& c : std::get<mysql::Result>(channels).rows) {
        const std::int64_t b = integer_of(c[0]);
        if (b < 0 || b >= static_cast<std::int64_t>(kMaxBlocks)) continue;
        BlockDescriptor& block = header.blocks[static_cast<std::size_t>(b)];
        const auto number = static_cast<std::uint16_t>(integer_of(c[2]));
        ++all_channels;
        if (!seen[static_cast<std::size_t>(b)]) {
            seen[static_cast<std::size_t>(b)] = true;
            two(c[1], block.prefix);
            if (const auto* s = std::get_if<std::string>(&c[3])) {
                const std::string source = trimmed(ado::cp1252_from_utf8(*s)).substr(0, kSourceLength);
                std::memcpy(block.carried.data(), source.data(), source.size());
            }
            block.carried[kSourceLength + 1] = static_cast<std::uint8_t>(integer_of(c[4]));
            block.blockKind = 8;
            block.firstChannel = block.lastChannel = number;
            header.blockCount = static_cast<std::uint16_t>(std::max<std::int64_t>(header.blockCount, b + 1));
        }
        block.firstChannel = std::min(block.firstChannel, number);
        block.lastChannel = std::max(block.lastChannel, number);
    }
    const int count = GetNoLogs(header);
    if (count < 0) return -1;
    header.recordCount = count;
    std::int32_t size = 18;
    for (std::size_t b = 0; b < header.blockCount; ++b) {
        header.blocks[b].recordOffset = static_cast<std::uint16_t>(size);
        size += static_cast<std::int32_t>(8 * header.blocks[b].channel_count() + 2);
    }
    header.recordSize = size;
    header.dataStart = size + 4 * header.blockCount + 216 * static_cast<std::int32_t>(all_channels) + 4404;
    header.endOfData = header.recordCount * header.recordSize + header.dataStart;
    return 0;
}

int CLogDbMySQLStore::WriteHeader(const LogHeader& header, bool completed) {
    if ((access_ & kGenericWrite) == 0) return 0;
    const mysql::Value params[] = {date_or_null(header.start.seconds), date_or_null(header.stop.seconds),
                                   std::int64_t{completed}, ado::utf8_from_cp1252(loggerName_),
                                   std::int64_t{sequence_}};
    auto result = session_.run(
        "UPDATE LOGGERS SET dStartTime = ?, dStopTime = ?, bCompleted = ? WHERE sLoggerName = ? AND "
        "nLoggerSequence = ?",
        params);
    if (const auto* failure = std::get_if<mysql::Failure>(&result)) {
        fail("UPDATE failed", failure->text);
        return -1;
    }
    return 0;
}

namespace {

// A failure after which the server may have committed the statement: the connection went.
bool unanswered(const mysql::Failure& failure) {
    constexpr unsigned kConnectionKilled = 1927, kServerShutdown = 1053, kFirstClientError = 2000;
    return failure.code >= kFirstClientError || failure.code == kConnectionKilled ||
           failure.code == kServerShutdown;
}

// MS as the table keeps it: a float of milliseconds with the microseconds as fraction.
double stored_ms(const TimeStamp& time) {
    return static_cast<float>(time.milliseconds + time.microseconds / 1000.0);
}

}  // namespace

std::optional<std::int64_t> CLogDbMySQLStore::rows_at(const db_schema::TimeKey& key) {
    const mysql::Value params[] = {ado::DateValue{static_cast<std::int32_t>(key.seconds), 0}, key.ms};
    auto result = session_.run("SELECT COUNT(*) FROM " + data_table() + " WHERE DT = ? AND MS = ?", params);
    const auto* ok = std::get_if<mysql::Result>(&result);
    if (ok == nullptr || ok->rows.empty() || ok->rows[0].empty()) {
        fail("CAN'T GET DATA", ok ? "SELECT COUNT failed" : std::get<mysql::Failure>(result).text);
        return std::nullopt;
    }
    return integer_of(ok->rows[0][0]);
}

std::optional<std::optional<db_schema::Tail>> CLogDbMySQLStore::read_tail() {
    const auto key = end_key(true);
    if (!key) return std::nullopt;
    if (!*key) return std::optional<db_schema::Tail>{};
    const auto n = rows_at(**key);
    if (!n) return std::nullopt;
    return std::optional<db_schema::Tail>{db_schema::Tail{**key, *n}};
}

bool CLogDbMySQLStore::claim_writer() {
    // Plain statements (KILL takes no placeholders): the lock's name is made of safe characters.
    const db_schema::ValueQuery value = [this](const std::string& sql) -> std::optional<std::optional<std::int64_t>> {
        auto result = session_.query_text(sql);
        if (std::holds_alternative<mysql::Failure>(result)) return std::nullopt;
        return std::get<std::optional<std::int64_t>>(result);
    };
    const auto keys = mysql::parse_connection_keys(ado::utf8_from_cp1252(connection_));
    const std::string name =
        db_schema::writer_lock_name(keys.keys ? keys.keys->database : std::string(), ado::utf8_from_cp1252(tablePrefix_));
    switch (db_schema::claim_writer_lock(name, writerSession_, kWriterLockWait, value)) {
        case db_schema::Claim::taken:
            if (const auto id = value(db_schema::kSessionIdQuery); id && *id) writerSession_ = **id;
            writerLock_ = true;
            return true;
        case db_schema::Claim::held_elsewhere:
            fail("INSERT failed", "another connection still writes this run");
            return false;
        case db_schema::Claim::failed:
            break;
    }
    fail("INSERT failed", "the run's writer lock cannot be taken");
    return false;
}

int CLogDbMySQLStore::WriteLogs(const LogHeader& header, const std::uint8_t* records, std::int32_t count) {
    if (count <= 0) return 0;
    if (records == nullptr || header.recordSize < static_cast<std::int32_t>(run_file::kRecordHeadSize)) {
        fail("INSERT failed", "no records");
        return platform::fail(EINVAL);
    }
    const auto began = std::chrono::steady_clock::now();
    const auto record_size = static_cast<std::size_t>(header.recordSize);
    const auto total = static_cast<std::size_t>(count);
    const std::span<const std::uint8_t> all(records, total * record_size);
    const auto record = [&](std::size_t i) { return all.subspan(i * record_size, record_size); };
    std::vector<db_schema::TimeKey> keys(total);
    for (std::size_t i = 0; i < total; ++i) {
        const run_file::RecordHead head = run_file::decode_record_head(record(i));
        keys[i] = {head.time.seconds, stored_ms(head.time)};
    }
    const auto count_at = [this](db_schema::TimeKey key) { return rows_at(key); };
    constexpr const char* kUntold =
        "the rows of a write cut off by a lost connection cannot be told from the table: nothing more is written";
    // Appended rows may belong to the last page read: read it again when asked.
    pages_.valid = false;

    // One new connection per call; the failure's texts stay what the user sees.
    bool reconnected = false;
    const auto reconnect = [&] {
        if (reconnected) return false;
        reconnected = true;
        const std::string text = errorText_, context = errorContext_;
        session_.close();
        const bool ok = connect(false) == 0 && claim_writer();
        if (!context.empty()) fail(context, text);
        return ok;
    };
    // What an earlier call left unanswered, and the table's end: asked on a new connection
    // when the one held has gone.
    enum class Settled { yes, failed, untold };
    const auto settle = [&] {
        if (const auto& pending = ledger_.pending()) {
            const auto now = rows_at(pending->latest);
            if (!now) return Settled::failed;
            if (ledger_.resolve_pending(*now) == db_schema::AppendLedger::Outcome::unknown) return Settled::untold;
        }
        if (!ledger_.started()) {
            const auto tail = read_tail();
            if (!tail) return Settled::failed;
            ledger_.start(*tail);
        }
        return Settled::yes;
    };
    if ((!session_.connected() || session_.shared()) && !reconnect()) return -1;
    if (!writerLock_ && !claim_writer() && !reconnect()) return -1;
    Settled settled = settle();
    if (settled == Settled::failed && reconnect()) settled = settle();
    if (settled == Settled::untold) fail("INSERT failed", kUntold);
    if (settled != Settled::yes) return -1;
    const std::size_t per_batch = rows_per_insert(header);
    const std::string table = data_table();
    const db_schema::ChannelLookup none;
    // Records a failed call stored already, handed in again: not sent twice.
    std::size_t done = ledger_.begin_call(total, record);
    while (done < total) {
        const std::size_t rows = std::min(per_batch, total - done);
        const auto batch = ledger_.batch(std::span(keys).subspan(done, rows), done, count_at);
        if (!batch) {
            ledger_.end_call(done, record, std::nullopt);
            return -1;
        }
        const auto failure =
            writer_.insert(session_, table, header, all.subspan(done * record_size), rows, digitalText_ ? lookup_ : none);
        if (!failure) {
            ledger_.stored(*batch);
            done += rows;
            continue;
        }
        fail(failure->context == "mysql_stmt_execute() failed" ? " mysql_stmt_execute(), failedd" : failure->context,
             failure->text);
        const bool lost = unanswered(*failure);
        if (!reconnect()) {
            ledger_.end_call(done, record, lost ? batch : std::nullopt);
            return -1;
        }
        if (lost) {
            // The statement may have been committed before the connection went.
            const auto now = rows_at(batch->latest);
            const auto outcome =
                now ? db_schema::AppendLedger::outcome(*batch, *now) : db_schema::AppendLedger::Outcome::unknown;
            if (outcome == db_schema::AppendLedger::Outcome::stored) {
                ledger_.stored(*batch);
                done += rows;
                continue;
            }
            if (outcome == db_schema::AppendLedger::Outcome::unknown) {
                if (now) fail("INSERT failed", kUntold);
                ledger_.end_call(done, record, batch);
                return -1;
            }
        }
        // Not in the table: the same records again on the new connection.
    }
    ledger_.end_call(total, nullptr, std::nullopt);
    const auto took =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
    char line[64];
    std::snprintf(line, sizeof line, "%d Samples took %d ms\r\n", count, static_cast<int>(took.count()));
    trace_Write(line);
    return 0;
}

std::string CLogDbMySQLStore::select_list(const char* columnPrefix, std::string_view rest) const {
    const std::string_view given = columnPrefix ? columnPrefix : "";
    if (given.empty()) return std::string(rest);
    // The prefix names further columns (the caller's SQL), so "*" must name the table.
    if (rest == "*") return ado::utf8_from_cp1252(given) + data_table() + ".*";
    return ado::utf8_from_cp1252(given) + std::string(rest);
}

std::string CLogDbMySQLStore::range_condition(const TimeStamp* lower, const TimeStamp* upper,
                                              std::vector<mysql::Value>& params) {
    if (lower == nullptr && upper == nullptr) return {};
    // MS keeps microseconds in a float: the bound is compared in whole microseconds, as reads
    // round them.
    const auto part = [&](const TimeStamp& bound, const char* op) {
        const mysql::Value dt = db_schema::date_value(bound.seconds);
        params.push_back(dt);
        params.push_back(std::int64_t{bound.milliseconds} * 1000 + bound.microseconds);
        params.push_back(dt);
        return std::string("((DT = ? AND ROUND(MS * 1000) ") + op + " ?) OR DT " + op + " ?)";
    };
    std::string out = " WHERE ";
    if (lower != nullptr) out += part(*lower, ">");
    if (lower != nullptr && upper != nullptr) out += " AND ";
    if (upper != nullptr) out += part(*upper, "<");
    return out;
}

const mysql::StateTexts* CLogDbMySQLStore::state_texts(std::size_t block, std::uint16_t channel) {
    if (!stateTexts_) {
        stateTexts_.emplace();
        auto r = session_.run("SELECT nBlock, nChannelNumber, sLowStateDesc, sHighStateDesc FROM " +
                              mysql::quoted(ado::utf8_from_cp1252(tablePrefix_) + "CHANNELS"));
        if (const auto* failure = std::get_if<mysql::Failure>(&r)) {
            fail("CAN'T GET DATA", failure->text);
            stateTextsFailed_ = true;
            stateTexts_.reset();
            return nullptr;
        }
        for (const mysql::Row& row : std::get<mysql::Result>(r).rows) {
            const auto text = [&](std::size_t i) {
                const auto* t = std::get_if<std::string>(&row[i]);
                return t ? trimmed(ado::cp1252_from_utf8(*t)) : std::string{};
            };
            const std::int64_t b = integer_of(row[0]);
            const std::int64_t c = integer_of(row[1]);
            if (b < 0 || b >= static_cast<std::int64_t>(kMaxBlocks) || c < 0 || c > 0xFFFF) continue;
            stateTexts_->emplace(std::make_pair(static_cast<std::size_t>(b), static_cast<std::uint16_t>(c)),
                                 mysql::StateTexts{text(2), text(3)});
        }
    }
    const auto it = stateTexts_->find({block, channel});
    return it == stateTexts_->end() ? nullptr : &it->second;
}

bool CLogDbMySQLStore::read_page(const std::optional<Key>& after, std::vector<mysql::Row>& page,
                                 bool& complete) {
    const Pages& p = pages_;
    const char* dir = p.descending ? " DESC" : "";
    std::string sql;
    std::vector<mysql::Value> params;
    if (after) {
        sql += p.descending ? " WHERE DT < ? OR (DT = ? AND MS < ?)" : " WHERE DT > ? OR (DT = ? AND MS > ?)";
        const mysql::Value dt = ado::DateValue{after->seconds, 0};
        params = {dt, dt, after->ms};
    } else {
        // A condition on DT lets the server walk the (DT, MS) index in order; without one it
        // sorts the whole table for the first page. A row without a date is no record.
        sql += " WHERE DT IS NOT NULL";
    }
    // One row more than a page: when it starts a new (DT, MS) group, the page keeps all its
    // rows, and pages of 1,000 serve blocks of 1,000 with one query each.
    const auto limit = static_cast<std::size_t>(pageRows_) + 1;
    sql += std::string(" ORDER BY DT") + dir + ", MS" + dir + " LIMIT " + std::to_string(limit);
    const auto query = [&](bool hinted) {
        ++recordQueries_;
        // Naming the (DT, MS) index spares the server weighing a sort of the whole table for
        // every page, which costs the most near the start of a long run.
        return session_.run(
            "SELECT " + p.columns + " FROM " + data_table() + (hinted ? " FORCE INDEX (TM)" : "") + sql,
            params);
    };
    auto result = query(timeIndex_);
    if (const auto* failure = std::get_if<mysql::Failure>(&result);
        failure != nullptr && timeIndex_ && failure->code == mysql::kNoSuchIndex) {
        // A DATA table made without the time index: asked without naming it from now on.
        timeIndex_ = false;
        result = query(false);
    }
    if (const auto* failure = std::get_if<mysql::Failure>(&result)) {
        fail("CAN'T GET DATA", failure->text);
        return false;
    }
    std::vector<mysql::Row> rows = std::move(std::get<mysql::Result>(result).rows);
    std::vector<Key> keys;
    keys.reserve(rows.size());
    for (const auto& row : rows) {
        const auto key = mysql::row_key(row, p.extra);
        if (!key) {
            fail("COLUMN #1 IS NOT A DATE");
            return false;
        }
        keys.push_back(*key);
    }
    complete = rows.size() < limit;
    if (!complete) {
        // The last (DT, MS) group may go on past what was fetched: it starts the next page.
        std::size_t keep = keys.size();
        while (keep > 0 && keys[keep - 1] == keys.back()) --keep;
        if (keep == 0) {
            const mysql::Value dt = ado::DateValue{keys.front().seconds, 0};
            const mysql::Value group_params[] = {dt, keys.front().ms};
            ++recordQueries_;
            auto whole = session_.run(
                "SELECT " + p.columns + " FROM " + data_table() + " WHERE DT = ? AND MS = ?", group_params);
            if (const auto* failure = std::get_if<mysql::Failure>(&whole)) {
                fail("CAN'T GET DATA", failure->text);
                return false;
            }
            rows = std::move(std::get<mysql::Result>(whole).rows);
        } else {
            rows.resize(keep);
        }
    }
    mysql::order_groups(rows, p.extra, p.descending);
    page = std::move(rows);
    return true;
}

const mysql::Row* CLogDbMySQLStore::row_at(std::int32_t index, const std::string& columns, std::size_t extra,
                                           bool descending, bool& failed) {
    failed = false;
    Pages& p = pages_;
    if (!p.valid || p.descending != descending || p.columns != columns || p.extra != extra) {
        p = {};
        p.columns = columns;
        p.extra = extra;
        p.descending = descending;
        p.starts[0] = std::nullopt;
    }
    const auto in_page = [&] {
        return p.valid && index >= p.first && static_cast<std::size_t>(index - p.first) < p.rows.size();
    };
    if (in_page()) return &p.rows[static_cast<std::size_t>(index - p.first)];
    std::int32_t start = 0;
    std::optional<Key> after;
    const auto key_of = [&](const mysql::Row& row) { return mysql::row_key(row, extra).value_or(Key{}); };
    if (p.valid && !p.rows.empty() && index >= p.first) {
        // A last page is asked again: a run being logged grows behind it.
        start = p.first + static_cast<std::int32_t>(p.rows.size());
        after = key_of(p.rows.back());
    } else {
        auto it = p.starts.upper_bound(index);
        --it;
        start = it->first;
        after = it->second;
    }
    for (;;) {
        std::vector<mysql::Row> page;
        bool complete = false;
        if (!read_page(after, page, complete)) {
            p.valid = false;
            failed = true;
            return nullptr;
        }
        p.valid = true;
        p.first = start;
        p.rows = std::move(page);
        p.complete = complete || p.rows.empty();
        p.starts[start] = after;
        if (in_page()) return &p.rows[static_cast<std::size_t>(index - p.first)];
        if (p.complete) return nullptr;
        after = key_of(p.rows.back());
        start += static_cast<std::int32_t>(p.rows.size());
    }
}

int CLogDbMySQLStore::ReadLog(std::int32_t index, const LogHeader& header, std::uint8_t* out,
                              std::int32_t bytes, std::int32_t, std::int32_t extraSlots,
                              const char* columnPrefix, std::int32_t, bool descending) {
    if (out == nullptr || bytes <= 0 || index < 0 || extraSlots < 0 || extraSlots > kMaxExtraSlots) {
        fail("CAN'T GET DATA");
        return platform::fail(EINVAL);
    }
    const auto extra = static_cast<std::size_t>(extraSlots);
    bool failed = false;
    const mysql::Row* row = row_at(index, select_list(columnPrefix, "*"), extra, descending, failed);
    if (failed) return -1;
    if (row == nullptr) {
        fail("CAN'T GET DATA");
        return -1;
    }
    const std::span<std::uint8_t> all(out, static_cast<std::size_t>(bytes) + 8 * extra);
    stateTextsFailed_ = false;
    const char* failure =
        mysql::record_from_row(header, *row, extra, true, all.first(static_cast<std::size_t>(bytes)),
                               all.subspan(static_cast<std::size_t>(bytes)),
                               [this](std::size_t b, std::uint16_t c) { return state_texts(b, c); });
    if (failure != nullptr) {
        fail(failure);
        return platform::fail(EINVAL);
    }
    if (stateTextsFailed_) return -1;
    lastIndex_ = index;
    return 0;
}

int CLogDbMySQLStore::ReadLogs(std::int32_t first, const LogHeader& header, std::uint8_t* out,
                               std::int32_t count, std::int32_t extraSlots, const char* columnPrefix,
                               std::int32_t) {
    if (out == nullptr || header.recordSize <= 0 || extraSlots < 0) return 0;
    const auto stride =
        static_cast<std::size_t>(header.recordSize) + 8 * static_cast<std::size_t>(extraSlots);
    int read = 0;
    for (std::int32_t i = 0; i < count; ++i, ++read)
        if (ReadLog(first + i, header, out + static_cast<std::size_t>(i) * stride, header.recordSize, 0,
                    extraSlots, columnPrefix, 0, false) != 0)
            break;
    return read;
}

int CLogDbMySQLStore::ReadLogsByTime(const TimeStamp* from, const TimeStamp* to, const LogHeader& header,
                                     std::uint8_t* out, std::int32_t recordBytes, std::int32_t count,
                                     std::int32_t extraSlots, const char* columnPrefix, bool descending,
                                     bool columnsOnly) {
    if (out == nullptr || count <= 0 || recordBytes <= 0 || extraSlots < 0 || extraSlots > kMaxExtraSlots)
        return 0;
    std::vector<mysql::Value> params;
    const std::string columns =
        select_list(columnPrefix, columnsOnly ? (header.sigChange ? "DT, MS, LL, LV" : "DT, MS") : "*");
    const char* dir = descending ? " DESC" : " ASC";
    std::string sql = "SELECT " + columns + " FROM " + data_table() + range_condition(from, to, params);
    sql += (params.empty() ? " WHERE " : " AND ") + std::string("DT IS NOT NULL");
    sql += std::string(" ORDER BY DT") + dir + ", MS" + dir + " LIMIT " + std::to_string(count);
    ++recordQueries_;
    auto result = session_.run(sql, params);
    if (const auto* failure = std::get_if<mysql::Failure>(&result)) {
        fail("CAN'T SELECT FROM DATA", failure->text);
        return 0;
    }
    auto& rows = std::get<mysql::Result>(result).rows;
    const auto extra = static_cast<std::size_t>(extraSlots);
    mysql::order_groups(rows, extra, descending);
    const std::size_t step = static_cast<std::size_t>(recordBytes) + 8 * extra;
    const auto states = [this](std::size_t b, std::uint16_t c) { return state_texts(b, c); };
    stateTextsFailed_ = false;
    int n = 0;
    for (; n < count && static_cast<std::size_t>(n) < rows.size(); ++n) {
        const std::span<std::uint8_t> all(out + step * static_cast<std::size_t>(n), step);
        if (const char* failure =
                mysql::record_from_row(header, rows[static_cast<std::size_t>(n)], extra, !columnsOnly,
                                       all.first(static_cast<std::size_t>(recordBytes)),
                                       all.subspan(static_cast<std::size_t>(recordBytes)), states)) {
            fail(failure);
            break;
        }
        if (stateTextsFailed_) break;
    }
    return n;
}

int CLogDbMySQLStore::GetNoLogsInRange(const TimeStamp& from, const TimeStamp& to, const LogHeader&) {
    std::vector<mysql::Value> params;
    const std::string sql = "SELECT COUNT(*) FROM " + data_table() + range_condition(&from, &to, params);
    auto result = session_.run(sql, params);
    const auto* ok = std::get_if<mysql::Result>(&result);
    if (ok == nullptr || ok->rows.empty() || ok->rows[0].empty()) {
        fail("CAN'T COUNT DATA ROWS", ok ? "SELECT COUNT failed" : std::get<mysql::Failure>(result).text);
        return -1;
    }
    return static_cast<int>(std::clamp<std::int64_t>(integer_of(ok->rows[0][0]), 0, INT32_MAX));
}

int CLogDbMySQLStore::PrepareRun(const std::string& connection, const std::string& loggerName,
                                 std::int32_t sequence, const std::string& tablePrefix,
                                 const LogHeader& header, const char* headerText,
                                 const db_schema::ColumnList& columns,
                                 const db_schema::ChannelLookup& lookup) {
    Close();
    connection_ = connection;
    loggerName_ = loggerName;
    sequence_ = sequence;
    tablePrefix_ = tablePrefix;
    access_ = kGenericRead | kGenericWrite;
    if (connect(false) != 0) return -1;
    const std::string prefix = ado::utf8_from_cp1252(tablePrefix_);

    // Copies of the configurations for the state texts while logging: the caller's table may
    // be gone by then.
    lookup_ = db_schema::copied_lookup(header, lookup);
    // One CHANNELS row per column, from the configuration its name was made from.
    const std::string channels_insert =
        "INSERT INTO " + mysql::quoted(prefix + "CHANNELS") + " VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)";
    for (const db_schema::ChannelColumn& column : columns.columns) {
        const qvr::ChannelRecord* config = lookup ? lookup(column.block, column.channel) : nullptr;
        if (config == nullptr) {
            fail("CAN'T FIND CHANNEL CONFIG");
            return platform::fail(platform::kErrorInvalidParameter);
        }
        std::vector<mysql::Value> values;
        for (const ado::Variant& v : db_schema::channels_row(column.block, header.blocks[column.block],
                                                             column.channel, *config, column.name))
            values.push_back(bound(v));
        auto result = session_.run(channels_insert, values);
        if (const auto* failure = std::get_if<mysql::Failure>(&result)) {
            fail("CAN'T GET CHANNEL CONFIGURATION", failure->text);
            return -1;
        }
    }

    const auto parts =
        db_schema::split_header_text(headerText ? ado::utf8_from_cp1252(headerText) : std::string{});
    std::int32_t bias = 0;
    std::memcpy(&bias, header.timeZone.data() + platform::kTimeZoneStandardBias, sizeof bias);
    const bool sig = header.sigChange != 0;
    const auto two = [](const std::array<char, 2>& p) -> mysql::Value {
        return ado::utf8_from_cp1252(std::string_view(p.data(), strnlen(p.data(), 2)));
    };
    const auto null_unless = [](bool given, mysql::Value v) { return given ? v : mysql::Value{}; };
    const mysql::Value row[] = {
        ado::utf8_from_cp1252(loggerName_),
        std::int64_t{sequence_},
        db_schema::date_value(header.start.seconds),
        date_or_null(header.stop.seconds),
        std::int64_t{0},
        prefix,
        parts.header ? mysql::Value{db_schema::cut_to_characters(*parts.header, db_schema::kTextColumnSize)}
                     : mysql::Value{},
        std::int64_t{header.tagColumns},
        std::int64_t{0},
        std::int64_t{0},
        std::int64_t{bias},
        std::int64_t{header.sigChange},
        null_unless(sig, two(header.triggerPrefix)),
        null_unless(sig, std::int64_t{header.triggerNumber}),
        null_unless(sig, two(header.lagPrefix)),
        null_unless(sig, std::int64_t{header.lagNumber}),
        std::monostate{},
    };
    auto inserted = session_.run("INSERT INTO LOGGERS VALUES(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)", row);
    if (const auto* failure = std::get_if<mysql::Failure>(&inserted)) {
        fail("CAN'T UPDATE LOGGERS TABLE", failure->text);
        return -1;
    }
    for (const std::string& line : parts.predefined) {
        const mysql::Value text[] = {db_schema::cut_to_characters(line, db_schema::kTextColumnSize)};
        auto result = session_.run("INSERT INTO " + mysql::quoted(prefix + "TEXT") + " VALUES (?)", text);
        if (const auto* failure = std::get_if<mysql::Failure>(&result)) {
            fail("CAN'T UPDATE TEXT TABLE", failure->text);
            return -1;
        }
    }
    // A new run's DATA table has no rows yet.
    ledger_.start(std::nullopt);
    return 0;
}

}  // namespace log_stores
