// Reading a run's DATA table in the one record order (DT, MS, then the other columns) in
// pages of 50,000 after the last key, for runs of 10,000 and 1,000,000 records written in
// groups of five with equal times; the time per record should not grow with the run. Also
// the key of the latest record, which the TM index answers at once.
//
//   bench_db_schema_pages                 SQLite in a temporary folder
//   QUORVANE_TEST_MARIADB=<state>         also the MariaDB test server (scripts/test-mariadb start)
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "log_stores/db_schema/date_literal.h"
#include "log_stores/db_schema/record_query.h"
#include "log_stores/db_schema/schema_tables.h"
#include "log_stores/db_schema/sql_text.h"
#include "platform/ado/catalog.h"
#include "platform/ado/connection.h"
#include "platform/ado/recordset.h"
#include "platform/ado/text_codec.h"
#include "support/mariadb_state.h"

namespace {

using namespace log_stores::db_schema;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

constexpr std::int32_t kStart = 1709632800;  // 2024-03-05 10:00:00 UTC
constexpr int kPage = 50000;

void fill(ado::Connection& c, const std::string& prefix, int rows) {
    const ado::Dialect& d = c.dialect();
    c.execute_utf8(
        data_create_forms(d, Backend::ado, prefix, false, ", " + quoted_name(d, "AI1") + " REAL NULL")[0]);
    c.execute_utf8(data_indexes(d, Backend::ado, prefix)[0]);
    const bool sqlite = d.engine() == ado::Engine::sqlite;
    if (sqlite) c.execute_utf8("BEGIN");
    for (int at = 0; at < rows;) {
        std::string sql = "INSERT INTO " + run_table(d, prefix, "DATA") + " (DT, MS, AI1) VALUES ";
        for (int k = 0; k < 1000 && at < rows; ++k, ++at) {
            const int group = at / 5;
            const std::string dt = date_literal(0, kStart + group / 10);
            sql += (k ? ",(" : "(") + dt + ", " + std::to_string(group % 10 * 100) + ", " +
                   std::to_string(4 - at % 5) + ")";
        }
        c.execute_utf8(sql);
    }
    if (sqlite) c.execute_utf8("COMMIT");
}

// Every record once, page after page; the records read.
long read_pages(const std::shared_ptr<ado::Connection>& c, const std::string& prefix) {
    std::optional<RecordKey> after;
    long total = 0;
    for (;;) {
        ado::Recordset rs;
        rs.set_active_connection(c);
        rs.open(ado::utf16_from_utf8(page_query(c->dialect(), 0, {prefix, "*", after, kPage, false})),
                ado::kForwardOnly, ado::kReadOnly, ado::kCmdText);
        std::vector<std::vector<ado::Variant>> rows;
        std::vector<RecordKey> keys;
        for (; !rs.eof(); rs.move_next()) {
            std::vector<ado::Variant> row;
            for (int i = 0; i < 5; ++i) row.push_back(rs.value(ado::Variant::i4(i)));
            keys.push_back({seconds_of_date(row[0].to_date()).value_or(0), row[1].to_i4()});
            rows.push_back(std::move(row));
        }
        const PageCut cut = cut_page(keys, kPage);
        if (cut.keep == 0) break;  // groups of five never fill a page
        for (std::size_t from = 0; from < cut.keep;) {
            std::size_t to = from;
            while (to < cut.keep && keys[to] == keys[from]) ++to;
            std::vector<std::vector<ado::Variant>> group(rows.begin() + from, rows.begin() + to);
            order_group(group, 2, false);
            from = to;
        }
        total += static_cast<long>(cut.keep);
        after = keys[cut.keep - 1];
    }
    return total;
}

void run(const std::string& name, const std::string& cs) {
    for (const int rows : {10000, 1000000}) {
        auto c = std::make_shared<ado::Connection>();
        c->open(ado::utf16_from_utf8(cs));
        const std::string prefix = "B" + std::to_string(rows) + "_";
        try {
            c->execute_utf8("DROP TABLE " + run_table(c->dialect(), prefix, "DATA"));
        } catch (...) {
        }
        const auto f = Clock::now();
        fill(*c, prefix, rows);
        const double filled = seconds_since(f);
        const auto r = Clock::now();
        const long got = read_pages(c, prefix);
        const double read = seconds_since(r);
        const auto l = Clock::now();
        ado::Recordset latest;
        latest.set_active_connection(c);
        latest.open(ado::utf16_from_utf8(latest_key_query(c->dialect(), prefix)), ado::kForwardOnly,
                    ado::kReadOnly, ado::kCmdText);
        (void)latest.value(ado::Variant::i4(0));
        const double latest_ms = seconds_since(l) * 1000;
        std::printf(
            "%-8s %8d records: filled in %6.2f s; read %8ld in pages of %d: %7.3f us/record; latest key %.2f "
            "ms\n",
            name.c_str(), rows, filled, got, kPage, read / static_cast<double>(got) * 1e6, latest_ms);
        c->execute_utf8("DROP TABLE " + run_table(c->dialect(), prefix, "DATA"));
    }
}

}  // namespace

int main() {
    char dir_template[] = "/tmp/qvr-pages-XXXXXX";
    const char* dir = mkdtemp(dir_template);
    if (!dir) return 1;
    const std::string sqlite_cs = std::string("Provider=SQLite.File;Data Source=") + dir + "/pages.db";
    {
        ado::Catalog catalog;
        catalog.create(ado::utf16_from_utf8(sqlite_cs));
    }
    run("SQLite", sqlite_cs);
    std::filesystem::remove_all(dir);
    if (const auto server = qvr_test::mariadb_state()) {
        const std::string base = "Provider=MSDASQL;Driver=" + ado::installed_driver_paths().mariadb +
                                 ";Server=" + server->at("host") + ";Port=" + server->at("port") +
                                 ";UID=" + server->at("user") + ";PWD=" + server->at("password");
        const std::string db = "qvr_pages_" + std::to_string(::getpid());
        {
            ado::Connection admin;
            admin.open(ado::utf16_from_utf8(base));
            admin.execute_utf8("CREATE DATABASE " + db);
        }
        run("MariaDB", base + ";Database=" + db);
        ado::Connection admin;
        admin.open(ado::utf16_from_utf8(base));
        admin.execute_utf8("DROP DATABASE " + db);
    }
    return 0;
}
