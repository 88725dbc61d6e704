// The MySQL collection against the MariaDB test server (QUORVANE_TEST_MARIADB names its
// state file). Each test makes its own database and user through the server's socket as root,
// and drops both afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "log_stores/log_store.h"
#include "log_stores/mysql/base64_text.h"
#include "log_stores/mysql/mysql_collection.h"
#include "log_stores/mysql/mysql_session.h"
#include "platform/last_error.h"
#include "test_database.h"

using log_stores::CLogDbMySQLCollection;
using log_stores::kGenericRead;
using log_stores::kGenericWrite;
namespace mysql = log_stores::mysql;

namespace {

constexpr std::uint32_t kReadWrite = kGenericRead | kGenericWrite;
// 2024-03-05 10:00:00 UTC.
constexpr std::int32_t kMarch5 = 1709632800;

const std::optional<std::map<std::string, std::string>>& server() {
    static const auto values = log_stores_test::mariadb_server();
    return values;
}

// The connector reads its default port and socket once per process, at its first use: both
// are set before any test runs, for the connection strings without "HOST=" or "PORT=".
const bool kDefaultsSet = [] {
    if (const auto& s = server()) {
        ::setenv("MYSQL_TCP_PORT", s->at("port").c_str(), 1);
        ::setenv("MYSQL_UNIX_PORT", s->at("socket").c_str(), 1);
    }
    return true;
}();

mysql::ConnectionKeys root_keys() {
    mysql::ConnectionKeys keys;
    keys.host = "localhost";
    keys.user = "root";
    return keys;
}

class MySqlCollectionTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(kDefaultsSet);
        if (!server()) GTEST_SKIP() << "no MariaDB test server (scripts/test-mariadb start, QUORVANE_TEST_MARIADB)";
        static std::atomic<int> serial{0};
        const std::string tag = std::to_string(::getpid()) + "_" + std::to_string(serial++);
        db_ = "qvr_my_" + tag;
        user_ = "qvr_my_" + tag;
        ASSERT_FALSE(root_.connect(root_keys())) << "root through the socket";
        ok("CREATE DATABASE " + db_ + " CHARACTER SET utf8mb4 COLLATE utf8mb4_bin");
        // A password whose Base64 form ends in '=' (five bytes).
        ok("CREATE USER '" + user_ + "'@'127.0.0.1' IDENTIFIED BY '" + password_ + "'");
        ok("GRANT ALL PRIVILEGES ON " + db_ + ".* TO '" + user_ + "'@'127.0.0.1'");
    }
    void TearDown() override {
        if (!root_.connected()) return;
        root_.run("DROP DATABASE IF EXISTS " + db_);
        root_.run("DROP USER IF EXISTS '" + user_ + "'@'127.0.0.1'");
    }

    mysql::Result ok(const std::string& sql, std::vector<mysql::Value> params = {}) {
        auto r = root_.run(sql, params);
        if (const auto* f = std::get_if<mysql::Failure>(&r)) {
            ADD_FAILURE() << sql << ": " << f->text;
            return {};
        }
        return std::get<mysql::Result>(r);
    }
    std::string port() const { return server()->at("port"); }
    std::string cs() const {
        return "PROVIDER=MYSQL;HOST=127.0.0.1;PORT=" + port() + ";USER=" + user_ +
               ";PASSWORD=" + log_stores::Base64EncodeText(password_) + ";DB=" + db_;
    }
    bool loggers_exists() {
        return !ok("SELECT 1 FROM information_schema.tables WHERE table_schema = ? AND table_name = 'LOGGERS'",
                   {db_})
                    .rows.empty();
    }
    bool table_exists(const std::string& name) {
        return !ok("SELECT 1 FROM information_schema.tables WHERE table_schema = ? AND table_name = ?", {db_, name})
                    .rows.empty();
    }
    std::unique_ptr<CLogDbMySQLCollection> open(const std::string& logger, const std::string& prefix = "") {
        auto c = std::make_unique<CLogDbMySQLCollection>();
        EXPECT_EQ(c->Open(cs().c_str(), "", logger.c_str(), prefix.c_str(), kReadWrite), 0) << c->GetErrorText();
        return c;
    }
    // A LOGGERS row as a finished (stop given) or running (stop 0) run leaves it.
    void add_row(const std::string& logger, std::int32_t sequence, const std::string& prefix, std::int32_t start,
                 std::int32_t stop) {
        const auto date = [](std::int32_t s) -> mysql::Value {
            if (s == 0) return std::monostate{};
            return ado::DateValue{s, 0};
        };
        ok("INSERT INTO " + db_ +
               ".LOGGERS (sLoggerName, nLoggerSequence, dStartTime, dStopTime, bCompleted, sTablePrefix) VALUES "
               "(?, ?, ?, ?, ?, ?)",
           {logger, std::int64_t{sequence}, date(start), date(stop), std::int64_t{stop != 0}, prefix});
    }

    mysql::Session root_;
    std::string db_;
    std::string user_;
    std::string password_ = "pl4nt";
};

