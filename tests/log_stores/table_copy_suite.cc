// The plain table statements on each real engine: built once with SQLite files and once with
// the MariaDB test server (TABLE_COPY_ON_MARIADB).
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "log_stores/db_archive/table_copy.h"
#include "platform/ado/connection.h"
#include "platform/last_error.h"
#include "test_database.h"

namespace {

using namespace log_stores_test;

#ifdef TABLE_COPY_ON_MARIADB
constexpr bool kOnMariaDb = true;
#define TABLE_COPY_SUITE TableStatementsOnMariaDb
#else
constexpr bool kOnMariaDb = false;
#define TABLE_COPY_SUITE TableStatementsOnSqlite
#endif

class TableStatementsFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        db_ = suite_database(kOnMariaDb);
        if (!db_) GTEST_SKIP() << kNoMariaDbServer;
        connection_ = std::make_shared<ado::Connection>();
        connection_->open(db_->connection_string());
        connection_->execute_utf8("CREATE TABLE T (k INTEGER, a INTEGER)");
        connection_->execute_utf8("INSERT INTO T VALUES (1, 10), (2, 20), (3, 30)");
    }

    std::unique_ptr<TestDatabase> db_;
    std::shared_ptr<ado::Connection> connection_;
};

using TABLE_COPY_SUITE = TableStatementsFixture;

TEST_F(TABLE_COPY_SUITE, ExecuteStatementGivesTheAffectedRows) {
    EXPECT_EQ(ExecuteStatement(connection_, "UPDATE T SET a = a + 1 WHERE k >= 2"), 2);
    EXPECT_EQ(ExecuteStatement(connection_, "UPDATE T SET a = 0 WHERE k > 99"), 0);
    platform::set_last_error(0);
    EXPECT_EQ(ExecuteStatement(connection_, "UPDATE Missing SET a = 1"), -1);
    EXPECT_NE(platform::last_error(), 0);
    // The caller's reference is untouched; the function released only its own.
    EXPECT_EQ(connection_.use_count(), 1);
}

TEST_F(TABLE_COPY_SUITE, ProbeTableTellsRowsNoRowsAndNoTable) {
    const int32_t some = ProbeTable(connection_, "SELECT NULL FROM T;");
    EXPECT_GE(some, 1);
    EXPECT_EQ(ProbeTable(connection_, "SELECT NULL FROM T WHERE k > 99;"), 0);
    EXPECT_EQ(ProbeTable(connection_, "SELECT NULL FROM Missing;"), -1);
}

TEST_F(TABLE_COPY_SUITE, DeleteRowsWhereRemovesExactlyTheMatchingRows) {
    EXPECT_EQ(DeleteRowsWhere(connection_, "T", "k = 2"), 1);
    EXPECT_EQ(DeleteRowsWhere(connection_, "T", "k = 2"), 0);
    EXPECT_EQ(ProbeTable(connection_, "SELECT NULL FROM T WHERE k = 2;"), 0);
    EXPECT_GE(ProbeTable(connection_, "SELECT NULL FROM T WHERE k = 3;"), 1);
    EXPECT_EQ(DeleteRowsWhere(connection_, "Missing", "k = 2"), -1);
}

}  // namespace
