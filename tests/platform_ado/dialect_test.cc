#include "platform/ado/dialect.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/ado/com_error.h"

namespace {

using namespace ado;

TEST(Dialect, ChosenByTheDbmsName) {
    EXPECT_EQ(Dialect::from_dbms_name("SQLite").engine(), Engine::sqlite);
    EXPECT_EQ(Dialect::from_dbms_name("MariaDB").engine(), Engine::mariadb);
    EXPECT_EQ(Dialect::from_dbms_name("MySQL").engine(), Engine::mariadb);
    EXPECT_EQ(Dialect::from_dbms_name("Microsoft SQL Server").engine(), Engine::sql_server);
    EXPECT_EQ(Dialect::from_dbms_name("ACCESS").engine(), Engine::jet);
    EXPECT_EQ(Dialect::from_dbms_name("Recorder").engine(), Engine::other);
}

TEST(Dialect, WhatDiffersBetweenEngines) {
    struct Case {
        Engine engine;
        bool kinds[3];
        const char* quoted;
        const char* literal;
        bool top;
        const char* index;
    };
    const Case cases[] = {
        {Engine::sqlite, {true, false, false}, "\"a\"\"b\"", "'it''s \\'", false, "A_CH"},
        {Engine::mariadb, {true, true, false}, "`a\"b`", "'it''s \\\\'", false, "CH"},
        {Engine::sql_server, {true, true, false}, "[a\"b]", "'it''s \\'", true, "CH"},
        {Engine::jet, {false, false, true}, "[a\"b]", "'it''s \\'", true, "CH"},
    };
    for (const auto& c : cases) {
        const Dialect d(c.engine);
        for (int k = 0; k < 3; ++k) EXPECT_EQ(d.date_literal_valid(k), c.kinds[k]) << static_cast<int>(c.engine) << k;
        EXPECT_EQ(d.quote_identifier("a\"b"), c.quoted);
        EXPECT_EQ(d.quote_literal("it's \\"), c.literal);
        EXPECT_EQ(d.row_limit_is_top(), c.top);
        EXPECT_EQ(d.index_name("A_", "CH"), c.index);
        EXPECT_FALSE(d.column_type(3, 0, false).empty());
        EXPECT_TRUE(d.column_type(9999, 0, false).empty());
    }
    EXPECT_EQ(Dialect(Engine::sqlite).column_type(202, 32, false), "VARCHAR(32)");
    EXPECT_EQ(Dialect(Engine::sql_server).column_type(202, 32, false), "NVARCHAR(32)");
    EXPECT_EQ(Dialect(Engine::mariadb).column_type(3, 0, true), "INTEGER NOT NULL AUTO_INCREMENT PRIMARY KEY");
    EXPECT_EQ(Dialect(Engine::sqlite).quote_identifier("]"), "\"]\"");
    EXPECT_EQ(Dialect(Engine::sql_server).quote_identifier("a]b"), "[a]]b]");
}

TEST(Dialect, SqliteGetsItsDateLiteralsInOneForm) {
    const Dialect d(Engine::sqlite);
    EXPECT_EQ(d.adapt_statement("SELECT * FROM D WHERE DT >= { ts '2024-03-05 12:00:00.000' } AND DT < {ts '2024-03-05 13:00:00'}"),
              "SELECT * FROM D WHERE DT >= '2024-03-05 12:00:00.000' AND DT < '2024-03-05 13:00:00.000'");
    EXPECT_EQ(d.adapt_statement("SELECT '{ ts ''2024-03-05 12:00:00'' }'"), "SELECT '{ ts ''2024-03-05 12:00:00'' }'")
        << "inside a text literal nothing changes";
    EXPECT_EQ(d.adapt_statement("SELECT { fn NOW() }"), "SELECT { fn NOW() }");
    EXPECT_THROW(d.adapt_statement("WHERE DT = { ts '2024/03/05 12:00:00.000' }"), ComError);
    EXPECT_EQ(Dialect(Engine::mariadb).adapt_statement("{ ts '2024/03/05 12:00:00.000' }"),
              "{ ts '2024/03/05 12:00:00.000' }");
}

}  // namespace
