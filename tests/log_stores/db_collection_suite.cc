// The database collection on each real engine: built once with SQLite files and once with the
// MariaDB test server through "Provider=MSDASQL" (DB_COLLECTION_ON_MARIADB).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db_schema_fixtures.h"
#include "log_stores/db_collection/db_collection.h"
#include "log_stores/db_schema/date_literal.h"
#include "log_stores/db_schema/run_naming.h"
#include "log_stores/db_schema/schema_tables.h"
#include "log_stores/db_schema/sql_text.h"
#include "log_stores/db_store/db_store.h"
#include "log_stores/log_factory.h"
#include "platform/ado/com_error.h"
#include "platform/ado/connection.h"
#include "platform/ado/recordset.h"
#include "platform/ado/text_codec.h"
#include "platform/last_error.h"
#include "requests/requests_fixture.h"
#include "support/temp_dir.h"
#include "test_database.h"

namespace {

using log_stores::CLogDbCollection;
using log_stores::CLogStore;
using log_stores::kGenericRead;
using log_stores::kGenericWrite;
using log_stores::LogHeader;
using namespace log_stores_test;
namespace fs = std::filesystem;

#ifdef DB_COLLECTION_ON_MARIADB
constexpr bool kOnMariaDb = true;
#define COLLECTION_SUITE DbCollectionOnMariaDb
#else
constexpr bool kOnMariaDb = false;
#define COLLECTION_SUITE DbCollectionOnSqlite
#endif

constexpr std::uint32_t kReadWrite = kGenericRead | kGenericWrite;
// 2024-03-05 10:00:00 UTC.
constexpr std::int32_t kMarch5 = 1709632800;

class CollectionFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        db_ = suite_database(kOnMariaDb);
        if (!db_) GTEST_SKIP() << kNoMariaDbServer;
        cs_ = ado::utf8_from_utf16(db_->connection_string());
        probe_ = std::make_shared<ado::Connection>();
        probe_->open(db_->connection_string());
        // The first open makes LOGGERS, so rows of earlier runs can be put there first.
        CLogDbCollection maker;
        ASSERT_EQ(maker.Open(cs_.c_str(), "", "L", "", kReadWrite), 0) << maker.GetErrorText();
        ASSERT_TRUE(maker.made_loggers_table());
    }

    std::unique_ptr<CLogDbCollection> open(const std::string& logger, const std::string& prefix = "") {
        auto c = std::make_unique<CLogDbCollection>();
        EXPECT_EQ(c->Open(cs_.c_str(), "", logger.c_str(), prefix.c_str(), kReadWrite), 0) << c->GetErrorContext();
        return c;
    }

    std::vector<std::vector<ado::Variant>> rows(const std::string& sql) {
        ado::Recordset rs;
        rs.set_active_connection(probe_);
        rs.open(ado::utf16_from_utf8(sql), ado::kForwardOnly, ado::kReadOnly, ado::kCmdText);
        std::vector<std::vector<ado::Variant>> out;
        for (; !rs.eof(); rs.move_next()) {
            std::vector<ado::Variant> row;
            for (std::size_t i = 0; i < rs.field_count(); ++i)
                row.push_back(rs.value(ado::Variant::i4(static_cast<int32_t>(i))));
            out.push_back(std::move(row));
        }
        return out;
    }
    void exec(const std::string& sql) { probe_->execute_utf8(sql); }
    std::string quoted(const std::string& table) { return log_stores::db_schema::quoted_name(probe_->dialect(), table); }
    std::string literal(const std::string& text) {
        return log_stores::db_schema::text_literal(probe_->dialect(), text);
    }
    bool table_exists(const std::string& table) {
        try {
            rows("SELECT COUNT(*) FROM " + quoted(table));
            return true;
        } catch (const ado::ComError&) {
            return false;
        }
    }
    std::int64_t loggers_rows(const std::string& logger) {
        return rows("SELECT COUNT(*) FROM LOGGERS WHERE sLoggerName = " + literal(logger))[0][0].to_i8();
    }
    // A LOGGERS row as a finished (or running: stop 0) run leaves it.
    void add_row(const std::string& logger, std::int32_t sequence, const std::string& prefix, std::int32_t start,
                 std::int32_t stop) {
        const auto date = [](std::int32_t s) {
            return s == 0 ? std::string("NULL")
                          : "'" + log_stores::db_schema::date_literal(0, s).substr(6, 23) + "'";
        };
        exec("INSERT INTO LOGGERS (sLoggerName, nLoggerSequence, dStartTime, dStopTime, bCompleted, sTablePrefix) "
             "VALUES (" +
             literal(logger) + ", " + std::to_string(sequence) + ", " + date(start) + ", " + date(stop) + ", " +
             (stop == 0 ? "0" : "1") + ", " + literal(prefix) + ")");
    }

    LogHeader header(std::int32_t start) {
        LogHeader h = header_of({{"AI", 1, 2}}, false, false);
        h.start = {start, 0, 0};
        h.dataStart = 900;
        return h;
    }
    // A run made through the collection, with a record at each of `times`.
    std::unique_ptr<CLogStore> new_run(CLogDbCollection& c, LogHeader& h, const char* text, bool plain = true,
                                       bool date = false, const std::vector<std::int32_t>& times = {}) {
        std::int32_t start = h.start.seconds;
        const qvr::ChannelRecord* table[] = {channels_.data()};
        auto store = c.NewRun(&start, plain, 0, h, text, false, nullptr, date, table);
        if (!store) return store;
        for (const std::int32_t t : times) {
            const auto rec = record_of(h, {t, 0, 0}, {{0x80, 1.5f}, {0x80, 2.5f}});
            EXPECT_EQ(store->WriteLogs(h, rec.data(), 1), 0) << store->GetErrorText();
        }
        return store;
    }
    std::string latest_prefix(const std::string& logger) {
        const auto r = rows("SELECT sTablePrefix FROM LOGGERS WHERE sLoggerName = " + literal(logger) +
                            " ORDER BY nLoggerSequence DESC");
        return r.empty() ? std::string() : log_stores::db_schema::stored_prefix(ado::utf8_from_utf16(r[0][0].to_text()));
    }

    std::unique_ptr<TestDatabase> db_;
    std::string cs_;
    std::shared_ptr<ado::Connection> probe_;
    std::vector<qvr::ChannelRecord> channels_{analog_channel("T1"), analog_channel("T2")};
};

