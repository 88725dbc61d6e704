// The table copy statements on the recording driver: each function's statements in order,
// the results that decide, and a failed fill of the working table reported as a failure.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "log_stores/db_archive/table_copy.h"
#include "platform/ado/connection.h"
#include "platform/ado/text_codec.h"
#include "recording_script.h"

namespace {

using log_stores_test::RecordingScript;

// One statement the driver expects: its affected count, a row when it is a probe that
// finds the table, or a failure.
struct Expected {
    std::string sql;
    enum Kind { affected, found, fails } kind = affected;
    long count = 0;
};

Expected ok(std::string sql, long count = 0) { return {std::move(sql), Expected::affected, count}; }
Expected found(std::string sql) { return {std::move(sql), Expected::found, 0}; }
Expected fails(std::string sql) { return {std::move(sql), Expected::fails, 0}; }

class TableCopyOnRecorder : public ::testing::Test {
  protected:
    std::shared_ptr<ado::Connection> connect(const std::vector<Expected>& steps) {
        std::string text = "dbms Microsoft SQL Server\n";
        for (const auto& s : steps) {
            text += "expect " + s.sql + "\n";
            if (s.kind == Expected::found) text += "columns x:INTEGER\nrow NULL\n";
            if (s.kind == Expected::fails) text += "error 42S02 208 Invalid object name\n";
            if (s.kind == Expected::affected) text += "affected " + std::to_string(s.count) + "\n";
        }
        script_ = std::make_unique<RecordingScript>(text);
        steps_ = steps.size();
        auto c = std::make_shared<ado::Connection>();
        c->open(ado::utf16_from_utf8(script_->connection_string()));
        return c;
    }
    void expect_all_sent() {
        const std::string log = script_->log();
        EXPECT_FALSE(script_->has_unexpected()) << log;
        size_t sent = 0;
        for (size_t at = log.find("execdirect "); at != std::string::npos; at = log.find("execdirect ", at + 1)) ++sent;
        EXPECT_EQ(sent, steps_) << log;
    }

