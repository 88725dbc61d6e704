// The ODBC entry points of the recording driver. unixODBC hands it the application's calls
// one to one; every statement is checked against the next step of the script named by
// "Script=" in the connection string (else by RECORDER_SCRIPT), and every call is appended to
// the log named by "Log=" (else by RECORDER_LOG).
#include <sql.h>
#include <sqlext.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <map>
#include <set>
#include <mutex>
#include <string>
#include <vector>

#include "recorder_script.h"

#define RECORDER_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct Diag {
    std::string state;
    long native = 0;
    std::string text;
};

struct Handle {
    virtual ~Handle() = default;
    std::vector<Diag> diags;
};

struct Env : Handle {};

// One script's progress, shared by every connection made with it: a test's statements form
// one sequence even when the code under test opens a fresh connection for some of them.
struct Progress {
    recorder::Script script;
    size_t next = 0;  // the next step
    std::mutex lock;
};

struct Stmt;

struct Dbc : Handle {
    bool connected = false;
    std::string log_path;
    std::shared_ptr<Progress> progress;
    // A disconnect frees the statements still allocated, as ODBC has drivers do.
    std::set<Stmt*> statements;
};

// Scripts by path and modification, kept for the life of the process.
std::shared_ptr<Progress> progress_of(const std::string& path, std::string& problem) {
    static std::mutex lock;
    static std::map<std::string, std::shared_ptr<Progress>> known;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        problem = "cannot read the script " + path;
        return nullptr;
    }
    const std::string key = path + "|" + std::to_string(st.st_ino) + "|" + std::to_string(st.st_mtim.tv_sec) + "." +
                            std::to_string(st.st_mtim.tv_nsec) + "|" + std::to_string(st.st_size);
    std::lock_guard guard(lock);
    auto& entry = known[key];
    if (!entry) {
        auto script = recorder::load_script(path, problem);
        if (!script) {
            known.erase(key);
            return nullptr;
        }
        entry = std::make_shared<Progress>();
        entry->script = std::move(*script);
    }
    return entry;
}

struct Param {
    SQLSMALLINT c_type = 0;
    SQLPOINTER data = nullptr;
    SQLLEN capacity = 0;
    SQLLEN* indicator = nullptr;
};

struct Stmt : Handle {
    Dbc* dbc = nullptr;
    std::string prepared;
    std::vector<Param> params;
    const recorder::Step* result = nullptr;
    long row = -1;  // the fetched row
    std::vector<size_t> served;  // bytes of each column already given by SQLGetData
};

void append_log(const Dbc& dbc, const std::string& line) {
    if (dbc.log_path.empty()) return;
    if (FILE* f = std::fopen(dbc.log_path.c_str(), "a")) {
        std::fprintf(f, "%s\n", line.c_str());
        std::fclose(f);
    }
}

SQLRETURN fail(Handle* h, const char* state, long native, const std::string& text) {
    h->diags.push_back({state, native, text});
    return SQL_ERROR;
}

std::string key_value(const std::string& cs, const std::string& key) {
    size_t i = 0;
    while (i < cs.size()) {
        const size_t semi = cs.find(';', i);
        const std::string part = cs.substr(i, semi == std::string::npos ? std::string::npos : semi - i);
        const size_t eq = part.find('=');
        if (eq != std::string::npos) {
            std::string k = part.substr(0, eq);
            std::transform(k.begin(), k.end(), k.begin(), [](unsigned char c) { return std::tolower(c); });
            if (k == key) return part.substr(eq + 1);
        }
        if (semi == std::string::npos) break;
        i = semi + 1;
    }
    return {};
}

SQLSMALLINT sql_type_of(const std::string& t) {
    if (t == "INTEGER") return SQL_INTEGER;
    if (t == "SMALLINT") return SQL_SMALLINT;
    if (t == "BIGINT") return SQL_BIGINT;
    if (t == "REAL") return SQL_REAL;
    if (t == "FLOAT") return SQL_FLOAT;
    if (t == "DOUBLE") return SQL_DOUBLE;
    if (t == "CHAR") return SQL_CHAR;
    if (t == "WVARCHAR") return SQL_WVARCHAR;
    if (t == "DATETIME") return SQL_TYPE_TIMESTAMP;
    if (t == "BIT") return SQL_BIT;
    if (t == "VARBINARY") return SQL_VARBINARY;
    return SQL_VARCHAR;
}

