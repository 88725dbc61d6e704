// One suite for the access objects on each real engine: built once with the SQLite files
// and once with the MariaDB test server (ACCESSOR_ON_MARIADB).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "log_stores/db_access/log_db_acc.h"
#include "log_stores/db_access/log_db_data_acc.h"
#include "platform/ado/connection.h"
#include "platform/ado/text_codec.h"
#include "platform/last_error.h"
#include "test_database.h"

namespace {

using ado::Variant;
using namespace log_stores_test;

std::u16string u16(const std::string& s) { return ado::utf16_from_utf8(s); }

// Each build of the suite has its own name, so CTest's cases of the two never collide.
#ifdef ACCESSOR_ON_MARIADB
constexpr bool kOnMariaDb = true;
#define ACCESSOR_SUITE AccessorOnMariaDb
#else
constexpr bool kOnMariaDb = false;
#define ACCESSOR_SUITE AccessorOnSqlite
#endif

class AccessorFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        db_ = suite_database(kOnMariaDb);
        if (!db_) GTEST_SKIP() << kNoMariaDbServer;
        ASSERT_EQ(schema_.OpenConnection(db_->connection_string(), u""), 0) << schema_.ErrorText();
        ASSERT_EQ(schema_.SetConnected(), 0);
        ASSERT_EQ(data_.OpenConnection(db_->connection_string(), u"", 0), 0) << data_.GetLastErrorText();
        ASSERT_EQ(data_.WaitIdle(u"", u""), 0);
    }
    void sql(const std::string& statement) { ASSERT_EQ(schema_.ExecuteSql(u16(statement)), 0) << schema_.ErrorText(); }
    int64_t count(const std::string& from_where) {
        CLogDbDataAcc probe;
        EXPECT_EQ(probe.OpenConnection(db_->connection_string(), u"", 0), 0);
        if (probe.OpenRecordset(u16("SELECT COUNT(*) FROM " + from_where), 0, 1, 1) != 0) {
            ADD_FAILURE() << from_where << ": " << probe.GetLastErrorText();
            return -1;
        }
        Variant v;
        EXPECT_EQ(probe.GetFieldValueByIndex(0, &v), 0);
        return v.to_i8();
    }
    const ado::Dialect& dialect() {
        if (!dialect_) {
            ado::Connection c;
            c.open(db_->connection_string());
            dialect_ = std::make_unique<ado::Dialect>(c.dialect());
        }
        return *dialect_;
    }

    std::unique_ptr<TestDatabase> db_;
    CLogDbAcc schema_;
    CLogDbDataAcc data_;
    std::unique_ptr<ado::Dialect> dialect_;
};

using ACCESSOR_SUITE = AccessorFixture;

TEST_F(ACCESSOR_SUITE, OpensMovesAndTheEnd) {
    sql("CREATE TABLE LOGGERS (sLoggerName char(255), nLoggerSequence integer, dStartTime datetime)");
    EXPECT_EQ(data_.OpenTable(u"LOGGERS", u""), 1) << "no rows";
    for (int i = 1; i <= 4; ++i)
        sql("INSERT INTO LOGGERS VALUES ('L', " + std::to_string(i) + ", NULL)");
    ASSERT_EQ(data_.OpenTable(u"select * from LOGGERS where sLoggerName = 'L' order by nLoggerSequence", u""), 0);
    Variant v;
    EXPECT_EQ(data_.MoveTo(2), 0);
    EXPECT_EQ(data_.GetFieldValueByName(u"nLoggerSequence", &v), 0);
    EXPECT_EQ(v, Variant::i4(3));
    EXPECT_EQ(data_.MoveLast(), 0);
    EXPECT_EQ(data_.GetFieldValueByName(u"nLoggerSequence", &v), 0);
    EXPECT_EQ(v, Variant::i4(4));
    EXPECT_EQ(data_.MovePrevious(), 0);
    EXPECT_EQ(data_.GetFieldValueByIndex(1, &v), 0);
    EXPECT_EQ(v, Variant::i4(3));
    EXPECT_EQ(data_.GetFieldValueByName(u"sLoggerName", &v), 0);
    EXPECT_EQ(ado::utf8_from_utf16(v.text_value()).substr(0, 1), "L");
    EXPECT_EQ(data_.MoveNext(), 0);
    EXPECT_EQ(data_.MoveNext(), 0);
    Variant eof;
    EXPECT_EQ(data_.IsEOF(&eof), 0);
    EXPECT_EQ(eof, Variant::boolean(true));
    int32_t n = 0;
    EXPECT_EQ(data_.GetRecordCount(&n), 0);
    EXPECT_EQ(n, 4);
    EXPECT_EQ(data_.MoveFirst(), 0);
    Variant bof;
    EXPECT_EQ(data_.IsBOF(&bof), 0);
    EXPECT_EQ(bof, Variant::boolean(false));
}

