// The archive on a real SQLite logger database: what the file flavour deletes and purges
// without archiving, the archive database made once and reused, and the copy statements
// that plain SQL can run, checked against the rows left afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <utility>
#include <string>
#include <vector>

#include "log_stores/db_archive/archive_statements.h"
#include "log_stores/db_access/log_db_data_acc.h"
#include "platform/ado/command.h"
#include "platform/ado/connection.h"
#include "platform/ado/recordset.h"
#include "platform/ado/text_codec.h"
#include "support/temp_dir.h"

namespace {

std::u16string u16(const std::string& s) { return ado::utf16_from_utf8(s); }

constexpr double kCutoff = 45352.0;  // 2024-03-01 00:00:00
constexpr int32_t kFailed = static_cast<int32_t>(0x80004005);

class ArchiveOnSqlite : public ::testing::Test {
  protected:
    void SetUp() override {
        path_ = (dir_ / "logs.db").string();
        cs_ = "Provider=SQLite.File;Data Source=" + path_;
        db_ = std::make_shared<ado::Connection>();
        db_->open_creating(u16(cs_));
        for (const char* sql : {
                 "CREATE TABLE Loggers (IDLogger INTEGER PRIMARY KEY, IDLoggerConfig INTEGER, sLogName TEXT, "
                 "sComments TEXT, dStartTime TEXT, dStopTime TEXT, bCompleted INTEGER, nStopReason INTEGER, "
                 "sMainTableName TEXT, nLogRate INTEGER, nParameters INTEGER)",
                 "CREATE TABLE SavedLoggerConfig (IDLoggerConfig INTEGER PRIMARY KEY, sName TEXT, sDescription TEXT)",
                 "CREATE TABLE SavedLoggerTags (IDLoggerConfig INTEGER, IDOPCServer INTEGER)",
                 "CREATE TABLE SavedOPCServers (IDOPCServer INTEGER PRIMARY KEY, sOPCNode TEXT, sOPCServer TEXT)",
             })
            sql_(sql);
    }
    void sql_(const std::string& s) { db_->execute_utf8(s); }
    // A run of a logger with its data table of rows at the given times.
    void run(int id, int config, const std::string& logger, const std::string& start, const std::string& stop,
             int completed, const std::vector<std::string>& stamps) {
        const std::string table = "Run " + std::to_string(id);
        sql_("INSERT INTO Loggers VALUES (" + std::to_string(id) + ", " + std::to_string(config) + ", '" + logger +
             "', '', '" + start + "', '" + stop + "', " + std::to_string(completed) + ", 0, '" + table + "', 1000, 2)");
        sql_("CREATE TABLE [" + table + "] (LoggerID INTEGER, TS TEXT, V REAL)");
        for (const auto& ts : stamps)
            sql_("INSERT INTO [" + table + "] VALUES (" + std::to_string(id) + ", '" + ts + "', 1.5)");
    }
    int64_t count(const std::string& from_where) {
        ado::Recordset rs;
        rs.set_active_connection(db_);
        rs.open(u16("SELECT COUNT(*) FROM " + from_where), ado::kForwardOnly, ado::kReadOnly, ado::kCmdText);
        return rs.value(ado::Variant::i4(0)).to_i8();
    }
    std::string jet_text() const { return cs_ + ";Jet OLEDB:Engine Type=5"; }

