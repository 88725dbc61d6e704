// CLogDbAcc on SQLite files: flags, catalog operations, statements and their failures.
#include "log_stores/log_db_acc.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/ado/text_codec.h"
#include "platform/last_error.h"
#include "support/temp_dir.h"
#include "trace_lines.h"

namespace {

using ado::Variant;

std::u16string u16(const std::string& s) { return ado::utf16_from_utf8(s); }

class DbAccSqlite : public ::testing::Test {
  protected:
    void SetUp() override { cs_ = u16("Provider=SQLite.File;Data Source=" + (dir_ / "logs.db").string()); }
    void make_database(CLogDbAcc& acc) {
        ASSERT_EQ(acc.CreateDatabase(cs_.substr(0, 5), cs_.substr(5)), 0) << acc.ErrorText();
        ASSERT_EQ(acc.SetConnected(), 0);
        ASSERT_EQ(acc.IsNotConnected(), 0);
    }
    qvr_test::TempDir dir_;
    std::u16string cs_;
};

TEST_F(DbAccSqlite, NothingRunsBeforeAConnection) {
    CLogDbAcc acc;
    EXPECT_EQ(acc.IsNotConnected(), 1);
    EXPECT_EQ(acc.ExecuteSql(u"CREATE TABLE T (a integer)"), 1);
    EXPECT_EQ(acc.CreateTable(u"T", u"a", 3, 0, 0), 1) << "nothing was made: a failure";
    EXPECT_EQ(acc.TableExists(u"T"), 1);
    EXPECT_EQ(acc.AppendColumn(u"b", 3, 0), 1);
    EXPECT_EQ(acc.SetConnected(), 0);
    EXPECT_EQ(acc.IsNotConnected(), 1) << "connected mark without an open connection";
    EXPECT_EQ(acc.CreateTable(u"T", u"a", 3, 0, 0), 1);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "logs.db"));
    EXPECT_EQ(acc.WaitIdle(), 0);
}

TEST_F(DbAccSqlite, TablesColumnsAndProperties) {
    CLogDbAcc acc;
    make_database(acc);
    EXPECT_EQ(acc.CreateTable(u"LOGGERS", u"sLoggerName", 129, 255, 0), 0) << acc.ErrorText();
    ASSERT_NE(acc.CurrentTable(), nullptr);
    EXPECT_EQ(acc.CurrentTable()->name, u"LOGGERS");
    EXPECT_EQ(acc.AppendColumn(u"nLoggerSequence", 3, 0), 0) << acc.ErrorText();
    EXPECT_EQ(acc.SetColumnProperty(u"nLoggerSequence", u"Description", Variant::text(u"counter")), 0);
    EXPECT_EQ(acc.CurrentTable()->columns.at(1).properties.at(u"Description"), Variant::text(u"counter"));
    EXPECT_EQ(acc.SetColumnProperty(u"none", u"Description", Variant::i4(1)), 1);
    EXPECT_EQ(acc.CreateTable(u"SEQ", u"id", 3, 0, 1), 0) << acc.ErrorText();
    const Variant names = Variant::array({Variant::text(u"id"), Variant::text(u"tag"), Variant::text(u"v")});
    const Variant types = Variant::array({Variant::i4(3), Variant::i4(202), Variant::i4(5)});
    const Variant sizes = Variant::array({Variant::i4(0), Variant::i4(32), Variant::i4(0)});
    EXPECT_EQ(acc.AddColumns(u"CH", 3, names, types, sizes, 1), 0) << acc.ErrorText();
    EXPECT_EQ(acc.AddColumns(u"CH2", 4, names, types, sizes, 0), 1) << "more columns than the arrays hold";
    EXPECT_EQ(acc.AddColumns(u"", 3, names, types, sizes, 0), 1);
    EXPECT_EQ(acc.AddColumns(u"CH3", 3, Variant::i4(1), types, sizes, 0), 1);
    int32_t n = 0;
    EXPECT_EQ(acc.GetTableCount(&n), 0);
    EXPECT_EQ(n, 3);
    EXPECT_EQ(acc.ExecuteSql(u"INSERT INTO CH (tag, v) VALUES ('a', 1.5)"), 0);
    EXPECT_EQ(acc.ExecuteSql(u"INSERT INTO CH (tag, v) VALUES ('b', 2.5)"), 0);
    EXPECT_EQ(acc.SelectTable(u"ch"), 0);
    EXPECT_EQ(acc.CurrentTable()->name, u"CH");
    EXPECT_EQ(acc.CurrentTable()->columns.size(), 3u);
    EXPECT_EQ(acc.SelectTable(u"nosuch"), 1);

    // An unknown table keeps the previous current table.
    EXPECT_EQ(acc.TableExists(u"LOGGERS"), 0);
    EXPECT_EQ(acc.TableExists(u"NOSUCH"), 1);
    EXPECT_EQ(acc.CurrentTable()->name, u"LOGGERS");

    EXPECT_EQ(acc.Release(), 0);
    EXPECT_EQ(acc.CurrentTable(), nullptr);
    EXPECT_EQ(acc.TableExists(u"LOGGERS"), 1);
    EXPECT_EQ(acc.IsNotConnected(), 1) << "an invalid object clears the open flag";
    EXPECT_EQ(acc.ExecuteSql(u"DROP TABLE CH"), 1);
}