TEST_F(ACCESSOR_SUITE, AddNewAndUpdate) {
    sql("CREATE TABLE A_CHANNELS (nBlock int, sPrefix char(2), nChannelNumber integer, sTag char(32), fMinScale real)");
    ASSERT_EQ(data_.OpenTableByName(u"A_CHANNELS"), 0) << data_.GetLastErrorText();
    for (int ch = 1; ch <= 3; ++ch) {
        ASSERT_EQ(data_.AddNew(), 0) << data_.GetLastErrorText();
        EXPECT_EQ(data_.PutFieldByIndex(0, Variant::i4(0)), 0);
        EXPECT_EQ(data_.PutFieldByIndex(1, Variant::text(u"AB")), 0);
        EXPECT_EQ(data_.PutFieldByIndex(2, Variant::i4(ch)), 0);
        EXPECT_EQ(data_.PutFieldByIndex(4, Variant::r8(0.5 * ch)), 0);
    }
    EXPECT_EQ(data_.Update(), 0) << data_.GetLastErrorText();
    EXPECT_EQ(count("A_CHANNELS"), 3);
    EXPECT_EQ(count("A_CHANNELS WHERE nChannelNumber = 3 AND fMinScale = 1.5 AND sTag IS NULL"), 1);
    ASSERT_EQ(data_.OpenTable(u"select * from A_CHANNELS where nChannelNumber = 2", u""), 0);
    EXPECT_EQ(data_.SetFieldValue(u"sTag", Variant::text(u"TT-2")), 0) << data_.GetLastErrorText();
    EXPECT_EQ(count("A_CHANNELS WHERE sTag = 'TT-2' AND nChannelNumber = 2"), 1);
}

TEST_F(ACCESSOR_SUITE, RowUpdateAndDeleteChangeExactlyOneRow) {
    sql("CREATE TABLE T (a integer, s char(8), f float)");
    sql("INSERT INTO T VALUES (1, 'same', 0.1)");
    sql("INSERT INTO T VALUES (1, 'same', 0.1)");
    sql("INSERT INTO T VALUES (2, NULL, 0.2)");
    sql("INSERT INTO T VALUES (2, 'x', 0.2)");
    ASSERT_EQ(data_.OpenTable(u"select * from T where a = 1", u""), 0);
    EXPECT_EQ(data_.SetFieldValue(u"s", Variant::text(u"one")), 0) << data_.GetLastErrorText();
    EXPECT_EQ(count("T WHERE s = 'one'"), 1);
    EXPECT_EQ(count("T WHERE s = 'same'"), 1);
    ASSERT_EQ(data_.OpenTable(u"select * from T where a = 1 and s = 'same'", u""), 0);
    EXPECT_EQ(data_.DeleteCurrent(), 0) << data_.GetLastErrorText();
    EXPECT_EQ(count("T WHERE a = 1"), 1);

    // Two rows that differ only by a NULL: each is found by its own value.
    ASSERT_EQ(data_.OpenTable(u"select a, s from T where a = 2 and s is null", u""), 0);
    EXPECT_EQ(data_.SetFieldValue(u"a", Variant::i4(3)), 0) << data_.GetLastErrorText();
    EXPECT_EQ(count("T WHERE a = 3 AND s IS NULL"), 1);
    EXPECT_EQ(count("T WHERE a = 2 AND s = 'x'"), 1);
    ASSERT_EQ(data_.OpenTable(u"select a, s from T where s = 'x'", u""), 0);
    EXPECT_EQ(data_.DeleteCurrent(), 0) << data_.GetLastErrorText();
    EXPECT_EQ(count("T WHERE a = 3 AND s IS NULL"), 1) << "the NULL row stays";
    EXPECT_EQ(count("T"), 2);
}

