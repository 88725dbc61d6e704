// The access objects against the recording ODBC driver: exact statement sequences for the
// engines that cannot run here, and failures injected where a real engine gives none.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "log_stores/db_access/log_db_acc.h"
#include "log_stores/db_access/log_db_data_acc.h"
#include "platform/ado/com_error.h"
#include "platform/ado/connection.h"
#include "platform/ado/recordset.h"
#include "platform/ado/text_codec.h"
#include "platform/last_error.h"
#include "recording_script.h"

namespace {

using ado::Variant;
using log_stores_test::RecordingScript;

std::u16string u16(const std::string& s) { return ado::utf16_from_utf8(s); }

TEST(RecordingDriver, AScriptedSequencePassesAndIsLogged) {
    RecordingScript script(
        "dbms Microsoft SQL Server\n"
        "expect SELECT a, s FROM T\n"
        "columns a:INTEGER s:VARCHAR\n"
        "row 1|one\n"
        "row 2|NULL\n");
    auto db = std::make_shared<ado::Connection>();
    db->open(u16(script.connection_string()));
    EXPECT_EQ(db->dialect().engine(), ado::Engine::sql_server);
    ado::Recordset rs;
    rs.set_active_connection(db);
    rs.open(u"SELECT a, s FROM T", ado::kStatic, ado::kReadOnly, ado::kCmdText);
    EXPECT_EQ(rs.value(Variant::text(u"s")), Variant::text(u"one"));
    rs.move_next();
    EXPECT_TRUE(rs.value(Variant::text(u"s")).is_null());
    rs.move_next();
    EXPECT_TRUE(rs.eof());
    db->close();
    EXPECT_EQ(script.log(), "connect\nexecdirect SELECT a, s FROM T\nfetch 0\nfetch 1\nfetch end\ndisconnect\n");
}

TEST(RecordingDriver, AChangedStatementFailsShowingTheExpectedOne) {
    RecordingScript script("expect SELECT a FROM T\n");
    ado::Connection db;
    db.open(u16(script.connection_string()));
    try {
        db.execute(u"SELECT b FROM T");
        ADD_FAILURE() << "the changed statement ran";
    } catch (const ado::ComError& e) {
        EXPECT_NE(e.description().find("unexpected statement \"SELECT b FROM T\"; expected \"SELECT a FROM T\""),
                  std::string::npos)
            << e.description();
    }
    EXPECT_TRUE(script.has_unexpected());
    RecordingScript pattern("expect~ SELECT [ab] FROM *\n");
    ado::Connection other;
    other.open(u16(pattern.connection_string()));
    EXPECT_NO_THROW(other.execute(u"SELECT b FROM T"));
    EXPECT_FALSE(pattern.has_unexpected());
}

TEST(RecordingDriver, RowDeleteOnSqlServerSendsItsExactStatementAndParameters) {
    RecordingScript script(
        "dbms Microsoft SQL Server\n"
        "expect select * from LOGGERS where sTablePrefix = 'A_'\n"
        "columns sLoggerName:VARCHAR nLoggerSequence:INTEGER dStartTime:DATETIME fValue:FLOAT\n"
        "row A|1|2024-03-05 10:00:00.000|0.5\n"
        "expect DELETE TOP (1) FROM LOGGERS WHERE (sTablePrefix = 'A_') AND ([sLoggerName] = ? OR ([sLoggerName] "
        "IS NULL AND ? IS NULL)) AND ([nLoggerSequence] = ? OR ([nLoggerSequence] IS NULL AND ? IS NULL)) AND "
        "([dStartTime] = ? OR ([dStartTime] IS NULL AND ? IS NULL))\n"
        "affected 1\n");
    CLogDbDataAcc acc;
    ASSERT_EQ(acc.OpenConnection(u16(script.connection_string()), u"", 0), 0) << acc.GetLastErrorText();
    ASSERT_EQ(acc.OpenTable(u"select * from LOGGERS where sTablePrefix = 'A_'", u""), 0) << acc.GetLastErrorText();
    EXPECT_EQ(acc.DeleteCurrent(), 0) << acc.GetLastErrorText();
    EXPECT_FALSE(script.has_unexpected()) << script.log();
    const std::string log = script.log();
    EXPECT_NE(log.find("param 1 'A'\nparam 2 'A'\nparam 3 1\nparam 4 1\nparam 5 2024-03-05 10:00:00.000\n"
                       "param 6 2024-03-05 10:00:00.000\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("param 7"), std::string::npos) << "the FLOAT column is left out";
}

TEST(RecordingDriver, InjectedFailuresGiveTheOperationsCodesAndTexts) {
    RecordingScript script(
        "dbms Microsoft SQL Server\n"
        "expect SELECT * FROM [LOGGERS] WHERE 1=0\n"
        "error 42S02 208 Invalid object name 'LOGGERS'.\n"
        "expect select x\n"
        "error 42000 102 Incorrect syntax near 'x'.\n"
        "expect select a from T\n"
        "columns a:INTEGER\n"
        "row 1\n"
        "expect UPDATE TOP (1) T SET [a] = ? WHERE ([a] = ? OR ([a] IS NULL AND ? IS NULL))\n"
        "affected 0\n"
        "expect SELECT * FROM [T] WHERE 1=0\n"
        "columns a:INTEGER\n"
        "expect INSERT INTO [T] VALUES (?)\n"
        "error 23000 2627 Violation of PRIMARY KEY constraint.\n");
    CLogDbDataAcc acc;
    ASSERT_EQ(acc.OpenConnection(u16(script.connection_string()), u"", 0), 0) << acc.GetLastErrorText();
    EXPECT_EQ(static_cast<uint32_t>(acc.OpenTableByName(u"LOGGERS")), 0x80040E37u);
    EXPECT_EQ(static_cast<uint32_t>(acc.OpenRecordset(u"select x", 3, 3, 1)), 0x8004020Au);
    EXPECT_EQ(platform::last_error(), 0x0C14);
    EXPECT_STREQ(acc.GetLastErrorText(), "Incorrect syntax near 'x'.");
    ASSERT_EQ(acc.OpenRecordset(u"select a from T", 3, 3, 1), 0);
    EXPECT_EQ(acc.PutFieldByIndex(0, Variant::i4(2)), 0);
    EXPECT_EQ(static_cast<uint32_t>(acc.Update()), 0x80040212u);
    EXPECT_EQ(platform::last_error(), 0x0C38);
    EXPECT_NE(std::string(acc.GetLastErrorText()).find("Row cannot be located for updating"), std::string::npos);
    EXPECT_EQ(acc.CancelUpdate(), 0);
    ASSERT_EQ(acc.OpenTableByName(u"T"), 0);
    const Variant field = Variant::text(u"a");
    const Variant value = Variant::i4(1);
    EXPECT_EQ(static_cast<uint32_t>(acc.AddNewRow(0, &field, &value)), 0x80040218u);
    EXPECT_EQ(platform::last_error(), 0x0C2F);
    EXPECT_FALSE(script.has_unexpected()) << script.log();
}

TEST(RecordingDriver, MariaDbConnectionsBoundTheirLockWaitsAndTakeRealAsFloat) {
    setenv("QUORVANE_DB_TIMEOUT", "5", 1);
    RecordingScript script(
        "dbms MariaDB\n"
        "expect SET SESSION lock_wait_timeout = 5\n"
        "expect SET SESSION sql_mode = CONCAT_WS(',', NULLIF(@@sql_mode, ''), 'REAL_AS_FLOAT')\n");
    CLogDbDataAcc acc;
    EXPECT_EQ(acc.OpenConnection(u16(script.connection_string()), u"", 0), 0) << acc.GetLastErrorText();
    EXPECT_FALSE(script.has_unexpected()) << script.log();
}

TEST(RecordingDriver, ConnectionFailuresAndJetsDialect) {
    RecordingScript refused("connect-error 08001 17 Server does not exist or access denied.\n");
    CLogDbDataAcc acc;
    EXPECT_EQ(static_cast<uint32_t>(acc.OpenConnection(u16(refused.connection_string()), u"", 0)), 0x80040207u);
    EXPECT_STREQ(acc.GetLastErrorText(), "Server does not exist or access denied.");
    EXPECT_EQ(platform::last_error(), 0);

    RecordingScript jet("dbms ACCESS\nexpect SELECT * FROM [T] WHERE 1=0\ncolumns a:INTEGER\n");
    auto db = std::make_shared<ado::Connection>();
    db->open(u16(jet.connection_string()));
    EXPECT_EQ(db->dialect().engine(), ado::Engine::jet);
    EXPECT_TRUE(db->dialect().date_literal_valid(2));
    EXPECT_FALSE(db->dialect().date_literal_valid(0));
    EXPECT_TRUE(db->dialect().row_limit_is_top());
    ado::Recordset rs;
    rs.set_active_connection(db);
    rs.open(u"T", ado::kStatic, ado::kOptimistic, ado::kCmdUnknown);
    EXPECT_EQ(rs.field_count(), 1u);
    EXPECT_FALSE(jet.has_unexpected()) << jet.log();
}

TEST(RecordingDriver, ExecuteSqlRunsEachStatementOnAFreshConnection) {
    RecordingScript script(
        "dbms Microsoft SQL Server\n"
        "expect SQLTables\n"
        "columns TABLE_CAT:VARCHAR TABLE_SCHEM:VARCHAR TABLE_NAME:VARCHAR TABLE_TYPE:VARCHAR\n"
        "row L|dbo|LOGGERS|TABLE\n"
        "expect SQLColumns LOGGERS\n"
        "columns A:VARCHAR B:VARCHAR C:VARCHAR COLUMN_NAME:VARCHAR\n"
        "row L|dbo|LOGGERS|sLoggerName\n"
        "expect CREATE INDEX CH ON A_CHANNELS (sPrefix, nChannelNumber)\n");
    CLogDbAcc acc;
    ASSERT_EQ(acc.OpenConnection(u16(script.connection_string()), u""), 0) << acc.ErrorText();
    ASSERT_EQ(acc.SetConnected(), 0);
    EXPECT_EQ(acc.TableExists(u"LOGGERS"), 0) << acc.ErrorText();
    EXPECT_EQ(acc.CurrentTable()->columns.at(0).name, u"sLoggerName");
    EXPECT_EQ(acc.ExecuteSql(u"CREATE INDEX CH ON A_CHANNELS (sPrefix, nChannelNumber)"), 0) << acc.ErrorText();
    EXPECT_FALSE(script.has_unexpected()) << script.log();
    const std::string log = script.log();
    EXPECT_NE(log.find("connect\nexecdirect CREATE INDEX CH ON A_CHANNELS (sPrefix, nChannelNumber)\ndisconnect\n"),
              std::string::npos)
        << log;
}

}  // namespace
