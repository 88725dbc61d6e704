// The archive of a logger database's old runs on the recording driver: the exact statement
// sequences of the file flavour and of the server flavour (archive addressed by prefix, and
// through OPENROWSET), and how failures of each piece end or do not end the archive.
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "log_stores/db_access/log_db_data_acc.h"
#include "platform/ado/text_codec.h"
#include "recording_script.h"

namespace {

using log_stores_test::RecordingScript;

std::u16string u16(const std::string& s) { return ado::utf16_from_utf8(s); }

constexpr double kCutoff = 45352.0;  // 2024-03-01 00:00:00
constexpr const char* kCut = "2024-03-01 00:00:00.000";
constexpr int32_t kFailed = static_cast<int32_t>(0x80004005);
const std::string kSource = "D:/logs/plant.mdb";

// A script made of lines; the statements are kept to check the whole script was used.
class Script {
  public:
    Script& line(const std::string& l) {
        text_ += l + "\n";
        return *this;
    }
    Script& expect(const std::string& sql) {
        ++expected_;
        return line("expect " + sql);
    }
    // The catalog's look-up of one table, with the tables the database holds.
    Script& tables(const std::vector<std::string>& names, const std::string& wanted) {
        expect("SQLTables").line("columns TABLE_CAT:VARCHAR TABLE_SCHEM:VARCHAR TABLE_NAME:VARCHAR TABLE_TYPE:VARCHAR");
        bool found = false;
        for (const auto& n : names) {
            line("row db|dbo|" + n + "|TABLE");
            found = found || n == wanted;
        }
        if (found) expect("SQLColumns " + wanted);
        return *this;
    }
    Script& runs(const std::vector<std::string>& rows) {
        expect("SELECT IDLogger, IDLoggerConfig, sMainTableName FROM   [Loggers] WHERE  (dStartTime < ?) AND (sLogName = ?)");
        line("columns IDLogger:INTEGER IDLoggerConfig:INTEGER sMainTableName:VARCHAR");
        for (const auto& r : rows) line("row " + r);
        return *this;
    }
    const std::string& text() const { return text_; }
    int expected() const { return expected_; }

  private:
    std::string text_;
    int expected_ = 0;
};

// The parameters a statement ran with, as the driver logged them.
std::vector<std::string> parameters_of(const std::string& log, const std::string& sql) {
    std::istringstream in(log);
    std::string l;
    std::vector<std::string> found;
    bool inside = false;
    while (std::getline(in, l)) {
        if (inside && l.rfind("param ", 0) == 0) {
            found.push_back(l.substr(l.find(' ', 6) + 1));
            continue;
        }
        if (inside) break;
        inside = l == "execute " + sql;
    }
    return found;
}

struct Flavour {
    const char* name;
    const char* dbms;
    const char* second_suffix;  // the archive text: the logger database's text and this
    const char* database;
};

const Flavour kJet{"Jet", "ACCESS", ";Jet OLEDB:Engine Type=5", ""};
const Flavour kSameServer{"SameServer", "Microsoft SQL Server", "", "Arch"};
const Flavour kOtherServer{"OtherServer", "Microsoft SQL Server", ";App=Archive", ""};

class ArchiveOnRecorder : public ::testing::Test {
  protected:
    // Runs the archive of logger "Boiler" on a script; the first text names kSource.
    int32_t archive(const Script& script, const Flavour& f, int32_t copy, const std::string& first_extra = "") {
        recorder_ = std::make_unique<RecordingScript>(std::string("dbms ") + f.dbms + "\n" + script.text());
        first_ = recorder_->connection_string() + ";Data Source=" + kSource + first_extra;
        const std::string second = f.second_suffix[0] == 0 && first_extra.empty()
                                       ? first_
                                       : recorder_->connection_string() + ";Data Source=" + kSource + f.second_suffix;
        return acc_.ArchiveLoggers(u"Boiler", 0, 0, u16(first_), u16(second), u16(f.database), copy, kCutoff);
    }
    void expect_whole_script_used(const Script& script) {
        const std::string log = recorder_->log();
        EXPECT_FALSE(recorder_->has_unexpected()) << log;
        std::istringstream in(log);
        std::string l;
        int sent = 0;
        while (std::getline(in, l))
            if (l.rfind("execute ", 0) == 0 || l.rfind("execdirect ", 0) == 0 || l.rfind("catalog ", 0) == 0) ++sent;
        EXPECT_EQ(sent, script.expected()) << "the script was not used up:\n" << log;
    }
    std::string log() const { return recorder_->log(); }