TEST_F(ACCESSOR_SUITE, AMissingTableIsReportedAlike) {
    EXPECT_EQ(static_cast<uint32_t>(data_.OpenTableByName(u"LOGGERS")), 0x80040E37u);
    EXPECT_EQ(static_cast<uint32_t>(data_.OpenRecordset(u"select * from LOGGERS", 3, 3, 1)), 0x8004020Au);
    EXPECT_EQ(platform::last_error(), 0x0C37);
    EXPECT_EQ(schema_.ExecuteSql(u"DROP TABLE LOGGERS"), 1);
    EXPECT_EQ(platform::last_error(), 0x0C37);
    EXPECT_EQ(schema_.TableExists(u"LOGGERS"), 1);
}

// A server holds other databases; their tables and columns are never taken for this one's.
TEST_F(ACCESSOR_SUITE, AnotherDatabasesTablesAreNotThisOnes) {
#ifdef ACCESSOR_ON_MARIADB
    MariaDatabase other(*mariadb_server());
#else
    SqliteDatabase other;
#endif
    CLogDbAcc there;
    ASSERT_EQ(there.OpenConnection(other.connection_string(), u""), 0) << there.ErrorText();
    ASSERT_EQ(there.SetConnected(), 0);
    ASSERT_EQ(there.ExecuteSql(u"CREATE TABLE ELSEWHERE (a integer)"), 0) << there.ErrorText();
    ASSERT_EQ(there.ExecuteSql(u"CREATE TABLE SHARED (a integer, b integer, c integer)"), 0) << there.ErrorText();
    sql("CREATE TABLE SHARED (a integer)");

    EXPECT_EQ(schema_.TableExists(u"ELSEWHERE"), 1);
    int32_t tables = -1;
    ASSERT_EQ(schema_.GetTableCount(&tables), 0);
    EXPECT_EQ(tables, 1);
    ASSERT_EQ(schema_.SelectTable(u"SHARED"), 0) << schema_.ErrorText();
    ASSERT_NE(schema_.CurrentTable(), nullptr);
    EXPECT_EQ(schema_.CurrentTable()->columns.size(), 1u);
}