TEST_F(MySqlCollectionTest, ConnectionStrings) {
    const std::string b64 = log_stores::Base64EncodeText(password_);
    ASSERT_EQ(b64.back(), '=');
    const struct {
        const char* what;
        std::string text;
        int result;
        const char* context;
    } cases[] = {
        {"all keys", cs(), 0, ""},
        {"any order and case",
         "provider=mysql;db=" + db_ + ";password=" + b64 + ";Port=" + port() + ";user=" + user_ + ";host=127.0.0.1",
         0, ""},
        {"no PORT=", "PROVIDER=MYSQL;HOST=127.0.0.1;USER=" + user_ + ";PASSWORD=" + b64 + ";DB=" + db_, 0, ""},
        {"no HOST=: the socket", "PROVIDER=MYSQL;USER=root;DB=" + db_, 0, ""},
        {"text after the pad",
         "PROVIDER=MYSQL;HOST=127.0.0.1;PORT=" + port() + ";USER=" + user_ + ";PASSWORD=" + b64 + "=x;DB=" + db_, 0,
         ""},
        {"wrong password",
         "PROVIDER=MYSQL;HOST=127.0.0.1;PORT=" + port() + ";USER=" + user_ + ";PASSWORD=" +
             log_stores::Base64EncodeText("wrong") + ";DB=" + db_,
         -1, "CAN'T CONNECT TO DATABASE"},
        {"no USER=", "PROVIDER=MYSQL;HOST=127.0.0.1;DB=" + db_, -1, "NO USER IN CONNECTION STRING"},
        {"no DB=", "PROVIDER=MYSQL;HOST=127.0.0.1;USER=" + user_, -1, "NO DB IN CONNECTION STRING"},
        {"1,025 characters", cs() + ";" + std::string(1024 - cs().size(), 'x'), -1, "CONNECTION STRING TOO LONG"},
    };
    for (const auto& c : cases) {
        CLogDbMySQLCollection collection;
        platform::set_last_error(1234);
        EXPECT_EQ(collection.Open(c.text.c_str(), "", "L", "", kGenericRead), c.result)
            << c.what << ": " << collection.GetErrorText();
        EXPECT_STREQ(collection.GetErrorContext(), c.context) << c.what;
        EXPECT_EQ(std::strstr(collection.GetErrorText(), password_.c_str()), nullptr) << c.what;
    }
    CLogDbMySQLCollection collection;
    platform::set_last_error(1234);
    EXPECT_EQ(collection.Open((cs() + ";" + std::string(1024 - cs().size(), 'x')).c_str(), "", "L", "", kGenericRead),
              -1);
    EXPECT_EQ(platform::last_error(), 0);
    EXPECT_EQ(collection.Open("", "", "L", "", kGenericRead), -1);
    EXPECT_STREQ(collection.GetErrorContext(), "NO CONNECTION STRING");
}

TEST_F(MySqlCollectionTest, AReadOnlyOpenNeverMakesLoggersAndAWriteOpenTakesAnExistingOne) {
    CLogDbMySQLCollection reader;
    ASSERT_EQ(reader.Open(cs().c_str(), "", "L", "", kGenericRead), 0) << reader.GetErrorText();
    EXPECT_FALSE(loggers_exists());
    EXPECT_FALSE(reader.made_loggers_table());
    CLogDbMySQLCollection writer;
    ASSERT_EQ(writer.Open(cs().c_str(), "", "L", "", kReadWrite), 0) << writer.GetErrorText();
    EXPECT_TRUE(loggers_exists());
    CLogDbMySQLCollection again;
    ASSERT_EQ(again.Open(cs().c_str(), "", "L", "", kReadWrite), 0) << again.GetErrorText();
    EXPECT_TRUE(again.made_loggers_table());
}