std::string text_of(const char* p, SQLLEN n) { return n < 0 ? std::string(p) : std::string(p, static_cast<size_t>(n)); }

std::string param_text(const Param& p) {
    if (p.indicator && *p.indicator == SQL_NULL_DATA) return "NULL";
    switch (p.c_type) {
        case SQL_C_SBIGINT:
            return std::to_string(*static_cast<const int64_t*>(p.data));
        case SQL_C_LONG:
        case SQL_C_SLONG:
            return std::to_string(*static_cast<const int32_t*>(p.data));
        case SQL_C_DOUBLE: {
            char buf[64];
            const auto r = std::to_chars(buf, buf + sizeof buf, *static_cast<const double*>(p.data));
            return std::string(buf, r.ptr);
        }
        case SQL_C_TYPE_TIMESTAMP: {
            const auto* t = static_cast<const SQL_TIMESTAMP_STRUCT*>(p.data);
            char buf[64];
            std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u.%03u", t->year, t->month, t->day, t->hour,
                          t->minute, t->second, t->fraction / 1000000);
            return buf;
        }
        case SQL_C_CHAR:
            return "'" + text_of(static_cast<const char*>(p.data), p.indicator ? *p.indicator : SQL_NTS) + "'";
        default:
            return "<c type " + std::to_string(p.c_type) + ">";
    }
}

SQLRETURN run_step(Stmt* s, const std::string& sql, const char* how);

// Checks `sql` against the next step; on a match the step becomes the statement's result.
// Nothing thrown inside leaves the driver.
SQLRETURN run(Stmt* s, const std::string& sql, const char* how) {
    try {
        return run_step(s, sql, how);
    } catch (...) {
        return SQL_ERROR;
    }
}

SQLRETURN run_step(Stmt* s, const std::string& sql, const char* how) {
    Dbc& dbc = *s->dbc;
    Progress& progress = *dbc.progress;
    std::lock_guard guard(progress.lock);
    append_log(dbc, std::string(how) + " " + sql);
    for (size_t i = 0; i < s->params.size(); ++i)
        append_log(dbc, "param " + std::to_string(i + 1) + " " + param_text(s->params[i]));
    s->result = nullptr;
    s->row = -1;
    const auto& steps = progress.script.steps;
    if (progress.next >= steps.size()) {
        append_log(dbc, "UNEXPECTED " + sql + " (the script has ended)");
        return fail(s, "HY000", 9999, "recording driver: unexpected statement \"" + sql + "\"; the script has ended");
    }
    const recorder::Step& step = steps[progress.next];
    bool match = false;
    if (step.pattern) {
        match = ::fnmatch(step.expected.c_str(), sql.c_str(), 0) == 0;
    } else {
        match = sql == step.expected;
    }
    if (!match) {
        append_log(dbc, "UNEXPECTED " + sql + " (expected " + step.expected + ")");
        return fail(s, "HY000", 9999,
                    "recording driver: unexpected statement \"" + sql + "\"; expected \"" + step.expected + "\"");
    }
    ++progress.next;
    if (step.error_state) {
        append_log(dbc, "error " + *step.error_state);
        return fail(s, step.error_state->c_str(), step.error_native, step.error_text);
    }
    s->result = &step;
    s->served.assign(step.columns.size(), 0);
    return SQL_SUCCESS;
}

Stmt* as_stmt(SQLHSTMT h) {
    auto* s = static_cast<Stmt*>(static_cast<Handle*>(h));
    if (s) s->diags.clear();
    return s;
}

void put_text(const std::string& text, SQLCHAR* out, SQLSMALLINT capacity, SQLSMALLINT* length) {
    if (length) *length = static_cast<SQLSMALLINT>(text.size());
    if (out && capacity > 0) {
        const size_t n = std::min(text.size(), static_cast<size_t>(capacity - 1));
        std::memcpy(out, text.data(), n);
        out[n] = 0;
    }
}

}  // namespace

RECORDER_EXPORT SQLRETURN SQLAllocHandle(SQLSMALLINT type, SQLHANDLE parent, SQLHANDLE* out) {
    if (!out) return SQL_ERROR;
    // The driver manager owns each handle until it frees it with SQLFreeHandle.
    try {
        if (type == SQL_HANDLE_ENV) {
            *out = std::make_unique<Env>().release();
        } else if (type == SQL_HANDLE_DBC) {
            *out = std::make_unique<Dbc>().release();
        } else if (type == SQL_HANDLE_STMT) {
            auto s = std::make_unique<Stmt>();
            s->dbc = static_cast<Dbc*>(static_cast<Handle*>(parent));
            s->dbc->statements.insert(s.get());
            *out = s.release();
        } else {
            return SQL_ERROR;
        }
    } catch (...) {
        return SQL_ERROR;
    }
    return SQL_SUCCESS;
}