    std::unique_ptr<RecordingScript> script_;
    size_t steps_ = 0;
};

struct CopyCase {
    const char* name;
    const char* path;
    bool target_exists;
    std::optional<std::string> temporary;
    std::vector<Expected> after_probe;
    int32_t result;
};

TEST_F(TableCopyOnRecorder, CopyRowsIntoSendsTheStatementsOfEachCase) {
    const std::string tmp = "DROP TABLE T_Tmp;";
    const CopyCase cases[] = {
        {"direct, here, into the table", "", true, std::nullopt, {ok("INSERT INTO T SELECT * FROM S WHERE a > 1 ;", 3)}, 3},
        {"direct, here, new table", "", false, std::nullopt, {ok("SELECT * INTO T FROM S WHERE a > 1 ;", 2)}, 2},
        {"direct, file, into the table", "/d/a.mdb", true, std::nullopt,
         {ok("INSERT INTO T IN '/d/a.mdb' SELECT * FROM S WHERE a > 1 ;", 4)}, 4},
        {"direct, file, new table", "/d/a.mdb", false, std::nullopt,
         {ok("SELECT * INTO T IN '/d/a.mdb' FROM S WHERE a > 1 ;", 1)}, 1},
        {"working table, here, into the table", "", true, "W",
         {ok(tmp), ok("SELECT DISTINCT * INTO T_Tmp FROM S WHERE ( a > 1 AND (k NOT IN (SELECT k FROM T )) ) ;", 2),
          ok("Set IDENTITY_INSERT T On;INSERT INTO T (k, a) SELECT * FROM T_Tmp ;Set IDENTITY_INSERT T Off;", 2),
          ok(tmp)},
         2},
        {"working table, file, into the table", "/d/a.mdb", true, "W",
         {ok(tmp),
          ok("SELECT DISTINCT * INTO T_Tmp FROM S WHERE ( a > 1 AND (k NOT IN (SELECT k FROM T IN '/d/a.mdb')) ) ;", 5),
          ok("INSERT INTO T (k, a) IN '/d/a.mdb' SELECT * FROM T_Tmp ;", 5), ok(tmp)},
         5},
        {"working table, file, new table", "/d/a.mdb", false, "W",
         {ok(tmp), ok("SELECT DISTINCT * INTO T_Tmp FROM S WHERE a > 1 ;", 3),
          ok("SELECT * INTO T IN '/d/a.mdb' FROM T_Tmp ;", 3), ok(tmp)},
         3},
        {"working table, here, new table", "", false, "W",
         {fails(tmp), ok("SELECT DISTINCT * INTO T_Tmp FROM S WHERE a > 1 ;", 3), ok("SELECT * INTO T FROM T_Tmp ;", 3),
          ok(tmp)},
         3},
        // A condition that matches nothing: the working table is made empty and dropped.
        {"working table, nothing matches", "", true, "W",
         {ok(tmp), ok("SELECT DISTINCT * INTO T_Tmp FROM S WHERE ( a > 1 AND (k NOT IN (SELECT k FROM T )) ) ;", 0),
          ok(tmp)},
         0},
        // The working table could not be filled: a failure, not "nothing to copy".
        {"working table, fill fails", "", true, "W",
         {ok(tmp), fails("SELECT DISTINCT * INTO T_Tmp FROM S WHERE ( a > 1 AND (k NOT IN (SELECT k FROM T )) ) ;"),
          ok(tmp)},
         -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = c.path;
        const std::string probe = path.empty() ? "SELECT NULL FROM T;" : "SELECT NULL FROM T IN '" + path + "' ;";
        std::vector<Expected> steps = {c.target_exists ? found(probe) : fails(probe)};
        steps.insert(steps.end(), c.after_probe.begin(), c.after_probe.end());
        auto connection = connect(steps);
        EXPECT_EQ(CopyRowsInto(connection, "S", "T", path, "a > 1", c.temporary, "k", "k, a"), c.result);
        expect_all_sent();
    }
}

TEST_F(TableCopyOnRecorder, CopyRowsIntoTwiceWithTheSameKeyAddsNothingTheSecondTime) {
    const std::string fill = "SELECT DISTINCT * INTO T_Tmp FROM S WHERE ( a > 1 AND (k NOT IN (SELECT k FROM T )) ) ;";
    auto connection = connect({found("SELECT NULL FROM T;"), ok("DROP TABLE T_Tmp;"), ok(fill, 2),
                               ok("Set IDENTITY_INSERT T On;INSERT INTO T (k) SELECT * FROM T_Tmp ;Set IDENTITY_INSERT T Off;", 2),
                               ok("DROP TABLE T_Tmp;"), found("SELECT NULL FROM T;"), ok("DROP TABLE T_Tmp;"), ok(fill, 0),
                               ok("DROP TABLE T_Tmp;")});
    EXPECT_EQ(CopyRowsInto(connection, "S", "T", "", "a > 1", "W", "k", "k"), 2);
    EXPECT_EQ(CopyRowsInto(connection, "S", "T", "", "a > 1", "W", "k", "k"), 0);
    expect_all_sent();
}

TEST_F(TableCopyOnRecorder, CopyWholeTableDropsThenCopiesEvenWhenTheDropFails) {
    auto here = connect({fails("DROP TABLE T"), ok("SELECT * INTO T FROM S ;", 7)});
    EXPECT_EQ(CopyWholeTable(here, "S", "T", ""), 7);
    expect_all_sent();
    auto file = connect({ok("DROP TABLE T"), ok("SELECT * INTO T IN '/d/a.mdb' FROM S ;", 2)});
    EXPECT_EQ(CopyWholeTable(file, "S", "T", "/d/a.mdb"), 2);
    expect_all_sent();
    auto broken = connect({ok("DROP TABLE T"), fails("SELECT * INTO T FROM S ;")});
    EXPECT_EQ(CopyWholeTable(broken, "S", "T", ""), -1);
    expect_all_sent();
}

TEST_F(TableCopyOnRecorder, DeleteRowsWhereAndTheirFailures) {
    auto connection = connect({ok("DELETE FROM T WHERE a = 1 ;", 4), fails("DELETE FROM U WHERE a = 1 ;")});
    EXPECT_EQ(DeleteRowsWhere(connection, "T", "a = 1"), 4);
    EXPECT_EQ(DeleteRowsWhere(connection, "U", "a = 1"), -1);
    expect_all_sent();
    EXPECT_EQ(ExecuteStatement(nullptr, "DELETE FROM T"), -1);
    EXPECT_EQ(ProbeTable(nullptr, "SELECT 1"), -1);
}

}  // namespace
