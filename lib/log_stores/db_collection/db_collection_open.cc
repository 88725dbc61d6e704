// Opening a logger's database collection: the connection string (or the logger's SQLite
// file), both accessors, and the LOGGERS table.
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "log_stores/db_collection/db_collection.h"
#include "log_stores/db_schema/schema_tables.h"
#include "log_stores/logger_names/logger_name.h"
#include "log_stores/status_channels/logger_status.h"
#include "platform/ado/com_error.h"
#include "platform/ado/recordset.h"
#include "platform/ado/text_codec.h"
#include "platform/last_error.h"
#include "qvr/settings/env.h"
#include "qvr/util/bounded_copy.h"

namespace log_stores {
namespace {

namespace fs = std::filesystem;

std::size_t length_of(const char* text) { return text == nullptr ? 0 : std::strlen(text); }

// A folder that is there, or made when the caller may write; nothing else is made.
enum class Folder { ready, cannot_make, cannot_reach };
Folder ensure_folder(const std::string& path, bool may_write) {
    std::error_code ec;
    if (fs::is_directory(path, ec)) return Folder::ready;
    if (!may_write) return Folder::cannot_reach;
    fs::create_directory(path, ec);
    return !ec && fs::is_directory(path, ec) ? Folder::ready : Folder::cannot_make;
}

// The value of Data Source, quoted so that no character of the path ends it early: a mark
// the path holds too is doubled.
std::string quoted_source(const std::string& path) {
    if (path.find('"') == std::string::npos) return '"' + path + '"';
    if (path.find('\'') == std::string::npos) return '\'' + path + '\'';
    std::string quoted = "\"";
    for (const char c : path) quoted += c == '"' ? std::string(2, c) : std::string(1, c);
    return quoted + '"';
}

}  // namespace

void CLogDbCollection::fail(const char* context, std::string_view text) {
    qvr::copy_cut(context != nullptr ? context : "", errorContext_, sizeof errorContext_);
    qvr::copy_cut(text, errorText_, sizeof errorText_);
}

std::string CLogDbCollection::utf8(std::string_view cp1252) const { return ado::utf8_from_cp1252(cp1252); }

bool CLogDbCollection::execute(const std::string& statement) {
    return schema_.ExecuteSql(ado::utf16_from_utf8(statement)) == 0;
}

int CLogDbCollection::Open(const char* connection, const char* folder, const char* loggerName, const char* prefix,
                           std::uint32_t access) {
    if (CLogCollection::Open(connection, folder, loggerName, prefix, access) != 0) return -1;
    access_ = access;
    if (length_of(loggerName) > kMaxDbLoggerName || length_of(prefix) > kMaxDbLoggerName)
        return platform::fail(0);
    loggerName_.assign(loggerName == nullptr ? "" : loggerName);
    runPrefix_.assign(prefix == nullptr ? "" : prefix);
    if (const char* why = DatabaseLoggerNameRefusal(loggerName_)) {
        fail(kBadLoggerName, why);
        return platform::fail(0);
    }

    if (length_of(connection) > 0) {
        if (length_of(connection) > kMaxConnectionString) {
            fail("CONNECTION STRING TOO LONG");
            return platform::fail(0);
        }
        connection_.assign(connection);
    } else if (open_default_database(folder, loggerName) != 0) {
        return -1;
    }
    status_SetLocation(connection_.c_str(), folder, runPrefix_.c_str());

    const std::u16string cs = ado::utf16_from_cp1252(connection_);
    if (schema_.OpenConnection(cs, u"") != 0) {
        if ((access_ & kGenericWrite) == 0 || schema_.CreateDatabase(cs, u"") != 0) {
            fail("CAN'T OPEN DATABASE", schema_.ErrorText());
            return -1;
        }
    }
    schema_.SetConnected();
    if (data_.OpenConnection(cs, u"", 0) != 0 || data_.WaitIdle(u"", u"") != 0) {
        fail("CAN'T OPEN DATABASE", data_.GetLastErrorText());
        return -1;
    }
    dialect_ = data_.ConnectionDialect();
    open_ = open_loggers_table() == 0;
    return open_ ? 0 : -1;
}

int CLogDbCollection::open_default_database(const char* folder, const char* loggerName) {
    const bool may_write = (access_ & kGenericWrite) != 0;
    // The name makes the file's name (and, below the logged data, its folder's).
    if (const char* why = PathComponentRefusal(loggerName == nullptr ? "" : loggerName)) {
        fail(kBadLoggerName, why);
        return platform::fail(0);
    }
    std::string where;
    if (length_of(folder) > 0) {
        where = folder;
    } else {
        const char* logged = env_GetVariable("QVR_LOGGED_DATA");
        if (logged == nullptr || *logged == '\0') {
            fail("CAN'T ACCESS LOGGED_DATA DIR");
            return -1;
        }
        const std::string root = logged;
        switch (ensure_folder(root, may_write)) {
            case Folder::ready: break;
            case Folder::cannot_make: fail("CAN'T CREATE LOGGED_DATA DIR"); return -1;
            case Folder::cannot_reach: fail("CAN'T ACCESS LOGGED_DATA DIR"); return -1;
        }
        where = root + "/" + (loggerName == nullptr ? "" : loggerName);
    }
    switch (ensure_folder(where, may_write)) {
        case Folder::ready: break;
        case Folder::cannot_make: fail("CAN'T CREATE LOGGER DIR"); return -1;
        case Folder::cannot_reach: fail("CAN'T ACCESS LOGGER DIRECTORY"); return -1;
    }
    connection_ = "Provider=SQLite.File; Data Source=" +
                  quoted_source(where + "/" + (loggerName == nullptr ? "" : loggerName) + ".sqlite");
    return 0;
}

int CLogDbCollection::open_loggers_table() {
    if (data_.OpenTableByName(u"LOGGERS") == 0) {
        data_.CloseRecordset();
        return 0;
    }
    if ((access_ & kGenericWrite) == 0) {
        fail("CAN'T OPEN LOGGERS TABLE", data_.GetLastErrorText());
        return 0;
    }
    if (!execute(db_schema::loggers_create(false)) && !execute(db_schema::loggers_create(true))) {
        if (data_.OpenTableByName(u"LOGGERS") == 0) {
            data_.CloseRecordset();
            return 0;
        }
        fail("CAN'T CREATE LOGGERS TABLE", schema_.ErrorText());
        return -1;
    }
    execute(db_schema::loggers_key(dialect_));
    loggersMade_ = true;
    return 0;
}

}  // namespace log_stores