TEST_F(DbAccSqlite, ARefusedStatementKeepsTheProvidersTextAndCode) {
    CLogDbAcc acc;
    make_database(acc);
    platform::set_last_error(5);
    EXPECT_EQ(acc.ExecuteSql(u"CREATE TABLE LOGGERS (a datetime"), 1);
    EXPECT_EQ(platform::last_error(), 0x0C14);
    EXPECT_NE(std::string(acc.ErrorText()).find("incomplete input"), std::string::npos) << acc.ErrorText();
    EXPECT_EQ(acc.ExecuteSql(u"CREATE TABLE LOGGERS (a datetime)"), 0);
    EXPECT_EQ(acc.ExecuteSql(u"CREATE TABLE LOGGERS (a datetime)"), 1) << "already there";
    EXPECT_EQ(acc.CreateDatabase(cs_, u""), 1) << "an existing database is not made again";
    EXPECT_EQ(acc.IsNotConnected(), 1);
    EXPECT_EQ(acc.OpenConnection(cs_, u""), 0);
    EXPECT_EQ(acc.TableExists(u"loggers"), 0);
}

TEST_F(DbAccSqlite, ServerDatabasesCannotBeMadeAndJetIsNotAvailable) {
    CLogDbAcc acc;
    EXPECT_EQ(acc.CreateDatabase(u"Provider=SQLOLEDB;Data Source=127.0.0.2;Initial Catalog=L", u""), 1);
    EXPECT_NE(std::string(acc.ErrorText()).find("not supported"), std::string::npos) << acc.ErrorText();
    EXPECT_EQ(acc.OpenConnection(u"Provider=Microsoft.Jet.OLEDB.4.0; Data Source=\"C:\\x\\L.mdb\"", u""), 1);
    EXPECT_STREQ(acc.ErrorText(), "provider not available on this platform");
    EXPECT_EQ(acc.IsNotConnected(), 1);
}

TEST_F(DbAccSqlite, NoPasswordReachesTheTrace) {
    log_stores_test::TraceLines trace;
    CLogDbAcc acc;
    make_database(acc);
    const std::u16string with_password = cs_ + u";Password=hunter2;Jet OLEDB:Database Password=swordfish";
    EXPECT_EQ(acc.OpenConnection(with_password, u";PWD=tiger"), 0) << acc.ErrorText();
    EXPECT_EQ(acc.ExecuteSql(u"SELEC 1"), 1);
    EXPECT_EQ(acc.OpenConnection(u"Provider=MSDASQL;Driver=/nonexistent/driver.so;PWD=tiger;", u""), 1);
    const auto lines = trace.lines();
    EXPECT_FALSE(trace.lines("Password={***}").empty());
    EXPECT_FALSE(trace.lines("COM Exeption: ").empty());
    for (const auto& line : lines) {
        EXPECT_EQ(line.find("hunter2"), std::string::npos) << line;
        EXPECT_EQ(line.find("swordfish"), std::string::npos) << line;
        EXPECT_EQ(line.find("tiger"), std::string::npos) << line;
    }
    EXPECT_EQ(std::string(acc.ErrorText()).find("tiger"), std::string::npos);
}

}  // namespace
