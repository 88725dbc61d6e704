// The database store on SQLite (WAL) and on a MariaDB server: WriteLogs of one record a call
// for 10, 100 and 1,000 channels (rows/s and p99 per call); a run of 10,000 and of 1,000,000
// records read through ReadLogs in blocks of 50,000 with a GetNoLogs between blocks (time per
// record, and the count's time against the row count); the latest record of the run.
//
//   bench_db_store                        SQLite in a temporary folder
//   QUORVANE_TEST_MARIADB=<state>         also the MariaDB test server (scripts/test-mariadb start)
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
#include "platform/ado/text_codec.h"

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

void bench_writes(const std::string& name, const std::string& cs) {
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
        std::printf("%-8s WriteLogs %5d channels: %8.0f rows/s, p99 %.3f ms per call (%zu calls)\n", name.c_str(),
                    channels, static_cast<double>(times.size()) / total, p99 * 1000, times.size());
        store.Close();
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
            "%-8s %8d records: read %8ld in blocks of %d: %7.3f us/record; GetNoLogs %.3f ms; latest record %s "
            "%.2f ms\n",
            name.c_str(), rows, got, kBlock, reading / static_cast<double>(std::max(got, 1L)) * 1e6,
            counts ? counting / counts * 1000 : 0.0, latest == 0 ? "" : "FAILED", latest_ms);
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

std::optional<std::map<std::string, std::string>> mariadb_server() {
    const char* state = std::getenv("QUORVANE_TEST_MARIADB");
    if (!state || !*state) return std::nullopt;
    std::ifstream in(state);
    std::map<std::string, std::string> values;
    std::string line;
    while (std::getline(in, line))
        if (const auto eq = line.find('='); eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    if (values.empty()) return std::nullopt;
    return values;
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
    bench_writes("SQLite", sqlite_cs);
    bench_reads("SQLite", sqlite_cs);
    std::filesystem::remove_all(dir);
    if (const auto server = mariadb_server()) {
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
