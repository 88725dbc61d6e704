// Rows per second of prepared INSERTs and of a sequential read, through the layer
// (Recordset AddNew/Update and MoveNext/values) and in raw ODBC (one prepared statement with
// bound parameters; SQLFetch and SQLGetData), for rows of 10, 100 and 1,000 REAL columns;
// the best of three rounds each.
//
//   bench_ado_layer                 SQLite in a temporary folder
//   QUORVANE_TEST_MARIADB=<state>   also the MariaDB test server (scripts/test-mariadb start)
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ado/catalog.h"
#include "platform/ado/com_error.h"
#include "platform/ado/connection.h"
#include "platform/ado/recordset.h"
#include "platform/ado/text_codec.h"
#include "support/mariadb_state.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Target {
    std::string name;
    std::string layer_cs;  // the stored-location form
    std::string odbc_cs;   // the same database as an ODBC connection string
};

// On MariaDB a row of 1,000 REAL (8-byte) columns is beyond InnoDB's row size, so the
// table uses Aria there.
std::string table_sql(int columns, bool sqlite) {
    std::string sql = "CREATE TABLE B (";
    for (int i = 0; i < columns; ++i) sql += (i ? ", c" : "c") + std::to_string(i) + " REAL NULL";
    return sql + (sqlite ? ")" : ") ENGINE=Aria");
}

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE h, const char* what) {
    if (SQL_SUCCEEDED(rc)) return;
    SQLCHAR state[6] = {}, text[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    SQLGetDiagRec(type, h, 1, state, &native, text, sizeof text, &len);
    std::fprintf(stderr, "%s failed: %s %s\n", what, state, text);
    std::exit(1);
}

struct Raw {
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    explicit Raw(const std::string& cs) {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        std::vector<SQLCHAR> text(cs.begin(), cs.end());
        text.push_back(0);
        check(SQLDriverConnect(dbc, nullptr, text.data(), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
              SQL_HANDLE_DBC, dbc, "connect");
    }
    ~Raw() {
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    void exec(const std::string& sql) {
        SQLHSTMT s = nullptr;
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &s);
        std::vector<SQLCHAR> text(sql.begin(), sql.end());
        text.push_back(0);
        check(SQLExecDirect(s, text.data(), SQL_NTS), SQL_HANDLE_STMT, s, "exec");
        SQLFreeHandle(SQL_HANDLE_STMT, s);
    }
};

double raw_insert(Raw& raw, int columns, int rows) {
    std::string sql = "INSERT INTO B VALUES (";
    for (int i = 0; i < columns; ++i) sql += i ? ", ?" : "?";
    sql += ")";
    SQLHSTMT s = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, raw.dbc, &s);
    // Bounded like the layer's statements, so both do the same work.
    SQLSetStmtAttr(s, SQL_ATTR_QUERY_TIMEOUT, reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(300)), 0);
    std::vector<SQLCHAR> text(sql.begin(), sql.end());
    text.push_back(0);
    check(SQLPrepare(s, text.data(), SQL_NTS), SQL_HANDLE_STMT, s, "prepare");
    std::vector<double> values(static_cast<size_t>(columns));
    std::vector<SQLLEN> ind(static_cast<size_t>(columns), 0);
    for (int i = 0; i < columns; ++i)
        SQLBindParameter(s, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0,
                         &values[static_cast<size_t>(i)], 0, &ind[static_cast<size_t>(i)]);
    const auto t = Clock::now();
    for (int r = 0; r < rows; ++r) {
        for (int i = 0; i < columns; ++i) values[static_cast<size_t>(i)] = r + i * 0.5;
        check(SQLExecute(s), SQL_HANDLE_STMT, s, "execute");
    }
    const double secs = seconds_since(t);
    SQLFreeHandle(SQL_HANDLE_STMT, s);
    return rows / secs;
}

double raw_read(Raw& raw, int columns, int rows, double& sum) {
    SQLHSTMT s = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, raw.dbc, &s);
    const auto t = Clock::now();
    SQLCHAR sql[] = "SELECT * FROM B";
    check(SQLExecDirect(s, sql, SQL_NTS), SQL_HANDLE_STMT, s, "select");
    int n = 0;
    while (SQL_SUCCEEDED(SQLFetch(s))) {
        for (int i = 1; i <= columns; ++i) {
            double v = 0;
            SQLLEN ind = 0;
            SQLGetData(s, static_cast<SQLUSMALLINT>(i), SQL_C_DOUBLE, &v, sizeof v, &ind);
            if (ind != SQL_NULL_DATA) sum += v;
        }
        ++n;
    }
    const double secs = seconds_since(t);
    SQLFreeHandle(SQL_HANDLE_STMT, s);
    if (n != rows) std::fprintf(stderr, "raw read %d rows of %d\n", n, rows);
    return n / secs;
}

