// Merge replication of a database collection, against the recording driver posing as SQL
// Server: the statements of a set-up and of its removal, the answers they follow, and the
// checks of the target connection string.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "db_schema_fixtures.h"
#include "log_stores/db_collection/db_collection.h"
#include "platform/host_identity.h"
#include "platform/last_error.h"
#include "support/temp_dir.h"

namespace {

using log_stores::CLogDbCollection;

constexpr std::uint32_t kReadWrite = log_stores::kGenericRead | log_stores::kGenericWrite;

const std::string kLoggersColumns =
    "columns sLoggerName:CHAR nLoggerSequence:INTEGER dStartTime:DATETIME dStopTime:DATETIME bCompleted:INTEGER "
    "sTablePrefix:CHAR sHeader:CHAR bTagColumns:INTEGER bRowsPerChannel:INTEGER bDST:INTEGER nTimeZone:INTEGER "
    "bSigChange:INTEGER sTriggerPrefix:CHAR nTriggerNumber:INTEGER sLagPrefix:CHAR nLagNumber:INTEGER "
    "dTextTime:DATETIME\n";
const std::string kOpenExisting =
    "dbms Microsoft SQL Server\nexpect SELECT * FROM [LOGGERS] WHERE 1=0\n" + kLoggersColumns;

const std::string kOwn = "Provider=SQLOLEDB;Data Source=PLANT1;Initial Catalog=Logs;User ID=u;Password=p";
const std::string kTarget = "Provider=SQLOLEDB;Data Source=PLANT2;Initial Catalog=Copy;User ID=u;Password=p";

// The SQL Server provider passes on only its own keys, so the driver finds its script and
// log through the environment; every connection of the case shares the one script.
class SqlServerRecorder {
  public:
    explicit SqlServerRecorder(const std::string& script) {
        std::ofstream(dir_ / "script.txt") << script;
        setenv("QUORVANE_ODBC_FREETDS", RECORDER_DRIVER, 1);
        setenv("RECORDER_SCRIPT", (dir_ / "script.txt").c_str(), 1);
        setenv("RECORDER_LOG", (dir_ / "log.txt").c_str(), 1);
    }
    std::string log() const {
        std::ifstream in(dir_ / "log.txt");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The statements sent, in order.
    std::vector<std::string> statements() const {
        std::vector<std::string> out;
        std::istringstream in(log());
        for (std::string line; std::getline(in, line);)
            if (line.rfind("execdirect ", 0) == 0) out.push_back(line.substr(11));
        return out;
    }
    bool has_unexpected() const { return log().find("UNEXPECTED") != std::string::npos; }

  private:
    qvr_test::TempDir dir_;
};

std::string expect(const std::string& statement) { return "expect " + statement + "\n"; }
std::string refuse(const std::string& statement, const std::string& text) {
    return expect(statement) + "error 42000 20000 " + text + "\n";
}

// The statements, as the server is to see them.
std::string drop_subscription(const std::string& p) {
    return "exec sp_dropmergesubscription @publication = N'" + p +
           "', @subscriber = N'PLANT2', @subscriber_db = N'Copy', @subscription_type = N'push'";
}
std::string drop_publication(const std::string& p) {
    return "exec sp_dropmergepublication @publication = N'" + p + "'";
}
std::string cleanup(const std::string& p, const std::string& publisher, const std::string& db = "Logs") {
    return "exec sp_mergesubscription_cleanup @publication = N'" + p + "', @publisher = N'" + publisher +
           "', @publisher_db = N'" + db + "'";
}
std::vector<std::string> undo(const std::string& p, const std::string& publisher = "PLANT1") {
    return {drop_subscription(p), drop_publication(p), cleanup(p, publisher)};
}
std::string s1(const std::string& p, const std::string& logger) {
    return "exec sp_addmergepublication @publication = N'" + p + "', @description = N'Merge publication of " +
           logger +
           " logger database.', @retention = 14, @sync_mode = N'native', @allow_push = N'true', @allow_pull = "
           "N'true', @allow_anonymous = N'true', @enabled_for_internet = N'false', @centralized_conflicts = "
           "N'true', @dynamic_filters = N'false', @snapshot_in_defaultfolder = N'true', @compress_snapshot = "
           "N'false', @ftp_port = 21, @conflict_retention = 14, @keep_partition_changes = N'false', "
           "@allow_subscription_copy = N'false', @allow_synctoalternate = N'false', @add_to_active_directory = "
           "N'false', @max_concurrent_merge = 0, @max_concurrent_dynamic_snapshots = 0";
}
std::string s2(const std::string& p, const std::string& logger) {
    return s1(p, logger) +
           ",@use_partition_groups = null, @publication_compatibility_level = N'90RTM', @replicate_ddl = 1, "
           "@allow_subscriber_initiated_snapshot = N'false', @allow_web_synchronization = N'false', "
           "@allow_partition_realignment = N'true', @retention_period_unit = N'days', @conflict_logging = "
           "N'both', @automatic_reinitialization_policy = 0";
}
const std::string kMergePublish =
    "exec sp_replicationdboption @dbname = N'Logs', @optname = N'merge publish', @value = N'true'";
std::string snapshot_agent(const std::string& p) {
    return "exec sp_addpublication_snapshot @publication = N'" + p +
           "',@frequency_type = 1, @frequency_interval = 1, @frequency_relative_interval = 0, "
           "@frequency_recurrence_factor = 1, @frequency_subday = 1, @frequency_subday_interval = 0, "
           "@active_start_date = 20050101, @active_end_date = 99991231, @active_start_time_of_day = 0, "
           "@active_end_time_of_day = 235959";
}
std::string article(const std::string& p, const std::string& word, const std::string& table) {
    return "exec sp_addmergearticle @publication = N'" + p + "', @article = N'" + p + word +
           "', @source_owner = N'dbo', @source_object = N'" + table +
           "', @type = N'table', @description = null, @status = N'unsynced', @column_tracking = N'true', "
           "@pre_creation_cmd = N'drop', @creation_script = null, @schema_option = 0x000000000000CFF1, "
           "@article_resolver = null, @subset_filterclause = null, @vertical_partition = N'false', "
           "@auto_identity_range = N'false', @verify_resolver_signature = 0, @allow_interactive_resolver = "
           "N'false', @fast_multicol_updateproc = N'true', @check_permissions = 0, @force_invalidate_snapshot = 1";
}
std::string help_publication(const std::string& p) {
    return "exec sp_helpmergepublication @publication = N'" + p + "'";
}
// Job ids come back as binary; the driver hands out the bytes of the row text ("AB" = 0x4142).
const std::string kSnapshotJob = "0x534e4150";  // "SNAP"
const std::string kMergeJob = "0x4d524745";     // "MRGE"
const std::string kStartSnapshot = "exec msdb..sp_start_job @job_id = " + kSnapshotJob;
const std::string kHelpJob = "exec msdb..sp_help_job @job_id = " + kSnapshotJob + ", @job_aspect = N'job'";
std::string subscription(const std::string& p) {
    return "exec sp_addmergesubscription @publication = N'" + p +
           "', @subscriber = N'PLANT2', @subscriber_db = N'Copy', @subscription_type = N'push', @subscriber_type = "
           "N'local', @subscription_priority = 0.000000, @sync_type = N'automatic', @frequency_type = 4, "
           "@frequency_interval = 1, @frequency_relative_interval = 2, @frequency_recurrence_factor = 0, "
           "@frequency_subday = 4, @frequency_subday_interval = 1, @active_start_date = 0, @active_end_date = "
           "99991231, @active_start_time_of_day = 0, @active_end_time_of_day = 235900, @enabled_for_syncmgr = "
           "N'false', @offloadagent = 0, @use_interactive_resolver = N'false'";
}
std::string help_subscription(const std::string& p) {
    return "exec sp_helpmergesubscription @subscription_type = N'both', @publication = N'" + p + "'";
}

// Script lines answering the queries of a set-up.
std::string publication_info(const std::string& p) {
    return expect(help_publication(p)) + "columns name:VARCHAR snapshot_jobid:VARBINARY\nrow " + p + "|SNAP\n";
}
std::string job_outcome(int outcome) {
    return expect(kHelpJob) + "columns name:VARCHAR last_run_outcome:INTEGER\nrow snapshot|" +
           std::to_string(outcome) + "\n";
}
std::string subscription_info(const std::string& p, const std::string& columns = "merge_jobid:VARBINARY") {
    return expect(help_subscription(p)) + "columns subscriber:VARCHAR " + columns + "\nrow PLANT2|MRGE\n";
}
std::string script_of(const std::vector<std::string>& statements) {
    std::string out;
    for (const auto& s : statements) out += expect(s);
    return out;
}
std::vector<std::string> operator+(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Replication : public ::testing::Test {
  protected:
    // Opens `logger` on the recorder with `script` after the open's own steps.
    void open(const std::string& script, const std::string& logger = "Line1", const std::string& own = kOwn,
              const std::string& open_steps = kOpenExisting) {
        recorder_ = std::make_unique<SqlServerRecorder>(open_steps + script);
        ASSERT_EQ(collection_.Open(own.c_str(), "", logger.c_str(), "", kReadWrite), 0) << recorder_->log();
        collection_.SetReplicationWait([this](std::chrono::milliseconds pause) { waits_.push_back(pause); });
    }
    // The statements after the open's, and the script used up exactly.
    std::vector<std::string> sent_after(std::size_t skipped) const {
        auto all = recorder_->statements();
        EXPECT_FALSE(recorder_->has_unexpected()) << recorder_->log();
        if (all.size() < skipped) return {};
        return {all.begin() + static_cast<std::ptrdiff_t>(skipped), all.end()};
    }

    std::unique_ptr<SqlServerRecorder> recorder_;
    CLogDbCollection collection_;
    std::vector<std::chrono::milliseconds> waits_;
};

TEST_F(Replication, TheFirstSetUpOfTheLoggersTableSendsTheWholeSequence) {
    // LOGGERS is made by this open, so switching replication on publishes it at once.
    const std::string open_steps = "dbms Microsoft SQL Server\nexpect SELECT * FROM [LOGGERS] WHERE 1=0\n"
                                   "error 42S02 208 Invalid object name 'LOGGERS'.\n"
                                   "expect~ CREATE TABLE LOGGERS *\n"
                                   "expect~ *LOGGERS*\n";
    const std::string p = "Line1";
    const std::vector<std::string> golden =
        undo(p) + std::vector<std::string>{s1(p, p), snapshot_agent(p), article(p, "DATA", "LOGGERS"),
                                           help_publication(p), kStartSnapshot, kHelpJob, kHelpJob, kHelpJob,
                                           subscription(p), help_subscription(p), "use master",
                                           "exec msdb..sp_start_job @job_id = " + kMergeJob, "use Logs"};
    open(script_of(undo(p)) + expect(s1(p, p)) + expect(snapshot_agent(p)) +
             expect(article(p, "DATA", "LOGGERS")) + publication_info(p) + expect(kStartSnapshot) + job_outcome(5) +
             job_outcome(5) + job_outcome(1) + expect(subscription(p)) + subscription_info(p) +
             expect("use master") + expect("exec msdb..sp_start_job @job_id = " + kMergeJob) + expect("use Logs"),
         p, kOwn, open_steps);
    ASSERT_TRUE(collection_.made_loggers_table());
    EXPECT_EQ(collection_.SetReplicationTarget(kTarget.c_str(), false, 0), 0) << collection_.GetErrorContext();
    EXPECT_EQ(sent_after(3), golden);  // after the probe, CREATE TABLE and its key
    EXPECT_EQ(collection_.IsReplicationIncomplete(), 0) << collection_.GetErrorContext() << collection_.GetErrorText();
    EXPECT_TRUE(collection_.IsReplicationOn());
    EXPECT_EQ(waits_, (std::vector<std::chrono::milliseconds>(2, std::chrono::milliseconds(1000))));
}

TEST_F(Replication, ARunPublishesItsThreeTablesAndTheMergeJobMayComeAsJobId) {
    const std::string p = "Line1_00000006_";
    open(script_of(undo(p)) + expect(s1(p, "Line1")) + expect(snapshot_agent(p)) +
         expect(article(p, "DATA", p + "DATA")) + expect(article(p, "CHANNELS", p + "CHANNELS")) +
         expect(article(p, "TEXT", p + "TEXT")) + publication_info(p) + expect(kStartSnapshot) + job_outcome(1) +
         expect(subscription(p)) + subscription_info(p, "job_id:VARBINARY") + expect("use master") +
         expect("exec msdb..sp_start_job @job_id = " + kMergeJob) + expect("use Logs"));
    ASSERT_EQ(collection_.SetReplicationTarget(kTarget.c_str(), false, 0), 0);
    collection_.SetUpReplication(p, true, false);
    EXPECT_EQ(collection_.IsReplicationIncomplete(), 0) << collection_.GetErrorContext() << collection_.GetErrorText();
    const auto sent = sent_after(1);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), "use Logs");
    EXPECT_TRUE(waits_.empty());
}

TEST_F(Replication, ARefusedPublicationIsTriedWithTheNewerOptionsThenAfterEnablingTheDatabase) {
    const std::string p = "Line1_00000006_";
    struct Case {
        const char* name;
        std::string answers;
        std::vector<std::string> sent;
        int incomplete;
        const char* context;
    };
    const std::string refusal = "The database is not enabled for publishing.";
    const Case cases[] = {
        {"the first form after enabling",
         refuse(s1(p, "Line1"), refusal) + refuse(s2(p, "Line1"), refusal) + expect(kMergePublish) +
             expect(s1(p, "Line1")) + refuse(snapshot_agent(p), "agent refused"),
         {s1(p, "Line1"), s2(p, "Line1"), kMergePublish, s1(p, "Line1"), snapshot_agent(p)},
         1,
         "CAN'T ADD PUBLICATION SNAPSHOT"},
        {"the newer form at once",
         refuse(s1(p, "Line1"), refusal) + expect(s2(p, "Line1")) + refuse(snapshot_agent(p), "agent refused"),
         {s1(p, "Line1"), s2(p, "Line1"), snapshot_agent(p)},
         1,
         "CAN'T ADD PUBLICATION SNAPSHOT"},
        {"refused every way",
         refuse(s1(p, "Line1"), refusal) + refuse(s2(p, "Line1"), refusal) +
             refuse(kMergePublish, "no permission") + refuse(s1(p, "Line1"), refusal) +
             refuse(s2(p, "Line1"), "Still " + refusal),
         {s1(p, "Line1"), s2(p, "Line1"), kMergePublish, s1(p, "Line1"), s2(p, "Line1")},
         1,
         "CAN'T ADD PUBLICATION"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        recorder_.reset();
        CLogDbCollection collection;
        recorder_ = std::make_unique<SqlServerRecorder>(kOpenExisting + script_of(undo(p)) + c.answers);
        ASSERT_EQ(collection.Open(kOwn.c_str(), "", "Line1", "", kReadWrite), 0) << recorder_->log();
        ASSERT_EQ(collection.SetReplicationTarget(kTarget.c_str(), false, 0), 0);
        collection.SetUpReplication(p, false, false);
        EXPECT_EQ(sent_after(1), undo(p) + c.sent);
        EXPECT_EQ(collection.IsReplicationIncomplete(), c.incomplete);
        EXPECT_STREQ(collection.GetErrorContext(), c.context);
        // The last refusal's text is kept with the context.
        if (std::string(c.context) == "CAN'T ADD PUBLICATION") {
            EXPECT_NE(std::string(collection.GetErrorText()).find("Still"), std::string::npos);
        }
    }
}

TEST_F(Replication, AnArticleRefusedWithAWarningIsTakenAndAnyOtherRefusalEndsTheSetUp) {
    const std::string p = "Line1_00000006_";
    open(script_of(undo(p)) + expect(s1(p, "Line1")) + expect(snapshot_agent(p)) +
         refuse(article(p, "DATA", p + "DATA"),
                "warning: only members of the sysadmin role may add articles with this option.") +
         refuse(article(p, "CHANNELS", p + "CHANNELS"), "Invalid object name 'Line1_00000006_CHANNELS'."));
    ASSERT_EQ(collection_.SetReplicationTarget(kTarget.c_str(), false, 0), 0);
    collection_.SetUpReplication(p, true, false);
    const auto sent = sent_after(1);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back(), article(p, "CHANNELS", p + "CHANNELS"));  // no TEXT article, no job
    EXPECT_EQ(collection_.IsReplicationIncomplete(), 1);
    EXPECT_STREQ(collection_.GetErrorContext(), "CAN'T ADD PUBLICATION ARTICLE");
    EXPECT_NE(std::string(collection_.GetErrorText()).find("Invalid object name"), std::string::npos);
}

TEST_F(Replication, ASnapshotThatNeverFinishesEndsTheSetUpAfterSixtyWaits) {
    const std::string p = "Line1_00000006_";
    std::string polls;
    for (int i = 0; i < 60; ++i) polls += job_outcome(5);
    open(script_of(undo(p)) + expect(s1(p, "Line1")) + expect(snapshot_agent(p)) +
         expect(article(p, "DATA", p + "DATA")) + expect(article(p, "CHANNELS", p + "CHANNELS")) +
         publication_info(p) + expect(kStartSnapshot) + polls);
    ASSERT_EQ(collection_.SetReplicationTarget(kTarget.c_str(), false, 0), 0);
    collection_.SetUpReplication(p, false, false);
    const auto sent = sent_after(1);
    EXPECT_EQ(std::count(sent.begin(), sent.end(), kHelpJob), 60);
    EXPECT_EQ(sent.back(), kHelpJob);  // no subscription
    EXPECT_EQ(waits_, (std::vector<std::chrono::milliseconds>(60, std::chrono::milliseconds(1000))));
    EXPECT_EQ(collection_.IsReplicationIncomplete(), 1);
    EXPECT_STREQ(collection_.GetErrorContext(), "SNAPSHOT DID NOT RUN");
}

TEST_F(Replication, PruningWithKeepCountTwoRemovesTheFourthNewestRunAndOlderOfTheSameLogger) {
    const std::string p = "Line1_00000006_";
    const std::string runs =
        "expect~ select nLoggerSequence, dStartTime, dStopTime, bCompleted, sTablePrefix from LOGGERS where "
        "sLoggerName = *Line1* order by dStartTime Desc\n"
        "columns nLoggerSequence:INTEGER dStartTime:DATETIME dStopTime:DATETIME bCompleted:INTEGER "
        "sTablePrefix:CHAR\n"
        "row 6|2024-03-06 10:00:00.000|NULL|0|Line1_00000006_\n"
        "row 5|2024-03-05 10:00:00.000|2024-03-05 11:00:00.000|1|Line1_00000005_\n"
        "row 4|2024-03-04 10:00:00.000|2024-03-04 11:00:00.000|1|Line1_00000004_\n"
        "row 3|2024-03-03 10:00:00.000|2024-03-03 11:00:00.000|1|Line1_00000003_\n"
        "row 2|2024-03-02 10:00:00.000|2024-03-02 11:00:00.000|1|Line1_00000002_\n";
    const std::string publications =
        "expect exec sp_helpmergepublication\ncolumns name:VARCHAR description:VARCHAR\n"
        "row Line1_00000002_|x\nrow Line1_00000004_|x\nrow Line1_00000003_|x\nrow Line1|x\n"
        "row Line2_00000001_|x\nrow Line1_00000006_|x\n";
    open(script_of(undo(p)) + runs + publications + script_of(undo("Line1_00000002_")) +
         script_of(undo("Line1_00000003_")) + refuse(s1(p, "Line1"), "x") + refuse(s2(p, "Line1"), "x") +
         expect(kMergePublish) + refuse(s1(p, "Line1"), "x") + refuse(s2(p, "Line1"), "x"));
    ASSERT_EQ(collection_.SetReplicationTarget(kTarget.c_str(), true, 2), 0);
    collection_.SetUpReplication(p, false, false);
    const auto sent = sent_after(1);
    const std::vector<std::string> pruned(sent.begin() + 5, sent.begin() + 11);
    EXPECT_EQ(pruned, undo("Line1_00000002_") + undo("Line1_00000003_"));
    EXPECT_STREQ(collection_.GetErrorContext(), "CAN'T ADD PUBLICATION");
}

TEST_F(Replication, UndoingSendsTheDropsOnTheOwnDatabaseAndTheCleanUpOnTheTarget) {
    struct Case {
        const char* name;
        std::string ownSource;
        std::string publisher;
    };
    const Case cases[] = {
        {"this machine by name", "localhost", platform::computer_name()},
        {"this machine as a dot", ".", platform::computer_name()},
        {"another server, cut to 16 characters", "PLANTSERVER-NORTH-1", "PLANTSERVER-NORT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CLogDbCollection collection;
        const std::string own = "Provider=SQLOLEDB;Data Source=" + c.ownSource + ";Initial Catalog=Logs";
        recorder_ = std::make_unique<SqlServerRecorder>(
            kOpenExisting + expect(drop_subscription("Line1_00000004_")) +
            "error 42000 14055 The subscription does not exist.\n" + expect(drop_publication("Line1_00000004_")) +
            expect(cleanup("Line1_00000004_", c.publisher)));
        ASSERT_EQ(collection.Open(own.c_str(), "", "Line1", "", kReadWrite), 0) << recorder_->log();
        ASSERT_EQ(collection.SetReplicationTarget(kTarget.c_str(), false, 0), 0) << collection.GetErrorContext();
        collection.UndoReplication("Line1_00000004_");
        EXPECT_EQ(sent_after(1), undo("Line1_00000004_", c.publisher));
    }
}

TEST_F(Replication, AnUnreachableTargetGetsNoCleanUp) {
    open(expect(drop_subscription("Line1_00000004_")) + expect(drop_publication("Line1_00000004_")));
    const std::string target = "Provider=Nowhere.1;Data Source=PLANT2;Initial Catalog=Copy";
    ASSERT_EQ(collection_.SetReplicationTarget(target.c_str(), false, 0), 0) << collection_.GetErrorContext();
    collection_.UndoReplication("Line1_00000004_");
    EXPECT_EQ(sent_after(1), (std::vector<std::string>{drop_subscription("Line1_00000004_"),
                                                       drop_publication("Line1_00000004_")}));
}

TEST_F(Replication, DroppingARunUnderReplicationRemovesItsPublicationFirst) {
    const std::string p = "Line1_00000004_";
    open(script_of(undo(p)) + expect("DROP TABLE [Line1_00000004_TEXT]") + expect("DROP TABLE [Line1_00000004_DATA]") +
         expect("DROP TABLE [Line1_00000004_CHANNELS]") +
         expect("DELETE from LOGGERS where sTablePrefix = 'Line1_00000004_'"));
    ASSERT_EQ(collection_.SetReplicationTarget(kTarget.c_str(), false, 0), 0);
    EXPECT_EQ(collection_.DropRun(p), 0);
    const auto sent = sent_after(1);
    ASSERT_EQ(sent.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(sent.begin(), sent.begin() + 3), undo(p));
}

TEST_F(Replication, AnApostropheInTheLoggerNameIsDoubledInEveryLiteral) {
    const std::string p = "O'Hara_00000005_";
    const std::string q = "O''Hara_00000005_";
    const std::string target = "Provider=SQLOLEDB;Data Source=PLANT'2;Initial Catalog=Co'py";
    const std::string sub = "exec sp_dropmergesubscription @publication = N'" + q +
                            "', @subscriber = N'PLANT''2', @subscriber_db = N'Co''py', @subscription_type = N'push'";
    const std::string own = "Provider=SQLOLEDB;Data Source=PLANT1;Initial Catalog=Lo'gs";
    open(expect(sub) + expect(drop_publication(q)) + expect(cleanup(q, "PLANT1", "Lo''gs")) +
             expect(s1(q, "O''Hara")) + refuse(snapshot_agent(q), "stop here"),
         "O'Hara", own);
    ASSERT_EQ(collection_.SetReplicationTarget(target.c_str(), false, 0), 0) << collection_.GetErrorContext();
    collection_.SetUpReplication(p, false, false);
    EXPECT_EQ(sent_after(1), (std::vector<std::string>{sub, drop_publication(q), cleanup(q, "PLANT1", "Lo''gs"),
                                                       s1(q, "O''Hara"), snapshot_agent(q)}));
    EXPECT_STREQ(collection_.GetErrorContext(), "CAN'T ADD PUBLICATION SNAPSHOT");
}

TEST_F(Replication, ANewRunIsPutUnderReplicationAndItsFailureDoesNotFailTheRun) {
    const std::string p = "O''Hara_00000005_";
    const std::string runs =
        "expect select nLoggerSequence from LOGGERS where sLoggerName = 'O''Hara' AND nLoggerSequence < "
        "19000101 order by nLoggerSequence Desc\ncolumns nLoggerSequence:INTEGER\nrow 4\n"
        "expect~ CREATE TABLE [[]O'Hara_00000005_CHANNELS] *\n"
        "expect~ CREATE INDEX [[]CH] *\n"
        "expect~ CREATE TABLE [[]O'Hara_00000005_DATA] *\n"
        "expect~ CREATE INDEX *\nexpect~ CREATE INDEX *\nexpect~ CREATE INDEX *\nexpect~ CREATE INDEX *\n"
        "expect SELECT * FROM [LOGGERS] WHERE 1=0\n" +
        kLoggersColumns +
        "expect~ INSERT INTO ?LOGGERS? (*\n"
        "expect SELECT * FROM [O'Hara_00000005_CHANNELS] WHERE 1=0\n"
        "columns nBlock:INTEGER sPrefix:CHAR nChannelNumber:INTEGER sSource:CHAR sTag:CHAR "
        "sDescription:CHAR nType:INTEGER sUnits:CHAR fMinScale:REAL fMaxScale:REAL "
        "sLowStateDesc:CHAR sHighStateDesc:CHAR sColumnName:CHAR bLag:INTEGER\n"
        "expect~ INSERT INTO ?O'Hara_00000005_CHANNELS? *\n"
        "expect SELECT * FROM [O'Hara_00000005_DATA] WHERE 1=0\n"
        "columns DT:DATETIME MS:INTEGER TX:VARCHAR AI1:REAL TP:FLOAT\n";
    open(runs + script_of(undo(p)) + expect(s1(p, "O''Hara")) + refuse(snapshot_agent(p), "agent refused"),
         "O'Hara");
    ASSERT_EQ(collection_.SetReplicationTarget(kTarget.c_str(), false, 0), 0);
    static const qvr::ChannelRecord record = log_stores_test::analog_channel("T");
    const qvr::ChannelRecord* table[] = {&record};
    auto h = log_stores_test::header_of({{"AI", 1, 1}}, false, false);
    constexpr std::int32_t kMarch5 = 1709632800;
    h.start = {kMarch5, 0, 0};
    std::int32_t start = kMarch5;
    auto store = collection_.NewRun(&start, true, 0, h, nullptr, false, nullptr, false, table);
    EXPECT_TRUE(store) << recorder_->log();
    EXPECT_EQ(collection_.IsReplicationIncomplete(), 1);
    EXPECT_STREQ(collection_.GetErrorContext(), "CAN'T ADD PUBLICATION SNAPSHOT");
    const auto sent = recorder_->statements();
    EXPECT_FALSE(recorder_->has_unexpected()) << recorder_->log();
    ASSERT_GE(sent.size(), 5u);
    const std::vector<std::string> replication(sent.end() - 5, sent.end());
    const std::vector<std::string> expected = undo(p) + std::vector<std::string>{s1(p, "O''Hara"), snapshot_agent(p)};
    EXPECT_EQ(replication, expected);
}

struct TargetCase {
    const char* name;
    std::string own;
    std::string target;
    int result;
    bool on;
    const char* context;
    const char* text;
};

TEST(ReplicationTarget, IsCheckedAgainstTheOwnConnectionString) {
    const std::string host = platform::computer_name();
    const std::string long_name(101, 'c');
    const TargetCase cases[] = {
        {"different servers", kOwn, kTarget, 0, true, "", ""},
        {"same server, other catalog", kOwn, "Provider=SQLOLEDB;Data Source=plant1;Initial Catalog=Copy", 0, true, "",
         ""},
        {"same catalog elsewhere", kOwn, "Provider=SQLOLEDB;Data Source=PLANT2;Initial Catalog=Logs", 0, true, "",
         ""},
        {"same catalog on localhost and the computer name",
         "Provider=SQLOLEDB;Data Source=localhost;Initial Catalog=Logs",
         "Provider=SQLOLEDB;Data Source=" + host + ";Initial Catalog=LOGS", -1, false,
         "DATABASE AND TARGET CONNECTION", "DATABASE AND TARGET ARE SAME"},
        {"same catalog on 127.0.0.1 and an empty source",
         "Provider=SQLOLEDB;Data Source=127.0.0.1;Initial Catalog=Logs",
         "Provider=SQLOLEDB;Data Source=;Initial Catalog=Logs", -1, false, "DATABASE AND TARGET CONNECTION",
         "DATABASE AND TARGET ARE SAME"},
        {"same server in another case", kOwn, "Provider=SQLOLEDB;Data Source=plant1;Initial Catalog=logs", -1, false,
         "DATABASE AND TARGET CONNECTION", "DATABASE AND TARGET ARE SAME"},
        {"target without catalog", kOwn, "Provider=SQLOLEDB;Data Source=PLANT2", -1, false,
         "NO INITIAL CATALOG DEFINED IN ", ""},
        {"target catalog too long", kOwn, "Provider=SQLOLEDB;Data Source=PLANT2;Initial Catalog=" + long_name, -1,
         false, "NO INITIAL CATALOG DEFINED IN ", ""},
        {"target data source first", kOwn, "Data Source=PLANT2;Initial Catalog=Copy", -1, false,
         "NO DATA SOURCE DEFINED IN TARG", ""},
        {"target without data source", kOwn, "Provider=SQLOLEDB;Server=PLANT2;Initial Catalog=Copy", -1, false,
         "NO DATA SOURCE DEFINED IN TARG", ""},
        {"own without catalog", "Provider=SQLOLEDB;Data Source=PLANT1", kTarget, -1, false,
         "NO INITIAL CATALOG DEFINED IN ", ""},
        {"own without data source", "Provider=SQLOLEDB;Server=PLANT1;Initial Catalog=Logs", kTarget, -1, false,
         "NO DATA SOURCE DEFINED IN DATA", ""},
        {"target too long", kOwn, kTarget + ";App=" + std::string(1024, 'x'), -1, false, "CONNECTION STRING TOO LONG",
         ""},
        {"target at the limit", kOwn, kTarget + ";App=" + std::string(1024 - kTarget.size() - 5, 'x'), 0, true, "",
         ""},
    };
    for (const TargetCase& c : cases) {
        SCOPED_TRACE(c.name);
        SqlServerRecorder recorder(kOpenExisting);
        CLogDbCollection collection;
        ASSERT_EQ(collection.Open(c.own.c_str(), "", "Line1", "", kReadWrite), 0) << recorder.log();
        platform::set_last_error(5);
        EXPECT_EQ(collection.SetReplicationTarget(c.target.c_str(), true, 3), c.result);
        if (c.result != 0) {
            EXPECT_EQ(platform::last_error(), 0);
        }
        EXPECT_EQ(collection.IsReplicationOn(), c.on);
        EXPECT_STREQ(collection.GetErrorContext(), c.context);
        EXPECT_STREQ(collection.GetErrorText(), c.text);
        EXPECT_FALSE(recorder.has_unexpected()) << recorder.log();
    }
}

TEST(ReplicationTarget, LeavesReplicationOffForOtherEngines) {
    qvr_test::TempDir folder;
    SqlServerRecorder mysql(kOpenExisting);
    const std::string odbc = std::string("Provider=MSDASQL;Driver=") + RECORDER_DRIVER;
    {
        SCOPED_TRACE("MySQL through ODBC");
        CLogDbCollection collection;
        ASSERT_EQ(collection.Open(odbc.c_str(), "", "Line1", "", kReadWrite), 0) << mysql.log();
        EXPECT_EQ(collection.SetReplicationTarget(kTarget.c_str(), true, 2), 0);
        EXPECT_FALSE(collection.IsReplicationOn());
        EXPECT_EQ(collection.DropRun("Line1_00000001_"), -1);  // no replication statements first
    }
    {
        SCOPED_TRACE("SQLite file");
        CLogDbCollection collection;
        ASSERT_EQ(collection.Open("", folder.str().c_str(), "Line1", "", kReadWrite), 0)
            << collection.GetErrorContext();
        EXPECT_EQ(collection.SetReplicationTarget(kTarget.c_str(), true, 2), 0);
        EXPECT_FALSE(collection.IsReplicationOn());
    }
    {
        SCOPED_TRACE("Jet file");
        CLogDbCollection collection;
        const std::string jet = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + folder.str() + "/a.mdb";
        collection.Open(jet.c_str(), "", "Line1", "", kReadWrite);  // no such provider here; the string stays
        EXPECT_EQ(collection.SetReplicationTarget(kTarget.c_str(), true, 2), 0);
        EXPECT_FALSE(collection.IsReplicationOn());
    }
}

}  // namespace
