// The database store on SQLite (WAL) and on a MariaDB server: WriteLogs of one record a call
// for 10, 100 and 1,000 channels (rows/s and p99 per call); a run of 10,000 and of 1,000,000
// records read through ReadLogs in blocks of 50,000 with a GetNoLogs between blocks (time per
// record, and the count's time against the row count); the latest record of the run.
//
// On SQLite the same rows also go in through raw ODBC into a table of the same shape (text
// dates, the time index, one row an autocommitted statement), the like-for-like figure for the
// store's share; the layer's own raw figure is for a bare table of REAL columns.
//
//   bench_db_store                        SQLite in a temporary folder
//   QUORVANE_TEST_MARIADB=<state>         also the MariaDB test server (scripts/test-mariadb start)
#include <sql.h>
#include <sqlext.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "log_stores/db_schema/data_columns.h"
#include "log_stores/db_schema/date_literal.h"
#include "log_stores/db_schema/schema_tables.h"
#include "log_stores/db_schema/sql_text.h"
#include "log_stores/db_store/db_store.h"
#include "log_stores/run_file/run_file_format.h"
#include "platform/ado/catalog.h"
#include "platform/ado/com_error.h"
#include "platform/ado/connection.h"
#include "platform/ado/connection_string.h"
#include "platform/ado/date_value.h"
#include "platform/ado/text_codec.h"
#include "support/mariadb_state.h"

namespace {

using namespace log_stores;
using namespace log_stores::db_schema;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

constexpr std::int32_t kStart = 1709632800;  // 2024-03-05 10:00:00 UTC
constexpr int kBlock = 50000;

LogHeader header_with(int channels) {
    LogHeader h{};
    h.formatTag = 0x8001;
    h.start.seconds = kStart;
    h.blockCount = 1;
    h.blocks[0].prefix = {'A', 'I'};
    h.blocks[0].firstChannel = 1;
    h.blocks[0].lastChannel = static_cast<std::uint16_t>(channels);
    h.blocks[0].blockKind = 8;
    h.blocks[0].recordOffset = 16;
    h.recordSize = 16 + 8 * channels;
    return h;
}

const qvr::ChannelRecord* analog(std::size_t, std::uint16_t) {
    static const qvr::ChannelRecord r = [] {
        qvr::ChannelRecord c{};
        c.head.Type = qvr::ChannelKind::AI;
        c.head.Flags.set(qvr::AnalogFlag::Enable, true);
        return c;
    }();
    return &r;
}

// The run's tables as the collection makes them, and the store made ready on them.
bool make_run(ado::Connection& c, const std::string& cs, const std::string& prefix, const LogHeader& h,
              CLogDbStore& store) {
    const ado::Dialect& d = c.dialect();
    const ChannelLookup lookup = analog;
    const auto list = build_column_list(d, h, lookup, false);
    if (!list.list) return false;
    try {
        c.execute_utf8(channels_create(d, prefix));
        c.execute_utf8(data_create_forms(d, Backend::ado, prefix, false, list.list->definition)[0]);
        c.execute_utf8(data_indexes(d, Backend::ado, prefix)[0]);
        c.execute_utf8(text_create(d, prefix));
    } catch (const ado::ComError& e) {
        std::printf("tables of %s not made: %s\n", prefix.c_str(), e.description().c_str());
        return false;
    } catch (...) {
        return false;
    }
    const int rc = store.CreateRun(cs.c_str(), prefix.c_str(), "bench", 1, h, nullptr, nullptr, &lookup);
    if (rc != 0) std::printf("CreateRun: %s %s\n", store.GetErrorContext(), store.GetErrorText());
    return rc == 0;
}

void drop_run(ado::Connection& c, const std::string& prefix) {
    for (const auto& s : drop_tables(c.dialect(), prefix)) try {
            c.execute_utf8(s);
        } catch (...) {
        }
    try {
        c.execute_utf8("DELETE FROM LOGGERS");
    } catch (...) {
    }
}

// Raw ODBC rows per second into the run's DATA table: every column in table order, the date as
// the text the layer binds on SQLite, TX and TP NULL.
double raw_sqlite_writes(const std::string& file, const std::string& table, int channels, int calls) {
    const std::string cs = "Driver=" + ado::installed_driver_paths().sqlite + ";Database=" + file +
                           ";JournalMode=WAL;NoCreat=1";
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    SQLHSTMT st = nullptr;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::vector<SQLCHAR> cs_text(cs.begin(), cs.end());
    cs_text.push_back(0);
    double rate = 0;
    if (SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, cs_text.data(), SQL_NTS, nullptr, 0, nullptr,
                                       SQL_DRIVER_NOPROMPT))) {
        SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
        std::string sql = "INSERT INTO " + table + " VALUES (?, ?, ?";
        for (int j = 0; j <= channels; ++j) sql += ", ?";
        sql += ")";
        std::vector<SQLCHAR> sql_text(sql.begin(), sql.end());
        sql_text.push_back(0);
        std::vector<char> date(64);
        SQLLEN date_ind = SQL_NTS, ms_ind = 0, null_ind = SQL_NULL_DATA;
        SQLBIGINT ms = 0;
        std::vector<double> values(static_cast<std::size_t>(channels));
        std::vector<SQLLEN> inds(static_cast<std::size_t>(channels), 0);
        bool ready = SQL_SUCCEEDED(SQLPrepare(st, sql_text.data(), SQL_NTS));
        const auto bind = [&](int at, SQLSMALLINT c, SQLSMALLINT t, SQLULEN size, void* data, SQLLEN cap,
                              SQLLEN* ind) {
            ready = ready && SQL_SUCCEEDED(SQLBindParameter(st, static_cast<SQLUSMALLINT>(at), SQL_PARAM_INPUT, c,
                                                            t, size, 0, data, cap, ind));
        };
        bind(1, SQL_C_CHAR, SQL_VARCHAR, 63, date.data(), 64, &date_ind);
        bind(2, SQL_C_SBIGINT, SQL_BIGINT, 19, &ms, 0, &ms_ind);
        bind(3, SQL_C_CHAR, SQL_VARCHAR, 1, nullptr, 0, &null_ind);
        for (int j = 0; j < channels; ++j)
            bind(4 + j, SQL_C_DOUBLE, SQL_DOUBLE, 15, &values[static_cast<std::size_t>(j)], 0,
                 &inds[static_cast<std::size_t>(j)]);
        bind(4 + channels, SQL_C_CHAR, SQL_VARCHAR, 1, nullptr, 0, &null_ind);
        const auto t = Clock::now();
        int done = 0;
        for (; ready && done < calls; ++done) {
            const std::string text = ado::canonical_date_text(date_value(kStart + done));
            std::snprintf(date.data(), date.size(), "%s", text.c_str());
            for (int j = 0; j < channels; ++j) values[static_cast<std::size_t>(j)] = static_cast<float>(done + j);
            if (!SQL_SUCCEEDED(SQLExecute(st))) break;
        }
        rate = done == calls ? calls / seconds_since(t) : 0;
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        SQLDisconnect(dbc);
    }
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return rate;
}

