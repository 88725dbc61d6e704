// The database collection against the recording driver posing as engines that cannot run here:
// the exact statements of a new run and of dropping one.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "db_schema_fixtures.h"
#include "log_stores/db_collection/db_collection.h"
#include "recording_script.h"

namespace {

using log_stores::CLogDbCollection;
using log_stores_test::RecordingScript;

constexpr std::uint32_t kReadWrite = log_stores::kGenericRead | log_stores::kGenericWrite;
constexpr std::int32_t kMarch5 = 1709632800;

const std::string kLoggersColumns =
    "columns sLoggerName:CHAR nLoggerSequence:INTEGER dStartTime:DATETIME dStopTime:DATETIME bCompleted:INTEGER "
    "sTablePrefix:CHAR sHeader:CHAR bTagColumns:INTEGER bRowsPerChannel:INTEGER bDST:INTEGER nTimeZone:INTEGER "
    "bSigChange:INTEGER sTriggerPrefix:CHAR nTriggerNumber:INTEGER sLagPrefix:CHAR nLagNumber:INTEGER "
    "dTextTime:DATETIME\n";

// The open of an existing LOGGERS table, then the counter query of logger O'Hara (highest 4).
std::string open_and_count(const std::string& dbms) {
    return "dbms " + dbms + "\nexpect SELECT * FROM [LOGGERS] WHERE 1=0\n" + kLoggersColumns +
           "expect select nLoggerSequence from LOGGERS where sLoggerName = 'O''Hara' AND nLoggerSequence < "
           "19000101 order by nLoggerSequence Desc\n"
           "columns nLoggerSequence:INTEGER\n"
           "row 4\n";
}

const std::string kRunTables =
    "expect CREATE TABLE [O'Hara_00000005_CHANNELS] (nBlock int, sPrefix char(2), nChannelNumber integer, sSource "
    "char(32), sTag char(32), sDescription char(32), nType int,sUnits char(12), fMinScale real, fMaxScale real, "
    "sLowStateDesc char(32), sHighStateDesc char(32), sColumnName char(32), bLag integer)\n"
    "expect CREATE INDEX [CH] ON [O'Hara_00000005_CHANNELS] (sPrefix, nChannelNumber)\n"
    "expect CREATE TABLE [O'Hara_00000005_DATA] (DT datetime, MS integer, TX varchar(255) NULL, [AI1] REAL NULL, "
    "TP float NULL)\n"
    "expect CREATE INDEX [TM] ON [O'Hara_00000005_DATA] (DT, MS)\n"
    "expect CREATE INDEX [DT] ON [O'Hara_00000005_DATA] (DT)\n"
    "expect CREATE INDEX [MS] ON [O'Hara_00000005_DATA] (MS)\n"
    "expect CREATE INDEX [TX] ON [O'Hara_00000005_DATA] (TX)\n";

// The script ran to its end: its last statement was sent and nothing else was.
void expect_whole(const RecordingScript& script, const std::string& last) {
    EXPECT_FALSE(script.has_unexpected()) << script.log();
    EXPECT_NE(script.log().find("execdirect " + last + "\n"), std::string::npos) << script.log();
}

std::unique_ptr<log_stores::CLogStore> new_run(CLogDbCollection& c, const char* text) {
    static const qvr::ChannelRecord record = log_stores_test::analog_channel("T");
    const qvr::ChannelRecord* table[] = {&record};
    auto h = log_stores_test::header_of({{"AI", 1, 1}}, false, false);
    h.start = {kMarch5, 0, 0};
    std::int32_t start = kMarch5;
    return c.NewRun(&start, true, 0, h, text, false, nullptr, false, table);
}

TEST(DbCollectionOnRecorder, ARunWhoseRowIsRefusedOnSqlServerLeavesNoTableAndNoRow) {
    RecordingScript script(open_and_count("Microsoft SQL Server") + kRunTables +
                           "expect CREATE TABLE [O'Hara_00000005_TEXT] (TX char(255))\n"
                           "expect SELECT * FROM [LOGGERS] WHERE 1=0\n" +
                           kLoggersColumns +
                           "expect~ INSERT INTO ?LOGGERS? (*\n"
                           "error 23000 2627 Violation of PRIMARY KEY constraint 'PK'.\n"
                           "expect DROP TABLE [O'Hara_00000005_TEXT]\n"
                           "expect DROP TABLE [O'Hara_00000005_DATA]\n"
                           "expect DROP TABLE [O'Hara_00000005_CHANNELS]\n"
                           "expect DELETE from LOGGERS where sLoggerName = 'O''Hara' AND (sTablePrefix = "
                           "'O''Hara_00000005_' OR (sTablePrefix IS NULL AND (nLoggerSequence = 5 OR "
                           "nLoggerSequence IS NULL)))\n");
    CLogDbCollection c;
    ASSERT_EQ(c.Open(script.connection_string().c_str(), "", "O'Hara", "", kReadWrite), 0) << script.log();
    EXPECT_FALSE(new_run(c, "[HEADER]\r\nH\r\n[PREDEFINED]\r\nA\r\n"));
    EXPECT_STREQ(c.GetErrorContext(), "CAN'T CONNECT TO DATABASE");
    expect_whole(script,
                 "DELETE from LOGGERS where sLoggerName = 'O''Hara' AND (sTablePrefix = 'O''Hara_00000005_' OR "
                 "(sTablePrefix IS NULL AND (nLoggerSequence = 5 OR nLoggerSequence IS NULL)))");
}

TEST(DbCollectionOnRecorder, DroppingOnSqlServerCountsAMissingTextTableAsGoneAndAnyOtherFailureKeepsTheRow) {
    RecordingScript script(
        "dbms Microsoft SQL Server\nexpect SELECT * FROM [LOGGERS] WHERE 1=0\n" + kLoggersColumns +
        "expect DROP TABLE [O'Hara_TEXT]\n"
        "error 42S02 3701 Cannot drop the table 'O'Hara_TEXT', because it does not exist or you do not have "
        "permission.\n"
        "expect DROP TABLE [O'Hara_DATA]\n"
        "expect DROP TABLE [O'Hara_CHANNELS]\n"
        "expect DELETE from LOGGERS where sTablePrefix = 'O''Hara_'\n"
        "expect DROP TABLE [O'Hara_00000002_TEXT]\n"
        "expect DROP TABLE [O'Hara_00000002_DATA]\n"
        "error HYT00 0 Query timeout expired\n"
        "expect DROP TABLE [O'Hara_00000002_CHANNELS]\n");
    CLogDbCollection c;
    ASSERT_EQ(c.Open(script.connection_string().c_str(), "", "O'Hara", "", kReadWrite), 0) << script.log();
    EXPECT_EQ(c.DropRun("O'Hara_"), 0);
    EXPECT_EQ(c.DropRun("O'Hara_00000002_"), -1);
    expect_whole(script, "DROP TABLE [O'Hara_00000002_CHANNELS]");
}

TEST(DbCollectionOnRecorder, ANewRunOnJetAndItsDrop) {
    RecordingScript script(open_and_count("ACCESS") + kRunTables +
                           "expect SELECT * FROM [LOGGERS] WHERE 1=0\n" + kLoggersColumns +
                           "expect~ INSERT INTO ?LOGGERS? (*\n"
                           "expect SELECT * FROM [O'Hara_00000005_CHANNELS] WHERE 1=0\n"
                           "columns nBlock:INTEGER sPrefix:CHAR nChannelNumber:INTEGER sSource:CHAR sTag:CHAR "
                           "sDescription:CHAR nType:INTEGER sUnits:CHAR fMinScale:REAL fMaxScale:REAL "
                           "sLowStateDesc:CHAR sHighStateDesc:CHAR sColumnName:CHAR bLag:INTEGER\n"
                           "expect~ INSERT INTO ?O'Hara_00000005_CHANNELS? *\n"
                           "expect SELECT * FROM [O'Hara_00000005_DATA] WHERE 1=0\n"
                           "columns DT:DATETIME MS:INTEGER TX:VARCHAR AI1:REAL TP:FLOAT\n"
                           // Finished without a start: the run goes, a missing TEXT table
                           // counting as dropped.
                           "expect DROP TABLE [O'Hara_00000005_TEXT]\n"
                           "error 42S02 -1305 Table 'O'Hara_00000005_TEXT' does not exist.\n"
                           "expect DROP TABLE [O'Hara_00000005_DATA]\n"
                           "expect DROP TABLE [O'Hara_00000005_CHANNELS]\n"
                           "expect DELETE from LOGGERS where sTablePrefix = 'O''Hara_00000005_'\n");
    CLogDbCollection c;
    ASSERT_EQ(c.Open(script.connection_string().c_str(), "", "O'Hara", "", kReadWrite), 0) << script.log();
    auto store = new_run(c, nullptr);
    ASSERT_TRUE(store) << c.GetErrorContext() << c.GetErrorText();
    EXPECT_EQ(c.FinishRun(*store, nullptr, nullptr, false), 0);
    expect_whole(script, "DELETE from LOGGERS where sTablePrefix = 'O''Hara_00000005_'");
}

}  // namespace