RECORDER_EXPORT SQLRETURN SQLFreeHandle(SQLSMALLINT type, SQLHANDLE h) {
    auto* handle = static_cast<Handle*>(h);
    if (type == SQL_HANDLE_STMT) {
        auto* s = static_cast<Stmt*>(handle);
        if (s->dbc) s->dbc->statements.erase(s);
    } else if (type == SQL_HANDLE_DBC) {
        for (Stmt* s : static_cast<Dbc*>(handle)->statements) s->dbc = nullptr;
    }
    delete handle;
    return SQL_SUCCESS;
}

RECORDER_EXPORT SQLRETURN SQLSetEnvAttr(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER) { return SQL_SUCCESS; }
RECORDER_EXPORT SQLRETURN SQLGetEnvAttr(SQLHENV, SQLINTEGER, SQLPOINTER value, SQLINTEGER, SQLINTEGER*) {
    if (value) *static_cast<SQLINTEGER*>(value) = SQL_OV_ODBC3;
    return SQL_SUCCESS;
}
RECORDER_EXPORT SQLRETURN SQLSetConnectAttr(SQLHDBC, SQLINTEGER, SQLPOINTER, SQLINTEGER) { return SQL_SUCCESS; }
RECORDER_EXPORT SQLRETURN SQLGetConnectAttr(SQLHDBC, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER capacity,
                                            SQLINTEGER* length) {
    if (attribute == SQL_ATTR_CURRENT_CATALOG) {
        SQLSMALLINT n = 0;
        put_text("recorded", static_cast<SQLCHAR*>(value), static_cast<SQLSMALLINT>(capacity), &n);
        if (length) *length = n;
        return SQL_SUCCESS;
    }
    if (value) *static_cast<SQLUINTEGER*>(value) = 0;
    return SQL_SUCCESS;
}
RECORDER_EXPORT SQLRETURN SQLSetStmtAttr(SQLHSTMT, SQLINTEGER, SQLPOINTER, SQLINTEGER) { return SQL_SUCCESS; }
RECORDER_EXPORT SQLRETURN SQLGetStmtAttr(SQLHSTMT h, SQLINTEGER, SQLPOINTER value, SQLINTEGER, SQLINTEGER*) {
    // The driver manager asks for the implicit descriptors; any non-null value serves.
    if (value) *static_cast<SQLPOINTER*>(value) = h;
    return SQL_SUCCESS;
}

RECORDER_EXPORT SQLRETURN SQLDriverConnect(SQLHDBC h, SQLHWND, SQLCHAR* in, SQLSMALLINT in_length, SQLCHAR* out,
                                           SQLSMALLINT out_capacity, SQLSMALLINT* out_length, SQLUSMALLINT) {
    auto* dbc = static_cast<Dbc*>(static_cast<Handle*>(h));
    dbc->diags.clear();
    const std::string cs = in_length == SQL_NTS ? std::string(reinterpret_cast<const char*>(in))
                                                : std::string(reinterpret_cast<const char*>(in), in_length);
    // A provider that passes on only its own keys (the SQL Server one) cannot carry Script= and
    // Log=: then the environment names them.
    std::string script_path = key_value(cs, "script");
    dbc->log_path = key_value(cs, "log");
    if (script_path.empty()) {
        const char* from_env = std::getenv("RECORDER_SCRIPT");
        const char* log_env = std::getenv("RECORDER_LOG");
        script_path = from_env != nullptr ? from_env : "";
        if (dbc->log_path.empty() && log_env != nullptr) dbc->log_path = log_env;
    }
    std::string problem;
    try {
        dbc->progress = progress_of(script_path, problem);
    } catch (const std::exception& e) {
        problem = e.what();
    }
    if (!dbc->progress) return fail(dbc, "08001", 9998, "recording driver: " + problem);
    append_log(*dbc, "connect");
    const recorder::Script& script = dbc->progress->script;
    if (script.connect_state) return fail(dbc, script.connect_state->c_str(), script.connect_native, script.connect_text);
    dbc->connected = true;
    put_text(cs, out, out_capacity, out_length);
    return SQL_SUCCESS;
}