void bench_writes(const std::string& name, const std::string& cs, const std::string& sqlite_file = {}) {
    for (const int channels : {10, 100, 1000}) {
        ado::Connection c;
        c.open(ado::utf16_from_utf8(cs));
        const std::string prefix = "W" + std::to_string(channels) + "_";
        const LogHeader h = header_with(channels);
        CLogDbStore store;
        if (!make_run(c, cs, prefix, h, store)) {
            std::printf("%-8s %5d channels: run not made\n", name.c_str(), channels);
            continue;
        }
        const int calls = channels >= 1000 ? 300 : 2000;
        std::vector<std::uint8_t> record(static_cast<std::size_t>(h.recordSize));
        std::vector<double> times;
        times.reserve(static_cast<std::size_t>(calls));
        const auto all = Clock::now();
        for (int i = 0; i < calls; ++i) {
            run_file::RecordHead head;
            head.time = TimeStamp{kStart + i, 0, 0};
            run_file::encode_record_head(head, record);
            for (int j = 0; j < channels; ++j)
                run_file::write_sample(record, h.blocks[0], static_cast<std::uint32_t>(j),
                                       {run_file::kSampleAnalog, static_cast<float>(i + j)});
            const auto t = Clock::now();
            if (store.WriteLogs(h, record.data(), 1) != 0) {
                std::printf("WriteLogs: %s %s\n", store.GetErrorContext(), store.GetErrorText());
                break;
            }
            times.push_back(seconds_since(t));
        }
        const double total = seconds_since(all);
        std::sort(times.begin(), times.end());
        const double p99 = times.empty() ? 0 : times[times.size() * 99 / 100];
        const double rate = static_cast<double>(times.size()) / total;
        std::printf("%-8s WriteLogs %5d channels: %8.0f rows/s, p99 %.3f ms per call (%zu calls)", name.c_str(),
                    channels, rate, p99 * 1000, times.size());
        store.Close();
        if (!sqlite_file.empty()) {
            c.execute_utf8("DELETE FROM " + run_table(c.dialect(), prefix, "DATA"));
            const double raw = raw_sqlite_writes(sqlite_file, run_table(c.dialect(), prefix, "DATA"), channels, calls);
            if (raw > 0)
                std::printf(" | raw ODBC, same table %8.0f rows/s (%5.1f%%)", raw, 100.0 * rate / raw);
            else
                std::printf(" | raw ODBC failed");
        }
        std::printf("\n");
        drop_run(c, prefix);
    }
}