TEST_F(MySqlCollectionTest, RunListNewestFirstForOddNamesOnly) {
    const std::string odd = "O'Brien `x` \\ ; a.b";
    auto c = open(odd);
    add_row(odd, 1, "A_00000001_", kMarch5, kMarch5 + 60);
    add_row(odd, 2, "A_00000002_", kMarch5 + 120, 0);
    add_row("other", 3, "B_00000003_", kMarch5 + 240, kMarch5 + 300);
    std::size_t size = 0;
    ASSERT_EQ(c->BeginRunList(&size), 1);
    EXPECT_EQ(size, 20u);
    char name[20];
    TimeStamp start{}, stop{};
    ASSERT_EQ(c->GetNextRun(name, &start, &stop), 1);
    EXPECT_STREQ(name, "LoggerSeq=00000002");
    EXPECT_EQ(start.seconds, kMarch5 + 120);
    EXPECT_EQ(stop.seconds, 0);
    ASSERT_EQ(c->GetNextRun(name, &start, &stop), 1);
    EXPECT_STREQ(name, "LoggerSeq=00000001");
    EXPECT_EQ(stop.seconds, kMarch5 + 60);
    platform::set_last_error(5);
    EXPECT_EQ(c->GetNextRun(name, &start, &stop), 0);
    EXPECT_EQ(platform::last_error(), 0);
}

TEST_F(MySqlCollectionTest, LatestRunMatchesTheSanitisedBasePrefix) {
    auto none = open("empty logger");
    char name[20];
    std::size_t size = sizeof name;
    TimeStamp start{}, stop{};
    EXPECT_EQ(none->GetLatestRun(name, &size, &start, &stop, false), 0);

    // A prefix with a blank is kept as "Line_1_" in table names.
    auto c = open("L", "Line 1");
    add_row("L", 1, "Line_1_00000001_", kMarch5, kMarch5 + 60);
    add_row("L", 2, "Other_00000002_", kMarch5 + 120, kMarch5 + 180);
    size = sizeof name;
    ASSERT_EQ(c->GetLatestRun(name, &size, &start, &stop, false), 1);
    EXPECT_STREQ(name, "LoggerSeq=00000001");
    size = sizeof name;
    ASSERT_EQ(c->GetLatestRun(name, &size, &start, &stop, true), 1);
    EXPECT_STREQ(name, "LoggerSeq=00000002");
    EXPECT_EQ(start.seconds, kMarch5 + 120);
}

TEST_F(MySqlCollectionTest, DeleteRunsBeforeDropsOnlyFinishedOldRuns) {
    auto c = open("L");
    for (const std::string p : {"old.x`_", "running_", "new_"})
        for (const char* suffix : {"CHANNELS", "DATA", "TEXT"})
            ok("CREATE TABLE " + db_ + "." + mysql::quoted(p + suffix) + " (a int)");
    add_row("L", 1, "old.x`_", kMarch5, kMarch5 + 60);
    add_row("L", 2, "running_", kMarch5 + 10, 0);
    add_row("L", 3, "new_", kMarch5 + 1000, kMarch5 + 2000);
    c->DeleteRunsBefore(kMarch5 + 500);
    EXPECT_FALSE(table_exists("old.x`_DATA"));
    EXPECT_FALSE(table_exists("old.x`_CHANNELS"));
    EXPECT_TRUE(table_exists("running_DATA"));
    EXPECT_TRUE(table_exists("new_DATA"));
    EXPECT_EQ(ok("SELECT COUNT(*) FROM " + db_ + ".LOGGERS").rows[0][0], mysql::Value{std::int64_t{2}});
}

TEST_F(MySqlCollectionTest, StoreLocationAndItsSize) {
    auto c = open("L");
    std::size_t size = 0;
    c->GetStoreLocation("LoggerSeq=00000001", nullptr, &size);
    const std::string expected = cs() + ";LoggerName=L;LoggerSeq=00000001";
    EXPECT_EQ(size, expected.size() + 1);
    std::string text(size, '\0');
    c->GetStoreLocation("LoggerSeq=00000001", text.data(), &size);
    EXPECT_STREQ(text.c_str(), expected.c_str());
}

}  // namespace