    qvr_test::TempDir dir_;
    std::string path_;
    std::string cs_;
    std::shared_ptr<ado::Connection> db_;
};

TEST_F(ArchiveOnSqlite, WithoutArchivingOldDataGoesAndOnlyFinishedEmptiedRunsLoseTheirRow) {
    // Finished before the cut-off, all data old: everything of it goes.
    run(1, 10, "Boiler", "2024-02-01 08:00:00.000", "2024-02-10 08:00:00.000", 1,
        {"2024-02-01 09:00:00.000", "2024-02-09 09:00:00.000"});
    // Finished after the cut-off: old rows go, the newer rows and the run stay.
    run(2, 11, "Boiler", "2024-02-20 08:00:00.000", "2024-03-05 08:00:00.000", 1,
        {"2024-02-21 09:00:00.000", "2024-03-02 09:00:00.000"});
    // Still recording, though its stop time is old: old rows go, the run row stays.
    run(3, 12, "Boiler", "2024-02-25 08:00:00.000", "2024-02-26 08:00:00.000", 0, {"2024-02-25 09:00:00.000"});
    // Started and stopped before the cut-off, but every data row is newer: all stays.
    run(4, 13, "Boiler", "2024-02-28 08:00:00.000", "2024-02-29 08:00:00.000", 1, {"2024-03-02 09:00:00.000"});
    // Another logger, and a run started after the cut-off: untouched.
    run(5, 15, "Press", "2024-01-01 08:00:00.000", "2024-01-02 08:00:00.000", 1, {"2024-01-01 09:00:00.000"});
    run(6, 13, "Boiler", "2024-03-03 08:00:00.000", "2024-03-04 08:00:00.000", 1, {"2024-02-01 09:00:00.000"});
    sql_("INSERT INTO SavedLoggerConfig VALUES (10, 'a', ''), (11, 'b', ''), (12, 'c', ''), (13, 'd', ''), "
         "(14, 'orphan', ''), (15, 'press', '')");
    sql_("INSERT INTO SavedLoggerTags VALUES (10, 100), (11, 101), (14, 102), (15, 101)");
    sql_("INSERT INTO SavedOPCServers VALUES (100, 'n', 'a'), (101, 'n', 'b'), (102, 'n', 'c'), (103, 'n', 'd')");

    CLogDbDataAcc acc;
    ASSERT_EQ(acc.ArchiveLoggers(u"Boiler", 0, 0, u16(cs_), u16(jet_text()), u"", 0, kCutoff), 0)
        << acc.GetLastErrorText();

    EXPECT_EQ(count("Loggers WHERE IDLogger = 1"), 0);
    EXPECT_EQ(count("[Run 1]"), 0);
    EXPECT_EQ(count("Loggers WHERE IDLogger = 2"), 1);
    EXPECT_EQ(count("[Run 2]"), 1);
    EXPECT_EQ(count("[Run 2] WHERE TS = '2024-03-02 09:00:00.000'"), 1);
    EXPECT_EQ(count("Loggers WHERE IDLogger = 3"), 1);
    EXPECT_EQ(count("[Run 3]"), 0);
    EXPECT_EQ(count("Loggers WHERE IDLogger = 4"), 1);
    EXPECT_EQ(count("[Run 4]"), 1);
    EXPECT_EQ(count("Loggers WHERE IDLogger IN (5, 6)"), 2);
    EXPECT_EQ(count("[Run 5]"), 1);
    EXPECT_EQ(count("[Run 6]"), 1);
    // Configurations of removed runs and those nothing refers to are purged, and with them
    // their tags and the servers no tag names.
    EXPECT_EQ(count("SavedLoggerConfig WHERE IDLoggerConfig IN (10, 14)"), 0);
    EXPECT_EQ(count("SavedLoggerConfig"), 4);
    EXPECT_EQ(count("SavedLoggerTags"), 2);
    EXPECT_EQ(count("SavedOPCServers"), 1);
    EXPECT_EQ(count("SavedOPCServers WHERE IDOPCServer = 101"), 1);

    // A second pass finds nothing more to remove.
    ASSERT_EQ(acc.ArchiveLoggers(u"Boiler", 0, 0, u16(cs_), u16(jet_text()), u"", 0, kCutoff), 0);
    EXPECT_EQ(count("Loggers"), 5);
}

TEST_F(ArchiveOnSqlite, TheArchiveDatabaseIsMadeOnceAndReusedAndAFailedCopyDeletesNothing) {
    run(1, 10, "Boiler", "2024-02-01 08:00:00.000", "2024-02-10 08:00:00.000", 1, {"2024-02-01 09:00:00.000"});
    const std::string archive_path = (dir_ / "archive.db").string();
    const std::string archive_text = "Provider=SQLite.File;Data Source=" + archive_path;
    CLogDbDataAcc acc;
    // SQLite has no SELECT INTO: the archive tables cannot be made from the logger
    // database's, so the first call ends there, after making the archive database.
    EXPECT_EQ(acc.ArchiveLoggers(u"Boiler", 0, 0, u16(cs_), u16(archive_text), u"", 1, kCutoff), kFailed);
    ASSERT_TRUE(std::filesystem::exists(archive_path));
    {
        ado::Connection archive;
        archive.open(u16(archive_text));
        for (const char* t : {"Loggers_Arc", "SavedLoggerConfig_Arc", "SavedLoggerTags_Arc", "SavedOPCServers_Arc",
                              "[Run 1_Arc]"})
            archive.execute_utf8(std::string("CREATE TABLE ") + t + " (x INTEGER)");
        archive.execute_utf8("INSERT INTO Loggers_Arc VALUES (42)");
    }
    // The second call connects to the database made before; the copy through an IN clause
    // fails here, and the run is not deleted.
    EXPECT_EQ(acc.ArchiveLoggers(u"Boiler", 0, 0, u16(cs_), u16(archive_text), u"", 1, kCutoff), kFailed);
    auto archive = std::make_shared<ado::Connection>();
    archive->open(u16(archive_text));
    ado::Recordset rs;
    rs.set_active_connection(archive);
    rs.open(u"SELECT x FROM Loggers_Arc", ado::kForwardOnly, ado::kReadOnly, ado::kCmdText);
    EXPECT_EQ(rs.value(ado::Variant::i4(0)).to_i4(), 42);
    EXPECT_EQ(count("Loggers"), 1);
    EXPECT_EQ(count("[Run 1]"), 1);
}

// The server flavour's data-row and tag-row copies are plain SQL when the archive has no
// database prefix: run for real, a second copy of the same run adds nothing.
TEST_F(ArchiveOnSqlite, CopyingTheSameRunTwiceAddsNothing) {
    using namespace log_stores::archive;
    run(1, 10, "Boiler", "2024-02-01 08:00:00.000", "2024-02-10 08:00:00.000", 1,
        {"2024-02-01 09:00:00.000", "2024-02-02 09:00:00.000", "2024-03-02 09:00:00.000"});
    sql_("CREATE TABLE [Run 1_Arc] (LoggerID INTEGER, TS TEXT, V REAL)");
    sql_("CREATE TABLE SavedLoggerTags_Arc (IDLoggerConfig INTEGER, IDOPCServer INTEGER)");
    sql_("INSERT INTO SavedLoggerTags VALUES (10, 100), (10, 101), (11, 102)");
    ArchiveTarget target;
    target.flavour = Flavour::server;
    const auto copy = [&] {
        ado::Command data;
        data.set_active_connection(db_);
        data.set_command_text(u16(copy_data_rows_statement(target, "Run 1")));
        data.append_parameter(ado::kParamInteger, 4, ado::Variant::i4(1));
        data.append_parameter(ado::kParamDate, 8, ado::Variant::r8(kCutoff));
        ado::Command tags;
        tags.set_active_connection(db_);
        tags.set_command_text(u16(copy_tag_rows_statement(target)));
        tags.append_parameter(ado::kParamInteger, 4, ado::Variant::i4(10));
        tags.append_parameter(ado::kParamInteger, 4, ado::Variant::i4(10));
        return std::pair{data.execute(), tags.execute()};
    };
    EXPECT_EQ(copy(), (std::pair<int64_t, int64_t>{2, 2}));
    EXPECT_EQ(copy(), (std::pair<int64_t, int64_t>{0, 0}));
    EXPECT_EQ(count("[Run 1_Arc]"), 2);
    EXPECT_EQ(count("SavedLoggerTags_Arc"), 2);
}

}  // namespace