double layer_insert(const std::shared_ptr<ado::Connection>& db, int columns, int rows) {
    ado::Recordset rs;
    rs.set_active_connection(db);
    rs.open(u"B", ado::kStatic, ado::kOptimistic, ado::kCmdTable);
    const auto t = Clock::now();
    for (int r = 0; r < rows; ++r) {
        rs.add_new();
        for (int i = 0; i < columns; ++i) rs.set_value(ado::Variant::i4(i), ado::Variant::r8(r + i * 0.5));
    }
    rs.update();
    return rows / seconds_since(t);
}

double layer_read(const std::shared_ptr<ado::Connection>& db, int columns, int rows, double& sum) {
    ado::Recordset rs;
    rs.set_active_connection(db);
    const auto t = Clock::now();
    rs.open(u"SELECT * FROM B", ado::kForwardOnly, ado::kReadOnly, ado::kCmdText);
    int n = 0;
    for (; !rs.eof(); rs.move_next(), ++n)
        for (int i = 0; i < columns; ++i) {
            const ado::Variant v = rs.value(ado::Variant::i4(i));
            if (!v.is_null()) sum += v.real_value();
        }
    const double secs = seconds_since(t);
    if (n != rows) std::fprintf(stderr, "layer read %d rows of %d\n", n, rows);
    return n / secs;
}

struct Figures {
    double insert = 0;
    double read = 0;
};

// One round of each, raw then layer, each into a fresh table; the caller keeps the best of
// several rounds, so that a checkpoint or a neighbour's load does not decide the figure.
void round(const Target& target, bool sqlite, int columns, int rows, Figures& raw_best, Figures& layer_best) {
    Raw raw(target.odbc_cs);
    if (sqlite) raw.exec("PRAGMA synchronous = NORMAL");
    raw.exec("DROP TABLE IF EXISTS B");
    raw.exec(table_sql(columns, sqlite));
    double raw_sum = 0;
    raw_best.insert = std::max(raw_best.insert, raw_insert(raw, columns, rows));
    raw_best.read = std::max(raw_best.read, raw_read(raw, columns, rows, raw_sum));
    raw.exec("DROP TABLE B");
    raw.exec(table_sql(columns, sqlite));

    auto db = std::make_shared<ado::Connection>();
    db->open(ado::utf16_from_utf8(target.layer_cs));
    if (sqlite) db->execute_utf8("PRAGMA synchronous = NORMAL");
    double layer_sum = 0;
    layer_best.insert = std::max(layer_best.insert, layer_insert(db, columns, rows));
    layer_best.read = std::max(layer_best.read, layer_read(db, columns, rows, layer_sum));
    if (layer_sum != raw_sum) std::fprintf(stderr, "sums differ: %g %g\n", layer_sum, raw_sum);
    db->close();
    raw.exec("DROP TABLE B");
}

void run(const Target& target, bool sqlite) {
    for (const int columns : {10, 100, 1000}) {
        const int rows = columns == 10 ? 4000 : columns == 100 ? 1000 : 200;
        Figures raw, layer;
        for (int r = 0; r < 3; ++r) round(target, sqlite, columns, rows, raw, layer);
        std::printf("%-8s %5d cols %5d rows | insert raw %9.0f rows/s layer %9.0f rows/s (%5.1f%%) | read raw %9.0f "
                    "rows/s layer %9.0f rows/s (%5.1f%%)\n",
                    target.name.c_str(), columns, rows, raw.insert, layer.insert, 100.0 * layer.insert / raw.insert,
                    raw.read, layer.read, 100.0 * layer.read / raw.read);
        std::fflush(stdout);
    }
}

}  // namespace

int main() {
    try {
        const auto dir = std::filesystem::temp_directory_path() / ("ado_bench." + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        const std::string file = (dir / "bench.db").string();
        {
            ado::Catalog catalog;
            catalog.create(ado::utf16_from_utf8("Provider=SQLite.File;Data Source=" + file));
        }
        const auto drivers = ado::installed_driver_paths();
        run({"SQLite", "Provider=SQLite.File;Data Source=" + file,
             "Driver=" + drivers.sqlite + ";Database=" + file + ";JournalMode=WAL;NoCreat=1"},
            true);
        std::filesystem::remove_all(dir);

        if (auto state = qvr_test::mariadb_state()) {
            auto& v = *state;
            const std::string server = "Driver=" + drivers.mariadb + ";Server=" + v["host"] + ";Port=" + v["port"] +
                                       ";UID=" + v["user"] + ";PWD=" + v["password"];
            Raw admin(server);
            admin.exec("DROP DATABASE IF EXISTS qvr_bench");
            admin.exec("CREATE DATABASE qvr_bench");
            const std::string cs = server + ";Database=qvr_bench";
            run({"MariaDB", "Provider=MSDASQL;" + cs, cs + ";CHARSET=utf8mb4"}, false);
            admin.exec("DROP DATABASE qvr_bench");
        } else {
            std::printf("MariaDB: not run (start scripts/test-mariadb and set QUORVANE_TEST_MARIADB)\n");
        }
    } catch (const ado::ComError& e) {
        std::fprintf(stderr, "failed: %s\n", e.description().c_str());
        return 1;
    }
    return 0;
}
