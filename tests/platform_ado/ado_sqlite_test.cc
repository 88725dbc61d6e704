// The layer on real SQLite files through the SQLite ODBC driver.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "platform/ado/catalog.h"
#include "platform/ado/com_error.h"
#include "platform/ado/command.h"
#include "platform/ado/connection.h"
#include "platform/ado/recordset.h"
#include "platform/ado/text_codec.h"
#include "support/temp_dir.h"

namespace {

using namespace ado;

std::u16string u16(const std::string& s) { return utf16_from_utf8(s); }

uint32_t code_of(const std::function<void()>& f) {
    try {
        f();
    } catch (const ComError& e) {
        return static_cast<uint32_t>(e.code());
    }
    return 0;
}

class SqliteLayer : public ::testing::Test {
  protected:
    void SetUp() override {
        cs_ = u16("Provider=SQLite.File;Data Source=" + (dir_ / "logs.db").string());
        Catalog catalog;
        catalog.create(cs_);
        db_ = std::make_shared<Connection>();
        db_->open(cs_);
    }
    std::unique_ptr<Recordset> open(const std::string& sql, int cursor = kStatic, int lock = kOptimistic,
                                    int options = kCmdUnknown) {
        auto rs = std::make_unique<Recordset>();
        rs->set_active_connection(db_);
        rs->open(u16(sql), cursor, lock, options);
        return rs;
    }
    int64_t count(const std::string& where) {
        auto rs = open("SELECT COUNT(*) FROM T WHERE " + where, kForwardOnly, kReadOnly);
        return rs->value(Variant::i4(0)).to_i8();
    }

