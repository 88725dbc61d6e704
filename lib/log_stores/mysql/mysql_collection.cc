#include "log_stores/mysql/mysql_collection.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "log_stores/db_collection/run_channels.h"
#include "log_stores/db_schema/data_columns.h"
#include "log_stores/db_schema/date_literal.h"
#include "log_stores/db_schema/run_naming.h"
#include "log_stores/db_schema/schema_tables.h"
#include "log_stores/log_location.h"
#include "log_stores/logger_names/logger_name.h"
#include "log_stores/mysql/mysql_store.h"
#include "log_stores/status_channels/logger_status.h"
#include "platform/ado/dialect.h"
#include "platform/ado/text_codec.h"
#include "platform/last_error.h"
#include "platform/secret_mask.h"
#include "qvr/link/link.h"
#include "qvr/settings/reg.h"
#include "qvr/util/bounded_copy.h"

namespace log_stores {
namespace {

std::size_t length_of(const char* text) {
    return text == nullptr ? 0 : std::strlen(text);
}

std::int32_t seconds_of(const mysql::Value& value) {
    const auto* date = std::get_if<ado::DateValue>(&value);
    if (date == nullptr) return 0;
    return db_schema::seconds_of_date(*date).value_or(0);
}

std::int64_t integer_of(const mysql::Value& value) {
    if (const auto* n = std::get_if<std::int64_t>(&value)) return *n;
    if (const auto* d = std::get_if<double>(&value)) return static_cast<std::int64_t>(*d);
    return 0;
}

std::optional<std::string> registry_text(const char* name) {
    char value[64] = {};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof value - 1;
    if (reg_AccessProductValue(platform::RegistryHive::machine, kProductKey, platform::kKeyQueryValue, name,
                               &type, value, &size) != 0 ||
        type != kRegSz)
        return std::nullopt;
    return std::string(value, strnlen(value, sizeof value - 1));
}

const ado::Dialect kMySql(ado::Engine::mariadb);

}  // namespace

CLogDbMySQLCollection::CLogDbMySQLCollection() = default;
CLogDbMySQLCollection::~CLogDbMySQLCollection() = default;

void CLogDbMySQLCollection::fail(std::string_view context, std::string_view text) {
    qvr::copy_cut(context, errorContext_, sizeof errorContext_);
    qvr::copy_cut(text, errorText_, sizeof errorText_);
}

int CLogDbMySQLCollection::Open(const char* connection, const char* folder, const char* loggerName,
                                const char* prefix, std::uint32_t access) {
    if (CLogCollection::Open(connection, folder, loggerName, prefix, access) != 0) return -1;
    access_ = access;
    if (length_of(loggerName) > kMaxMySqlLoggerName || length_of(prefix) > kMaxMySqlLoggerName)
        return platform::fail(0);
    loggerName_.assign(loggerName == nullptr ? "" : loggerName);
    runPrefix_.assign(prefix == nullptr ? "" : prefix);
    if (const char* why = DatabaseLoggerNameRefusal(loggerName_)) {
        fail(kBadLoggerName, why);
        return platform::fail(0);
    }
    if (length_of(connection) == 0) {
        fail("NO CONNECTION STRING");
        return -1;
    }
    if (length_of(connection) > kMaxMySqlConnectionString) {
        fail("CONNECTION STRING TOO LONG");
        return platform::fail(0);
    }
    connection_.assign(connection);
    // The status channels show where the runs go, never the password.
    const std::string shown = platform::mask_secrets(connection_);
    status_SetLocation(shown.c_str(), folder, runPrefix_.c_str());

    const auto keys = mysql::parse_connection_keys(ado::utf8_from_cp1252(connection_));
    if (!keys.keys) {
        fail(keys.context);
        return -1;
    }
    if (auto failure = session_.connect(*keys.keys)) {
        fail(*failure);
        return -1;
    }
    if ((access_ & kGenericWrite) == 0) return 0;
    auto made = session_.run(db_schema::loggers_create(false));
    if (const auto* failure = std::get_if<mysql::Failure>(&made);
        failure && failure->code != mysql::kTableExists) {
        fail("CAN'T CREATE LOGGERS TABLE", failure->text);
        return -1;
    }
    loggersExists_ = true;
    return 0;
}

bool CLogDbMySQLCollection::list_runs() {
    runs_.clear();
    nextRun_ = 0;
    // One query into a growing list: a run added meanwhile is listed or not, never overruns.
    const mysql::Value logger[] = {ado::utf8_from_cp1252(loggerName_)};
    auto result = session_.run(
        "select nLoggerSequence, dStartTime, dStopTime, bCompleted, sTablePrefix from LOGGERS where "
        "sLoggerName = ? "
        "order by dStartTime Desc",
        logger);
    if (const auto* failure = std::get_if<mysql::Failure>(&result)) {
        fail("SELECT failed", failure->text);
        return false;
    }
    for (const mysql::Row& row : std::get<mysql::Result>(result).rows) {
        RunEntry entry;
        entry.sequence = static_cast<std::int32_t>(integer_of(row[0]));
        entry.start.seconds = seconds_of(row[1]);
        if (integer_of(row[3]) != 0) entry.stop.seconds = seconds_of(row[2]);
        if (const auto* p = std::get_if<std::string>(&row[4]))
            entry.prefix = db_schema::stored_prefix(ado::cp1252_from_utf8(*p));
        runs_.push_back(std::move(entry));
    }
    return true;
}

int CLogDbMySQLCollection::BeginRunList(std::size_t* nameSize) {
    listing_ = false;
    if (!session_.connected() || !list_runs()) return 0;
    listing_ = true;
    if (nameSize != nullptr) *nameSize = 20;
    return 1;
}

int CLogDbMySQLCollection::GetNextRun(char* name, TimeStamp* start, TimeStamp* stop) {
    if (!listing_ || nextRun_ >= runs_.size()) {
        runs_.clear();
        nextRun_ = 0;
        listing_ = false;
        platform::set_last_error(0);
        return 0;
    }
    const RunEntry& entry = runs_[nextRun_++];
    if (name != nullptr) std::snprintf(name, 20, "LoggerSeq=%08d", entry.sequence);
    if (start != nullptr) *start = entry.start;
    if (stop != nullptr) *stop = entry.stop;
    return 1;
}

int CLogDbMySQLCollection::GetLatestRun(char* name, std::size_t* nameSize, TimeStamp* start, TimeStamp* stop,
                                        bool anyPrefix) {
    if (BeginRunList(nullptr) != 1) return 0;
    const auto found = std::find_if(runs_.begin(), runs_.end(), [&](const RunEntry& e) {
        return anyPrefix || db_schema::prefix_belongs(e.prefix, runPrefix_);
    });
    int result = 0;
    if (found != runs_.end()) {
        char text[20];
        std::snprintf(text, sizeof text, "LoggerSeq=%08d", found->sequence);
        const std::size_t needed = std::strlen(text) + 1;
        if (name != nullptr && (nameSize == nullptr || *nameSize >= needed)) std::memcpy(name, text, needed);
        if (nameSize != nullptr) *nameSize = needed;
        if (start != nullptr) *start = found->start;
        if (stop != nullptr) *stop = found->stop;
        result = 1;
    }
    runs_.clear();
    listing_ = false;
    return result;
}

void CLogDbMySQLCollection::DropRun(std::string_view tablePrefix) {
    const std::string prefix = ado::utf8_from_cp1252(tablePrefix);
    for (const char* suffix : {"TEXT", "DATA", "CHANNELS"})
        session_.run("DROP TABLE " + mysql::quoted(prefix + suffix));
    const mysql::Value params[] = {prefix};
    session_.run("DELETE from LOGGERS where sTablePrefix = ?", params);
}

void CLogDbMySQLCollection::DeleteRunsBefore(std::int32_t seconds) {
    if (!session_.connected() || !list_runs()) return;
    const std::vector<RunEntry> runs = std::move(runs_);
    runs_.clear();
    for (const RunEntry& e : runs)
        if (e.start.seconds < seconds && e.stop.seconds != 0 && e.stop.seconds < seconds) DropRun(e.prefix);
}

int CLogDbMySQLCollection::UseforLogging(CLogStore& store, LogHeader& header, const char*, bool, bool) {
    return store.OpenForLogging(header);
}

void CLogDbMySQLCollection::GetStoreLocation(const char* runName, char* location, std::size_t* size) {
    const std::string text =
        connection_ + ";LoggerName=" + loggerName_ + ";" + (runName == nullptr ? "" : runName);
    const std::size_t needed = text.size() + 1;
    if (location != nullptr && size != nullptr && *size >= needed)
        std::memcpy(location, text.c_str(), needed);
    if (size != nullptr) *size = needed;
}

void CLogDbMySQLCollection::undo_run(const MadeTables& made, std::int32_t sequence) {
    if (made.text) session_.run("DROP TABLE " + mysql::quoted(made.prefix + "TEXT"));
    if (made.data) session_.run("DROP TABLE " + mysql::quoted(made.prefix + "DATA"));
    if (made.channels) session_.run("DROP TABLE " + mysql::quoted(made.prefix + "CHANNELS"));
    // The row the store may have written for it goes too.
    const mysql::Value params[] = {ado::utf8_from_cp1252(loggerName_), std::int64_t{sequence}, made.prefix};
    session_.run("DELETE FROM LOGGERS WHERE sLoggerName = ? AND (nLoggerSequence = ? OR sTablePrefix = ?)",
                 params);
}

std::unique_ptr<CLogStore> CLogDbMySQLCollection::NewRunW(std::int32_t* start, bool plainPrefix,
                                                          std::intptr_t unused, LogHeader& header,
                                                          const char16_t* headerText, bool archiveConfig,
                                                          const char* server, bool datePrefix,
                                                          const qvr::ChannelRecord* const* channels) {
    // The header text goes on, as Windows-1252.
    const std::string text = headerText ? ado::cp1252_from_utf16(headerText) : std::string{};
    return NewRun(start, plainPrefix, unused, header, headerText ? text.c_str() : nullptr, archiveConfig,
                  server, datePrefix, channels);
}

std::unique_ptr<CLogStore> CLogDbMySQLCollection::NewRun(std::int32_t* start, bool plainPrefix, std::intptr_t,
                                                         LogHeader& header, const char* headerText, bool,
                                                         const char* server, bool datePrefix,
                                                         const qvr::ChannelRecord* const* channels) {
    if (!session_.connected()) {
        fail("CAN'T CONNECT TO DATABASE");
        return nullptr;
    }
    const std::int32_t start_seconds = start != nullptr ? *start : header.start.seconds;
    const bool digital_text = db_schema::digital_text_selected(registry_text("DatabaseDigitalText"));
    const std::string logger = ado::utf8_from_cp1252(loggerName_);
    const mysql::Value name[] = {logger, std::int64_t{db_schema::kFirstDateSequence}};
    auto highest_row = session_.run(
        "SELECT nLoggerSequence FROM LOGGERS WHERE sLoggerName = ? AND nLoggerSequence < ? ORDER BY "
        "nLoggerSequence DESC LIMIT 1",
        name);
    if (const auto* failure = std::get_if<mysql::Failure>(&highest_row)) {
        fail("CAN'T FIND LOGGER", failure->text);
        return nullptr;
    }
    std::optional<std::int64_t> highest;
    if (const auto& rows = std::get<mysql::Result>(highest_row).rows; !rows.empty())
        if (const auto* n = std::get_if<std::int64_t>(&rows[0][0])) highest = *n;

    const std::string run_prefix = ado::utf8_from_cp1252(runPrefix_);
    const db_schema::RunNaming naming{logger,     run_prefix,    plainPrefix,
                                      datePrefix, start_seconds, db_schema::next_counter(highest)};
    std::string refusal;
    const auto taken =
        db_schema::first_accepted(db_schema::prefix_tries(naming), [&](const db_schema::PrefixTry& t) {
            auto r = session_.run(db_schema::channels_create(kMySql, t.prefix));
            if (const auto* failure = std::get_if<mysql::Failure>(&r)) {
                refusal = failure->text;
                return false;
            }
            return true;
        });
    if (!taken) {
        fail("CAN'T CREATE CHANNELS TABLE", refusal);
        return nullptr;
    }
    MadeTables made{taken->prefix, true, false, false};
    session_.run(db_schema::channels_index(kMySql, taken->prefix));

    std::optional<db_schema::ChannelLookup> lookup;
    if (channels != nullptr) {
        lookup = db_collection::lookup_in_table(header, channels);
    } else if (link_IsLocalServer(server) == 1) {
        lookup = db_collection::lookup_in_modules(header);
    } else if (header.tagColumns == 0) {
        lookup = db_collection::zero_lookup();
    } else {
        lookup = db_collection::lookup_from_server(server, header);
    }
    if (!lookup) {
        fail(channels == nullptr && link_IsLocalServer(server) == 1 ? "CAN'T FIND CHANNELS"
                                                                    : "CAN'T GET CHANNEL CONFIGS");
        undo_run(made, taken->sequence);
        return nullptr;
    }
    const auto list = db_schema::build_column_list(kMySql, header, *lookup, digital_text);
    if (!list.list) {
        fail(list.context);
        undo_run(made, taken->sequence);
        return nullptr;
    }
    const auto forms = db_schema::data_create_forms(kMySql, db_schema::Backend::mysql, taken->prefix,
                                                    header.sigChange != 0, list.list->definition);
    auto data = session_.run(forms.front());
    if (const auto* failure = std::get_if<mysql::Failure>(&data)) {
        fail("CAN'T CREATE DATA TABLE", failure->text);
        undo_run(made, taken->sequence);
        return nullptr;
    }
    made.data = true;
    for (const std::string& index : db_schema::data_indexes(kMySql, db_schema::Backend::mysql, taken->prefix))
        session_.run(index);
    auto text = session_.run(db_schema::text_create(kMySql, taken->prefix));
    if (const auto* failure = std::get_if<mysql::Failure>(&text)) {
        fail("CAN'T CREATE TEXT TABLE", failure->text);
        undo_run(made, taken->sequence);
        return nullptr;
    }
    made.text = true;

    header.start.seconds = start_seconds;
    auto store = std::make_unique<CLogDbMySQLStore>();
    if (store->PrepareRun(connection_, loggerName_, taken->sequence, ado::cp1252_from_utf8(taken->prefix),
                          header, headerText, *list.list, *lookup) != 0) {
        fail("CAN'T CONNECT TO DATABASE", store->GetErrorText());
        undo_run(made, taken->sequence);
        return nullptr;
    }
    return store;
}

std::unique_ptr<CLogStore> CLogDbMySQLCollection::OpenStore(const char* runName, std::uint32_t access) {
    std::size_t size = 0;
    GetStoreLocation(runName, nullptr, &size);
    std::string location(size, '\0');
    GetStoreLocation(runName, location.data(), &size);
    location.resize(size - 1);
    auto store = std::make_unique<CLogDbMySQLStore>();
    if (store->Open(nullptr, location.c_str(), access) != 0) {
        fail(store->GetErrorContext(), store->GetErrorText());
        return nullptr;
    }
    return store;
}

int CLogDbMySQLCollection::FinishRun(CLogStore& store, const TimeStamp* start, const TimeStamp*, bool) {
    const auto* mine = dynamic_cast<CLogDbMySQLStore*>(&store);
    const std::string prefix = mine != nullptr ? mine->table_prefix() : std::string{};
    store.Close();
    if (start == nullptr && !prefix.empty()) DropRun(prefix);
    return 0;
}

}  // namespace log_stores