// Rows put in straight through the connection, many to a statement: the store only reads them.
void fill(ado::Connection& c, const std::string& prefix, int rows) {
    const ado::Dialect& d = c.dialect();
    const bool sqlite = d.engine() == ado::Engine::sqlite;
    if (sqlite) c.execute_utf8("BEGIN");
    for (int at = 0; at < rows;) {
        std::string sql = "INSERT INTO " + run_table(d, prefix, "DATA") + " (DT, MS, " + quoted_name(d, "AI1") +
                          ") VALUES ";
        for (int k = 0; k < 1000 && at < rows; ++k, ++at) {
            const int group = at / 5;
            sql += (k ? ",(" : "(") + date_literal(0, kStart + group / 10) + ", " +
                   std::to_string(group % 10 * 100) + ", " + std::to_string(4 - at % 5) + ")";
        }
        c.execute_utf8(sql);
    }
    if (sqlite) c.execute_utf8("COMMIT");
}

void bench_reads(const std::string& name, const std::string& cs) {
    for (const int rows : {10000, 1000000}) {
        ado::Connection c;
        c.open(ado::utf16_from_utf8(cs));
        const std::string prefix = "R" + std::to_string(rows) + "_";
        const LogHeader h = header_with(1);
        CLogDbStore store;
        if (!make_run(c, cs, prefix, h, store)) continue;
        fill(c, prefix, rows);
        std::vector<std::uint8_t> out(static_cast<std::size_t>(h.recordSize) * kBlock);
        double reading = 0, counting = 0;
        long got = 0;
        int counts = 0;
        for (int first = 0; first < rows; first += kBlock) {
            const auto r = Clock::now();
            const int n = store.ReadLogs(first, h, out.data(), kBlock, 0, nullptr, 0);
            reading += seconds_since(r);
            if (n <= 0) {
                std::printf("ReadLogs at %d: %s %s\n", first, store.GetErrorContext(), store.GetErrorText());
                break;
            }
            got += n;
            const auto t = Clock::now();
            if (store.GetNoLogs(h) != rows) std::printf("GetNoLogs wrong\n");
            counting += seconds_since(t);
            ++counts;
        }
        const auto l = Clock::now();
        const int latest = store.ReadLog(0, h, out.data(), h.recordSize, 0, 0, nullptr, 1, true);
        const double latest_ms = seconds_since(l) * 1000;
        std::printf(
            "%-8s %8d records: read %8ld in blocks of %d: %7.3f us/record, %7.3f with the counts; GetNoLogs "
            "%.3f ms; latest record %s %.2f ms\n",
            name.c_str(), rows, got, kBlock, reading / static_cast<double>(std::max(got, 1L)) * 1e6,
            (reading + counting) / static_cast<double>(std::max(got, 1L)) * 1e6, counts ? counting / counts * 1000 : 0.0,
            latest == 0 ? "" : "FAILED", latest_ms);
        store.Close();
        drop_run(c, prefix);
    }
}

void prepare(const std::string& cs) {
    ado::Connection c;
    c.open(ado::utf16_from_utf8(cs));
    c.execute_utf8(loggers_create(false));
    c.execute_utf8(loggers_key(c.dialect()));
}

}  // namespace

int main() {
    char dir_template[] = "/tmp/qvr-dbstore-XXXXXX";
    const char* dir = mkdtemp(dir_template);
    if (!dir) return 1;
    const std::string sqlite_cs = std::string("Provider=SQLite.File;Data Source=") + dir + "/store.db";
    {
        ado::Catalog catalog;
        catalog.create(ado::utf16_from_utf8(sqlite_cs));
    }
    prepare(sqlite_cs);
    bench_writes("SQLite", sqlite_cs, std::string(dir) + "/store.db");
    bench_reads("SQLite", sqlite_cs);
    std::filesystem::remove_all(dir);
    if (const auto server = qvr_test::mariadb_state()) {
        const std::string base = "Provider=MSDASQL;Driver=" + ado::installed_driver_paths().mariadb +
                                 ";Server=" + server->at("host") + ";Port=" + server->at("port") +
                                 ";UID=" + server->at("user") + ";PWD=" + server->at("password");
        const std::string db = "qvr_store_" + std::to_string(::getpid());
        {
            ado::Connection admin;
            admin.open(ado::utf16_from_utf8(base));
            admin.execute_utf8("CREATE DATABASE " + db);
        }
        const std::string cs = base + ";Database=" + db;
        prepare(cs);
        bench_writes("MariaDB", cs);
        bench_reads("MariaDB", cs);
        ado::Connection admin;
        admin.open(ado::utf16_from_utf8(base));
        admin.execute_utf8("DROP DATABASE " + db);
    }
    return 0;
}