    qvr_test::TempDir dir_;
    std::u16string cs_;
    std::shared_ptr<Connection> db_;
};

TEST_F(SqliteLayer, OpeningNeverMakesADatabaseFile) {
    Connection c;
    const auto path = (dir_ / "missing.db").string();
    EXPECT_EQ(code_of([&] { c.open(u16("Provider=SQLite.File;Data Source=" + path)); }), 0x80004005u);
    EXPECT_EQ(c.state(), 0);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(db_->state(), 1);
    EXPECT_EQ(db_->provider(), "SQLite.File");
    EXPECT_EQ(db_->dialect().engine(), Engine::sqlite);
    Catalog again;
    EXPECT_EQ(code_of([&] { again.create(cs_); }), 0x80040E17u) << "an existing database is not made again";
}

TEST_F(SqliteLayer, TheDriverPathCanBeReplacedForTests) {
    setenv("QUORVANE_ODBC_SQLITE", "/nonexistent/libsqlite3odbc.so", 1);
    Connection c;
    try {
        c.open(cs_);
        ADD_FAILURE() << "opened through a driver that does not exist";
    } catch (const ComError& e) {
        EXPECT_EQ(static_cast<uint32_t>(e.code()), 0x800A0E7Au) << "a provider that is not installed";
        EXPECT_NE(e.description().find("/nonexistent/libsqlite3odbc.so"), std::string::npos) << e.description();
    }
    unsetenv("QUORVANE_ODBC_SQLITE");
    EXPECT_NO_THROW(c.open(cs_));
}

TEST_F(SqliteLayer, UnavailableProvidersFailClearly) {
    for (const char* cs : {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=x.mdb", "Provider=MS Remote;Remote Server=x"}) {
        Connection c;
        try {
            c.open(u16(cs));
            ADD_FAILURE() << cs;
        } catch (const ComError& e) {
            EXPECT_EQ(static_cast<uint32_t>(e.code()), 0x800A0E7Au) << cs;
            EXPECT_EQ(e.description(), "provider not available on this platform");
        }
    }
}

TEST_F(SqliteLayer, ErrorsCarryTheProviderAndTheDriversText) {
    try {
        db_->execute(u"SELEC 1");
        ADD_FAILURE();
    } catch (const ComError& e) {
        EXPECT_EQ(static_cast<uint32_t>(e.code()), 0x80040E14u);
        EXPECT_EQ(e.source(), "SQLite.File");
        EXPECT_NE(e.description().find("syntax error"), std::string::npos) << e.description();
    }
    EXPECT_EQ(code_of([&] { open("LOGGERS"); }), 0x80040E37u);
    EXPECT_EQ(code_of([&] { open("select * from LOGGERS"); }), 0x80040E37u);
    db_->execute(u"CREATE TABLE T (a integer NOT NULL, s char(4))");
    EXPECT_EQ(code_of([&] { db_->execute(u"INSERT INTO T (a) VALUES (NULL)"); }), 0x80040E2Fu);
}

Variant F(const char16_t* name) { return Variant::text(name); }

TEST_F(SqliteLayer, MovesFetchLazilyAndBackwardMovesRunTheQueryAgain) {
    db_->execute(u"CREATE TABLE T (n integer)");
    for (int i = 0; i < 5; ++i) db_->execute(u16("INSERT INTO T VALUES (" + std::to_string(i) + ")"));
    auto rs = open("SELECT n FROM T ORDER BY n");
    EXPECT_EQ(rs->record_count(), -1) << "unknown until the end is reached";
    EXPECT_FALSE(rs->bof());
    EXPECT_EQ(rs->value(F(u"N")), Variant::i4(0)) << "names without letter case";
    rs->move_first();
    rs->move(3);
    EXPECT_EQ(rs->value(Variant::i4(0)), Variant::i4(3));
    rs->move_previous();
    EXPECT_EQ(rs->value(Variant::i4(0)), Variant::i4(2));
    rs->move_next();
    rs->move_next();
    rs->move_next();
    EXPECT_TRUE(rs->eof());
    EXPECT_EQ(rs->record_count(), 5);
    EXPECT_EQ(code_of([&] { rs->move_next(); }), 0x800A0BCDu);
    EXPECT_EQ(code_of([&] { rs->value(Variant::i4(0)); }), 0x800A0BCDu);
    rs->move_last();
    EXPECT_EQ(rs->value(Variant::i4(0)), Variant::i4(4));
    rs->move_first();
    EXPECT_EQ(rs->value(Variant::i4(0)), Variant::i4(0));
    rs->move(-1);
    EXPECT_TRUE(rs->bof());
    EXPECT_EQ(code_of([&] { rs->value(F(u"missing")); }), 0x800A0CC1u);

    auto empty = open("SELECT n FROM T WHERE n > 10");
    EXPECT_TRUE(empty->bof());
    EXPECT_TRUE(empty->eof());
    EXPECT_EQ(empty->record_count(), 0);
    EXPECT_EQ(code_of([&] { empty->move_last(); }), 0x800A0BCDu);
}

TEST_F(SqliteLayer, AddNewSavesThePendingRowAndReusesOneInsert) {
    db_->execute(u"CREATE TABLE T (a integer, s varchar(20), d datetime, r real)");
    auto rs = open("T", kStatic, kOptimistic, kCmdTable);
    EXPECT_TRUE(rs->supports(kSupportsAddNew));
    for (int i = 0; i < 3; ++i) {
        rs->add_new();
        rs->set_value(F(u"a"), Variant::i4(i));
        rs->set_value(F(u"s"), Variant::text(u"row " + u16(std::to_string(i))));
    }
    rs->update();
    rs->add_new(Variant::array({F(u"a"), F(u"r")}), Variant::array({Variant::i4(9), Variant::r8(1.5)}));
    EXPECT_EQ(rs->value(F(u"a")), Variant::i4(9)) << "the added row is current";
    EXPECT_EQ(count("1=1"), 4);
    EXPECT_EQ(count("a = 2 AND s = 'row 2' AND d IS NULL"), 1);
    EXPECT_EQ(count("a = 9 AND r = 1.5 AND s IS NULL"), 1);
    rs->move_first();
    EXPECT_EQ(rs->value(F(u"s")), Variant::text(u"row 0"));
}

TEST_F(SqliteLayer, RowUpdateAndDeleteTouchExactlyOneRowOfATableWithoutKey) {
    db_->execute(u"CREATE TABLE T (a integer, s char(8), f float)");
    for (const char* v : {"(1, 'same', 0.1)", "(1, 'same', 0.1)", "(2, NULL, 0.3)", "(2, 'x', 0.3)"})
        db_->execute(u16(std::string("INSERT INTO T VALUES ") + v));
    {
        auto rs = open("SELECT * FROM T WHERE a = 1");
        ASSERT_TRUE(rs->supports(kSupportsUpdate));
        rs->set_value(F(u"s"), Variant::text(u"changed"));
        rs->update();
        EXPECT_EQ(rs->value(F(u"s")), Variant::text(u"changed"));
    }
    EXPECT_EQ(count("s = 'changed'"), 1);
    EXPECT_EQ(count("s = 'same'"), 1);
    {
        auto rs = open("SELECT a, s FROM T WHERE a = 2 ORDER BY s");
        ASSERT_TRUE(rs->value(F(u"s")).is_null());
        rs->delete_row();
        EXPECT_EQ(code_of([&] { rs->value(F(u"s")); }), 0x800A0BCDu) << "the deleted row is gone";
        rs->move_next();
        EXPECT_EQ(rs->value(F(u"s")), Variant::text(u"x")) << "the next row follows the deleted one";
    }
    EXPECT_EQ(count("a = 2 AND s IS NULL"), 0);
    EXPECT_EQ(count("a = 2 AND s = 'x'"), 1);
    {
        // The row changed behind the recordset: it cannot be located any more.
        auto rs = open("SELECT * FROM T WHERE s = 'x'");
        db_->execute(u"UPDATE T SET a = 3 WHERE s = 'x'");
        rs->set_value(F(u"a"), Variant::i4(4));
        EXPECT_EQ(code_of([&] { rs->update(); }), 0x80040E38u);
    }
}

TEST_F(SqliteLayer, OnlySimpleSelectsWithAWritableLockCanBeWrittenBack) {
    db_->execute(u"CREATE TABLE T (a integer)");
    db_->execute(u"CREATE TABLE U (a integer)");
    EXPECT_TRUE(open("select a from T where a > 1 order by a")->supports(kSupportsDelete));
    EXPECT_TRUE(open("T")->supports(kSupportsUpdate));
    for (const char* sql : {"SELECT * FROM T, U", "SELECT T.a FROM T JOIN U ON T.a = U.a", "SELECT COUNT(*) FROM T",
                            "SELECT a FROM T GROUP BY a", "SELECT a FROM T UNION SELECT a FROM U"})
        EXPECT_FALSE(open(sql)->supports(kSupportsUpdate)) << sql;
    EXPECT_FALSE(open("T", kStatic, kReadOnly)->supports(kSupportsAddNew));
    auto ro = open("T", kStatic, kReadOnly);
    EXPECT_EQ(code_of([&] { ro->add_new(); }), 0x800A0CB3u);
}

TEST_F(SqliteLayer, TextsRoundTripInBothWidths) {
    db_->execute(u"CREATE TABLE T (s varchar(40))");
    db_->execute_utf8(utf8_from_cp1252("INSERT INTO T VALUES ('\xB0" "C')"));
    auto rs = open("T");
    rs->add_new(F(u"s"), Variant::text(u"\u4E2D\u00E9 \U0001F600"));
    rs->move_first();
    EXPECT_EQ(cp1252_from_utf16(rs->value(F(u"s")).text_value()), "\xB0" "C");
    rs->move_next();
    EXPECT_EQ(rs->value(F(u"s")).text_value(), u"\u4E2D\u00E9 \U0001F600");
}

TEST_F(SqliteLayer, DatesCompareWithKindZeroLiteralsAndBoundValues) {
    db_->execute(u"CREATE TABLE T (d datetime, n integer)");
    Command insert;
    insert.set_active_connection(db_);
    insert.set_command_text(u"INSERT INTO T (d, n) VALUES (?, ?)");
    const double ole = 45356.5 + 0.4 / 86400;  // 2024-03-05 12:00:00.4 rounds down
    insert.append_parameter(kParamDate, 0, Variant::r8(ole));
    insert.append_parameter(kParamInteger, 0, Variant::i4(1));
    EXPECT_EQ(insert.execute(), 1);
    db_->execute(u"INSERT INTO T VALUES ({ ts '2024-03-05 13:00:00.000' }, 2)");
    EXPECT_EQ(count("d = { ts '2024-03-05 12:00:00.000' }"), 1);
    EXPECT_EQ(count("d >= { ts '2024-03-05 12:00:00.000' } AND d < {ts '2024-03-05 13:00:01.000'}"), 2);
    EXPECT_NE(code_of([&] { count("d = { ts '2024/03/05 12:00:00.000' }"); }), 0u) << "kind 1 is not valid here";
    EXPECT_NE(code_of([&] { count("d = #03/05/2024 12:00:00#"); }), 0u) << "kind 2 is not valid here";
    auto rs = open("SELECT d FROM T ORDER BY n");
    const Variant d = rs->value(Variant::i4(0));
    ASSERT_EQ(d.type(), VarType::date);
    EXPECT_EQ(canonical_date_text(d.date_value()), "2024-03-05 12:00:00.000");
    // A fetched date finds its row again for an update.
    auto edit = open("SELECT d, n FROM T WHERE n = 2");
    edit->set_value(F(u"n"), Variant::i4(3));
    edit->update();
    EXPECT_EQ(count("n = 3 AND d = { ts '2024-03-05 13:00:00.000' }"), 1);
    EXPECT_TRUE(db_->dialect().date_literal_valid(0));
    EXPECT_FALSE(db_->dialect().date_literal_valid(1));
}

TEST_F(SqliteLayer, ARecordsetOutlivesItsClosedConnectionSafely) {
    db_->execute(u"CREATE TABLE T (a integer)");
    db_->execute(u"INSERT INTO T VALUES (1)");
    auto rs = open("SELECT a FROM T");
    auto table = open("T");
    table->add_new(F(u"a"), Variant::i4(2));
    db_->close();
    EXPECT_EQ(code_of([&] { rs->move_next(); rs->eof(); }), 0x800A0E78u) << "its statement went with the connection";
    EXPECT_EQ(code_of([&] { db_->close(); }), 0x800A0E78u) << "closing twice is refused, as ADO does";
    rs.reset();
    table.reset();
}

TEST_F(SqliteLayer, CommandRefusesAnOverLongText) {
    db_->execute(u"CREATE TABLE T (s varchar(4))");
    Command c;
    c.set_active_connection(db_);
    c.set_command_text(u"INSERT INTO T VALUES (?)");
    c.append_parameter(kParamVarWChar, 4, Variant::text(u"toolong"));
    EXPECT_EQ(code_of([&] { c.execute(); }), 0x80040E57u);
    EXPECT_EQ(count("1=1"), 0);
}

TEST_F(SqliteLayer, CatalogMakesTablesAndColumns) {
    Catalog catalog;
    catalog.set_active_connection(cs_);
    EXPECT_EQ(catalog.table_count(), 0);
    CatalogTable t;
    t.name = u"CH";
    t.columns.push_back({u"id", 3, 0, {{u"AutoIncrement", Variant::boolean(true)}}});
    t.columns.push_back({u"tag", 202, 32, {}});
    catalog.append_table(t);
    catalog.append_column(t, u"val", 5, 0);
    EXPECT_EQ(catalog.table_count(), 1);
    const auto found = catalog.find_table(u"ch");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->name, u"CH");
    ASSERT_EQ(found->columns.size(), 3u);
    EXPECT_EQ(found->columns[2].name, u"val");
    EXPECT_FALSE(catalog.find_table(u"none"));
    db_->execute(u"INSERT INTO CH (tag) VALUES ('a')");
    db_->execute(u"INSERT INTO CH (tag) VALUES ('b')");
    auto rs = open("SELECT id FROM CH ORDER BY id");
    rs->move_last();
    EXPECT_EQ(rs->value(Variant::i4(0)), Variant::i4(2));
    Catalog server;
    EXPECT_EQ(code_of([&] { server.create(u"Provider=SQLOLEDB;Data Source=127.0.0.1;Initial Catalog=x"); }),
              0x800A0CB3u);
}

}  // namespace