TEST_F(ACCESSOR_SUITE, TextsRoundTripInWindows1252AndUtf16) {
    sql("CREATE TABLE T (n integer, sUnits char(12), sDescription varchar(32))");
    // An 8-bit statement as the stores build them, in Windows-1252.
    const std::string cp1252 = "INSERT INTO T VALUES (1, '\xB0" "C', 'Temp\xE9rature \x80')";
    ASSERT_EQ(schema_.ExecuteSql(ado::utf16_from_cp1252(cp1252)), 0) << schema_.ErrorText();
    ASSERT_EQ(data_.OpenTableByName(u"T"), 0);
    const Variant fields = Variant::array({Variant::text(u"n"), Variant::text(u"sDescription")});
    const Variant values = Variant::array({Variant::i4(2), Variant::text(u"\u4E2D\u6587 \U0001F600")});
    ASSERT_EQ(data_.AddNewRow(0, &fields, &values), 0) << data_.GetLastErrorText();
    ASSERT_EQ(data_.OpenTable(u"select * from T order by n", u""), 0);
    Variant v;
    EXPECT_EQ(data_.GetFieldValueByName(u"sUnits", &v), 0);
    EXPECT_EQ(ado::cp1252_from_utf16(v.text_value()).substr(0, 2), "\xB0" "C");
    EXPECT_EQ(data_.GetFieldValueByName(u"sDescription", &v), 0);
    EXPECT_EQ(ado::cp1252_from_utf16(v.text_value()), "Temp\xE9rature \x80");
    EXPECT_EQ(data_.MoveNext(), 0);
    EXPECT_EQ(data_.GetFieldValueByName(u"sDescription", &v), 0);
    EXPECT_EQ(v.text_value(), u"\u4E2D\u6587 \U0001F600");
    EXPECT_EQ(count("T WHERE sUnits = '" + ado::utf8_from_cp1252("\xB0") + "C'"), 1);
}

TEST_F(ACCESSOR_SUITE, DatesCompareWithLiteralsOfEachValidKind) {
    sql("CREATE TABLE D (DT datetime, MS integer)");
    ASSERT_EQ(data_.OpenTableByName(u"D"), 0);
    ASSERT_EQ(data_.AddNew(), 0);
    EXPECT_EQ(data_.PutFieldByIndex(0, Variant::date(*ado::parse_date_text("2024-03-05 12:00:00"))), 0);
    EXPECT_EQ(data_.PutFieldByIndex(1, Variant::i4(1)), 0);
    ASSERT_EQ(data_.AddNew(), 0);
    EXPECT_EQ(data_.PutFieldByIndex(0, Variant::date(*ado::parse_date_text("2024-03-05 12:00:01"))), 0);
    EXPECT_EQ(data_.PutFieldByIndex(1, Variant::i4(2)), 0);
    ASSERT_EQ(data_.Update(), 0) << data_.GetLastErrorText();
    const char* literal[3] = {"{ ts '2024-03-05 12:00:00.000' }", "{ ts '2024/03/05 12:00:00.000' }",
                              "#03/05/2024 12:00:00#"};
    for (int kind = 0; kind < 3; ++kind) {
        const std::string where = std::string(" WHERE DT = ") + literal[kind];
        CLogDbDataAcc probe;
        ASSERT_EQ(probe.OpenConnection(db_->connection_string(), u"", 0), 0);
        const int32_t opened = probe.OpenRecordset(u16("SELECT MS FROM D" + where), 0, 1, 1);
        if (!dialect().date_literal_valid(kind)) {
            // Refused, never silently compared wrong.
            Variant v;
            EXPECT_TRUE(opened != 0 || probe.GetFieldValueByIndex(0, &v) != 0) << "kind " << kind;
            continue;
        }
        ASSERT_EQ(opened, 0) << "kind " << kind << ": " << probe.GetLastErrorText();
        Variant ms;
        EXPECT_EQ(probe.GetFieldValueByIndex(0, &ms), 0) << "kind " << kind;
        EXPECT_EQ(ms, Variant::i4(1)) << "kind " << kind;
        EXPECT_EQ(count(std::string("D WHERE DT > ") + literal[kind]), 1) << "kind " << kind;
    }
    ASSERT_EQ(data_.OpenTable(u"select * from D where MS = 2", u""), 0);
    Variant dt;
    EXPECT_EQ(data_.GetFieldValueByName(u"DT", &dt), 0);
    ASSERT_EQ(dt.type(), ado::VarType::date);
    EXPECT_EQ(ado::canonical_date_text(dt.date_value()), "2024-03-05 12:00:01.000");
    EXPECT_EQ(data_.SetFieldValue(u"MS", Variant::i4(3)), 0) << "a row with a date is found again";
}

}  // namespace