using COLLECTION_SUITE = CollectionFixture;

// ---- Open ----
#ifndef DB_COLLECTION_ON_MARIADB

class DefaultFileDatabase : public ::testing::Test {
  protected:
    void SetUp() override { setenv("QVR_LOGGED_DATA", (root_ / "LOGGED_DATA").c_str(), 1); }
    qvr_test::TempDir root_;
};

TEST_F(DefaultFileDatabase, AnEmptyConnectionStringMakesTheLoggersSqliteFileAndTableWithItsKey) {
    CLogDbCollection c;
    ASSERT_EQ(c.Open("", "", "Line 1", "", kReadWrite), 0) << c.GetErrorContext() << c.GetErrorText();
    const fs::path file = root_ / "LOGGED_DATA" / "Line 1" / "Line 1.sqlite";
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(c.connection_string(), "Provider=SQLite.File; Data Source=\"" + file.string() + "\"");
    EXPECT_TRUE(c.made_loggers_table());

    ado::Connection probe;
    probe.open(ado::utf16_from_utf8(c.connection_string()));
    probe.execute_utf8("INSERT INTO LOGGERS (sLoggerName, nLoggerSequence) VALUES ('Line 1', 1)");
    EXPECT_THROW(probe.execute_utf8("INSERT INTO LOGGERS (sLoggerName, nLoggerSequence) VALUES ('Line 1', 1)"),
                 ado::ComError);

    CLogDbCollection again;
    ASSERT_EQ(again.Open("", "", "Line 1", "", kGenericRead), 0);
    EXPECT_FALSE(again.made_loggers_table());
    EXPECT_STREQ(again.GetErrorContext(), "");
}