RECORDER_EXPORT SQLRETURN SQLDisconnect(SQLHDBC h) {
    auto* dbc = static_cast<Dbc*>(static_cast<Handle*>(h));
    if (dbc->connected) append_log(*dbc, "disconnect");
    dbc->connected = false;
    const auto statements = std::move(dbc->statements);
    dbc->statements.clear();
    for (Stmt* s : statements) delete s;
    return SQL_SUCCESS;
}

RECORDER_EXPORT SQLRETURN SQLGetInfo(SQLHDBC h, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT capacity,
                                     SQLSMALLINT* length) {
    auto* dbc = static_cast<Dbc*>(static_cast<Handle*>(h));
    auto* text = static_cast<SQLCHAR*>(value);
    switch (type) {
        case SQL_DBMS_NAME:
            put_text(dbc->progress ? dbc->progress->script.dbms : "Recorder", text, capacity, length);
            return SQL_SUCCESS;
        case SQL_DBMS_VER:
            put_text("01.00.0000", text, capacity, length);
            return SQL_SUCCESS;
        case SQL_DRIVER_ODBC_VER:
            put_text("03.80", text, capacity, length);
            return SQL_SUCCESS;
        case SQL_DRIVER_NAME:
            put_text("libodbc_recorder.so", text, capacity, length);
            return SQL_SUCCESS;
        case SQL_DATA_SOURCE_NAME:
        case SQL_SERVER_NAME:
        case SQL_USER_NAME:
            put_text("", text, capacity, length);
            return SQL_SUCCESS;
        case SQL_CURSOR_COMMIT_BEHAVIOR:
        case SQL_CURSOR_ROLLBACK_BEHAVIOR:
        case SQL_TXN_CAPABLE:
            if (value) *static_cast<SQLUSMALLINT*>(value) = 1;
            if (length) *length = sizeof(SQLUSMALLINT);
            return SQL_SUCCESS;
        case SQL_GETDATA_EXTENSIONS:
            if (value) *static_cast<SQLUINTEGER*>(value) = SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER;
            if (length) *length = sizeof(SQLUINTEGER);
            return SQL_SUCCESS;
        default:
            return fail(dbc, "HYC00", 0, "recording driver: information type " + std::to_string(type) + " not kept");
    }
}

RECORDER_EXPORT SQLRETURN SQLExecDirect(SQLHSTMT h, SQLCHAR* sql, SQLINTEGER length) {
    Stmt* s = as_stmt(h);
    const std::string text = length == SQL_NTS ? std::string(reinterpret_cast<const char*>(sql))
                                               : std::string(reinterpret_cast<const char*>(sql), length);
    return run(s, text, "execdirect");
}

RECORDER_EXPORT SQLRETURN SQLPrepare(SQLHSTMT h, SQLCHAR* sql, SQLINTEGER length) {
    Stmt* s = as_stmt(h);
    s->prepared = length == SQL_NTS ? std::string(reinterpret_cast<const char*>(sql))
                                    : std::string(reinterpret_cast<const char*>(sql), length);
    std::lock_guard guard(s->dbc->progress->lock);
    append_log(*s->dbc, "prepare " + s->prepared);
    return SQL_SUCCESS;
}

RECORDER_EXPORT SQLRETURN SQLExecute(SQLHSTMT h) {
    Stmt* s = as_stmt(h);
    return run(s, s->prepared, "execute");
}

RECORDER_EXPORT SQLRETURN SQLBindParameter(SQLHSTMT h, SQLUSMALLINT number, SQLSMALLINT, SQLSMALLINT c_type,
                                           SQLSMALLINT, SQLULEN, SQLSMALLINT, SQLPOINTER data, SQLLEN capacity,
                                           SQLLEN* indicator) {
    Stmt* s = as_stmt(h);
    if (number == 0) return fail(s, "07009", 0, "recording driver: parameter number 0");
    if (s->params.size() < number) s->params.resize(number);
    s->params[number - 1] = {c_type, data, capacity, indicator};
    return SQL_SUCCESS;
}

RECORDER_EXPORT SQLRETURN SQLFreeStmt(SQLHSTMT h, SQLUSMALLINT option) {
    // The driver manager drops the statements of a connection that disconnects this way.
    if (option == SQL_DROP) return SQLFreeHandle(SQL_HANDLE_STMT, h);
    Stmt* s = as_stmt(h);
    if (option == SQL_RESET_PARAMS) s->params.clear();
    if (option == SQL_CLOSE) s->result = nullptr;
    return SQL_SUCCESS;
}

