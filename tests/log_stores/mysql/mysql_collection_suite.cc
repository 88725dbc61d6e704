// The MySQL collection against the MariaDB test server (QUORVANE_TEST_MARIADB names its
// state file). Each test makes its own database and user through the server's socket as root,
// and drops both afterwards.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <limits>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "db_schema_fixtures.h"
#include "log_stores/log_store.h"
#include "log_stores/mysql/base64_text.h"
#include "log_stores/mysql/mysql_collection.h"
#include "log_stores/mysql/mysql_session.h"
#include "log_stores/mysql/mysql_store.h"
#include "log_stores/run_file/run_file_format.h"
#include "platform/last_error.h"
#include "product_settings.h"
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
        if (!server())
            GTEST_SKIP() << "no MariaDB test server (scripts/test-mariadb start, QUORVANE_TEST_MARIADB)";
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
        return !ok("SELECT 1 FROM information_schema.tables WHERE table_schema = ? AND table_name = "
                   "'LOGGERS'",
                   {db_})
                    .rows.empty();
    }
    bool table_exists(const std::string& name) {
        return !ok("SELECT 1 FROM information_schema.tables WHERE table_schema = ? AND table_name = ?",
                   {db_, name})
                    .rows.empty();
    }
    std::unique_ptr<CLogDbMySQLCollection> open(const std::string& logger, const std::string& prefix = "") {
        auto c = std::make_unique<CLogDbMySQLCollection>();
        EXPECT_EQ(c->Open(cs().c_str(), "", logger.c_str(), prefix.c_str(), kReadWrite), 0)
            << c->GetErrorText();
        return c;
    }
    // A LOGGERS row as a finished (stop given) or running (stop 0) run leaves it.
    void add_row(const std::string& logger, std::int32_t sequence, const std::string& prefix,
                 std::int32_t start, std::int32_t stop) {
        const auto date = [](std::int32_t s) -> mysql::Value {
            if (s == 0) return std::monostate{};
            return ado::DateValue{s, 0};
        };
        ok("INSERT INTO " + db_ +
               ".LOGGERS (sLoggerName, nLoggerSequence, dStartTime, dStopTime, bCompleted, sTablePrefix) "
               "VALUES "
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
         "provider=mysql;db=" + db_ + ";password=" + b64 + ";Port=" + port() + ";user=" + user_ +
             ";host=127.0.0.1",
         0, ""},
        {"no PORT=", "PROVIDER=MYSQL;HOST=127.0.0.1;USER=" + user_ + ";PASSWORD=" + b64 + ";DB=" + db_, 0,
         ""},
        {"no HOST=: the socket", "PROVIDER=MYSQL;USER=root;DB=" + db_, 0, ""},
        {"text after the pad",
         "PROVIDER=MYSQL;HOST=127.0.0.1;PORT=" + port() + ";USER=" + user_ + ";PASSWORD=" + b64 +
             "=x;DB=" + db_,
         0, ""},
        {"wrong password",
         "PROVIDER=MYSQL;HOST=127.0.0.1;PORT=" + port() + ";USER=" + user_ +
             ";PASSWORD=" + log_stores::Base64EncodeText("wrong") + ";DB=" + db_,
         -1, "CAN'T CONNECT TO DATABASE"},
        {"no USER=", "PROVIDER=MYSQL;HOST=127.0.0.1;DB=" + db_, -1, "NO USER IN CONNECTION STRING"},
        {"no DB=", "PROVIDER=MYSQL;HOST=127.0.0.1;USER=" + user_, -1, "NO DB IN CONNECTION STRING"},
        {"1,025 characters", cs() + ";" + std::string(1024 - cs().size(), 'x'), -1,
         "CONNECTION STRING TOO LONG"},
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
    EXPECT_EQ(collection.Open((cs() + ";" + std::string(1024 - cs().size(), 'x')).c_str(), "", "L", "",
                              kGenericRead),
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
    const std::string odd = "O'Brien `x` \\ : a.b";
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

using log_stores::CLogDbMySQLStore;
using log_stores::LogHeader;
namespace run_file = log_stores::run_file;

// A run of `channels` analog channels in one block "AB", its tables made as the collection
// makes them for MySQL.
class MySqlStoreTest : public MySqlCollectionTest {
  protected:
    void make_run(const std::string& logger, const std::string& prefix, int channels, bool integers = false) {
        ASSERT_EQ(open(logger)->GetErrorContext(), std::string());
        const std::string t = db_ + "." + mysql::quoted(prefix + "CHANNELS");
        ok("CREATE TABLE " + t +
           " (nBlock int, sPrefix char(2), nChannelNumber integer, sSource char(32), sTag char(32), "
           "sDescription "
           "char(32), nType int,sUnits char(12), fMinScale real, fMaxScale real, sLowStateDesc char(32), "
           "sHighStateDesc char(32), sColumnName char(32), bLag integer)");
        std::string columns;
        for (int c = 1; c <= channels; ++c) {
            ok("INSERT INTO " + t +
                   " (nBlock, sPrefix, nChannelNumber, sSource, bLag) VALUES (0, 'AB', ?, 'PLC 5   ', 0)",
               {std::int64_t{c}});
            columns += ", `AB" + std::to_string(c) + "` " + (integers ? "INTEGER" : "REAL") + " NULL";
        }
        ok("CREATE TABLE " + db_ + "." + mysql::quoted(prefix + "DATA") +
           " (DT datetime, MS float, TX varchar(255) NULL" + columns + ", TP float NULL)");
        ok("CREATE INDEX TM ON " + db_ + "." + mysql::quoted(prefix + "DATA") + " (DT, MS)");
        add_row(logger, 1, prefix, kMarch5, 0);
    }
    std::unique_ptr<CLogDbMySQLStore> open_store(const std::string& logger, LogHeader& header) {
        auto store = std::make_unique<CLogDbMySQLStore>();
        const std::string location = cs() + ";LoggerName=" + logger + ";LoggerSeq=00000001";
        EXPECT_EQ(store->Open(nullptr, location.c_str(), kReadWrite), 0)
            << store->GetErrorContext() << ": " << store->GetErrorText();
        EXPECT_EQ(store->ReadHeader(header), 0) << store->GetErrorContext() << ": " << store->GetErrorText();
        return store;
    }
    // Records whose channel k holds value(i, k); flags(i, k) gives the flag word.
    template <typename Value, typename Flags>
    std::vector<std::uint8_t> records(const LogHeader& h, int count,
                                      const std::function<TimeStamp(int)>& time, Value value, Flags flags) {
        std::vector<std::uint8_t> out(static_cast<std::size_t>(count) *
                                      static_cast<std::size_t>(h.recordSize));
        for (int i = 0; i < count; ++i) {
            std::span<std::uint8_t> r(out.data() + static_cast<std::size_t>(i) * h.recordSize, h.recordSize);
            run_file::RecordHead head;
            head.time = time(i);
            run_file::encode_record_head(head, r);
            for (std::uint32_t k = 0; k < h.blocks[0].channel_count(); ++k)
                run_file::write_sample(r, h.blocks[0], k, {flags(i, k), value(i, k)});
        }
        return out;
    }
    static run_file::ChannelSample sample(const LogHeader& h, std::span<const std::uint8_t> r,
                                          std::uint32_t k) {
        run_file::ChannelSample s;
        run_file::read_sample(r, h.blocks[0], k, s);
        return s;
    }
};

TEST_F(MySqlStoreTest, OpenRefusesBadLocationsAndUnknownRuns) {
    make_run("L", "L_00000001_", 2);
    const struct {
        std::string location;
        const char* context;
    } cases[] = {
        {cs() + ";LoggerSeq=00000001", "BADLY FORMED PATH NAME"},
        {cs() + ";LoggerName=L", "BADLY FORMED PATH NAME"},
        {cs() + ";LoggerName=" + std::string(261, 'n') + ";LoggerSeq=1", "BADLY FORMED PATH NAME"},
        {cs() + ";LoggerName=L;LoggerSeq=" + std::string(1425, '0'), "BADLY FORMED PATH NAME"},
        {cs() + ";LoggerName=L;LoggerSeq=00000002", "CAN'T FIND LOGGER NAME AND SEQ"},
        {cs() + ";LoggerName=M;LoggerSeq=00000001", "CAN'T FIND LOGGER NAME AND SEQ"},
    };
    for (const auto& c : cases) {
        CLogDbMySQLStore store;
        EXPECT_EQ(store.Open(nullptr, c.location.c_str(), kGenericRead), -1) << c.location.substr(0, 80);
        EXPECT_STREQ(store.GetErrorContext(), c.context);
    }
    LogHeader h;
    auto store = open_store("L", h);
    EXPECT_EQ(h.blockCount, 1);
    EXPECT_EQ(h.blocks[0].firstChannel, 1);
    EXPECT_EQ(h.blocks[0].lastChannel, 2);
    EXPECT_EQ(h.recordSize, 18 + 8 * 2 + 2);
    EXPECT_EQ(h.start.seconds, kMarch5);
    EXPECT_STREQ(reinterpret_cast<const char*>(h.blocks[0].carried.data()), "PLC 5");
    std::size_t size = 0;
    store->GetLocation(nullptr, &size);
    // The text and its NUL (the logger name "L", eight digits).
    EXPECT_EQ(size, cs().size() + std::strlen(";LoggerName=L;LoggerSeq=00000001") + 1);
}

TEST_F(MySqlStoreTest, BatchesStayWithinThePlaceholderCap) {
    EXPECT_EQ(CLogDbMySQLStore::batch_rows(4 + 3), 1000u);
    EXPECT_EQ(CLogDbMySQLStore::batch_rows(104), 65535u / 104);
    EXPECT_EQ(CLogDbMySQLStore::batch_rows(70000), 1u);
}

TEST_F(MySqlStoreTest, WideAndNarrowRunsWriteAndReadBackEveryRecord) {
    for (const int channels : {4, 100}) {
        const std::string prefix = "W" + std::to_string(channels) + "_";
        const std::string logger = "L" + std::to_string(channels);
        make_run(logger, prefix, channels);
        LogHeader h;
        auto store = open_store(logger, h);
        const int count = channels == 4 ? 2500 : 3000;
        const auto data = records(
            h, count,
            [](int i) {
                return TimeStamp{kMarch5 + i / 10, static_cast<std::int16_t>(i % 10), 0};
            },
            [](int i, std::uint32_t k) { return static_cast<float>(i * 1000 + static_cast<int>(k)); },
            [](int, std::uint32_t) { return run_file::kSampleAnalog; });
        ASSERT_EQ(store->WriteLogs(h, data.data(), count), 0) << store->GetErrorText();
        ASSERT_EQ(store->ReadHeader(h), 0);
        ASSERT_EQ(h.recordCount, count);
        std::vector<std::uint8_t> back(data.size());
        ASSERT_EQ(store->ReadLogs(0, h, back.data(), count, 0, nullptr, 0), count)
            << store->GetErrorContext();
        EXPECT_EQ(back, data) << channels;
    }
}

TEST_F(MySqlStoreTest, PagesOfAThousandServeBlocksOfAThousandWithOneQueryEach) {
    make_run("L", "L_", 2);
    LogHeader h;
    auto store = open_store("L", h);
    const auto data = records(
        h, 3000,
        [](int i) {
            return TimeStamp{kMarch5 + i / 10, static_cast<std::int16_t>((i % 10) * 100), 0};
        },
        [](int i, std::uint32_t k) { return static_cast<float>(i + static_cast<int>(k)); },
        [](int, std::uint32_t) { return run_file::kSampleAnalog; });
    ASSERT_EQ(store->WriteLogs(h, data.data(), 3000), 0) << store->GetErrorText();
    const std::size_t size = static_cast<std::size_t>(h.recordSize);
    std::vector<std::uint8_t> block(1000 * size);
    for (int b = 0; b < 3; ++b) {
        const std::uint64_t before = store->record_queries();
        ASSERT_EQ(store->ReadLogs(b * 1000, h, block.data(), 1000, 0, nullptr, 0), 1000);
        EXPECT_EQ(store->record_queries() - before, 1u) << b;
        EXPECT_TRUE(std::equal(block.begin(), block.end(),
                               data.begin() + static_cast<std::ptrdiff_t>(b) * 1000 * h.recordSize))
            << b;
    }
    // A DATA table without the time index is read all the same: the first page is asked again
    // without naming it, the next ones are not.
    ok("DROP INDEX TM ON " + db_ + ".L_DATA");
    LogHeader again;
    auto plain = open_store("L", again);
    for (int b = 0; b < 3; ++b) {
        const std::uint64_t before = plain->record_queries();
        ASSERT_EQ(plain->ReadLogs(b * 1000, again, block.data(), 1000, 0, nullptr, 0), 1000)
            << plain->GetErrorContext() << ": " << plain->GetErrorText();
        EXPECT_EQ(plain->record_queries() - before, b == 0 ? 2u : 1u) << b;
        EXPECT_TRUE(std::equal(block.begin(), block.end(),
                               data.begin() + static_cast<std::ptrdiff_t>(b) * 1000 * h.recordSize))
            << b;
    }
}

TEST_F(MySqlStoreTest, BadAndNonFiniteValuesAreStoredAsNullAndReadBackBad) {
    make_run("L", "L_", 3);
    LogHeader h;
    auto store = open_store("L", h);
    const float values[] = {1.5f, std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity()};
    const auto data = records(
        h, 2,
        [](int i) {
            return TimeStamp{kMarch5 + i, 0, 0};
        },
        [&](int, std::uint32_t k) { return values[k]; },
        [](int i, std::uint32_t k) {
            return i == 1 && k == 0 ? run_file::kSampleBad : run_file::kSampleAnalog;
        });
    ASSERT_EQ(store->WriteLogs(h, data.data(), 2), 0) << store->GetErrorText();
    EXPECT_EQ(ok("SELECT COUNT(*) FROM " + db_ + ".L_DATA WHERE AB2 IS NULL AND AB3 IS NULL").rows[0][0],
              mysql::Value{std::int64_t{2}});
    std::vector<std::uint8_t> r(static_cast<std::size_t>(h.recordSize));
    ASSERT_EQ(store->ReadLog(0, h, r.data(), h.recordSize, 0, 0, nullptr, 0, false), 0);
    EXPECT_EQ(sample(h, r, 0).flags, run_file::kSampleAnalog);
    EXPECT_EQ(sample(h, r, 0).value, 1.5f);
    EXPECT_EQ(sample(h, r, 1).flags, run_file::kSampleBad);
    EXPECT_EQ(sample(h, r, 2).flags, run_file::kSampleBad);
    ASSERT_EQ(store->ReadLog(1, h, r.data(), h.recordSize, 0, 0, nullptr, 0, false), 0);
    EXPECT_EQ(sample(h, r, 0).flags, run_file::kSampleBad);
    EXPECT_EQ(store->ReadLog(2, h, r.data(), h.recordSize, 0, 0, nullptr, 0, false), -1);
    EXPECT_STREQ(store->GetErrorContext(), "CAN'T GET DATA");
    // A number that no float32 holds, put there by another program, reads as bad too.
    ok("UPDATE " + db_ + ".L_DATA SET AB1 = 1e300");
    LogHeader again;
    auto fresh = open_store("L", again);
    ASSERT_EQ(fresh->ReadLog(0, again, r.data(), again.recordSize, 0, 0, nullptr, 0, false), 0);
    EXPECT_EQ(sample(again, r, 0).flags, run_file::kSampleBad);
}

TEST_F(MySqlStoreTest, DigitalIntegersReadBackAsAnalogOrAsStatesForKindFour) {
    make_run("L", "L_", 1, true);
    LogHeader h;
    auto store = open_store("L", h);
    const auto data = records(
        h, 2,
        [](int i) {
            return TimeStamp{kMarch5 + i, 0, 0};
        },
        [](int, std::uint32_t) { return 0.0f; },
        [](int i, std::uint32_t) { return i == 0 ? run_file::kSampleDigital : 0; });
    ASSERT_EQ(store->WriteLogs(h, data.data(), 2), 0) << store->GetErrorText();
    std::vector<std::uint8_t> r(static_cast<std::size_t>(h.recordSize));
    ASSERT_EQ(store->ReadLog(0, h, r.data(), h.recordSize, 0, 0, nullptr, 0, false), 0);
    EXPECT_EQ(sample(h, r, 0).flags, run_file::kSampleAnalog);
    EXPECT_EQ(sample(h, r, 0).value, 1.0f);
    LogHeader kind4 = h;
    kind4.blocks[0].blockKind = 4;
    ASSERT_EQ(store->ReadLog(0, kind4, r.data(), h.recordSize, 0, 0, nullptr, 0, false), 0);
    EXPECT_EQ(sample(kind4, r, 0).flags, run_file::kSampleDigital);
    ASSERT_EQ(store->ReadLog(1, kind4, r.data(), h.recordSize, 0, 0, nullptr, 0, false), 0);
    EXPECT_EQ(sample(kind4, r, 0).flags, 0);
}

TEST_F(MySqlStoreTest, MillisecondsWithMicrosecondsRoundTrip) {
    make_run("L", "L_", 1);
    LogHeader h;
    auto store = open_store("L", h);
    std::vector<TimeStamp> times;
    for (int us = 1; us < 1000000; us += 997)
        times.push_back(
            {kMarch5, static_cast<std::int16_t>(us / 1000), static_cast<std::int16_t>(us % 1000)});
    for (const TimeStamp t : {TimeStamp{kMarch5, 1, 5}, TimeStamp{kMarch5, 5, 1},
                              TimeStamp{kMarch5, 999, 999}, TimeStamp{kMarch5, 0, 1}})
        times.push_back(t);
    std::sort(times.begin(), times.end(), [](const TimeStamp& a, const TimeStamp& b) {
        return a.milliseconds * 1000 + a.microseconds < b.milliseconds * 1000 + b.microseconds;
    });
    const int n = static_cast<int>(times.size());
    const auto data = records(
        h, n, [&](int i) { return times[static_cast<std::size_t>(i)]; },
        [](int i, std::uint32_t) { return float(i); },
        [](int, std::uint32_t) { return run_file::kSampleAnalog; });
    ASSERT_EQ(store->WriteLogs(h, data.data(), n), 0) << store->GetErrorText();
    std::vector<std::uint8_t> back(data.size());
    ASSERT_EQ(store->ReadLogs(0, h, back.data(), n, 0, nullptr, 0), n);
    for (int i = 0; i < n; ++i) {
        const auto head = run_file::decode_record_head(std::span<const std::uint8_t>(
            back.data() + static_cast<std::size_t>(i) * h.recordSize, h.recordSize));
        EXPECT_EQ(head.time.milliseconds, times[static_cast<std::size_t>(i)].milliseconds) << i;
        EXPECT_EQ(head.time.microseconds, times[static_cast<std::size_t>(i)].microseconds) << i;
    }
}

TEST_F(MySqlStoreTest, EqualTimesAreNeitherRepeatedNorSkipped) {
    const std::string odd = "a'b`c\\;d.e_";
    make_run("O'Brien `x` \\ .y", odd, 1);
    LogHeader h;
    auto store = open_store("O'Brien `x` \\ .y", h);
    constexpr int kCount = 103;
    // Groups of five with equal DT and MS; the values tell the records apart.
    const auto data = records(
        h, kCount,
        [](int i) {
            return TimeStamp{kMarch5 + i / 10, static_cast<std::int16_t>((i / 5) % 2), 0};
        },
        [](int i, std::uint32_t) { return static_cast<float>((i * 37) % kCount); },
        [](int, std::uint32_t) { return run_file::kSampleAnalog; });
    ASSERT_EQ(store->WriteLogs(h, data.data(), kCount), 0) << store->GetErrorText();
    for (const int page : {7, 5, 1000}) {
        store->set_page_rows(page);
        std::vector<float> seen(kCount, -1);
        std::vector<int> order(kCount);
        for (int i = 0; i < kCount; ++i) order[static_cast<std::size_t>(i)] = i;
        std::mt19937 random(static_cast<unsigned>(page));
        // Forwards, then in a random order with counts between: every index gives the same record.
        for (int pass = 0; pass < 2; ++pass) {
            if (pass == 1) std::shuffle(order.begin(), order.end(), random);
            for (const int i : order) {
                std::vector<std::uint8_t> r(static_cast<std::size_t>(h.recordSize));
                ASSERT_EQ(store->ReadLog(i, h, r.data(), h.recordSize, 0, 0, nullptr, 0, false), 0)
                    << page << " " << i;
                const float v = sample(h, r, 0).value;
                if (pass == 0) {
                    seen[static_cast<std::size_t>(i)] = v;
                } else {
                    EXPECT_EQ(seen[static_cast<std::size_t>(i)], v) << page << " " << i;
                }
                if (i % 17 == 0) {
                    EXPECT_EQ(store->GetNoLogs(h), kCount);
                }
            }
        }
        EXPECT_EQ(std::set<float>(seen.begin(), seen.end()).size(), static_cast<std::size_t>(kCount)) << page;
        // Descending gives the same records in the reverse order of times.
        std::set<float> down;
        for (int i = 0; i < kCount; ++i) {
            std::vector<std::uint8_t> r(static_cast<std::size_t>(h.recordSize));
            ASSERT_EQ(store->ReadLog(i, h, r.data(), h.recordSize, 0, 0, nullptr, 0, true), 0);
            down.insert(sample(h, r, 0).value);
        }
        EXPECT_EQ(down.size(), static_cast<std::size_t>(kCount));
    }
}

TEST_F(MySqlStoreTest, WriteHeaderFinishesTheRunOnlyWithWriteAccess) {
    make_run("L", "L_", 1);
    LogHeader h;
    auto store = open_store("L", h);
    h.stop.seconds = kMarch5 + 3600;
    ASSERT_EQ(store->WriteHeader(h, true), 0) << store->GetErrorText();
    auto c = open("L");
    char name[20];
    std::size_t size = sizeof name;
    TimeStamp start{}, stop{};
    ASSERT_EQ(c->GetLatestRun(name, &size, &start, &stop, true), 1);
    EXPECT_EQ(stop.seconds, kMarch5 + 3600);
}

TEST_F(MySqlStoreTest, NewRunMakesItsTablesAndRowsAndFinishRunWithoutStartRemovesThem) {
    const std::string odd = "O'Brien `x` \\ .y";
    auto c = open(odd, "Line 1");
    LogHeader h = log_stores_test::header_of({{"AI", 1, 2}}, false, false);
    std::vector<qvr::ChannelRecord> configs{log_stores_test::analog_channel("T1"),
                                            log_stores_test::analog_channel("T2")};
    const qvr::ChannelRecord* table[] = {configs.data()};
    std::int32_t start = kMarch5;
    // The UTF-16 header text reaches the run.
    auto store = c->NewRunW(&start, true, 0, h, u"[HEADER]\r\nOven \u20ac 3\r\n[PREDEFINED]\r\nstart\r\n",
                            false, nullptr, false, table);
    ASSERT_TRUE(store) << c->GetErrorContext() << ": " << c->GetErrorText();
    auto* mine = dynamic_cast<CLogDbMySQLStore*>(store.get());
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(mine->table_prefix(), "Line_1_");
    EXPECT_EQ(ok("SELECT sHeader FROM " + db_ + ".LOGGERS").rows[0][0],
              mysql::Value{std::string("Oven \u20ac 3")});
    EXPECT_EQ(ok("SELECT TX FROM " + db_ + ".Line_1_TEXT").rows.size(), 1u);
    EXPECT_EQ(ok("SELECT COUNT(*) FROM " + db_ + ".Line_1_CHANNELS").rows[0][0],
              mysql::Value{std::int64_t{2}});

    LogHeader read;
    ASSERT_EQ(store->ReadHeader(read), 0) << store->GetErrorText();
    EXPECT_EQ(read.blockCount, 1);
    EXPECT_EQ(read.recordSize, 18 + 8 * 2 + 2);
    qvr::ChannelRecord back[2];
    ASSERT_EQ(store->ReadChannelConfig(read, back, 0, 0, 2), 0) << store->GetErrorText();
    EXPECT_EQ(qvr::join_text(back[1], qvr::ChannelText::Tag), "T2");
    EXPECT_FALSE(qvr::is_digital(back[1].head.Type));
    EXPECT_EQ(store->ReadChannelConfig(read, back, 0, 1, 2), -1);
    EXPECT_STREQ(store->GetErrorContext(), "CHANNEL NOT IN HEADER");
    const auto data = records(
        read, 3,
        [](int i) {
            return TimeStamp{kMarch5 + i, 0, 0};
        },
        [](int i, std::uint32_t) { return float(i); },
        [](int, std::uint32_t) { return run_file::kSampleAnalog; });
    ASSERT_EQ(store->WriteLogs(read, data.data(), 3), 0) << store->GetErrorText();

    auto again = c->OpenStore("LoggerSeq=00000001", kGenericRead);
    ASSERT_TRUE(again) << c->GetErrorContext();
    EXPECT_EQ(again->GetNoLogs(read), 3);

    ASSERT_EQ(c->FinishRun(*store, nullptr, nullptr, false), 0);
    EXPECT_FALSE(table_exists("Line_1_DATA"));
    EXPECT_FALSE(table_exists("Line_1_CHANNELS"));
    EXPECT_TRUE(ok("SELECT * FROM " + db_ + ".LOGGERS").rows.empty());
}

TEST_F(MySqlStoreTest, AFailedNewRunLeavesNoTablesAndNoRow) {
    auto c = open("L");
    LogHeader h = log_stores_test::header_of({{"AI", 1, 2}}, true, false);
    // Two channels with one tag: the second column is refused.
    std::vector<qvr::ChannelRecord> configs{log_stores_test::analog_channel("T1"),
                                            log_stores_test::analog_channel("t1")};
    const qvr::ChannelRecord* table[] = {configs.data()};
    std::int32_t start = kMarch5;
    auto store = c->NewRun(&start, true, 0, h, nullptr, false, nullptr, false, table);
    EXPECT_FALSE(store);
    EXPECT_EQ(std::string(c->GetErrorContext()).rfind("DUPLICATE COLUMN", 0), 0u) << c->GetErrorContext();
    EXPECT_EQ(ok("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = ? AND table_name <> "
                 "'LOGGERS'",
                 {db_})
                  .rows[0][0],
              mysql::Value{std::int64_t{0}});
    EXPECT_TRUE(ok("SELECT * FROM " + db_ + ".LOGGERS").rows.empty());
}

TEST_F(MySqlStoreTest, EventLinesPositionsAndTheHeaderTextAreStoredAndReadAsSections) {
    make_run("L", "L_", 1);
    LogHeader h;
    auto store = open_store("L", h);
    const auto data = records(
        h, 3,
        [](int i) {
            return TimeStamp{kMarch5 + i, 0, 0};
        },
        [](int i, std::uint32_t) { return float(i); },
        [](int, std::uint32_t) { return run_file::kSampleAnalog; });
    ASSERT_EQ(store->WriteLogs(h, data.data(), 3), 0) << store->GetErrorText();
    // Windows-1252: the euro sign is 0x80.
    ASSERT_EQ(store->AddText(kMarch5 + 1, "Valve \x80 open", nullptr, nullptr), 0) << store->GetErrorText();
    // The second's only row already holds a text: refused, not lost silently.
    EXPECT_EQ(store->AddText(kMarch5 + 1, "again", nullptr, nullptr), -1);
    EXPECT_STREQ(store->GetErrorContext(), "CAN'T UPDATE TEXT TABLE");
    EXPECT_EQ(store->AddText(kMarch5 + 99, "no row", nullptr, nullptr), -1);
    ASSERT_EQ(store->AddPosition(kMarch5 + 2, true, 2.5f), 0) << store->GetErrorText();
    ASSERT_EQ(store->WriteHeaderText("Oven\r\nLine 2"), 0) << store->GetErrorText();

    char out[256];
    std::size_t size = sizeof out;
    EXPECT_EQ(store->ReadSection("text", out, &size, 0, 0), 1);
    EXPECT_STREQ(out, "24/03/05 10:00:01 Valve \x80 open\r\n");
    size = sizeof out;
    EXPECT_EQ(store->ReadSection("POSITIONS", out, &size, 0, 0), 1);
    EXPECT_STREQ(out, "24/03/05 10:00:02 2.500000\r\n");
    size = sizeof out;
    EXPECT_EQ(store->ReadSection("HEADER", out, &size, 0, 0), 2);
    EXPECT_STREQ(out, "Oven\r\nLine 2");
    size = sizeof out;
    EXPECT_EQ(store->ReadSection("OTHER", out, &size, 0, 0), -1);
    std::int32_t when = 0;
    ASSERT_EQ(store->GetTextTime(when), 0);
    EXPECT_GT(when, kMarch5);
    // The texts stay out of the records.
    std::vector<std::uint8_t> back(data.size());
    ASSERT_EQ(store->ReadLogs(0, h, back.data(), 3, 0, nullptr, 0), 3);
    EXPECT_EQ(back, data);
}

TEST_F(MySqlStoreTest, DigitalStateTextsReadBackAsTheStatesTheyName) {
    log_stores_test::set_product_value("DatabaseDigitalText", "on");
    auto c = open("L");
    LogHeader h = log_stores_test::header_of({{"DI", 1, 4}}, false, false);
    std::vector<qvr::ChannelRecord> configs{log_stores_test::digital_channel("V1", "CLOSED", "OPEN"),
                                            log_stores_test::digital_channel("V2", "Stopped", "Running"),
                                            log_stores_test::digital_channel("V3", "CLOSED", "OPEN"),
                                            log_stores_test::digital_channel("V4", "ON", "ON")};
    const qvr::ChannelRecord* table[] = {configs.data()};
    std::int32_t start = kMarch5;
    auto store = c->NewRun(&start, true, 0, h, nullptr, false, nullptr, false, table);
    ASSERT_TRUE(store) << c->GetErrorContext() << ": " << c->GetErrorText();
    LogHeader read;
    ASSERT_EQ(store->ReadHeader(read), 0) << store->GetErrorText();
    ASSERT_EQ(c->UseforLogging(*store, read, nullptr, false, false), 0);
    const auto data = records(
        read, 2,
        [](int i) {
            return TimeStamp{kMarch5 + i, 0, 0};
        },
        [](int, std::uint32_t) { return 0.0f; },
        [](int i, std::uint32_t k) {
            return (i + static_cast<int>(k)) % 2 == 0 ? run_file::kSampleDigital : 0;
        });
    ASSERT_EQ(store->WriteLogs(read, data.data(), 2), 0) << store->GetErrorText();
    const std::string prefix = dynamic_cast<CLogDbMySQLStore&>(*store).table_prefix();
    const auto names = ok("SELECT COLUMN_NAME FROM information_schema.columns WHERE table_schema = ? AND "
                          "table_name = ? ORDER BY ORDINAL_POSITION",
                          {db_, prefix + "DATA"})
                           .rows;
    ASSERT_GE(names.size(), 7u);
    const auto column = [&](std::size_t k) { return mysql::quoted(std::get<std::string>(names[3 + k][0])); };
    const std::string data_table = db_ + "." + mysql::quoted(prefix + "DATA");
    EXPECT_EQ(ok("SELECT " + column(0) + ", " + column(1) + " FROM " + data_table + " ORDER BY DT").rows,
              (std::vector<mysql::Row>{{std::string("OPEN"), std::string("Stopped")},
                                       {std::string("CLOSED"), std::string("Running")}}));
    // Another letter case with trailing blanks names the state; any other text names none.
    ok("UPDATE " + data_table + " SET " + column(2) + " = 'oPeN   ' WHERE DT = ?",
       {ado::DateValue{kMarch5, 0}});
    ok("UPDATE " + data_table + " SET " + column(2) + " = 'half open' WHERE DT = ?",
       {ado::DateValue{kMarch5 + 1, 0}});
    const std::int32_t expected[2][4] = {
        {run_file::kSampleDigital, 0, run_file::kSampleDigital, run_file::kSampleBad},
        {0, run_file::kSampleDigital, run_file::kSampleBad, run_file::kSampleBad},
    };
    std::vector<std::uint8_t> back(data.size());
    ASSERT_EQ(store->ReadLogs(0, read, back.data(), 2, 0, nullptr, 0), 2) << store->GetErrorContext();
    std::vector<std::uint8_t> by_time(data.size());
    ASSERT_EQ(store->ReadLogsByTime(nullptr, nullptr, read, by_time.data(), read.recordSize, 2, 0, nullptr,
                                    false, false),
              2);
    EXPECT_EQ(by_time, back);
    for (int i = 0; i < 2; ++i)
        for (std::uint32_t k = 0; k < 4; ++k) {
            const std::span<const std::uint8_t> r(back.data() + static_cast<std::size_t>(i) * read.recordSize,
                                                  static_cast<std::size_t>(read.recordSize));
            EXPECT_EQ(sample(read, r, k).flags, expected[i][k]) << i << " " << k;
            EXPECT_EQ(sample(read, r, k).value, 0.0f);
        }
}

TEST_F(MySqlStoreTest, AColumnPrefixFillsTheExtraSlotsAfterEachRecord) {
    make_run("L", "L_", 2);
    LogHeader h;
    auto store = open_store("L", h);
    const auto data = records(
        h, 3,
        [](int i) {
            return TimeStamp{kMarch5 + i, 0, 0};
        },
        [](int i, std::uint32_t k) { return static_cast<float>(10 * i + static_cast<int>(k)); },
        [](int, std::uint32_t) { return run_file::kSampleAnalog; });
    ASSERT_EQ(store->WriteLogs(h, data.data(), 3), 0) << store->GetErrorText();
    ASSERT_EQ(store->AddText(kMarch5 + 2, "trip", nullptr, nullptr), 0);
    const std::size_t size = static_cast<std::size_t>(h.recordSize);
    const std::size_t stride = size + 16;
    std::vector<std::uint8_t> out(3 * stride);
    ASSERT_EQ(store->ReadLogs(0, h, out.data(), 3, 2, "AB2 * 2, TX, ", 0), 3)
        << store->GetErrorContext() << ": " << store->GetErrorText();
    for (std::size_t i = 0; i < 3; ++i) {
        const std::uint8_t* at = out.data() + i * stride;
        EXPECT_TRUE(std::equal(at, at + size, data.data() + i * size)) << i;
        std::int32_t flags[2];
        float values[2];
        std::memcpy(&flags[0], at + size, 4);
        std::memcpy(&values[0], at + size + 4, 4);
        std::memcpy(&flags[1], at + size + 8, 4);
        std::memcpy(&values[1], at + size + 12, 4);
        EXPECT_EQ(flags[0], run_file::kSampleAnalog) << i;
        EXPECT_EQ(values[0], static_cast<float>(2 * (10 * i + 1))) << i;
        // A text is there (0x80, 0) or NULL (bad).
        EXPECT_EQ(flags[1], i == 2 ? run_file::kSampleAnalog : run_file::kSampleBad) << i;
        EXPECT_EQ(values[1], 0.0f) << i;
    }
    // The same index without the prefix is the same record: the reader keeps pages per select list.
    std::vector<std::uint8_t> plain(size);
    ASSERT_EQ(store->ReadLog(1, h, plain.data(), h.recordSize, 0, 0, nullptr, 0, false), 0);
    EXPECT_TRUE(std::equal(plain.begin(), plain.end(), data.data() + size));
    // Fewer columns in the prefix than extra slots put DT out of place.
    EXPECT_EQ(store->ReadLog(0, h, out.data(), h.recordSize, 0, 2, "AB1, ", 0, false), -1);
    EXPECT_STREQ(store->GetErrorContext(), "COLUMN #1 IS NOT A DATE");
    EXPECT_EQ(store->ReadLog(0, h, out.data(), h.recordSize, 0, -1, nullptr, 0, false), -1);
}

TEST_F(MySqlStoreTest, RangesAreCountedAndReadBetweenExclusiveBoundsToTheMicrosecond) {
    make_run("L", "L_", 1);
    LogHeader h;
    auto store = open_store("L", h);
    constexpr int kCount = 20;
    // Four records a second at 0, 250.005, 500 and 750 ms.
    const auto time = [](int i) {
        return TimeStamp{kMarch5 + i / 4, static_cast<std::int16_t>((i % 4) * 250),
                         static_cast<std::int16_t>(i % 4 == 1 ? 5 : 0)};
    };
    const auto data = records(
        h, kCount, time, [](int i, std::uint32_t) { return static_cast<float>(i); },
        [](int, std::uint32_t) { return run_file::kSampleAnalog; });
    ASSERT_EQ(store->WriteLogs(h, data.data(), kCount), 0) << store->GetErrorText();
    const struct {
        const char* what;
        TimeStamp from;
        TimeStamp to;
        int first;
        int count;
    } cases[] = {
        {"whole seconds, both ends out", {kMarch5, 0, 0}, {kMarch5 + 2, 0, 0}, 1, 7},
        {"a record on each bound", time(1), time(3), 2, 1},
        {"a microsecond below the lower record", {kMarch5, 250, 4}, time(3), 1, 2},
        {"a microsecond above the upper record", time(1), {kMarch5, 750, 1}, 2, 2},
        {"nothing between", time(2), time(3), 0, 0},
        {"bounds the wrong way round", time(10), time(5), 0, 0},
        {"all", {kMarch5 - 1, 0, 0}, {kMarch5 + 60, 0, 0}, 0, kCount},
    };
    const std::size_t size = static_cast<std::size_t>(h.recordSize);
    for (const auto& c : cases) {
        EXPECT_EQ(store->GetNoLogsInRange(c.from, c.to, h), c.count)
            << c.what << ": " << store->GetErrorContext() << ": " << store->GetErrorText();
        std::vector<std::uint8_t> out(static_cast<std::size_t>(kCount + 1) * size);
        ASSERT_EQ(store->ReadLogsByTime(&c.from, &c.to, h, out.data(), h.recordSize, kCount + 1, 0, nullptr,
                                        false, false),
                  c.count)
            << c.what;
        EXPECT_TRUE(std::equal(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(c.count * size),
                               data.begin() + static_cast<std::ptrdiff_t>(c.first * size)))
            << c.what;
    }
    // Newest first, at most the count asked, from one open end.
    const TimeStamp from{kMarch5 + 3, 0, 0};
    std::vector<std::uint8_t> out(3 * size);
    ASSERT_EQ(store->ReadLogsByTime(&from, nullptr, h, out.data(), h.recordSize, 3, 0, nullptr, true, false),
              3);
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(std::equal(out.begin() + static_cast<std::ptrdiff_t>(i * size),
                               out.begin() + static_cast<std::ptrdiff_t>((i + 1) * size),
                               data.begin() + static_cast<std::ptrdiff_t>((kCount - 1 - i) * size)))
            << i;
    // Times only: every channel bad; an extra column after each record.
    const std::size_t stride = size + 8;
    std::vector<std::uint8_t> heads(2 * stride);
    ASSERT_EQ(store->ReadLogsByTime(nullptr, &from, h, heads.data(), h.recordSize, 2, 1, "AB1 + 100, ", false,
                                    true),
              2);
    for (int i = 0; i < 2; ++i) {
        const std::span<const std::uint8_t> r(heads.data() + static_cast<std::size_t>(i) * stride, size);
        const auto head = run_file::decode_record_head(r);
        EXPECT_EQ(head.time.seconds, time(i).seconds);
        EXPECT_EQ(head.time.microseconds, time(i).microseconds);
        EXPECT_EQ(sample(h, r, 0).flags, run_file::kSampleBad);
        float extra = 0;
        std::memcpy(&extra, heads.data() + static_cast<std::size_t>(i) * stride + size + 4, 4);
        EXPECT_EQ(extra, 100.0f + static_cast<float>(i));
    }
    // A statement the server refuses counts nothing and reads nothing, with its texts.
    EXPECT_EQ(store->ReadLogsByTime(nullptr, nullptr, h, out.data(), h.recordSize, 3, 1, "NoSuchColumn, ",
                                    false, false),
              0);
    EXPECT_STREQ(store->GetErrorContext(), "CAN'T SELECT FROM DATA");
    EXPECT_STRNE(store->GetErrorText(), "");
}

TEST_F(MySqlStoreTest, SectionLinesSplitTheSectionIntoTheCallersBuffer) {
    make_run("L", "L_", 1);
    LogHeader h;
    auto store = open_store("L", h);
    const auto data = records(
        h, 3,
        [](int i) {
            return TimeStamp{kMarch5 + i, 0, 0};
        },
        [](int i, std::uint32_t) { return float(i); },
        [](int, std::uint32_t) { return run_file::kSampleAnalog; });
    ASSERT_EQ(store->WriteLogs(h, data.data(), 3), 0) << store->GetErrorText();
    ASSERT_EQ(store->AddText(kMarch5, "first", nullptr, nullptr), 0);
    ASSERT_EQ(store->AddText(kMarch5 + 2, "second", nullptr, nullptr), 0);
    std::size_t count = 0, size = 0;
    ASSERT_EQ(store->ReadSectionLines("TEXT", nullptr, &count, nullptr, &size, 0, 0), 2);
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(size, std::strlen("24/03/05 10:00:00 first\r\n24/03/05 10:00:02 second\r\n") + 1);
    std::vector<char> buffer(size);
    const char* lines[4] = {};
    count = 4;
    ASSERT_EQ(store->ReadSectionLines("text", lines, &count, buffer.data(), &size, 0, 0), 2);
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(lines[0], "24/03/05 10:00:00 first");
    EXPECT_STREQ(lines[1], "24/03/05 10:00:02 second");
    // Only the lines after the lower bound.
    count = 4;
    size = buffer.size();
    ASSERT_EQ(store->ReadSectionLines("TEXT", lines, &count, buffer.data(), &size, kMarch5, 0), 1);
    EXPECT_STREQ(lines[0], "24/03/05 10:00:02 second");
    EXPECT_EQ(store->ReadSectionLines("NO SUCH", lines, &count, buffer.data(), &size, 0, 0), -1);
    const char16_t* wide[2] = {};
    count = 2;
    size = 10;
    char16_t wbuffer[10];
    EXPECT_EQ(store->ReadSectionLinesW("TEXT", wide, &count, wbuffer, &size, 0, 0), 0);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(size, 0u);
}

TEST_F(MySqlCollectionTest, RunListsStayWholeWhileAnotherConnectionAddsRuns) {
    auto c = open("L");
    for (int i = 1; i <= 5; ++i) add_row("L", i, "P" + std::to_string(i) + "_", kMarch5 + i, kMarch5 + i + 1);
    std::atomic<bool> done{false};
    std::thread adder([&] {
        mysql::Session other;
        if (other.connect(root_keys())) return;
        for (int i = 6; i <= 205; ++i)
            other.run("INSERT INTO " + db_ +
                          ".LOGGERS (sLoggerName, nLoggerSequence, dStartTime, bCompleted, "
                          "sTablePrefix) VALUES ('L', ?, ?, 0, 'P_')",
                      std::vector<mysql::Value>{std::int64_t{i}, ado::DateValue{kMarch5 + i, 0}});
        done = true;
    });
    std::size_t last = 0;
    while (!done) {
        ASSERT_EQ(c->BeginRunList(nullptr), 1);
        std::size_t n = 0;
        std::set<std::string> names;
        char name[20];
        TimeStamp start{}, stop{};
        while (c->GetNextRun(name, &start, &stop) == 1) {
            ++n;
            names.insert(name);
        }
        EXPECT_EQ(names.size(), n);
        EXPECT_GE(n, last);
        EXPECT_LE(n, 205u);
        last = n;
    }
    adder.join();
    ASSERT_EQ(c->BeginRunList(nullptr), 1);
    std::size_t n = 0;
    while (c->GetNextRun(nullptr, nullptr, nullptr) == 1) ++n;
    EXPECT_EQ(n, 205u);
}

// A throw-away MariaDB server of one test's own (the shared one serves other tests), which the
// test may kill with SIGKILL and start again on the same data; stopped and removed at the end.
class OwnServer {
  public:
    OwnServer() {
        static std::atomic<int> serial{0};
        state_ =
            "/tmp/qvr-mysql-own-" + std::to_string(::getpid()) + "_" + std::to_string(serial++) + ".state";
    }
    ~OwnServer() {
        (void)std::system((script_ + " stop " + state_ + " >/dev/null 2>&1; rm -f " + log()).c_str());
    }
    OwnServer(const OwnServer&) = delete;
    OwnServer& operator=(const OwnServer&) = delete;

    // A fresh server, or the killed one again on its data folder. Tried twice (machines busy
    // with other tests' servers); what the script said is shown when both fail.
    bool start() { return script("start"); }
    bool restart() { return script("restart"); }
    // SIGKILL, then waits (bounded) until the server is gone.
    bool kill() const {
        const auto pid = static_cast<pid_t>(std::stol(values().at("pid")));
        if (::kill(pid, SIGKILL) != 0) return false;
        for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i) ::usleep(100000);
        return true;
    }
    std::map<std::string, std::string> values() const {
        std::map<std::string, std::string> v;
        std::ifstream in(state_);
        for (std::string line; std::getline(in, line);)
            if (const auto eq = line.find('='); eq != std::string::npos)
                v[line.substr(0, eq)] = line.substr(eq + 1);
        return v;
    }
    mysql::ConnectionKeys keys() const {
        const auto v = values();
        mysql::ConnectionKeys k;
        k.host = "127.0.0.1";
        k.port = static_cast<unsigned>(std::stoul(v.at("port")));
        k.user = v.at("user");
        k.password = v.at("password");
        return k;
    }
    std::string connection(const std::string& db) const {
        const auto v = values();
        return "PROVIDER=MYSQL;HOST=127.0.0.1;PORT=" + v.at("port") + ";USER=" + v.at("user") +
               ";PASSWORD=" + log_stores::Base64EncodeText(v.at("password")) + ";DB=" + db;
    }
    bool make_database(const std::string& db) const {
        mysql::Session s;
        return !s.connect(keys()) && std::holds_alternative<mysql::Result>(s.run("CREATE DATABASE " + db));
    }

  private:
    std::string log() const { return state_ + ".log"; }
    bool script(const char* command) {
        for (int attempt = 0; attempt < 2; ++attempt)
            if (std::system((script_ + " " + command + " " + state_ + " >" + log() + " 2>&1").c_str()) == 0)
                return true;
        std::ifstream in(log());
        std::cerr << in.rdbuf();
        return false;
    }

    std::string script_ = TEST_MARIADB_SCRIPT;
    std::string state_;
};

// Its counters count this test alone.
TEST(MySqlOwnServer, BatchesCountedThenKilledFailuresCarryTextsAndTheNextOpenWorks) {
    if (!server()) GTEST_SKIP() << "no MariaDB test server";
    OwnServer own;
    ASSERT_TRUE(own.start());
    ASSERT_TRUE(own.make_database("qvr_kill"));
    {
        CLogDbMySQLCollection c;
        ASSERT_EQ(c.Open(own.connection("qvr_kill").c_str(), "", "L", "", kReadWrite), 0) << c.GetErrorText();
        LogHeader h = log_stores_test::header_of({{"AI", 1, 2}}, false, false);
        std::vector<qvr::ChannelRecord> configs{log_stores_test::analog_channel("T1"),
                                                log_stores_test::analog_channel("T2")};
        const qvr::ChannelRecord* table[] = {configs.data()};
        std::int32_t start = kMarch5;
        auto store = c.NewRun(&start, true, 0, h, nullptr, false, nullptr, false, table);
        ASSERT_TRUE(store) << c.GetErrorContext() << c.GetErrorText();
        LogHeader read;
        ASSERT_EQ(store->ReadHeader(read), 0);
        std::vector<std::uint8_t> record(static_cast<std::size_t>(read.recordSize));
        run_file::RecordHead head;
        head.time = {kMarch5, 0, 0};
        run_file::encode_record_head(head, record);
        ASSERT_EQ(store->WriteLogs(read, record.data(), 1), 0);

        // This server serves this test alone, so its INSERT counter counts the batches: 2,500
        // narrow records go as 1,000, 1,000 and 500.
        mysql::Session counter;
        ASSERT_FALSE(counter.connect(own.keys()));
        const auto inserts = [&] {
            auto r = counter.run("SHOW GLOBAL STATUS LIKE 'Com_insert'");
            const auto* rows = std::get_if<mysql::Result>(&r);
            if (rows == nullptr || rows->rows.empty()) return -1L;
            const auto* text = std::get_if<std::string>(&rows->rows[0][1]);
            return text ? std::stol(*text) : -1L;
        };
        std::vector<std::uint8_t> many(static_cast<std::size_t>(read.recordSize) * 2500);
        for (int i = 0; i < 2500; ++i) {
            head.time = {kMarch5 + 1 + i, 0, 0};
            run_file::encode_record_head(
                head, std::span<std::uint8_t>(many.data() + static_cast<std::size_t>(i) * read.recordSize,
                                              static_cast<std::size_t>(read.recordSize)));
        }
        const long before = inserts();
        ASSERT_EQ(store->WriteLogs(read, many.data(), 2500), 0) << store->GetErrorText();
        EXPECT_EQ(inserts() - before, 3);
        EXPECT_EQ(store->GetNoLogs(read), 2501);

        ASSERT_TRUE(own.kill());
        EXPECT_EQ(store->WriteLogs(read, record.data(), 1), -1);
        EXPECT_STRNE(store->GetErrorContext(), "");
        EXPECT_STRNE(store->GetErrorText(), "");
        std::vector<std::uint8_t> out(record.size());
        EXPECT_EQ(store->ReadLog(5, read, out.data(), read.recordSize, 0, 0, nullptr, 0, false), -1);
        EXPECT_STRNE(store->GetErrorText(), "");
        EXPECT_EQ(store->GetNoLogs(read), -1);
        EXPECT_EQ(c.BeginRunList(nullptr), 0);
        EXPECT_STRNE(c.GetErrorText(), "");
    }
    // A new server in its place: the next open works.
    ASSERT_TRUE(own.start());
    ASSERT_TRUE(own.make_database("qvr_kill"));
    CLogDbMySQLCollection again;
    EXPECT_EQ(again.Open(own.connection("qvr_kill").c_str(), "", "L", "", kReadWrite), 0)
        << again.GetErrorText();
}

// Killed while a WriteLogs and later a ReadLogs are under way, then started again on the same
// data: each call fails with both texts and without waiting long, every statement the server
// finished is there whole (batches of 1,000 rows, never part of one), and the next Open reads
// every record back.
TEST(MySqlOwnServer, KilledInTheMiddleOfAWriteAndOfAReadThenRestartedOnTheSameData) {
    if (!server()) GTEST_SKIP() << "no MariaDB test server";
    OwnServer own;
    ASSERT_TRUE(own.start());
    ASSERT_TRUE(own.make_database("qvr_kill"));
    constexpr int kRecords = 200000;
    const LogHeader layout = log_stores_test::header_of({{"AI", 1, 16}}, false, false);
    std::vector<qvr::ChannelRecord> configs(16, log_stores_test::analog_channel("T"));
    for (std::size_t k = 0; k < configs.size(); ++k)
        qvr::split_text(configs[k], qvr::ChannelText::Tag, "T" + std::to_string(k));
    const qvr::ChannelRecord* table[] = {configs.data()};
    const auto open_run = [&](CLogDbMySQLCollection& c) -> std::unique_ptr<log_stores::CLogStore> {
        EXPECT_EQ(c.Open(own.connection("qvr_kill").c_str(), "", "L", "", kReadWrite), 0) << c.GetErrorText();
        auto store = c.OpenStore("LoggerSeq=00000001", kReadWrite);
        EXPECT_TRUE(store) << c.GetErrorContext() << ": " << c.GetErrorText();
        return store;
    };
    // Kills the server from another thread once `ready` says so (bounded: 60 s).
    const auto kill_when = [&](const std::function<bool()>& ready) {
        return std::thread([&own, ready] {
            for (int i = 0; i < 3000 && !ready(); ++i) ::usleep(20000);
            own.kill();
        });
    };
    std::string data_table;
    const auto rows_of = [&] {
        mysql::Session s;
        if (s.connect(own.keys())) return -1L;
        auto r = s.run("SELECT COUNT(*) FROM qvr_kill." + data_table);
        const auto* ok = std::get_if<mysql::Result>(&r);
        return ok && !ok->rows.empty() ? static_cast<long>(std::get<std::int64_t>(ok->rows[0][0])) : -1L;
    };

    LogHeader h;
    std::vector<std::uint8_t> data;
    {
        CLogDbMySQLCollection c;
        ASSERT_EQ(c.Open(own.connection("qvr_kill").c_str(), "", "L", "", kReadWrite), 0) << c.GetErrorText();
        LogHeader made = layout;
        std::int32_t start = kMarch5;
        auto store = c.NewRun(&start, false, 0, made, nullptr, false, nullptr, false, table);
        ASSERT_TRUE(store) << c.GetErrorContext() << ": " << c.GetErrorText();
        ASSERT_EQ(store->ReadHeader(h), 0);
        data_table = mysql::quoted(dynamic_cast<CLogDbMySQLStore&>(*store).table_prefix() + "DATA");
        data.resize(static_cast<std::size_t>(kRecords) * static_cast<std::size_t>(h.recordSize));
        for (int i = 0; i < kRecords; ++i) {
            const std::span<std::uint8_t> r(data.data() + static_cast<std::size_t>(i) * h.recordSize,
                                            static_cast<std::size_t>(h.recordSize));
            run_file::RecordHead head;
            head.time = {kMarch5 + i / 10, static_cast<std::int16_t>((i % 10) * 100), 0};
            run_file::encode_record_head(head, r);
            for (std::uint32_t k = 0; k < 16; ++k)
                run_file::write_sample(r, h.blocks[0], k,
                                       {run_file::kSampleAnalog, static_cast<float>(i + k)});
        }
        // In the middle of the write: some batches are in, many are to come.
        std::thread killer = kill_when([&] { return rows_of() >= 3000; });
        const int written = store->WriteLogs(h, data.data(), kRecords);
        killer.join();
        EXPECT_EQ(written, -1);
        EXPECT_STRNE(store->GetErrorContext(), "");
        EXPECT_STRNE(store->GetErrorText(), "");
        std::vector<std::uint8_t> one(static_cast<std::size_t>(h.recordSize));
        EXPECT_EQ(store->ReadLog(0, h, one.data(), h.recordSize, 0, 0, nullptr, 0, false), -1);
        EXPECT_STRNE(store->GetErrorText(), "");
    }

    ASSERT_TRUE(own.restart());
    const long kept = rows_of();
    ASSERT_GE(kept, 3000);
    ASSERT_LT(kept, kRecords);
    EXPECT_EQ(kept % 1000, 0) << "a batch is whole or absent";
    {
        CLogDbMySQLCollection c;
        auto store = open_run(c);
        ASSERT_TRUE(store);
        LogHeader read;
        ASSERT_EQ(store->ReadHeader(read), 0) << store->GetErrorText();
        ASSERT_EQ(read.recordCount, kept);
        const std::size_t size = static_cast<std::size_t>(h.recordSize);
        std::vector<std::uint8_t> back(static_cast<std::size_t>(kept) * size);
        ASSERT_EQ(store->ReadLogs(0, read, back.data(), static_cast<std::int32_t>(kept), 0, nullptr, 0),
                  kept);
        EXPECT_TRUE(std::equal(back.begin(), back.end(), data.begin()));
        // The rest, so that a whole read lasts long enough to be cut.
        ASSERT_EQ(store->WriteLogs(read, data.data() + static_cast<std::size_t>(kept) * size,
                                   static_cast<std::int32_t>(kRecords - kept)),
                  0)
            << store->GetErrorText();
        back.assign(data.size(), 0);
        std::atomic<bool> reading{false};
        std::thread killer = kill_when([&] {
            if (!reading) return false;
            ::usleep(50000);
            return true;
        });
        reading = true;
        const int got = store->ReadLogs(0, read, back.data(), kRecords, 0, nullptr, 0);
        killer.join();
        EXPECT_LT(got, kRecords);
        EXPECT_STRNE(store->GetErrorContext(), "");
        EXPECT_STRNE(store->GetErrorText(), "");
        EXPECT_TRUE(std::equal(back.begin(), back.begin() + static_cast<std::ptrdiff_t>(got) * h.recordSize,
                               data.begin()))
            << "what was read before the cut is right";
    }

    // A read loses nothing: the next Open finds every record.
    ASSERT_TRUE(own.restart());
    CLogDbMySQLCollection c;
    auto store = open_run(c);
    ASSERT_TRUE(store);
    LogHeader read;
    ASSERT_EQ(store->ReadHeader(read), 0) << store->GetErrorText();
    EXPECT_EQ(read.recordCount, kRecords);
    std::vector<std::uint8_t> last(1000 * static_cast<std::size_t>(h.recordSize));
    ASSERT_EQ(store->ReadLogs(kRecords - 1000, read, last.data(), 1000, 0, nullptr, 0), 1000);
    EXPECT_TRUE(std::equal(last.begin(), last.end(), data.end() - static_cast<std::ptrdiff_t>(last.size())));
}

}  // namespace
