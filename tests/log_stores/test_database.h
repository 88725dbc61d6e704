#pragma once
// A fresh database for one test: a new SQLite file, or a new database on the MariaDB test
// server that scripts/test-mariadb started (QUORVANE_TEST_MARIADB names its state file).
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ado/connection.h"
#include "platform/ado/recordset.h"
#include "platform/ado/catalog.h"
#include "platform/ado/text_codec.h"
#include "support/mariadb_state.h"
#include "support/temp_dir.h"

namespace log_stores_test {

class TestDatabase {
  public:
    virtual ~TestDatabase() = default;
    const std::u16string& connection_string() const { return cs_; }

  protected:
    std::u16string cs_;
};

class SqliteDatabase : public TestDatabase {
  public:
    SqliteDatabase() {
        cs_ = ado::utf16_from_utf8("Provider=SQLite.File;Data Source=" + (dir_ / "logs.db").string());
        ado::Catalog catalog;
        catalog.create(cs_);
    }

  private:
    qvr_test::TempDir dir_;
};

// The values the server script wrote; nothing when no server was started for the tests.
inline std::optional<std::map<std::string, std::string>> mariadb_server() {
    return qvr_test::mariadb_state();
}

class MariaDatabase : public TestDatabase {
  public:
    explicit MariaDatabase(const std::map<std::string, std::string>& server) {
        static std::atomic<int> serial{0};
        name_ = "qvr_" + std::to_string(::getpid()) + "_" + std::to_string(serial++);
        const std::string base = "Provider=MSDASQL;Driver=" + ado::installed_driver_paths().mariadb +
                                 ";Server=" + server.at("host") + ";Port=" + server.at("port") +
                                 ";UID=" + server.at("user") + ";PWD=" + server.at("password");
        admin_ = ado::utf16_from_utf8(base);
        ado::Connection c;
        c.open(admin_);
        c.execute_utf8("CREATE DATABASE " + name_ + " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin");
        cs_ = ado::utf16_from_utf8(base + ";Database=" + name_);
    }
    ~MariaDatabase() override {
        try {
            ado::Connection c;
            c.open(admin_);
            c.execute_utf8("DROP DATABASE IF EXISTS " + name_);
        } catch (...) {
        }
    }

  private:
    std::string name_;
    std::u16string admin_;
};

inline constexpr const char* kNoMariaDbServer =
    "no MariaDB test server (scripts/test-mariadb start, QUORVANE_TEST_MARIADB)";

// The database of a suite built once for each kind: a new database on the MariaDB test server
// when `on_mariadb`, else a new SQLite file; null when there is no MariaDB test server.
inline std::unique_ptr<TestDatabase> suite_database(bool on_mariadb) {
    if (!on_mariadb) return std::make_unique<SqliteDatabase>();
    const auto server = mariadb_server();
    if (!server) return nullptr;
    return std::make_unique<MariaDatabase>(*server);
}

// Every row of a query, every column.
inline std::vector<std::vector<ado::Variant>> query_rows(const std::shared_ptr<ado::Connection>& connection,
                                                         const std::string& sql) {
    ado::Recordset rs;
    rs.set_active_connection(connection);
    rs.open(ado::utf16_from_utf8(sql), ado::kForwardOnly, ado::kReadOnly, ado::kCmdText);
    std::vector<std::vector<ado::Variant>> out;
    const std::size_t n = rs.field_count();
    for (; !rs.eof(); rs.move_next()) {
        std::vector<ado::Variant> row;
        for (std::size_t i = 0; i < n; ++i) row.push_back(rs.value(ado::Variant::i4(static_cast<int32_t>(i))));
        out.push_back(std::move(row));
    }
    return out;
}

}  // namespace log_stores_test