TEST_F(DefaultFileDatabase, AReadOnlyOpenWithoutTheFoldersFailsAndMakesNothing) {
    const struct {
        const char* what;
        bool logged_data_there;
        const char* context;
    } cases[] = {
        {"no LOGGED_DATA folder", false, "CAN'T ACCESS LOGGED_DATA DIR"},
        {"no logger folder", true, "CAN'T ACCESS LOGGER DIRECTORY"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        fs::remove_all(root_ / "LOGGED_DATA");
        if (k.logged_data_there) fs::create_directory(root_ / "LOGGED_DATA");
        CLogDbCollection c;
        EXPECT_EQ(c.Open("", "", "L", "", kGenericRead), -1);
        EXPECT_STREQ(c.GetErrorContext(), k.context);
        EXPECT_EQ(fs::exists(root_ / "LOGGED_DATA"), k.logged_data_there);
        EXPECT_FALSE(fs::exists(root_ / "LOGGED_DATA" / "L"));
    }
}

TEST_F(DefaultFileDatabase, AGivenFolderHoldsTheFileAndAQuoteInTheNameKeepsTheSourceWhole) {
    const fs::path folder = root_ / "elsewhere";
    CLogDbCollection c;
    ASSERT_EQ(c.Open("", folder.c_str(), "O\"Neil", "", kReadWrite), 0) << c.GetErrorText();
    EXPECT_TRUE(fs::exists(folder / "O\"Neil.sqlite"));
    EXPECT_FALSE(fs::exists(root_ / "LOGGED_DATA"));
}

// The name makes the logger's own file (and, below the logged data, its folder): a name with
// both quoting marks keeps the file it names, one the driver cannot take makes no other file,
// and a name that leads to another folder is refused before anything is made.
TEST_F(DefaultFileDatabase, TheNameMakesOnlyItsOwnFile) {
    const fs::path folder = root_ / "elsewhere";
    const std::string marks = "a'b\"c";
    CLogDbCollection c;
    ASSERT_EQ(c.Open("", folder.c_str(), marks.c_str(), "", kReadWrite), 0) << c.GetErrorText();
    EXPECT_TRUE(fs::exists(folder / (marks + ".sqlite")));
    CLogDbCollection again;
    EXPECT_EQ(again.Open("", folder.c_str(), marks.c_str(), "", kGenericRead), 0) << again.GetErrorText();
    CLogDbCollection brace;
    EXPECT_EQ(brace.Open("", folder.c_str(), "e}f", "", kReadWrite), -1);
    EXPECT_STREQ(brace.GetErrorContext(), "CAN'T OPEN DATABASE");

    for (const char* name : {"../up", "a/b", "a\\b", "..", "."}) {
        SCOPED_TRACE(name);
        for (const fs::path& where : {fs::path(), folder}) {
            CLogDbCollection refused;
            platform::set_last_error(5);
            EXPECT_EQ(refused.Open("", where.c_str(), name, "", kReadWrite), -1);
            EXPECT_STREQ(refused.GetErrorContext(), "BAD LOGGER NAME");
            EXPECT_EQ(platform::last_error(), 0);
        }
    }
    EXPECT_FALSE(fs::exists(root_ / "LOGGED_DATA"));
    // Only the one database (with its journal files) was made.
    for (const auto& entry : fs::recursive_directory_iterator(root_.path()))
        EXPECT_TRUE(entry.path() == folder || entry.path().string().starts_with((folder / marks).string() + ".sqlite"))
            << entry.path();
}

TEST(DbCollectionOpen, LongConnectionStringsAndJetAreRefused) {
    const std::string long_one = "Provider=SQLite.File;Data Source=/tmp/x" + std::string(1025 - 39, 'x');
    ASSERT_EQ(long_one.size(), 1025u);
    CLogDbCollection c;
    platform::set_last_error(5);
    EXPECT_EQ(c.Open(long_one.c_str(), "", "L", "", kReadWrite), -1);
    EXPECT_STREQ(c.GetErrorContext(), "CONNECTION STRING TOO LONG");
    EXPECT_EQ(platform::last_error(), 0);

    CLogDbCollection jet;
    EXPECT_EQ(jet.Open("Provider=Microsoft.Jet.OLEDB.4.0; Jet OLEDB:Engine Type=5; Data Source=\"/tmp/L.mdb\"", "",
                       "L", "", kReadWrite),
              -1);
    EXPECT_STREQ(jet.GetErrorContext(), "CAN'T OPEN DATABASE");
    EXPECT_NE(std::string(jet.GetErrorText()).find("provider not available"), std::string::npos)
        << jet.GetErrorText();

    CLogDbCollection too_long_name;
    EXPECT_EQ(too_long_name.Open("Provider=SQLite.File;Data Source=/tmp/x", "", std::string(260, 'n').c_str(), "",
                                 kReadWrite),
              -1);
}

#endif

// ---- Listing and the latest run ----

TEST_F(COLLECTION_SUITE, TheRunListIsNewestFirstWithARunningRunsStopZero) {
    auto c = open("L");
    std::size_t size = 0;
    EXPECT_EQ(c->BeginRunList(&size), 0);
    EXPECT_EQ(size, 20u);
    add_row("L", 1, "L_", kMarch5, kMarch5 + 60);
    add_row("L", 2, "L_00000002_", kMarch5 + 100, 0);
    add_row("L", 20240306, "L_20240306_", kMarch5 + 86400, kMarch5 + 86460);
    add_row("Other", 1, "Other_", kMarch5 + 200, 0);
    ASSERT_EQ(c->BeginRunList(&size), 1);
    const struct {
        const char* name;
        std::int32_t start, stop;
    } expected[] = {{"LoggerSeq=20240306", kMarch5 + 86400, kMarch5 + 86460},
                    {"LoggerSeq=00000002", kMarch5 + 100, 0},
                    {"LoggerSeq=00000001", kMarch5, kMarch5 + 60}};
    for (const auto& e : expected) {
        char name[20] = {};
        TimeStamp start{}, stop{};
        ASSERT_EQ(c->GetNextRun(name, &start, &stop), 1);
        EXPECT_STREQ(name, e.name);
        EXPECT_EQ(start.seconds, e.start);
        EXPECT_EQ(stop.seconds, e.stop);
    }
    platform::set_last_error(7);
    EXPECT_EQ(c->GetNextRun(nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(platform::last_error(), 0);
}

TEST_F(COLLECTION_SUITE, TheLatestRunOfAPrefixComparesTheSanitisedBasePrefix) {
    add_row("L", 1, "Line_1__A__", kMarch5, kMarch5 + 10);
    add_row("L", 2, "Batch_00000002_", kMarch5 + 20, kMarch5 + 30);
    add_row("L", 3, "line_1__a__00000003_", kMarch5 + 40, 0);
    add_row("L", 4, "Line_1__B__00000004_", kMarch5 + 50, 0);
    const struct {
        const char* prefix;
        bool any;
        const char* name;  // null: none
    } cases[] = {
        {"Line 1 (A)", false, "LoggerSeq=00000003"},
        {"Batch", false, "LoggerSeq=00000002"},
        {"Line 1 (C)", false, nullptr},
        {"Line 1 (C)", true, "LoggerSeq=00000004"},
        {"", false, "LoggerSeq=00000004"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(std::string(k.prefix) + (k.any ? " any" : ""));
        auto c = open("L", k.prefix);
        char name[20] = {};
        std::size_t size = sizeof name;
        TimeStamp start{}, stop{};
        EXPECT_EQ(c->GetLatestRun(name, &size, &start, &stop, k.any), k.name ? 1 : 0);
        if (k.name) {
            EXPECT_STREQ(name, k.name);
        }
    }
}

TEST_F(COLLECTION_SUITE, TheLatestRunLocationOfALogger) {
    add_row("L", 1, "L_", kMarch5, kMarch5 + 10);
    add_row("L", 2, "L_00000002_", kMarch5 + 20, 0);
    const std::string with_name = cs_ + ";LoggerName=L";
    EXPECT_EQ(std::string(log_stores::GetLatestDbRunLocation(with_name.c_str())),
              cs_ + ";LoggerName=L;LoggerSeq=00000002");
    const std::string with_run = cs_ + ";LoggerName=L;LoggerSeq=00000001";
    EXPECT_EQ(std::string(log_stores::GetLatestDbRunLocation(with_run.c_str())), with_run);
    EXPECT_STREQ(log_stores::GetLatestDbRunLocation(cs_.c_str()), "");
    const std::string no_runs = cs_ + ";LoggerName=M";
    EXPECT_STREQ(log_stores::GetLatestDbRunLocation(no_runs.c_str()), "");
    const std::string too_long = with_name + std::string(1285 - with_name.size(), 'x');
    EXPECT_STREQ(log_stores::GetLatestDbRunLocation(too_long.c_str()), "");
}

// ---- Dropping and purging ----

TEST_F(COLLECTION_SUITE, DroppingARunWithoutTextRemovesItsRow) {
    auto c = open("L");
    LogHeader h = header(kMarch5);
    auto store = new_run(*c, h, nullptr);
    ASSERT_TRUE(store) << c->GetErrorContext() << ": " << c->GetErrorText();
    store->Close();
    const std::string prefix = latest_prefix("L");
    ASSERT_EQ(prefix, "L_");
    EXPECT_FALSE(table_exists(prefix + "TEXT"));
    EXPECT_EQ(c->DropRun(prefix), 0);
    EXPECT_FALSE(table_exists(prefix + "DATA"));
    EXPECT_FALSE(table_exists(prefix + "CHANNELS"));
    EXPECT_EQ(loggers_rows("L"), 0);
}

TEST_F(COLLECTION_SUITE, FinishingARunWithAndWithoutAStart) {
    auto c = open("L");
    LogHeader h = header(kMarch5);
    auto kept = new_run(*c, h, "[HEADER]\r\nline\r\n[PREDEFINED]\r\nA\r\n", true, false, {kMarch5 + 1});
    ASSERT_TRUE(kept) << c->GetErrorContext() << ": " << c->GetErrorText();
    const std::string kept_prefix = latest_prefix("L");
    const TimeStamp stop{kMarch5 + 10, 0, 0};
    EXPECT_EQ(c->FinishRun(*kept, &h.start, &stop, false), 0);
    EXPECT_TRUE(table_exists(kept_prefix + "DATA"));
    EXPECT_TRUE(table_exists(kept_prefix + "TEXT"));

    LogHeader h2 = header(kMarch5 + 20);
    auto dropped = new_run(*c, h2, "[HEADER]\r\nline\r\n", true, false, {kMarch5 + 21});
    ASSERT_TRUE(dropped) << c->GetErrorContext() << ": " << c->GetErrorText();
    const std::string dropped_prefix = latest_prefix("L");
    ASSERT_NE(dropped_prefix, kept_prefix);
    EXPECT_EQ(c->FinishRun(*dropped, nullptr, nullptr, false), 0);
    for (const char* table : {"TEXT", "DATA", "CHANNELS"}) EXPECT_FALSE(table_exists(dropped_prefix + table));
    EXPECT_EQ(loggers_rows("L"), 1);
    char name[20] = {};
    std::size_t size = sizeof name;
    TimeStamp start{}, last{};
    EXPECT_EQ(c->GetLatestRun(name, &size, &start, &last, true), 1);
    EXPECT_STREQ(name, "LoggerSeq=00000001");
}

TEST_F(COLLECTION_SUITE, DeletingRunsBeforeATime) {
    auto c = open("L");
    const std::int32_t t = kMarch5 + 1000;
    // Wholly before: dropped. Across the time: its early records go, it starts later. Still
    // logging, and wholly after: left alone.
    LogHeader before = header(kMarch5);
    auto s1 = new_run(*c, before, nullptr, true, false, {kMarch5 + 1, kMarch5 + 2});
    ASSERT_TRUE(s1) << c->GetErrorContext() << ": " << c->GetErrorText();
    const std::string before_prefix = latest_prefix("L");
    TimeStamp stop1{kMarch5 + 3, 0, 0};
    before.stop = stop1;
    ASSERT_EQ(s1->WriteHeader(before, true), 0) << s1->GetErrorText();
    c->FinishRun(*s1, &before.start, &stop1, false);

    LogHeader across = header(kMarch5 + 900);
    auto s2 = new_run(*c, across, "[HEADER]\r\nx\r\n", true, false, {t - 50, t - 10, t + 10, t + 50});
    ASSERT_TRUE(s2);
    const std::string across_prefix = latest_prefix("L");
    TimeStamp stop2{t + 60, 0, 0};
    across.stop = stop2;
    ASSERT_EQ(s2->WriteHeader(across, true), 0) << s2->GetErrorText();
    c->FinishRun(*s2, &across.start, &stop2, false);

    LogHeader running = header(kMarch5 + 10);
    auto s3 = new_run(*c, running, nullptr, true, false, {kMarch5 + 11});
    ASSERT_TRUE(s3);
    s3->Close();

    c->DeleteRunsBefore(t);
    EXPECT_FALSE(table_exists(before_prefix + "DATA"));
    EXPECT_EQ(loggers_rows("L"), 2);
    ASSERT_EQ(c->BeginRunList(nullptr), 1);
    std::vector<std::pair<std::string, std::int32_t>> listed;
    char name[20];
    TimeStamp start{}, stop{};
    while (c->GetNextRun(name, &start, &stop) == 1) listed.emplace_back(name, start.seconds);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0], std::make_pair(std::string("LoggerSeq=00000002"), t + 10));
    EXPECT_EQ(listed[1], std::make_pair(std::string("LoggerSeq=00000003"), kMarch5 + 10));
    EXPECT_EQ(rows("SELECT COUNT(*) FROM " + quoted(across_prefix + "DATA"))[0][0].to_i8(), 2);
}

// ---- Failed runs leave nothing behind ----

TEST_F(COLLECTION_SUITE, ARunRefusedForADuplicateKeyLeavesNoRowAndNoTable) {
    // A row of that day's date sequence is there (its tables long gone): the store's row is
    // refused after the collection made the new tables.
    add_row("L", 20240305, "L_old_", kMarch5 - 100, kMarch5 - 50);
    auto c = open("L");
    LogHeader h = header(kMarch5);
    auto store = new_run(*c, h, "[HEADER]\r\nh\r\n", false, true);
    EXPECT_FALSE(store);
    EXPECT_STREQ(c->GetErrorContext(), "CAN'T CONNECT TO DATABASE");
    for (const char* table : {"TEXT", "DATA", "CHANNELS"}) EXPECT_FALSE(table_exists(std::string("L_20240305_") + table));
    EXPECT_EQ(loggers_rows("L"), 1);
    EXPECT_EQ(latest_prefix("L"), "L_old_");

    // The next attempt is not blocked: it falls to the counter.
    auto next = new_run(*c, h, "[HEADER]\r\nh\r\n", false, false);
    EXPECT_TRUE(next) << c->GetErrorContext() << ": " << c->GetErrorText();
}

TEST_F(COLLECTION_SUITE, ADuplicateColumnRefusesTheRunAndDropsItsChannelsTable) {
    auto c = open("L");
    LogHeader h = header(kMarch5);
    h.tagColumns = 1;
    channels_ = {analog_channel("Flow"), analog_channel("FLOW")};
    EXPECT_FALSE(new_run(*c, h, nullptr));
    EXPECT_STREQ(c->GetErrorContext(), "DUPLICATE COLUMN FLOW");
    EXPECT_FALSE(table_exists("L_CHANNELS"));
    EXPECT_EQ(loggers_rows("L"), 0);
}

TEST_F(COLLECTION_SUITE, ChannelsWithoutATableComeFromTheModulesOrARemoteServer) {
    auto c = open("L");
    LogHeader h = header(kMarch5);
    std::int32_t start = kMarch5;
    // No configuration module of AI on this machine.
    EXPECT_FALSE(c->NewRun(&start, true, 0, h, nullptr, false, nullptr, false, nullptr));
    EXPECT_STREQ(c->GetErrorContext(), "CAN'T FIND CHANNELS");
    EXPECT_FALSE(table_exists("L_CHANNELS"));
    // A remote run with tag columns takes them from its server; one it cannot ask is refused
    // rather than named wrongly.
    h.tagColumns = 1;
    EXPECT_FALSE(c->NewRun(&start, true, 0, h, nullptr, false, "far.example", false, nullptr));
    EXPECT_STREQ(c->GetErrorContext(), "CAN'T CREATE DATA TABLE");
    EXPECT_FALSE(table_exists("L_CHANNELS"));
    h.tagColumns = 0;
    auto store = c->NewRun(&start, true, 0, h, nullptr, false, "far.example", false, nullptr);
    ASSERT_TRUE(store) << c->GetErrorContext() << ": " << c->GetErrorText();
    EXPECT_EQ(rows("SELECT sColumnName FROM " + quoted("L_CHANNELS") + " ORDER BY nChannelNumber").size(), 2u);
    EXPECT_TRUE(table_exists("L_DATA"));
    EXPECT_EQ(loggers_rows("L"), 1);
}

TEST_F(COLLECTION_SUITE, ARemoteRunWithTagColumnsTakesItsTagsFromItsServer) {
    qvr_test::TempDir product;
    requests_test::RequestServer plant(product.path().string(), "PLANT2");
    ASSERT_EQ(plant.start(), 0);
    for (const char* tag : {"FLOW", "LEVEL"}) {
        const qvr::ChannelRecord r = analog_channel(tag);
        plant.dispatcher().script_reply("CV", "1,000216" + std::string(reinterpret_cast<const char*>(r.bytes), 216));
    }
    auto c = open("L");
    LogHeader h = header(kMarch5);
    h.tagColumns = 1;
    std::int32_t start = kMarch5;
    auto store = c->NewRun(&start, true, 0, h, nullptr, false, "PLANT2", false, nullptr);
    ASSERT_TRUE(store) << c->GetErrorContext() << ": " << c->GetErrorText();
    EXPECT_EQ(plant.sent(), (std::vector<std::string>{requests_test::bytes("CV,AI,1"), requests_test::bytes("CV,AI,2")}));
    const auto names = rows("SELECT sColumnName FROM " + quoted("L_CHANNELS") + " ORDER BY nChannelNumber");
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(ado::utf8_from_utf16(names[0][0].to_text()), "FLOW");
    EXPECT_EQ(ado::utf8_from_utf16(names[1][0].to_text()), "LEVEL");
    store.reset();

    // A reply too short to hold a configuration refuses the run and leaves no table.
    plant.dispatcher().script_reply("CV", "1,short");
    std::int32_t later = kMarch5 + 60;
    LogHeader h2 = header(later);
    h2.tagColumns = 1;
    EXPECT_FALSE(c->NewRun(&later, false, 0, h2, nullptr, false, "PLANT2", false, nullptr));
    EXPECT_STREQ(c->GetErrorContext(), "CAN'T CREATE DATA TABLE");
    EXPECT_EQ(loggers_rows("L"), 1);
}

TEST_F(COLLECTION_SUITE, TheFactorysLatestRunLocationNamesTheNewestRun) {
    auto c = open("L");
    LogHeader first = header(kMarch5);
    ASSERT_TRUE(new_run(*c, first, nullptr, false, false, {kMarch5 + 1}));
    LogHeader second = header(kMarch5 + 60);
    auto newest = new_run(*c, second, nullptr, false, false, {kMarch5 + 61});
    ASSERT_TRUE(newest);
    char location[1285];
    std::size_t size = sizeof location;
    newest->GetLocation(location, &size);
    ASSERT_LE(size, sizeof location);
    newest.reset();
    const std::string logger = cs_ + ";LoggerName=L";
    EXPECT_STREQ(log_stores::GetLatestRunLocation(logger.c_str()), location);
    EXPECT_STREQ(log_stores::GetLatestDbRunLocation(logger.c_str()), location);
}

// ---- Texts of a UTF-16 header and names SQL must not read as its own ----

TEST_F(COLLECTION_SUITE, AWideHeaderTextIsKeptWithQuestionMarksForWhatTheCodePageLacks) {
    auto c = open("L");
    LogHeader h = header(kMarch5);
    std::int32_t start = kMarch5;
    const qvr::ChannelRecord* table[] = {channels_.data()};
    auto store = c->NewRunW(&start, true, 0, h, u"[HEADER]\r\nK\u00e4se \u4e2d\r\n[PREDEFINED]\r\nP1\r\n", false,
                            nullptr, false, table);
    ASSERT_TRUE(store) << c->GetErrorContext() << ": " << c->GetErrorText();
    const auto header_rows = rows("SELECT sHeader FROM LOGGERS WHERE sLoggerName = 'L'");
    ASSERT_EQ(header_rows.size(), 1u);
    EXPECT_EQ(log_stores::db_schema::stored_prefix(ado::utf8_from_utf16(header_rows[0][0].to_text())),
              "K\u00e4se ?");
    EXPECT_TRUE(table_exists("L_TEXT"));
    EXPECT_EQ(rows("SELECT COUNT(*) FROM " + quoted("L_TEXT"))[0][0].to_i8(), 1);
}

TEST_F(COLLECTION_SUITE, NamesWithQuotesBackslashesAndDashes) {
    for (const std::string logger : {"O'Hara \"x\" \\ y", "colon: `tick` --dash /* c */"}) {
        SCOPED_TRACE(logger);
        auto c = open(logger);
        LogHeader h = header(kMarch5);
        auto first = new_run(*c, h, "[HEADER]\r\n'; DROP TABLE LOGGERS; --\r\n", true, false, {kMarch5 + 1});
        ASSERT_TRUE(first) << c->GetErrorContext() << ": " << c->GetErrorText();
        first->Close();
        LogHeader h2 = header(kMarch5 + 5);
        auto second = new_run(*c, h2, nullptr);
        ASSERT_TRUE(second) << c->GetErrorContext() << ": " << c->GetErrorText();
        second->Close();
        EXPECT_EQ(loggers_rows(logger), 2);
        char name[20] = {};
        std::size_t size = sizeof name;
        TimeStamp start{}, stop{};
        ASSERT_EQ(c->GetLatestRun(name, &size, &start, &stop, false), 1);
        EXPECT_STREQ(name, "LoggerSeq=00000002");
        const std::string prefix = latest_prefix(logger);
        EXPECT_EQ(c->DropRun(prefix), 0);
        EXPECT_FALSE(table_exists(prefix + "DATA"));
        EXPECT_EQ(loggers_rows(logger), 1);
    }
    EXPECT_TRUE(table_exists("LOGGERS"));
}

TEST_F(COLLECTION_SUITE, AStoreOfANamedRunOpensThroughItsLocation) {
    const std::string logger = "O'Hara \"x\" \\ `y` --z";
    auto c = open(logger);
    LogHeader h = header(kMarch5);
    auto made = new_run(*c, h, nullptr, true, false, {kMarch5 + 1, kMarch5 + 2});
    ASSERT_TRUE(made);
    made->Close();
    char location[1300];
    std::size_t size = sizeof location;
    c->GetStoreLocation("LoggerSeq=00000001", location, &size);
    EXPECT_EQ(std::string(location), cs_ + ";LoggerName=" + logger + ";LoggerSeq=00000001");
    EXPECT_EQ(size, cs_.size() + logger.size() + 18 + 14);
    auto store = c->OpenStore("LoggerSeq=00000001", kGenericRead);
    ASSERT_TRUE(store) << c->GetErrorContext();
    LogHeader read{};
    ASSERT_EQ(store->ReadHeader(read), 0) << store->GetErrorText();
    EXPECT_EQ(store->GetNoLogs(read), 2);
    EXPECT_FALSE(c->OpenStore("LoggerSeq=00000009", kGenericRead));
}

}  // namespace