    CLogDbDataAcc acc_;
    std::unique_ptr<RecordingScript> recorder_;
    std::string first_;
};

const std::string kRunColumns =
    "(IDLogger, IDLoggerConfig, sLogName, sComments, dStartTime, dStopTime, bCompleted, nStopReason, sMainTableName, "
    "nLogRate, nParameters)";

void jet_deletes(Script& s, const std::string& table) {
    s.expect("DELETE FROM [" + table + "] WHERE LoggerID = ? AND TS < ?");
    s.expect("DELETE FROM [Loggers] WHERE IDLogger = ? AND bCompleted <> 0 AND NOT EXISTS (SELECT * FROM [" + table +
             "] WHERE LoggerID = ?) AND dStopTime < ?");
}
void jet_purge(Script& s) {
    s.expect("DELETE FROM [SavedLoggerConfig] WHERE IDLoggerConfig NOT IN (SELECT DISTINCT IDLoggerConfig FROM [Loggers])");
    s.expect("DELETE FROM [SavedLoggerTags] WHERE IDLoggerConfig NOT IN (SELECT DISTINCT IDLoggerConfig FROM "
             "[SavedLoggerConfig])");
    s.expect("DELETE FROM [SavedOPCServers] WHERE IDOPCServer NOT IN (SELECT DISTINCT IDOPCServer FROM [SavedLoggerTags])");
}
void server_delete(Script& s, const std::string& table) {
    s.expect("DELETE FROM [" + table + "] WHERE LoggerID = ? AND TS < ? DELETE FROM [Loggers] WHERE IDLogger = ? AND "
             "dStopTime < ? AND bCompleted <> 0 AND NOT EXISTS (SELECT * FROM [" + table + "] WHERE LoggerID = ?)");
}
void server_purge(Script& s) {
    s.expect("DELETE FROM [SavedLoggerConfig] WHERE IDLoggerConfig NOT IN (SELECT DISTINCT IDLoggerConfig FROM "
             "[Loggers]) DELETE FROM [SavedLoggerTags] WHERE IDLoggerConfig NOT IN (SELECT DISTINCT IDLoggerConfig "
             "FROM [SavedLoggerConfig]) DELETE FROM [SavedOPCServers] WHERE IDOPCServer NOT IN (SELECT DISTINCT "
             "IDOPCServer FROM [SavedLoggerTags])");
}

TEST_F(ArchiveOnRecorder, JetFlavourCopiesThroughTheInClauseThenDeletesAndPurges) {
    const std::string in = " IN " + kSource;
    Script s;
    s.tables({"Loggers_Arc"}, "Loggers_Arc");
    for (const std::string t : {"SavedLoggerConfig", "SavedLoggerTags", "SavedOPCServers"})
        s.tables({"Loggers_Arc"}, t + "_Arc").expect("SELECT * INTO [" + t + "_Arc] FROM [" + t + "]" + in + " WHERE 1=0");
    s.runs({"7|3|Run_7", "8|4|Run_8"});
    for (const std::string t : {"Run_7", "Run_8"}) {
        if (t == "Run_7")
            s.tables({"Loggers_Arc"}, t + "_Arc").expect("SELECT * INTO [" + t + "_Arc] FROM [" + t + "]" + in + " WHERE 1=0");
        else
            s.tables({"Run_8_Arc"}, "Run_8_Arc");
        s.expect("INSERT INTO [" + t + "_Arc] SELECT * FROM [" + t + "]" + in +
                 " WHERE LoggerID = ? AND TS < ? AND LoggerID NOT IN (SELECT DISTINCT LoggerID FROM [" + t + "_Arc])");
        s.expect("INSERT INTO [Loggers_Arc] " + kRunColumns + " SELECT * FROM [Loggers]" + in +
                 " WHERE IDLogger = ? AND IDLogger NOT IN (SELECT DISTINCT IDLogger FROM [Loggers_Arc])");
        s.expect("INSERT INTO [SavedLoggerConfig_Arc] (IDLoggerConfig, sName, sDescription) SELECT * FROM "
                 "[SavedLoggerConfig]" + in + " WHERE IDLoggerConfig = ? AND NOT EXISTS (SELECT * FROM "
                 "[SavedLoggerConfig_Arc] WHERE IDLoggerConfig = ?)");
        s.expect("INSERT INTO [SavedLoggerTags_Arc] SELECT * FROM [SavedLoggerTags]" + in +
                 " WHERE IDLoggerConfig = ? AND NOT EXISTS (SELECT * FROM [SavedLoggerTags_Arc] WHERE IDLoggerConfig = ?)");
        s.expect("INSERT INTO [SavedOPCServers_Arc] (IDOPCServer, sOPCNode, sOPCServer) SELECT * FROM [SavedOPCServers]" +
                 in + " WHERE IDOPCServer IN (SELECT DISTINCT IDOPCServer FROM [SavedLoggerTags_Arc] WHERE "
                 "IDLoggerConfig = ?) AND IDOPCServer NOT IN (SELECT IDOPCServer FROM [SavedOPCServers_Arc])");
    }
    jet_deletes(s, "Run_7");
    jet_deletes(s, "Run_8");
    jet_purge(s);
    EXPECT_EQ(archive(s, kJet, 1), 0) << acc_.GetLastErrorText();
    expect_whole_script_used(s);
    const std::string l = log();
    EXPECT_EQ(parameters_of(l, "SELECT IDLogger, IDLoggerConfig, sMainTableName FROM   [Loggers] WHERE  (dStartTime < ?) "
                               "AND (sLogName = ?)"),
              (std::vector<std::string>{kCut, "'Boiler'"}));
    EXPECT_EQ(parameters_of(l, "INSERT INTO [Run_8_Arc] SELECT * FROM [Run_8]" + in +
                                   " WHERE LoggerID = ? AND TS < ? AND LoggerID NOT IN (SELECT DISTINCT LoggerID FROM "
                                   "[Run_8_Arc])"),
              (std::vector<std::string>{"8", kCut}));
    EXPECT_EQ(parameters_of(l, "DELETE FROM [Loggers] WHERE IDLogger = ? AND bCompleted <> 0 AND NOT EXISTS (SELECT * "
                               "FROM [Run_7] WHERE LoggerID = ?) AND dStopTime < ?"),
              (std::vector<std::string>{"7", "7", kCut}));
}

TEST_F(ArchiveOnRecorder, SameServerCopiesByDatabasePrefixWithIdentityInsertion) {
    const std::string p = "[Arch].dbo.";
    const auto on_off = [&](const std::string& table, const std::string& insert) {
        return "SET IDENTITY_INSERT " + p + "[" + table + "] ON " + insert + " SET IDENTITY_INSERT " + p + "[" + table +
               "] OFF";
    };
    Script s;
    for (const std::string t : {"Loggers", "SavedLoggerConfig", "SavedLoggerTags", "SavedOPCServers"})
        s.tables({"Loggers"}, t + "_Arc").expect("SELECT * INTO " + p + "[" + t + "_Arc] FROM [" + t + "] WHERE 1=0");
    s.runs({"7|3|Run_7"});
    s.tables({"Run_7_Arc"}, "Run_7_Arc");
    s.expect("INSERT INTO " + p + "[Run_7_Arc] SELECT * FROM [Run_7] WHERE LoggerID = ? AND TS < ? AND LoggerID NOT IN "
             "(SELECT DISTINCT LoggerID FROM " + p + "[Run_7_Arc])");
    s.expect(on_off("Loggers_Arc", "INSERT INTO " + p + "[Loggers_Arc] " + kRunColumns + " SELECT * FROM [Loggers] WHERE "
                    "IDLogger = ? AND IDLogger NOT IN (SELECT DISTINCT IDLogger FROM " + p + "[Loggers_Arc])"));
    s.expect(on_off("SavedLoggerConfig_Arc", "INSERT INTO " + p + "[SavedLoggerConfig_Arc] (IDLoggerConfig, sName, "
                    "sDescription) SELECT * FROM [SavedLoggerConfig] WHERE IDLoggerConfig = ? AND NOT EXISTS (SELECT * "
                    "FROM " + p + "[SavedLoggerConfig_Arc] WHERE IDLoggerConfig = ?)"));
    s.expect("INSERT INTO " + p + "[SavedLoggerTags_Arc] SELECT * FROM [SavedLoggerTags] WHERE IDLoggerConfig = ? AND "
             "NOT EXISTS (SELECT * FROM " + p + "[SavedLoggerTags_Arc] WHERE IDLoggerConfig = ?)");
    s.expect(on_off("SavedOPCServers_Arc", "INSERT INTO " + p + "[SavedOPCServers_Arc] (IDOPCServer, sOPCNode, "
                    "sOPCServer) SELECT * FROM [SavedOPCServers] WHERE IDOPCServer IN (SELECT DISTINCT IDOPCServer FROM " +
                    p + "[SavedLoggerTags_Arc] WHERE IDLoggerConfig = ?) AND IDOPCServer NOT IN (SELECT IDOPCServer "
                    "FROM " + p + "[SavedOPCServers_Arc])"));
    server_delete(s, "Run_7");
    server_purge(s);
    EXPECT_EQ(archive(s, kSameServer, 1), 0) << acc_.GetLastErrorText();
    expect_whole_script_used(s);
    EXPECT_EQ(parameters_of(log(), "DELETE FROM [Run_7] WHERE LoggerID = ? AND TS < ? DELETE FROM [Loggers] WHERE "
                                   "IDLogger = ? AND dStopTime < ? AND bCompleted <> 0 AND NOT EXISTS (SELECT * FROM "
                                   "[Run_7] WHERE LoggerID = ?)"),
              (std::vector<std::string>{"7", kCut, "7", kCut, "7"}));
}

TEST_F(ArchiveOnRecorder, OtherServerWritesThroughOpenrowsetOnTheLoggerDatabasesText) {
    // The logger database's text goes into the OPENROWSET literal: shortened key names, the
    // file database's password key kept whole, and its apostrophe doubled.
    const std::string extra = ";User ID=ops;Password=it's;Jet OLEDB:Database Password=dbpw";
    Script s;
    std::string first;  // the recorder's folder is in it, so it is known once that is made
    const auto rowset = [&](const std::string& table) {
        return "OPENROWSET ('MSDASQL', '" + first + "', [recorded].dbo.[" + table + "])";
    };
    const auto build = [&](Script& out) {
        for (const std::string t : {"Loggers", "SavedLoggerConfig", "SavedLoggerTags", "SavedOPCServers"})
            out.tables({}, t + "_Arc").expect("SELECT * INTO " + rowset(t + "_Arc") + " FROM [" + t + "] WHERE 1=0");
        out.runs({"7|3|Run_7"});
        out.tables({"Run_7_Arc"}, "Run_7_Arc");
        out.expect("INSERT INTO " + rowset("Run_7_Arc") + " SELECT * FROM [Run_7] WHERE LoggerID = ? AND TS < ? AND "
                   "LoggerID NOT IN (SELECT DISTINCT LoggerID FROM " + rowset("Run_7_Arc") + ")");
        out.expect("INSERT INTO " + rowset("Loggers_Arc") + " " + kRunColumns + " SELECT * FROM [Loggers] WHERE IDLogger "
                   "= ? AND IDLogger NOT IN (SELECT DISTINCT IDLogger FROM " + rowset("Loggers_Arc") + ")");
        out.expect("INSERT INTO " + rowset("SavedLoggerConfig_Arc") + " (IDLoggerConfig, sName, sDescription) SELECT * "
                   "FROM [SavedLoggerConfig] WHERE IDLoggerConfig = ? AND NOT EXISTS (SELECT * FROM " +
                   rowset("SavedLoggerConfig_Arc") + " WHERE IDLoggerConfig = ?)");
        out.expect("INSERT INTO " + rowset("SavedLoggerTags_Arc") + " SELECT * FROM [SavedLoggerTags] WHERE "
                   "IDLoggerConfig = ? AND NOT EXISTS (SELECT * FROM " + rowset("SavedLoggerTags_Arc") +
                   " WHERE IDLoggerConfig = ?)");
        out.expect("INSERT INTO " + rowset("SavedOPCServers_Arc") + " (IDOPCServer, sOPCNode, sOPCServer) SELECT * "
                   "FROM [SavedOPCServers] WHERE IDOPCServer IN (SELECT DISTINCT IDOPCServer FROM " +
                   rowset("SavedLoggerTags_Arc") + " WHERE IDLoggerConfig = ?) AND IDOPCServer NOT IN (SELECT "
                   "IDOPCServer FROM " + rowset("SavedOPCServers_Arc") + ")");
        server_delete(out, "Run_7");
        server_purge(out);
    };
    // The recorder's folder is made with the script: make it, then write the real script there.
    recorder_ = std::make_unique<RecordingScript>("");
    const std::string base = recorder_->connection_string();
    const std::string script_path = base.substr(base.find(";Script=") + 8, base.find(";Log=") - base.find(";Script=") - 8);
    first = base + ";Data Source=" + kSource + ";uid=ops;pwd=it''s;Jet OLEDB:Database Password=dbpw";
    build(s);
    {
        std::ofstream(script_path) << "dbms Microsoft SQL Server\n" << s.text();
    }
    const std::string first_text = base + ";Data Source=" + kSource + extra;
    const std::string second_text = base + ";Data Source=" + kSource + ";App=Archive";
    EXPECT_EQ(acc_.ArchiveLoggers(u"Boiler", 0, 0, u16(first_text), u16(second_text), u"", 1, kCutoff), 0)
        << acc_.GetLastErrorText();
    expect_whole_script_used(s);
}

class ArchiveZero : public ArchiveOnRecorder, public ::testing::WithParamInterface<const Flavour*> {};

// Without archiving there is no catalog work and no copy: the selected runs are deleted
// (a run without a data table is skipped) and the configuration purged.
TEST_P(ArchiveZero, DeletesAndPurgesOnly) {
    const Flavour& f = *GetParam();
    const bool jet = &f == &kJet;
    Script s;
    s.runs({"9|5|Run_9", "4|5|NULL", "2|5|Run_2"});
    for (const std::string t : {"Run_2", "Run_9"}) jet ? jet_deletes(s, t) : server_delete(s, t);
    jet ? jet_purge(s) : server_purge(s);
    EXPECT_EQ(archive(s, f, 0), 0) << acc_.GetLastErrorText();
    expect_whole_script_used(s);
}

INSTANTIATE_TEST_SUITE_P(Flavours, ArchiveZero, ::testing::Values(&kJet, &kSameServer, &kOtherServer),
                         [](const auto& p) { return std::string(p.param->name); });

TEST_F(ArchiveOnRecorder, ATableNameFromTheDatabaseIsQuotedBeforeItEntersAStatement) {
    Script s;
    s.runs({"7|3|Run]; DROP TABLE Loggers --"});
    server_delete(s, "Run]]; DROP TABLE Loggers --");
    server_purge(s);
    EXPECT_EQ(archive(s, kSameServer, 0), 0) << acc_.GetLastErrorText();
    expect_whole_script_used(s);
}

TEST_F(ArchiveOnRecorder, AFailedDeleteFinishesTheOtherRunsAndThePurgeThenFails) {
    Script s;
    s.runs({"1|5|Run_1", "2|5|Run_2"});
    server_delete(s, "Run_1");
    s.line("error 40001 1205 deadlock victim");
    server_delete(s, "Run_2");
    server_purge(s);
    EXPECT_EQ(archive(s, kSameServer, 0), kFailed);
    expect_whole_script_used(s);
}

TEST_F(ArchiveOnRecorder, AFailedPurgeIsReported) {
    Script s;
    s.runs({"1|5|Run_1"});
    jet_deletes(s, "Run_1");
    jet_purge(s);
    s.line("error 42000 0 the table is locked");
    EXPECT_EQ(archive(s, kJet, 0), kFailed);
    expect_whole_script_used(s);
}

TEST_F(ArchiveOnRecorder, AFailedCopyStopsBeforeAnythingOfThatRunIsDeleted) {
    const std::string p = "[Arch].dbo.";
    Script s;
    for (const std::string t : {"Loggers", "SavedLoggerConfig", "SavedLoggerTags", "SavedOPCServers"})
        s.tables({t + "_Arc"}, t + "_Arc");
    s.runs({"7|3|Run_7"});
    s.tables({"Run_7_Arc"}, "Run_7_Arc");
    s.expect("INSERT INTO " + p + "[Run_7_Arc] SELECT * FROM [Run_7] WHERE LoggerID = ? AND TS < ? AND LoggerID NOT IN "
             "(SELECT DISTINCT LoggerID FROM " + p + "[Run_7_Arc])");
    s.line("error 42000 0 the archive is full");
    EXPECT_EQ(archive(s, kSameServer, 1), kFailed);
    expect_whole_script_used(s);
}

TEST_F(ArchiveOnRecorder, AnArchiveTableThatCannotBeMadeEndsTheArchive) {
    Script s;
    s.tables({}, "Loggers_Arc").expect("SELECT * INTO [Loggers_Arc] FROM [Loggers] IN " + kSource + " WHERE 1=0");
    s.line("error 42000 0 no such table");
    EXPECT_EQ(archive(s, kJet, 1), kFailed);
    expect_whole_script_used(s);
}

TEST_F(ArchiveOnRecorder, AFailedSelectionIsCapturedIntoTheErrorText) {
    Script s;
    s.runs({});
    s.line("error 42S02 208 Invalid object name 'Loggers'.");
    EXPECT_EQ(archive(s, kSameServer, 0), kFailed);
    EXPECT_NE(std::string(acc_.GetLastErrorText()).find("Invalid object name"), std::string::npos)
        << acc_.GetLastErrorText();
}

TEST_F(ArchiveOnRecorder, ALoggerNameLongerThanItsParameterIsRefused) {
    recorder_ = std::make_unique<RecordingScript>("dbms Microsoft SQL Server\n");
    const std::string cs = recorder_->connection_string();
    EXPECT_EQ(acc_.ArchiveLoggers(std::u16string(51, u'x'), 0, 0, u16(cs), u16(cs), u"", 0, kCutoff), kFailed);
    EXPECT_FALSE(recorder_->has_unexpected()) << recorder_->log();
}

}  // namespace