RECORDER_EXPORT SQLRETURN SQLCloseCursor(SQLHSTMT h) { return SQLFreeStmt(h, SQL_CLOSE); }
RECORDER_EXPORT SQLRETURN SQLCancel(SQLHSTMT) { return SQL_SUCCESS; }
RECORDER_EXPORT SQLRETURN SQLMoreResults(SQLHSTMT) { return SQL_NO_DATA; }
RECORDER_EXPORT SQLRETURN SQLEndTran(SQLSMALLINT, SQLHANDLE, SQLSMALLINT) { return SQL_SUCCESS; }

RECORDER_EXPORT SQLRETURN SQLNumResultCols(SQLHSTMT h, SQLSMALLINT* count) {
    Stmt* s = as_stmt(h);
    if (count) *count = s->result ? static_cast<SQLSMALLINT>(s->result->columns.size()) : 0;
    return SQL_SUCCESS;
}

RECORDER_EXPORT SQLRETURN SQLRowCount(SQLHSTMT h, SQLLEN* count) {
    Stmt* s = as_stmt(h);
    if (count) *count = s->result ? (s->result->columns.empty() ? s->result->affected : -1) : -1;
    return SQL_SUCCESS;
}

RECORDER_EXPORT SQLRETURN SQLDescribeCol(SQLHSTMT h, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT capacity,
                                         SQLSMALLINT* length, SQLSMALLINT* type, SQLULEN* size, SQLSMALLINT* digits,
                                         SQLSMALLINT* nullable) {
    Stmt* s = as_stmt(h);
    if (!s->result || column == 0 || column > s->result->columns.size())
        return fail(s, "07009", 0, "recording driver: no such column");
    const auto& c = s->result->columns[column - 1];
    put_text(c.name, name, capacity, length);
    if (type) *type = sql_type_of(c.type);
    if (size) *size = 255;
    if (digits) *digits = 0;
    if (nullable) *nullable = SQL_NULLABLE;
    return SQL_SUCCESS;
}

RECORDER_EXPORT SQLRETURN SQLFetch(SQLHSTMT h) {
    Stmt* s = as_stmt(h);
    if (!s->result) return fail(s, "24000", 0, "recording driver: no result set");
    ++s->row;
    std::lock_guard guard(s->dbc->progress->lock);
    if (static_cast<size_t>(s->row) >= s->result->rows.size()) {
        append_log(*s->dbc, "fetch end");
        return SQL_NO_DATA;
    }
    s->served.assign(s->result->columns.size(), 0);
    append_log(*s->dbc, "fetch " + std::to_string(s->row));
    return SQL_SUCCESS;
}

RECORDER_EXPORT SQLRETURN SQLGetData(SQLHSTMT h, SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER value,
                                     SQLLEN capacity, SQLLEN* indicator) {
    Stmt* s = as_stmt(h);
    if (!s->result || s->row < 0 || static_cast<size_t>(s->row) >= s->result->rows.size() || column == 0 ||
        column > s->result->columns.size())
        return fail(s, "07009", 0, "recording driver: no such value");
    const auto& cell = s->result->rows[static_cast<size_t>(s->row)][column - 1];
    if (!cell) {
        if (indicator) *indicator = SQL_NULL_DATA;
        return SQL_SUCCESS;
    }
    const std::string& v = *cell;
    switch (c_type) {
        case SQL_C_SBIGINT: {
            int64_t n = 0;
            std::from_chars(v.data(), v.data() + v.size(), n);
            *static_cast<int64_t*>(value) = n;
            if (indicator) *indicator = sizeof n;
            return SQL_SUCCESS;
        }
        case SQL_C_DOUBLE: {
            double d = 0;
            std::from_chars(v.data(), v.data() + v.size(), d);
            *static_cast<double*>(value) = d;
            if (indicator) *indicator = sizeof d;
            return SQL_SUCCESS;
        }
        default: {
            // Text and bytes, in pieces when the buffer is small.
            size_t& done = s->served[column - 1];
            if (done >= v.size() && done > 0) return SQL_NO_DATA;
            const bool text = c_type != SQL_C_BINARY;
            const size_t room = capacity > 0 ? static_cast<size_t>(capacity) - (text ? 1 : 0) : 0;
            const size_t n = std::min(room, v.size() - done);
            if (value && capacity > 0) {
                std::memcpy(value, v.data() + done, n);
                if (text) static_cast<char*>(value)[n] = 0;
            }
            if (indicator) *indicator = static_cast<SQLLEN>(v.size() - done);
            done += n;
            if (done < v.size()) {
                s->diags.push_back({"01004", 0, "String data, right truncated"});
                return SQL_SUCCESS_WITH_INFO;
            }
            if (v.empty()) done = 1;
            return SQL_SUCCESS;
        }
    }
}

