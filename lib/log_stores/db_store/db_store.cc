#include "log_stores/db_store/db_store.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cmath>
#include <ctime>

#include "log_stores/db_schema/data_row.h"
#include "log_stores/db_schema/header_text.h"
#include "log_stores/db_schema/run_naming.h"
#include "log_stores/db_schema/schema_tables.h"
#include "log_stores/db_schema/sql_text.h"
#include "log_stores/db_store/db_store_state.h"
#include "log_stores/com_error_report.h"
#include "log_stores/log_location.h"
#include "log_stores/logger_names/logger_name.h"
#include "log_stores/section_lines.h"
#include "platform/ado/recordset.h"
#include "platform/ado/text_codec.h"
#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "qvr/diag/trace.h"
#include "qvr/settings/reg.h"

namespace log_stores {
namespace {

constexpr std::string_view kRemoteProvider = "PROVIDER=MS REMOTE";

std::u16string u16(std::string_view utf8) { return ado::utf16_from_utf8(utf8); }

template <std::size_t N>
void copy_cut(char (&out)[N], std::string_view text) {
    const std::size_t n = std::min(text.size(), N - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

std::string trim_right(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

// An 8-bit text of a value: empty for NULL or a value without a text form.
std::string cp1252_of(const ado::Variant& value) {
    if (value.is_null() || value.is_empty()) return {};
    try {
        return ado::cp1252_from_utf16(value.to_text());
    } catch (...) {
        return {};
    }
}

std::int32_t now_seconds() { return static_cast<std::int32_t>(std::time(nullptr)); }

// Copies `count` characters of `text` into a fixed field, the rest left zero.
void put_text(char* field, std::size_t count, std::string_view text) {
    std::memcpy(field, text.data(), std::min(count, text.size()));
}

std::string utc_line_time(std::int32_t seconds) {
    const std::time_t t = static_cast<std::uint32_t>(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char out[32];
    std::snprintf(out, sizeof out, "%02d/%02d/%02d %02d:%02d:%02d ", tm.tm_year % 100, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec);
    return out;
}

// Writes the lines (or only their size) as the section readers hand them out.
void hand_out(const std::string& text, char* out, std::size_t* size) {
    if (!size) return;
    if (!out) {
        *size = text.empty() ? 0 : text.size() + 1;
        return;
    }
    if (*size == 0) return;
    const std::size_t n = std::min(text.size(), *size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

// ---- state helpers ---------------------------------------------------------------------

int CLogDbStore::State::fail(CLogDbDataAcc& acc, const char* context) {
    copy_cut(errorText, acc.GetLastErrorText());
    set_context(context);
    return -1;
}

int CLogDbStore::State::fail_context(const char* context) {
    set_context(context);
    return -1;
}

void CLogDbStore::State::set_context(const char* context) { copy_cut(errorContext, context ? context : ""); }

std::string CLogDbStore::State::logger_utf8() const { return ado::utf8_from_cp1252(logger); }
std::string CLogDbStore::State::prefix_utf8() const { return ado::utf8_from_cp1252(prefix); }
std::string CLogDbStore::State::data_table() { return db_schema::run_table(dialect(), prefix_utf8(), "DATA"); }
std::string CLogDbStore::State::run_row(std::string_view columns) {
    return db_schema::run_row_query(dialect(), columns, logger_utf8(), sequence);
}
int CLogDbStore::State::lock_for_writes() const {
    return (access & kGenericWrite) ? ado::kOptimistic : ado::kReadOnly;
}

std::string CLogDbStore::State::select_list(const char* columnPrefix, std::string_view rest) {
    const std::string_view given = columnPrefix ? columnPrefix : "";
    if (given.empty()) return std::string(rest);
    if (rest == "*") return std::string(given) + data_table() + ".*";
    return std::string(given) + std::string(rest);
}

bool CLogDbStore::State::put_changed(CLogDbDataAcc& acc, std::int32_t field, const ado::Variant& value,
                                     bool& changed) {
    ado::Variant stored;
    if (acc.GetFieldValueByIndex(field, &stored) == 0) {
        const bool bothDates = stored.type() == ado::VarType::date || value.type() == ado::VarType::date;
        const bool same = bothDates ? (seconds_of_value(stored).has_value() && seconds_of_value(stored) ==
                                                                                    seconds_of_value(value))
                                    : db_schema::compare_values(stored, value) == 0 &&
                                          stored.is_null() == value.is_null();
        if (same) return true;
    }
    changed = true;
    return acc.PutFieldByIndex(field, value) == 0;
}

bool CLogDbStore::State::query(CLogDbDataAcc& acc, const std::string& sql, int lockType) {
    if (acc.OpenRecordset(u16(sql), ado::kStatic, lockType, ado::kCmdUnknown) == 0) return true;
    const int error = platform::last_error();
    if (&acc != &main || !mainOpened || error == last_error_of(ado::kSyntax) ||
        error == last_error_of(ado::kConversion) || error == last_error_of(ado::kNoSuchTable))
        return false;
    // The connection may be gone (a server restarted, a session killed): one new one.
    trace_Write("database store: reconnecting after a failed query\r\n");
    if (main.OpenConnection(ado::utf16_from_cp1252(connection), u"", 0) != 0) return false;
    return acc.OpenRecordset(u16(sql), ado::kStatic, lockType, ado::kCmdUnknown) == 0;
}

bool CLogDbStore::State::query_with_kinds(CLogDbDataAcc& acc, const std::function<std::string(int)>& build,
                                          int lockType) {
    return db_schema::with_literal_kinds(kinds, acc.ConnectionDialect(), [&](int kind) {
        if (query(acc, build(kind), lockType)) return db_schema::Attempt::accepted;
        return db_schema::judge_last_error(platform::last_error());
    });
}

bool CLogDbStore::State::at_end(CLogDbDataAcc& acc) {
    ado::Variant end;
    if (acc.IsEOF(&end) != 0) return true;
    return end.type() != ado::VarType::boolean || end.bool_value() != 0;
}

std::optional<std::int64_t> CLogDbStore::State::count_of(const std::string& sql) {
    if (!query(main, sql, ado::kReadOnly)) return std::nullopt;
    if (at_end(main)) return 0;
    ado::Variant v;
    if (main.GetFieldValueByIndex(0, &v) != 0) return std::nullopt;
    try {
        return v.is_null() ? 0 : v.to_i8();
    } catch (...) {
        return std::nullopt;
    }
}

bool CLogDbStore::State::fetch_rows(CLogDbDataAcc& acc, std::vector<std::vector<ado::Variant>>& rows) {
    rows.clear();
    std::size_t width = 0;
    bool known = false;
    for (;;) {
        if (at_end(acc)) return true;
        std::vector<ado::Variant> row;
        for (std::int32_t i = 0;; ++i) {
            if (known && static_cast<std::size_t>(i) >= width) break;
            ado::Variant v;
            if (acc.GetFieldValueByIndex(i, &v) != 0) {
                // Past the last column: the row's width is known from now on.
                if (known || i == 0) return false;
                break;
            }
            row.push_back(std::move(v));
        }
        width = row.size();
        known = true;
        rows.push_back(std::move(row));
        if (acc.MoveNext() != 0) return false;
    }
}

bool CLogDbStore::State::read_digital_text_switch() {
    char value[64] = {};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof value - 1;
    const int rc = reg_AccessProductValue(platform::RegistryHive::machine, kProductKey, platform::kKeyQueryValue,
                                          "DatabaseDigitalText", &type, value, &size);
    if (rc != 0 || type != kRegSz) return false;
    const std::size_t n = std::min<std::size_t>(size, sizeof value - 1);
    return db_schema::digital_text_selected(std::string_view(value, strnlen(value, n)));
}

std::optional<std::int64_t> CLogDbStore::State::rows_with_key(db_schema::RecordKey key) {
    std::optional<std::int64_t> n;
    db_schema::with_literal_kinds(kinds, dialect(), [&](int kind) {
        n = count_of("SELECT COUNT(*) FROM " + data_table() + " WHERE DT = " + db_schema::date_literal(kind, key.seconds) +
                     " AND MS = " + std::to_string(key.milliseconds));
        return n ? db_schema::Attempt::accepted : db_schema::judge_last_error(platform::last_error());
    });
    return n;
}

void CLogDbStore::State::learn_digital_columns() {
    digitalColumns.clear();
    std::vector<std::vector<ado::Variant>> rows;
    const std::string sql = "select nBlock, nChannelNumber, nType from " +
                            db_schema::run_table(dialect(), prefix_utf8(), "CHANNELS");
    if (!query(main, sql, ado::kReadOnly) || !fetch_rows(main, rows)) return;
    for (const auto& row : rows) {
        if (row.size() < 3 || row[2].is_null()) continue;
        try {
            const auto block = static_cast<std::size_t>(row[0].to_i4());
            const auto channel = static_cast<std::uint16_t>(row[1].to_i4());
            digitalColumns[{block, channel}] = qvr::is_digital(static_cast<qvr::ChannelKind>(row[2].to_i4()));
        } catch (...) {
        }
    }
}

const qvr::ChannelRecord* CLogDbStore::State::writing_config(std::size_t block, std::uint16_t channel) const {
    static const qvr::ChannelRecord kAnalog = [] {
        qvr::ChannelRecord r{};
        r.head.Type = qvr::ChannelKind::AI;
        return r;
    }();
    static const qvr::ChannelRecord kDigitalWithoutTexts = [] {
        qvr::ChannelRecord r{};
        r.head.Type = qvr::ChannelKind::DI;
        return r;
    }();
    const qvr::ChannelRecord* config = lookup ? lookup(block, channel) : nullptr;
    const auto it = digitalColumns.find({block, channel});
    if (it == digitalColumns.end()) return config;
    if (!it->second) return &kAnalog;
    return config && qvr::is_digital(config->head.Type) ? config : &kDigitalWithoutTexts;
}

int CLogDbStore::State::stamp_text_time() {
    bool changed = false;
    if (!query(main, run_row("dTextTime"), ado::kOptimistic) || at_end(main) ||
        !put_changed(main, 0, ado::Variant::date(db_schema::date_value(now_seconds())), changed) ||
        (changed && main.Update() != 0))
        return fail(main, "CAN'T UPDATE LOGGERS TABLE");
    return 0;
}

std::optional<std::int32_t> seconds_of_value(const ado::Variant& value) {
    if (value.type() == ado::VarType::date) return db_schema::seconds_of_date(value.date_value());
    if (value.type() != ado::VarType::bstr) return std::nullopt;
    try {
        return db_schema::seconds_of_date(value.to_date());
    } catch (...) {
        return std::nullopt;
    }
}

// ---- life ------------------------------------------------------------------------------

CLogDbStore::CLogDbStore() : state_(std::make_unique<State>()) {}
CLogDbStore::~CLogDbStore() = default;

void CLogDbStore::GetTablePrefix(char* out, std::size_t capacity) const {
    if (!out || capacity == 0) return;
    const std::size_t n = std::min({state_->prefix.size(), capacity - 1, kDbNameCapacity - 1});
    std::memcpy(out, state_->prefix.data(), n);
    out[n] = '\0';
}

std::int32_t CLogDbStore::GetSequence() const { return state_->sequence; }

void CLogDbStore::SetChannelLookup(db_schema::ChannelLookup lookup) { state_->lookup = std::move(lookup); }

const char* CLogDbStore::GetErrorText() { return state_->errorText; }
const char* CLogDbStore::GetErrorContext() { return state_->errorContext; }

void CLogDbStore::GetLocation(char* text, std::size_t* size) {
    char seq[16];
    std::snprintf(seq, sizeof seq, "%08d", state_->sequence);
    const std::string location = state_->connection + ";LoggerName=" + state_->logger + ";LoggerSeq=" + seq;
    copy_with_size(location, text, size);
}

int CLogDbStore::Close() {
    State& s = *state_;
    s.pages.forget();
    s.mainOpened = false;
    s.main.CloseAll();
    if (s.loggingOpen) {
        s.logging.CloseAll();
        s.loggingOpen = false;
    }
    return 0;
}

// ---- opening ---------------------------------------------------------------------------

namespace {

struct ParsedLocation {
    std::string rest;  // the connection string
    std::string logger;
    std::int32_t sequence = 0;
};

std::optional<ParsedLocation> parse_location(std::string_view location) {
    if (location.size() > kDbConnectionStringMax) return std::nullopt;
    ParsedLocation p;
    p.rest = std::string(location);
    char name[kDbNameCapacity] = {};
    std::size_t size = sizeof name;
    if (GetLoggerNameFromLocation(p.rest, &size, name) != 1) return std::nullopt;
    if (GetLoggerSeqFromLocation(p.rest, p.sequence) != 1) return std::nullopt;
    p.logger = name;
    return p;
}

}  // namespace

int CLogDbStore::Open(const char* server, const char* location, std::uint32_t access) {
    State& s = *state_;
    s.pages.forget();
    s.mainOpened = false;
    const std::string_view given = location ? location : "";
    auto attempt = [&](std::string_view text) -> int {
        const auto parsed = parse_location(text);
        if (!parsed) {
            platform::set_last_error(0);
            return s.fail_context("BADLY FORMED PATH NAME");
        }
        s.access = access;
        if (s.main.OpenConnection(ado::utf16_from_cp1252(parsed->rest), u"", 0) != 0)
            return s.fail(s.main, "CAN'T OPEN DATABASE");
        s.main.WaitIdle(u"", u"");
        s.logger = parsed->logger;
        s.sequence = parsed->sequence;
        ado::Variant value;
        if (!s.query(s.main, s.run_row("sTablePrefix"), ado::kReadOnly) || s.at_end(s.main) ||
            s.main.GetFieldValueByIndex(0, &value) != 0 || value.is_null()) {
            s.fail(s.main, "CAN'T FIND LOGGER NAME AND SEQ");
            s.main.CloseAll();
            return -1;
        }
        s.prefix = ado::cp1252_from_utf8(db_schema::stored_prefix(ado::utf8_from_utf16(value.to_text())));
        s.connection = parsed->rest;
        s.kinds = db_schema::LiteralKinds::for_connection(s.connection);
        s.mainOpened = true;
        return 0;
    };
    if (attempt(given) == 0) return 0;
    if (!server || !*server || platform::starts_with_ignoring_case(given, kRemoteProvider)) return -1;
    // The remote provider is tried once more; what the user must see is the first failure.
    std::string firstText = s.errorText, firstContext = s.errorContext;
    const int firstError = platform::last_error();
    const std::string remote =
        "PROVIDER=MS REMOTE;REMOTE SERVER=HTTP://" + std::string(server) + ";REMOTE " + std::string(given);
    if (attempt(remote) == 0) return 0;
    trace_Write(("remote retry failed: " + std::string(s.errorContext) + " " + s.errorText + "\r\n").c_str());
    copy_cut(s.errorText, firstText);
    s.set_context(firstContext.c_str());
    platform::set_last_error(firstError);
    return -1;
}

int CLogDbStore::OpenForLogging(LogHeader&) {
    State& s = *state_;
    if (s.logging.OpenConnection(ado::utf16_from_cp1252(s.connection), u"", 0) != 0)
        return s.fail(s.logging, "CAN'T OPEN DATABASE");
    s.loggingOpen = true;
    s.logging.WaitIdle(u"", u"");
    const std::string table = db_schema::run_table(s.logging.ConnectionDialect(), s.prefix_utf8(), "DATA");
    if (s.logging.OpenRecordset(u16(table), ado::kForwardOnly, ado::kOptimistic, ado::kCmdTable) != 0)
        return s.fail(s.logging, "CAN'T OPEN DATA TABLE");
    s.digitalText = s.read_digital_text_switch();
    if (s.digitalText) s.learn_digital_columns();
    return 0;
}

int CLogDbStore::CreateRun(const char* connectionString, const char* tablePrefix, const char* loggerName,
                           std::int32_t sequence, const LogHeader& header, const char* headerText, const char*,
                           const db_schema::ChannelLookup* channels) {
    State& s = *state_;
    s.pages.forget();
    s.mainOpened = false;
    s.digitalText = s.read_digital_text_switch();
    s.access = kGenericRead | kGenericWrite;
    s.logger = loggerName ? loggerName : "";
    const std::string connection = connectionString ? connectionString : "";
    if (channels && *channels) s.lookup = *channels;
    const auto failed = [&](const char* context) {
        s.fail(s.main, context);
        s.main.CloseAll();
        return -1;
    };
    if (const char* why = DatabaseLoggerNameRefusal(s.logger)) {
        copy_cut(s.errorText, why);
        platform::set_last_error(0);
        return s.fail_context(kBadLoggerName);
    }
    if (s.main.OpenConnection(ado::utf16_from_cp1252(connection), u"", 0) != 0) return failed("CAN'T OPEN DATABASE");
    s.main.WaitIdle(u"", u"");
    s.prefix = tablePrefix ? tablePrefix : "";
    s.sequence = sequence;
    const ado::Dialect dialect = s.dialect();
    const auto parts = db_schema::split_header_text(headerText ? ado::utf8_from_cp1252(headerText) : std::string{});

    // The run's LOGGERS row.
    if (s.main.OpenTableByName(u"LOGGERS") != 0) return failed("CAN'T FIND LOGGERS TABLE");
    if (s.main.AddNew() != 0) return failed("CAN'T ADD TO LOGGERS TABLE");
    std::int32_t bias = 0;
    std::memcpy(&bias, header.timeZone.data() + platform::kTimeZoneStandardBias, sizeof bias);
    const bool sig = header.sigChange != 0;
    const auto two = [](const std::array<char, 2>& p) {
        return ado::Variant::text(ado::utf16_from_cp1252(std::string_view(p.data(), strnlen(p.data(), 2))));
    };
    const std::pair<const char16_t*, ado::Variant> values[] = {  // LOGGERS columns 0..15
        {u"sLoggerName", ado::Variant::text(ado::utf16_from_cp1252(s.logger))},
        {u"nLoggerSequence", ado::Variant::i4(sequence)},
        {u"dStartTime", ado::Variant::date(db_schema::date_value(header.start.seconds))},
        {u"dStopTime", header.stop.seconds ? ado::Variant::date(db_schema::date_value(header.stop.seconds))
                                           : ado::Variant::null()},
        {u"bCompleted", ado::Variant::i4(0)},
        {u"sTablePrefix", ado::Variant::text(ado::utf16_from_cp1252(s.prefix))},
        {u"sHeader", parts.header ? db_schema::column_text(*parts.header, db_schema::kTextColumnSize)
                                  : ado::Variant::null()},
        {u"bTagColumns", ado::Variant::i4(header.tagColumns)},
        {u"bRowsPerChannel", ado::Variant::i4(0)},
        {u"bDST", ado::Variant::i4(0)},
        {u"nTimeZone", ado::Variant::i4(bias)},
        {u"bSigChange", ado::Variant::i4(header.sigChange)},
        {u"sTriggerPrefix", sig ? two(header.triggerPrefix) : ado::Variant::null()},
        {u"nTriggerNumber", sig ? ado::Variant::i4(header.triggerNumber) : ado::Variant::null()},
        {u"sLagPrefix", sig ? two(header.lagPrefix) : ado::Variant::null()},
        {u"nLagNumber", sig ? ado::Variant::i4(header.lagNumber) : ado::Variant::null()},
    };
    // The values in the table's column order, saved together by the one update.
    std::int32_t index = 0;
    for (const auto& [name, value] : values)
        if (s.main.PutFieldByIndex(index++, value) != 0) return failed("CAN'T UPDATE LOGGERS TABLE");
    if (s.main.Update() != 0) return failed("CAN'T UPDATE LOGGERS TABLE");

    // The predefined lines.
    if (!parts.predefined.empty()) {
        if (s.main.OpenTableByName(u16(db_schema::run_table(dialect, s.prefix_utf8(), "TEXT"))) != 0)
            return failed("CAN'T OPEN TEXT TABLE");
        for (const std::string& line : parts.predefined) {
            if (s.main.AddNew() != 0) return failed("CAN'T ADD TO TEXT TABLE");
            if (s.main.PutFieldByIndex(0, db_schema::column_text(line, db_schema::kTextColumnSize)) != 0 ||
                s.main.Update() != 0)
                return failed("CAN'T UPDATE TEXT TABLE");
        }
    }

    // One CHANNELS row per channel.
    if (s.main.OpenTableByName(u16(db_schema::run_table(dialect, s.prefix_utf8(), "CHANNELS"))) != 0)
        return failed("CAN'T OPEN CHANNELS TABLE");
    const std::size_t blocks = std::min<std::size_t>(header.blockCount, kMaxBlocks);
    bool any = false;
    for (std::size_t b = 0; b < blocks; ++b) {
        const BlockDescriptor& block = header.blocks[b];
        for (std::uint32_t j = 0; j < block.channel_count(); ++j) {
            const auto channel = static_cast<std::uint16_t>(block.firstChannel + j);
            const qvr::ChannelRecord* config = s.lookup ? s.lookup(b, channel) : nullptr;
            if (!config) {
                platform::set_last_error(platform::kErrorInvalidParameter);
                s.errorText[0] = '\0';
                s.set_context("CAN'T FIND CHANNEL CONFIG");
                s.main.CloseAll();
                return -1;
            }
            const std::string column =
                db_schema::column_name(block, channel, *config, header.tagColumns != 0);
            const auto row = db_schema::channels_row(b, block, channel, *config, column);
            if (s.main.AddNew() != 0) return failed("CAN'T ADD TO CHANNELS TABLE");
            for (std::size_t k = 0; k < row.size(); ++k)
                if (s.main.PutFieldByIndex(static_cast<std::int32_t>(k), row[k]) != 0)
                    return failed("CAN'T ADD TO CHANNELS TABLE");
            any = true;
        }
    }
    if (any && s.main.Update() != 0) return failed("CAN'T UPDATE CHANNELS TABLE");

    s.connection = connection;
    s.kinds = db_schema::LiteralKinds::for_connection(connection);
    s.mainOpened = true;
    LogHeader copy = header;
    if (OpenForLogging(copy) != 0) {
        s.main.CloseAll();
        return -1;
    }
    return 0;
}

int CLogDbStore::WriteEndOffset(std::int32_t) { return 0; }

// ---- the header and the channels -------------------------------------------------------

int CLogDbStore::ReadHeader(LogHeader& header) {
    State& s = *state_;
    if (!s.query(s.main, s.run_row("*"), ado::kReadOnly) || s.at_end(s.main))
        return s.fail(s.main, "CAN'T FIND LOGGER");
    const auto field = [&](const char16_t* name) {
        ado::Variant v;
        if (s.main.GetFieldValueByName(name, &v) != 0) return ado::Variant::null();
        return v;
    };
    const auto int_of = [](const ado::Variant& v) -> std::int32_t {
        try {
            return v.is_null() ? 0 : v.to_i4();
        } catch (...) {
            return 0;
        }
    };
    const auto start = seconds_of_value(field(u"dStartTime"));
    if (!start) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return s.fail_context("COLUMN #3 IS NOT A DATE");
    }
    LogHeader h{};
    h.start.seconds = *start;
    h.stop.seconds = seconds_of_value(field(u"dStopTime")).value_or(0);
    h.tagColumns = static_cast<std::uint8_t>(int_of(field(u"bTagColumns")));
    h.sigChange = static_cast<std::uint8_t>(int_of(field(u"bSigChange")));
    if (h.sigChange) {
        const auto two = [](std::array<char, 2>& out, const std::string& text) { put_text(out.data(), 2, text); };
        two(h.triggerPrefix, cp1252_of(field(u"sTriggerPrefix")));
        h.triggerNumber = static_cast<std::int16_t>(int_of(field(u"nTriggerNumber")));
        two(h.lagPrefix, cp1252_of(field(u"sLagPrefix")));
        h.lagNumber = static_cast<std::int16_t>(int_of(field(u"nLagNumber")));
    }
    h.formatTag = 0x8001;

    const std::string channels = "select nBlock, sPrefix, nChannelNumber, sSource, bLag from " +
                                 db_schema::run_table(s.dialect(), s.prefix_utf8(), "CHANNELS");
    if (!s.query(s.main, channels, ado::kReadOnly)) return s.fail(s.main, "CAN'T GET CHANNELS");
    std::vector<std::vector<ado::Variant>> rows;
    if (!s.fetch_rows(s.main, rows)) return s.fail(s.main, "CAN'T GET NEXT CHANNEL");
    std::array<bool, kMaxBlocks> seen{};
    for (const auto& row : rows) {
        if (row.size() < 5) continue;
        const std::int32_t b = int_of(row[0]);
        if (b < 0 || b >= static_cast<std::int32_t>(kMaxBlocks)) continue;
        const auto channel = static_cast<std::uint16_t>(int_of(row[2]));
        BlockDescriptor& block = h.blocks[static_cast<std::size_t>(b)];
        h.blockCount = std::max<std::uint16_t>(h.blockCount, static_cast<std::uint16_t>(b + 1));
        if (!seen[static_cast<std::size_t>(b)]) {
            seen[static_cast<std::size_t>(b)] = true;
            put_text(block.prefix.data(), 2, cp1252_of(row[1]));
            block.firstChannel = block.lastChannel = channel;
            // The carried bytes: bytes per channel, source text, lag flag.
            block.blockKind = 8;
            const std::string source = trim_right(cp1252_of(row[3]));
            put_text(reinterpret_cast<char*>(block.carried.data()), 24, source);
            block.carried[25] = int_of(row[4]) ? 1 : 0;
        }
        block.firstChannel = std::min(block.firstChannel, channel);
        block.lastChannel = std::max(block.lastChannel, channel);
    }
    std::int32_t size = 18;
    std::int64_t total = 0;
    for (std::size_t b = 0; b < h.blockCount; ++b) {
        BlockDescriptor& block = h.blocks[b];
        block.recordOffset = static_cast<std::uint16_t>(size);
        if (seen[b]) {
            size += 8 * (block.lastChannel - block.firstChannel) + 10;
            total += block.channel_count();
        }
    }
    h.recordSize = size;
    const int count = GetNoLogs(h);
    if (count < 0) return -1;
    h.recordCount = count;
    h.dataStart = static_cast<std::int32_t>(size + 4 * h.blockCount + 216 * total + 4404);
    h.endOfData = h.recordCount * h.recordSize + h.dataStart;
    h.timeZone = header.timeZone;
    header = h;
    return 0;
}

int CLogDbStore::WriteHeader(const LogHeader& header, bool completed) {
    State& s = *state_;
    if (!(s.access & kGenericWrite)) return 0;
    s.pages.forget();
    if (!s.query(s.main, s.run_row("dStartTime, dStopTime, bCompleted"), s.lock_for_writes()) || s.at_end(s.main))
        return s.fail(s.main, "CAN'T FIND LOGGER TIMES");
    bool changed = false;
    if (!s.put_changed(s.main, 0, ado::Variant::date(db_schema::date_value(header.start.seconds)), changed) ||
        !s.put_changed(s.main, 1,
                       header.stop.seconds ? ado::Variant::date(db_schema::date_value(header.stop.seconds))
                                           : ado::Variant::null(),
                       changed) ||
        !s.put_changed(s.main, 2, ado::Variant::i4(completed ? 1 : 0), changed) ||
        (changed && s.main.Update() != 0))
        return s.fail(s.main, "CAN'T UPDATE LOGGERS TABLE");
    if (s.loggingOpen) {
        std::uint8_t head[16] = {};
        if (ReadLog(0, header, head, sizeof head, 0, 0, nullptr, 1, false) == 0) {
            std::int32_t first = 0;
            std::memcpy(&first, head + 4, sizeof first);
            if (first < header.start.seconds) {
                const TimeStamp upper{header.start.seconds, 0, 0};
                DeleteLogsBetween(nullptr, &upper);
            }
        }
    }
    return 0;
}

int CLogDbStore::ReadChannelConfig(const LogHeader& header, qvr::ChannelRecord* out, std::size_t block,
                                   std::size_t first, std::size_t count) {
    State& s = *state_;
    s.pages.forget();
    if (!out || block >= header.blockCount || block >= kMaxBlocks) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return s.fail_context("CHANNEL NOT IN HEADER");
    }
    const BlockDescriptor& b = header.blocks[block];
    if (count == 0 || first + count > b.channel_count()) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return s.fail_context("CHANNEL NOT IN HEADER");
    }
    const ado::Dialect dialect = s.dialect();
    const std::string table = db_schema::run_table(dialect, s.prefix_utf8(), "CHANNELS");
    const std::string prefix = ado::utf8_from_cp1252(std::string_view(b.prefix.data(), strnlen(b.prefix.data(), 2)));
    for (std::size_t k = 0; k < count; ++k) {
        const int channel = b.firstChannel + static_cast<int>(first + k);
        const std::string sql = "select * from " + table + " where sPrefix = " +
                                db_schema::text_literal(dialect, prefix) +
                                " AND nChannelNumber = " + std::to_string(channel);
        if (!s.query(s.main, sql, ado::kReadOnly) || s.at_end(s.main)) return s.fail(s.main, "CAN'T FIND CHANNEL");
        qvr::ChannelRecord& r = out[k];
        r = qvr::ChannelRecord{};
        const auto field = [&](const char16_t* name) {
            ado::Variant v;
            if (s.main.GetFieldValueByName(name, &v) != 0) return ado::Variant::null();
            return v;
        };
        qvr::split_text(r, qvr::ChannelText::Tag, trim_right(cp1252_of(field(u"sTag"))));
        qvr::split_text(r, qvr::ChannelText::Description, trim_right(cp1252_of(field(u"sDescription"))));
        const ado::Variant type = field(u"nType");
        if (type.is_null()) continue;
        std::int32_t kind = 0;
        try {
            kind = type.to_i4();
        } catch (...) {
            continue;
        }
        r.head.Type = static_cast<qvr::ChannelKind>(kind);
        r.head.Flags.set(qvr::AnalogFlag::Enable, true);
        const auto number = [&](const char16_t* name) -> float {
            const ado::Variant v = field(name);
            try {
                return v.is_null() ? 0.0f : static_cast<float>(v.to_r8());
            } catch (...) {
                return 0.0f;
            }
        };
        if (qvr::is_digital(r.head.Type)) {
            put_text(r.digital.LowStateText, 32, trim_right(cp1252_of(field(u"sLowStateDesc"))));
            put_text(r.digital.HighStateText, 32, trim_right(cp1252_of(field(u"sHighStateDesc"))));
        } else {
            qvr::split_text(r, qvr::ChannelText::Units, trim_right(cp1252_of(field(u"sUnits"))));
            r.analog.MinimumUnits = number(u"fMinScale");
            r.analog.MaximumUnits = number(u"fMaxScale");
        }
    }
    return 0;
}

// ---- counts ----------------------------------------------------------------------------

int CLogDbStore::GetNoLogs(const LogHeader&) {
    State& s = *state_;
    const auto n = s.count_of("SELECT COUNT(*) FROM " + s.data_table());
    if (!n) return s.fail(s.main, "CAN'T COUNT DATA ROWS");
    return static_cast<int>(std::min<std::int64_t>(*n, INT32_MAX));
}

int CLogDbStore::GetNoMarkedLogs(const LogHeader& header) {
    State& s = *state_;
    if (!header.sigChange) return 0;
    const auto n = s.count_of("SELECT COUNT(*) FROM " + s.data_table() + " WHERE LL >= 1");
    if (!n) return s.fail(s.main, "CAN'T COUNT DATA ROWS");
    return static_cast<int>(std::min<std::int64_t>(*n, INT32_MAX));
}

int CLogDbStore::GetNoLogsInRange(const TimeStamp& from, const TimeStamp& to, const LogHeader&) {
    State& s = *state_;
    std::optional<std::int64_t> n;
    const bool ok = db_schema::with_literal_kinds(s.kinds, s.dialect(), [&](int kind) {
        n = s.count_of("SELECT COUNT(*) FROM " + s.data_table() + db_schema::range_condition(kind, from, to));
        return n ? db_schema::Attempt::accepted : db_schema::judge_last_error(platform::last_error());
    });
    if (!ok || !n) return s.fail(s.main, "CAN'T COUNT DATA ROWS");
    return static_cast<int>(std::min<std::int64_t>(*n, INT32_MAX));
}

void CLogDbStore::DeleteLogsInRange(const TimeStamp& from, const TimeStamp& to) { DeleteLogsBetween(&from, &to); }

void CLogDbStore::DeleteLogsBetween(const TimeStamp* from, const TimeStamp* to) {
    State& s = *state_;
    s.pages.forget();
    const auto lower = from ? std::optional<TimeStamp>(*from) : std::nullopt;
    const auto upper = to ? std::optional<TimeStamp>(*to) : std::nullopt;
    // DELETE returns no rows: sent as a statement on the main connection through a recordset
    // open, which runs any statement.
    s.query_with_kinds(
        s.main,
        [&](int kind) { return "DELETE FROM " + s.data_table() + db_schema::range_condition(kind, lower, upper); },
        s.lock_for_writes());
    s.main.CloseRecordset();
}

int CLogDbStore::TruncateLogs(const LogHeader&, std::int32_t) { return 0; }
int CLogDbStore::Rename(const char*) { return 0; }
int CLogDbStore::WriteFormulae(const char*, std::int32_t, const char*) { return -1; }
int CLogDbStore::WriteUnitCategory(const char*, const char*) { return -1; }

// ---- sections --------------------------------------------------------------------------

int CLogDbStore::ReadSectionW(const char*, char16_t*, std::size_t*, std::int32_t, std::int32_t) { return 0; }

int CLogDbStore::ReadSection(const char* section, char* out, std::size_t* size, std::int32_t further1,
                             std::int32_t further2) {
    State& s = *state_;
    s.pages.forget();
    const std::string_view name = section ? section : "";
    if (platform::equal_ignoring_case(name, "HEADER")) {
        ado::Variant v;
        if (!s.query(s.main, s.run_row("sHeader"), ado::kReadOnly) || s.at_end(s.main) ||
            s.main.GetFieldValueByIndex(0, &v) != 0)
            return s.fail(s.main, "CAN'T FIND LOGGER NAME AND SEQ HDR");
        const std::string text = trim_right(cp1252_of(v));
        if (size && !out) {
            *size = text.size() + 1;
        } else {
            hand_out(text, out, size);
        }
        return CountTextLines(text);
    }
    if (platform::equal_ignoring_case(name, "TARGETS")) return 0;
    const bool text = platform::equal_ignoring_case(name, "TEXT");
    const bool positions = platform::equal_ignoring_case(name, "POSITIONS");
    const bool predefined = platform::equal_ignoring_case(name, "PREDEFINED");
    if (!text && !positions && !predefined) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return -1;
    }
    std::vector<std::vector<ado::Variant>> rows;
    if (predefined) {
        const std::string sql = "SELECT TX FROM " + db_schema::run_table(s.dialect(), s.prefix_utf8(), "TEXT") +
                                " WHERE TX IS NOT NULL";
        if (!s.query(s.main, sql, ado::kReadOnly) || !s.fetch_rows(s.main, rows))
            return s.fail(s.main, "CAN'T FIND TEXT/TX");
    } else {
        const char* column = text ? "TX" : "TP";
        const auto lower = further1 ? std::optional<TimeStamp>(TimeStamp{further1, 0, 0}) : std::nullopt;
        const auto upper = further2 ? std::optional<TimeStamp>(TimeStamp{further2, 0, 0}) : std::nullopt;
        const bool ok = s.query_with_kinds(
            s.main,
            [&](int kind) {
                std::string range = db_schema::range_condition(kind, lower, upper);
                if (!range.empty()) range = " AND " + range.substr(7);
                return "SELECT DT, " + std::string(column) + " FROM " + s.data_table() + " WHERE " + column +
                       " IS NOT NULL" + range + " ORDER BY DT ASC";
            },
            ado::kReadOnly);
        if (!ok || !s.fetch_rows(s.main, rows)) return s.fail(s.main, text ? "CAN'T FIND TX" : "CAN'T FIND TS");
    }
    std::string lines;
    int count = 0;
    for (const auto& row : rows) {
        if (predefined) {
            std::string line = trim_right(cp1252_of(row[0]).substr(0, db_schema::kTextColumnSize));
            if (line.empty()) continue;
            lines += line + "\r\n";
            ++count;
            continue;
        }
        if (row.size() < 2) continue;
        const auto seconds = seconds_of_value(row[0]);
        if (!seconds) continue;
        if (text) {
            std::string line = trim_right(cp1252_of(row[1]).substr(0, db_schema::kTextColumnSize));
            if (line.empty()) continue;
            lines += utc_line_time(*seconds) + line + "\r\n";
        } else {
            double value = 0;
            try {
                value = row[1].to_r8();
            } catch (...) {
                continue;
            }
            char number[64];
            std::snprintf(number, sizeof number, "%f", value);
            lines += utc_line_time(*seconds) + number + "\r\n";
        }
        ++count;
    }
    hand_out(lines, out, size);
    return count;
}

int CLogDbStore::ReadSectionLinesW(const char*, const char16_t**, std::size_t* count, char16_t*, std::size_t* size,
                                   std::int32_t, std::int32_t) {
    if (count) *count = 0;
    if (size) *size = 0;
    return 0;
}

int CLogDbStore::ReadSectionLines(const char* section, const char** lines, std::size_t* count, char* buffer,
                                  std::size_t* size, std::int32_t further1, std::int32_t further2) {
    return read_section_lines(*this, section, lines, count, buffer, size, further1, further2);
}

// ---- texts and positions ---------------------------------------------------------------

namespace {

// The row of that second a text or position goes to: for a text one whose TX is still empty,
// so that an earlier text of the same second is never overwritten.
std::string annotation_row(const std::string& table, const char* column, int kind, std::int32_t seconds,
                           bool free_only) {
    std::string sql = "SELECT DT, MS, " + std::string(column) + " FROM " + table +
                      " WHERE DT = " + db_schema::date_literal(kind, seconds);
    if (free_only) sql += " AND " + std::string(column) + " IS NULL";
    return sql;
}

}  // namespace

int CLogDbStore::AddTextW(std::int32_t seconds, const char16_t* text, const char16_t*, const char* section) {
    State& s = *state_;
    s.pages.forget();
    if (section && *section && !platform::equal_ignoring_case(section, "TEXT")) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return -1;
    }
    const std::string utf8 = ado::utf8_from_utf16(text ? std::u16string_view(text) : std::u16string_view{});
    const std::string table = s.data_table();
    if (!s.query_with_kinds(
            s.main, [&](int kind) { return annotation_row(table, "TX", kind, seconds, true); }, ado::kOptimistic))
        return s.fail(s.main, "CAN'T WRITE LOG");
    if (s.at_end(s.main)) {
        platform::set_last_error(platform::kErrorFileNotFound);
        s.errorText[0] = '\0';
        return s.fail_context("CAN'T UPDATE TEXT TABLE");
    }
    if (s.main.PutFieldByIndex(2, db_schema::column_text(utf8, db_schema::kTextColumnSize)) != 0 ||
        s.main.Update() != 0)
        return s.fail(s.main, "CAN'T UPDATE TEXT TABLE");
    return s.stamp_text_time();
}

int CLogDbStore::AddText(std::int32_t seconds, const char* text, const char*, const char* section) {
    State& s = *state_;
    const std::u16string wide = ado::utf16_from_cp1252(text ? text : "");
    const int rc = AddTextW(seconds, wide.c_str(), nullptr, section);
    // The Rimvale edition drops a text for a second without a free row silently.
    if (rc != 0 && std::string_view(s.errorContext) == "CAN'T UPDATE TEXT TABLE" && s.errorText[0] == '\0' &&
        platform::equal_ignoring_case(reg_GetProductName(), "Rimvale"))
        return 0;
    return rc;
}

int CLogDbStore::AddTextPreciseW(const TimeStamp& time, const char16_t* text, const char16_t* match,
                                 const char* section) {
    return AddTextW(time.seconds, text, match, section);
}

int CLogDbStore::AddTextPrecise(const TimeStamp& time, const char* text, const char* match, const char* section) {
    return AddText(time.seconds, text, match, section);
}

int CLogDbStore::AddPosition(std::int32_t seconds, bool hasValue, float value) {
    State& s = *state_;
    s.pages.forget();
    const std::string table = s.data_table();
    if (!s.query_with_kinds(
            s.main, [&](int kind) { return annotation_row(table, "TP", kind, seconds, false); }, ado::kOptimistic))
        return s.fail(s.main, "CAN'T WRITE LOG");
    if (s.at_end(s.main)) {
        platform::set_last_error(platform::kErrorFileNotFound);
        s.errorText[0] = '\0';
        return s.fail_context("CAN'T UPDATE TEXT TABLE");
    }
    const ado::Variant v = hasValue && std::isfinite(value) ? ado::Variant::r4(value) : ado::Variant::null();
    bool changed = false;
    if (!s.put_changed(s.main, 2, v, changed) || (changed && s.main.Update() != 0))
        return s.fail(s.main, "CAN'T UPDATE TEXT TABLE");
    return s.stamp_text_time();
}

int CLogDbStore::WriteHeaderTextW(const char16_t* text) {
    State& s = *state_;
    s.pages.forget();
    const std::string utf8 = ado::utf8_from_utf16(text ? std::u16string_view(text) : std::u16string_view{});
    const std::string sql = "select sHeader, dTextTime  from LOGGERS where sLoggerName = " +
                            db_schema::text_literal(s.dialect(), s.logger_utf8()) +
                            " AND nLoggerSequence = " + std::to_string(s.sequence);
    bool changed = false;
    if (!s.query(s.main, sql, ado::kOptimistic) || s.at_end(s.main) ||
        !s.put_changed(s.main, 0, db_schema::column_text(utf8, db_schema::kTextColumnSize), changed) ||
        !s.put_changed(s.main, 1, ado::Variant::date(db_schema::date_value(now_seconds())), changed) ||
        (changed && s.main.Update() != 0))
        return s.fail(s.main, "CAN'T UPDATE LOGGERS TABLE");
    return 0;
}

int CLogDbStore::WriteHeaderText(const char* text) {
    const std::u16string wide = ado::utf16_from_cp1252(text ? text : "");
    return WriteHeaderTextW(wide.c_str());
}

int CLogDbStore::GetTextTime(std::int32_t& seconds) {
    State& s = *state_;
    s.pages.forget();
    ado::Variant v;
    if (!s.query(s.main, s.run_row("dTextTime"), ado::kReadOnly) || s.at_end(s.main) ||
        s.main.GetFieldValueByIndex(0, &v) != 0) {
        s.fail(s.main, "CAN'T FIND LOGGER NAME AND SEQ HDR");
        s.main.CloseAll();
        return -1;
    }
    seconds = v.is_null() ? 0 : seconds_of_value(v).value_or(0);
    return 0;
}

}  // namespace log_stores