RECORDER_EXPORT SQLRETURN SQLTables(SQLHSTMT h, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT,
                                    SQLCHAR*, SQLSMALLINT) {
    return run(as_stmt(h), "SQLTables", "catalog");
}

RECORDER_EXPORT SQLRETURN SQLColumns(SQLHSTMT h, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT, SQLCHAR* table,
                                     SQLSMALLINT length, SQLCHAR*, SQLSMALLINT) {
    const std::string name = table ? (length == SQL_NTS ? std::string(reinterpret_cast<const char*>(table))
                                                        : std::string(reinterpret_cast<const char*>(table), length))
                                   : std::string();
    return run(as_stmt(h), "SQLColumns " + name, "catalog");
}

RECORDER_EXPORT SQLRETURN SQLGetDiagRec(SQLSMALLINT, SQLHANDLE h, SQLSMALLINT record, SQLCHAR* state,
                                        SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT capacity,
                                        SQLSMALLINT* length) {
    auto* handle = static_cast<Handle*>(h);
    if (!handle || record < 1 || static_cast<size_t>(record) > handle->diags.size()) return SQL_NO_DATA;
    const Diag& d = handle->diags[static_cast<size_t>(record - 1)];
    if (state) {
        std::memset(state, 0, 6);
        std::memcpy(state, d.state.data(), std::min<size_t>(d.state.size(), 5));
    }
    if (native) *native = static_cast<SQLINTEGER>(d.native);
    put_text(d.text, text, capacity, length);
    return SQL_SUCCESS;
}

RECORDER_EXPORT SQLRETURN SQLGetDiagField(SQLSMALLINT, SQLHANDLE h, SQLSMALLINT record, SQLSMALLINT field,
                                          SQLPOINTER value, SQLSMALLINT capacity, SQLSMALLINT* length) {
    auto* handle = static_cast<Handle*>(h);
    if (!handle) return SQL_INVALID_HANDLE;
    if (field == SQL_DIAG_NUMBER) {
        if (value) *static_cast<SQLINTEGER*>(value) = static_cast<SQLINTEGER>(handle->diags.size());
        return SQL_SUCCESS;
    }
    if (field == SQL_DIAG_RETURNCODE) {
        if (value) *static_cast<SQLRETURN*>(value) = handle->diags.empty() ? SQL_SUCCESS : SQL_ERROR;
        return SQL_SUCCESS;
    }
    if (field == SQL_DIAG_ROW_COUNT || field == SQL_DIAG_CURSOR_ROW_COUNT) {
        if (value) *static_cast<SQLLEN*>(value) = 0;
        return SQL_SUCCESS;
    }
    if (record < 1 || static_cast<size_t>(record) > handle->diags.size()) return SQL_NO_DATA;
    const Diag& d = handle->diags[static_cast<size_t>(record - 1)];
    switch (field) {
        case SQL_DIAG_SQLSTATE:
            put_text(d.state, static_cast<SQLCHAR*>(value), capacity, length);
            return SQL_SUCCESS;
        case SQL_DIAG_NATIVE:
            if (value) *static_cast<SQLINTEGER*>(value) = static_cast<SQLINTEGER>(d.native);
            return SQL_SUCCESS;
        case SQL_DIAG_MESSAGE_TEXT:
            put_text(d.text, static_cast<SQLCHAR*>(value), capacity, length);
            return SQL_SUCCESS;
        case SQL_DIAG_CLASS_ORIGIN:
        case SQL_DIAG_SUBCLASS_ORIGIN:
            put_text("ODBC 3.0", static_cast<SQLCHAR*>(value), capacity, length);
            return SQL_SUCCESS;
        case SQL_DIAG_CONNECTION_NAME:
        case SQL_DIAG_SERVER_NAME:
            put_text("", static_cast<SQLCHAR*>(value), capacity, length);
            return SQL_SUCCESS;
        default:
            return SQL_ERROR;
    }
}
