// CLogDbDataAcc on SQLite files: results, failure codes, kept texts, the lock and the trace.
#include "log_stores/log_db_data_acc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ado/catalog.h"
#include "platform/ado/connection.h"
#include "platform/ado/text_codec.h"
#include "platform/last_error.h"
#include "support/temp_dir.h"
#include "trace_lines.h"

namespace {

using ado::Variant;
using namespace std::chrono_literals;

std::u16string u16(const std::string& s) { return ado::utf16_from_utf8(s); }

class DataAccSqlite : public ::testing::Test {
  protected:
    void SetUp() override {
        cs_ = u16("Provider=SQLite.File;Data Source=" + (dir_ / "logs.db").string());
        ado::Catalog catalog;
        catalog.create(cs_);
        db_.open(cs_);
    }
    void sql(const std::string& statement) { db_.execute_utf8(statement); }
    int64_t count(const std::string& where) {
        CLogDbDataAcc probe;
        EXPECT_EQ(probe.OpenConnection(cs_, u"", 0), 0);
        EXPECT_EQ(probe.OpenRecordset(u16("SELECT COUNT(*) FROM " + where), 0, 1, 1), 0);
        Variant v;
        EXPECT_EQ(probe.GetFieldValueByIndex(0, &v), 0);
        return v.to_i8();
    }
    void connect(CLogDbDataAcc& acc) {
        ASSERT_EQ(acc.OpenConnection(cs_.substr(0, 10), cs_.substr(10), 0), 0) << acc.GetLastErrorText();
        ASSERT_EQ(acc.WaitIdle(u"", u""), 0);
    }

    qvr_test::TempDir dir_;
    std::u16string cs_;
    ado::Connection db_;
};

TEST(DataAcc, EveryOperationBeforeAnOpenFailsWithItsCodeAndNoText) {
    struct Case {
        const char* name;
        std::function<int32_t(CLogDbDataAcc&)> call;
        uint32_t code;
    };
    Variant v;
    int32_t n = 0;
    double d[2] = {};
    const Variant names[1] = {Variant::text(u"a")};
    Variant out[1];
    const Case cases[] = {
        {"OpenRecordset", [](CLogDbDataAcc& a) { return a.OpenRecordset(u"SELECT 1", 0, 1, 1); }, 0x8004020A},
        {"OpenTable", [](CLogDbDataAcc& a) { return a.OpenTable(u"T", u""); }, 0x8004020A},
        {"OpenTableByName", [](CLogDbDataAcc& a) { return a.OpenTableByName(u"T"); }, 0x8004020A},
        {"CancelUpdate", [](CLogDbDataAcc& a) { return a.CancelUpdate(); }, 0x80040211},
        {"IsBOF", [&](CLogDbDataAcc& a) { return a.IsBOF(&v); }, 0x80040219},
        {"IsEOF", [&](CLogDbDataAcc& a) { return a.IsEOF(&v); }, 0x80040219},
        {"GetRecordCount", [&](CLogDbDataAcc& a) { return a.GetRecordCount(&n); }, 0x80004005},
        {"SetFieldValue", [](CLogDbDataAcc& a) { return a.SetFieldValue(u"a", Variant::i4(1)); }, 0x8004021C},
        {"FieldEquals", [&](CLogDbDataAcc& a) { return a.FieldEquals(Variant::i4(1), u"a", &v); }, 0x8004021B},
        {"GetFieldValueByName", [&](CLogDbDataAcc& a) { return a.GetFieldValueByName(u"a", &v); }, 0x8004021A},
        {"AddNewRow", [&](CLogDbDataAcc& a) { return a.AddNewRow(0, &names[0], &names[0]); }, 0x80040218},
        {"FindRowByField", [&](CLogDbDataAcc& a) { return a.FindRowByField(Variant::i4(1), u"a", &v); }, 0x80040217},
        {"ReadFields", [&](CLogDbDataAcc& a) { return a.ReadFields(1, names, out); }, 0x80040216},
        {"PutDoubleFields", [&](CLogDbDataAcc& a) { return a.PutDoubleFields(0, 2, d); }, 0x80040215},
        {"GetDoublesByIndex", [&](CLogDbDataAcc& a) { return a.GetDoublesByIndex(0, 2, d); }, 0x80040214},
        {"Update", [](CLogDbDataAcc& a) { return a.Update(); }, 0x80040212},
        {"UpdateRow", [](CLogDbDataAcc& a) { return a.UpdateRow(); }, 0x80040212},
        {"DeleteCurrent", [](CLogDbDataAcc& a) { return a.DeleteCurrent(); }, 0x80040211},
        {"AddNew", [](CLogDbDataAcc& a) { return a.AddNew(); }, 0x80040213},
        {"PutFieldByIndex", [](CLogDbDataAcc& a) { return a.PutFieldByIndex(0, Variant::i4(1)); }, 0x80040210},
        {"GetFieldValueByIndex", [&](CLogDbDataAcc& a) { return a.GetFieldValueByIndex(0, &v); }, 0x8004020F},
        {"MoveLast", [](CLogDbDataAcc& a) { return a.MoveLast(); }, 0x8004020E},
        {"MovePrevious", [](CLogDbDataAcc& a) { return a.MovePrevious(); }, 0x8004020D},
        {"MoveNext", [](CLogDbDataAcc& a) { return a.MoveNext(); }, 0x8004020C},
        {"MoveFirst", [](CLogDbDataAcc& a) { return a.MoveFirst(); }, 0x8004020B},
        {"MoveTo", [](CLogDbDataAcc& a) { return a.MoveTo(2); }, 0x8004020E},
        {"GetConnectionState", [](CLogDbDataAcc& a) { return a.GetConnectionState(); }, 0x80040209},
    };
    for (const auto& c : cases) {
        CLogDbDataAcc acc;
        platform::set_last_error(77);
        EXPECT_EQ(static_cast<uint32_t>(c.call(acc)), c.code) << c.name;
        EXPECT_STREQ(acc.GetLastErrorText(), "") << c.name;
        EXPECT_EQ(platform::last_error(), 0) << c.name << ": E_POINTER is no provider code";
    }
    CLogDbDataAcc acc;
    EXPECT_EQ(acc.CloseRecordset(), 0);
    EXPECT_EQ(acc.CloseAll(), 0);
    EXPECT_EQ(acc.WaitIdle(u"x", u"y"), 0);
}

TEST(DataAcc, LastErrorRuleAndKeptDescription) {
    struct Case {
        uint32_t code;
        int last_error;
    };
    const Case cases[] = {{0x80040200, 0}, {0x8004FFFF, 0xFDFF}, {0x80004005, 0}, {0x80040E14, 0x0C14},
                          {0x80040E37, 0x0C37}, {0x800401FF, 0}, {0x80050200, 0}};
    CLogDbDataAcc acc;
    for (const auto& c : cases) {
        acc.CaptureComError(ado::ComError(ado::hr(c.code), "src", "text"));
        EXPECT_EQ(platform::last_error(), c.last_error) << std::hex << c.code;
    }
    const std::string long_text(1500, 'x');
    acc.CaptureComError(ado::ComError(ado::kFail, "src", long_text));
    EXPECT_EQ(std::string(acc.GetLastErrorText()), long_text.substr(0, 999));
    acc.CaptureComError(ado::ComError(ado::kFail, "src", ""));
    EXPECT_STREQ(acc.GetLastErrorText(), "");
    acc.CaptureComError(ado::ComError(ado::kFail, "src", "Data Source=x;Password=hunter2;User ID=u \xC2\xB0"));
    EXPECT_STREQ(acc.GetLastErrorText(), "Data Source=x;Password={***};User ID=u \xB0") << "Windows-1252, masked";
}

TEST_F(DataAccSqlite, OpenTableWithAndWithoutRowsAndTheLetterD) {
    sql("CREATE TABLE x (a integer)");
    sql("CREATE TABLE xd (a integer)");
    sql("INSERT INTO xd VALUES (5)");
    CLogDbDataAcc acc;
    connect(acc);
    EXPECT_EQ(acc.GetConnectionState(), 1);
    EXPECT_EQ(acc.OpenTable(u"x", u"D"), 1) << "x alone: no rows";
    EXPECT_EQ(acc.OpenTable(u"x", u"d"), 0) << "xd: a row";
    Variant v;
    EXPECT_EQ(acc.GetFieldValueByName(u"a", &v), 0);
    EXPECT_EQ(v, Variant::i4(5));
    EXPECT_EQ(acc.OpenTable(u"select * from xd where a = ", u"5"), 0);
    EXPECT_EQ(acc.OpenTable(u"select * from xd where a = ", u"6"), 1);
    Variant eof;
    EXPECT_EQ(acc.IsEOF(&eof), 0) << "the recordset stays open";
    EXPECT_EQ(eof, Variant::boolean(true));
    EXPECT_EQ(static_cast<uint32_t>(acc.OpenTable(u"nosuch", u"")), 0x8004020Au);
    EXPECT_NE(std::string(acc.GetLastErrorText()).find("no such table"), std::string::npos) << acc.GetLastErrorText();
    EXPECT_EQ(platform::last_error(), 0x0C37);
}

// Counts the calls OpenTable and FindRowByField make through the virtual table.
class CountingDataAcc : public CLogDbDataAcc {
  public:
    Result MoveFirst() override {
        ++moveFirst;
        return CLogDbDataAcc::MoveFirst();
    }
    Result MoveNext() override {
        ++moveNext;
        return CLogDbDataAcc::MoveNext();
    }
    Result IsEOF(ado::Variant* out) override {
        ++isEof;
        return CLogDbDataAcc::IsEOF(out);
    }
    int moveFirst = 0, moveNext = 0, isEof = 0;
};

TEST_F(DataAccSqlite, OpenTableAndFindRowReEnterThroughTheVirtualTable) {
    sql("CREATE TABLE T (a integer, s varchar(8))");
    for (int i = 1; i <= 3; ++i) sql("INSERT INTO T VALUES (" + std::to_string(i) + ", 'r" + std::to_string(i) + "')");
    CountingDataAcc acc;
    connect(acc);
    EXPECT_EQ(acc.OpenTable(u"select * from T order by a", u""), 0);
    EXPECT_EQ(acc.moveFirst, 1);
    EXPECT_EQ(acc.isEof, 1);
    Variant found;
    EXPECT_EQ(acc.FindRowByField(Variant::i4(3), u"a", &found), 0);
    EXPECT_EQ(found, Variant::boolean(true));
    EXPECT_EQ(acc.moveFirst, 2);
    EXPECT_EQ(acc.moveNext, 2);
    Variant s;
    EXPECT_EQ(acc.GetFieldValueByName(u"s", &s), 0);
    EXPECT_EQ(s, Variant::text(u"r3")) << "the found row stays current";
    EXPECT_EQ(acc.FindRowByField(Variant::i2(3), u"a", &found), 0);
    EXPECT_EQ(found, Variant::boolean(false)) << "same contents, other type";
    EXPECT_EQ(static_cast<uint32_t>(acc.FieldEquals(Variant::text(u"r1"), u"s", &found)), 0x8004021Bu)
        << "a failed search ends past the last row";
}

// Moves and end tests that fail, as a driver's fetch error would make them.
class FailingMovesDataAcc : public CLogDbDataAcc {
  public:
    Result MoveNext() override { return failNext ? ado::hr(0x8004020C) : CLogDbDataAcc::MoveNext(); }
    Result IsEOF(ado::Variant* out) override { return failEof ? ado::hr(0x80040219) : CLogDbDataAcc::IsEOF(out); }
    bool failNext = false;
    bool failEof = false;
};

TEST_F(DataAccSqlite, FailingMovesAreReportedNotTakenForRows) {
    sql("CREATE TABLE T (a integer)");
    sql("INSERT INTO T VALUES (1)");
    sql("INSERT INTO T VALUES (2)");
    FailingMovesDataAcc acc;
    connect(acc);
    acc.failEof = true;
    EXPECT_EQ(static_cast<uint32_t>(acc.OpenTable(u"T", u"")), 0x8004020Au) << "no end test, no claim of a row";
    acc.failEof = false;
    ASSERT_EQ(acc.OpenTable(u"T", u""), 0);
    acc.failNext = true;
    Variant found = Variant::i4(7);
    EXPECT_EQ(static_cast<uint32_t>(acc.FindRowByField(Variant::i4(2), u"a", &found)), 0x80040217u)
        << "a search whose move fails ends instead of reading the same row for ever";
    EXPECT_EQ(found, Variant::i4(7)) << "nothing written";
}

TEST_F(DataAccSqlite, ReadingFields) {
    sql("CREATE TABLE T (a integer, r real, s varchar(8), f float)");
    sql("INSERT INTO T VALUES (1, 1.5, 'one', NULL)");
    sql("INSERT INTO T VALUES (2, 2.5, 'two', 3.5)");
    CLogDbDataAcc acc;
    connect(acc);
    ASSERT_EQ(acc.OpenRecordset(u"select a, r, s, f from T order by a", 3, 3, 1), 0);
    EXPECT_EQ(acc.GetFieldValueByName(u"a", nullptr), ado::kInvalidArg);
    EXPECT_EQ(acc.GetFieldValueByIndex(0, nullptr), ado::kInvalidArg);
    EXPECT_EQ(acc.GetDoublesByIndex(1, 1, nullptr), ado::kInvalidArg);
    Variant v;
    EXPECT_EQ(acc.FieldEquals(Variant::text(u"one"), u"s", &v), 0);
    EXPECT_EQ(v, Variant::boolean(true));
    const Variant names[2] = {Variant::text(u"s"), Variant::text(u"a")};
    Variant out[2];
    EXPECT_EQ(acc.ReadFields(2, names, out), 0);
    EXPECT_EQ(out[0], Variant::text(u"one"));
    EXPECT_EQ(out[1], Variant::i4(1));
    double d[3] = {-1, -1, -1};
    EXPECT_EQ(static_cast<uint32_t>(acc.GetDoublesByIndex(1, 3, d)), 0x80040214u) << "'one' is no double";
    EXPECT_EQ(d[0], 1.5) << "values already stored stay";
    EXPECT_EQ(static_cast<uint32_t>(acc.GetDoublesByIndex(3, 1, d)), 0x80040214u) << "NULL is no double";
    EXPECT_EQ(acc.MoveTo(1), 0);
    EXPECT_EQ(acc.GetDoublesByIndex(3, 1, d), 0);
    EXPECT_EQ(d[0], 3.5);
    EXPECT_EQ(static_cast<uint32_t>(acc.GetFieldValueByName(u"nosuch", &v)), 0x8004021Au);
    EXPECT_EQ(acc.MoveLast(), 0);
    EXPECT_EQ(acc.MovePrevious(), 0);
    EXPECT_EQ(acc.GetFieldValueByIndex(0, &v), 0);
    EXPECT_EQ(v, Variant::i4(1));
    EXPECT_EQ(acc.MoveNext(), 0);
    EXPECT_EQ(acc.MoveNext(), 0);
    EXPECT_EQ(static_cast<uint32_t>(acc.MoveNext()), 0x8004020Cu) << "past the end";
    Variant bof;
    EXPECT_EQ(acc.IsBOF(&bof), 0);
    EXPECT_EQ(bof, Variant::boolean(false));
    int32_t n = 0;
    EXPECT_EQ(acc.GetRecordCount(&n), 0);
    EXPECT_EQ(n, 2);
}

TEST_F(DataAccSqlite, WritingRows) {
    sql("CREATE TABLE T (a integer, s varchar(8), r1 real, r2 real)");
    CLogDbDataAcc acc;
    connect(acc);
    ASSERT_EQ(acc.OpenTableByName(u"T"), 0);
    ASSERT_EQ(acc.AddNew(), 0);
    EXPECT_EQ(acc.PutFieldByIndex(0, Variant::i4(1)), 0);
    const double values[2] = {0.25, 0.5};
    EXPECT_EQ(acc.PutDoubleFields(2, 2, values), 0);
    ASSERT_EQ(acc.AddNew(), 0) << "saves the pending row";
    EXPECT_EQ(acc.PutFieldByIndex(0, Variant::i4(2)), 0);
    EXPECT_EQ(acc.Update(), 0);
    const Variant fields = Variant::array({Variant::text(u"a"), Variant::text(u"s")});
    const Variant row = Variant::array({Variant::i4(3), Variant::text(u"x")});
    EXPECT_EQ(acc.AddNewRow(99, &fields, &row), 0);
    EXPECT_EQ(count("T WHERE a = 1 AND r1 = 0.25 AND r2 = 0.5"), 1);
    EXPECT_EQ(count("T WHERE a = 2"), 1);
    EXPECT_EQ(count("T WHERE a = 3 AND s = 'x'"), 1);

    ASSERT_EQ(acc.OpenTable(u"select * from T where a = 3", u""), 0);
    EXPECT_EQ(acc.SetFieldValue(u"s", Variant::text(u"")), 0);
    EXPECT_EQ(count("T WHERE a = 3 AND s IS NULL"), 1) << "an empty text stores NULL";
    EXPECT_EQ(acc.SetFieldValue(u"s", Variant::text(u"y")), 0);
    EXPECT_EQ(acc.SetFieldValue(u"r1", Variant::r8(7)), 0);
    EXPECT_EQ(count("T WHERE a = 3 AND s = 'y' AND r1 = 7"), 1);
    EXPECT_EQ(acc.DeleteCurrent(), 0);
    EXPECT_EQ(count("T WHERE a = 3"), 0);
    EXPECT_EQ(acc.CancelUpdate(), 0);

    ASSERT_EQ(acc.OpenRecordset(u"select * from T", 3, 1, 1), 0);
    EXPECT_EQ(static_cast<uint32_t>(acc.AddNew()), 0x80040213u) << "read-only";
    EXPECT_STREQ(acc.GetLastErrorText(), "") << "refused without an error";
    EXPECT_EQ(static_cast<uint32_t>(acc.SetFieldValue(u"s", Variant::text(u"z"))), 0x8004021Cu);
    EXPECT_EQ(acc.CloseRecordset(), 0);
    EXPECT_EQ(acc.CloseAll(), 0);
    EXPECT_EQ(static_cast<uint32_t>(acc.GetConnectionState()), 0x80040209u) << "dropped";
}

TEST_F(DataAccSqlite, OpenTableByNameReportsAMissingTableWithoutCapturing) {
    CLogDbDataAcc acc;
    connect(acc);
    acc.CaptureComError(ado::ComError(ado::kFail, "src", "earlier"));
    EXPECT_EQ(static_cast<uint32_t>(acc.OpenTableByName(u"LOGGERS")), 0x80040E37u);
    EXPECT_STREQ(acc.GetLastErrorText(), "earlier");
    sql("CREATE TABLE LOGGERS (a integer)");
    EXPECT_EQ(acc.OpenTableByName(u"LOGGERS"), 0);
}

TEST_F(DataAccSqlite, AFailedOpenLeavesTheObjectUsable) {
    sql("CREATE TABLE T (a integer)");
    CLogDbDataAcc acc;
    connect(acc);
    ASSERT_EQ(acc.OpenRecordset(u"select * from T", 3, 3, 1), 0);
    EXPECT_EQ(static_cast<uint32_t>(acc.OpenRecordset(u"select * frm T", 3, 3, 1)), 0x8004020Au);
    EXPECT_EQ(platform::last_error(), 0x0C14);
    EXPECT_EQ(acc.OpenRecordset(u"select * from T", 3, 3, 1), 0);
    EXPECT_EQ(acc.CloseAll(), 0);
}

TEST_F(DataAccSqlite, CloseAllWithAFailingCloseReturnsZeroAndKeepsTheText) {
    CLogDbDataAcc acc;
    const std::string missing = "Provider=SQLite.File;Data Source=" + (dir_ / "none.db").string();
    EXPECT_EQ(static_cast<uint32_t>(acc.OpenConnection(u16(missing), u"", 0)), 0x80040207u);
    EXPECT_EQ(acc.GetConnectionState(), 0);
    EXPECT_EQ(acc.CloseAll(), 0) << "closing the connection that never opened fails inside";
    EXPECT_NE(std::string(acc.GetLastErrorText()), "");
    EXPECT_NE(std::string(acc.GetLastErrorText()).find("closed"), std::string::npos) << acc.GetLastErrorText();
}

TEST_F(DataAccSqlite, TraceShowsTheSqlAndTheComLine) {
    log_stores_test::TraceLines trace;
    CLogDbDataAcc acc;
    connect(acc);
    EXPECT_NE(acc.OpenRecordset(u"select * from nosuch", 3, 3, 1), 0);
    EXPECT_EQ(trace.lines("select * from nosuch").size(), 1u);
    const auto com = trace.lines("COM Exeption: SQLite.File \t : ");
    ASSERT_EQ(com.size(), 1u);
    EXPECT_NE(com[0].find("no such table"), std::string::npos) << com[0];
    EXPECT_EQ(com[0].substr(com[0].size() - 2), "\r\n");
    acc.CaptureComError(ado::ComError(ado::kFail, "p", "failed for Password=hunter2;PWD=x2"));
    for (const auto& line : trace.lines()) {
        EXPECT_EQ(line.find("hunter2"), std::string::npos) << line;
        EXPECT_EQ(line.find("x2"), std::string::npos) << line;
    }
}

// Holds the accessor's lock on another thread (inside OpenTable's call of MoveFirst) until
// released.
class BlockingDataAcc : public CLogDbDataAcc {
  public:
    Result MoveFirst() override {
        std::unique_lock l(m);
        if (block) {
            inside = true;
            cv.notify_all();
            cv.wait(l, [&] { return !block; });
        }
        l.unlock();
        return CLogDbDataAcc::MoveFirst();
    }
    void wait_inside() {
        std::unique_lock l(m);
        cv.wait(l, [&] { return inside; });
    }
    void release() {
        std::lock_guard l(m);
        block = false;
        cv.notify_all();
    }
    std::mutex m;
    std::condition_variable cv;
    bool block = true;
    bool inside = false;
};

TEST_F(DataAccSqlite, TheSqlIsTracedBeforeTheLockAndMovesWaitForIt) {
    sql("CREATE TABLE T (a integer)");
    sql("INSERT INTO T VALUES (1)");
    log_stores_test::TraceLines trace;
    BlockingDataAcc acc;
    connect(acc);
    std::thread holder([&] { EXPECT_EQ(acc.OpenTable(u"T", u""), 0); });
    acc.wait_inside();
    std::atomic<int> done{0};
    std::thread opener([&] {
        EXPECT_EQ(acc.OpenRecordset(u"select a from T where a = 1", 3, 3, 1), 0);
        done |= 1;
    });
    std::thread mover([&] {
        acc.MoveLast();
        acc.MoveTo(0);
        done |= 2;
    });
    for (int i = 0; i < 200 && trace.lines("where a = 1").empty(); ++i) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(trace.lines("where a = 1").size(), 1u) << "traced while another thread holds the lock";
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(done.load(), 0) << "MoveLast, MoveTo and the open wait for the lock";
    acc.release();
    holder.join();
    opener.join();
    mover.join();
    EXPECT_EQ(done.load(), 3);
}

TEST_F(DataAccSqlite, TwoThreadsOnOneAccessor) {
    sql("CREATE TABLE T (a integer, r real)");
    for (int i = 0; i < 20; ++i) sql("INSERT INTO T VALUES (" + std::to_string(i) + ", 0.5)");
    CLogDbDataAcc acc;
    connect(acc);
    ASSERT_EQ(acc.OpenRecordset(u"select * from T order by a", 3, 3, 1), 0);
    std::atomic<bool> stop{false};
    std::thread opener([&] {
        for (int i = 0; i < 200; ++i) {
            EXPECT_EQ(acc.OpenRecordset(u"select * from T order by a", 3, 3, 1), 0);
            Variant eof;
            acc.IsEOF(&eof);
        }
        stop = true;
    });
    int reads = 0;
    while (!stop) {
        // Every call either works on a whole recordset or fails cleanly with its code.
        acc.MoveLast();
        acc.MoveTo(5);
        Variant v;
        if (acc.GetFieldValueByIndex(0, &v) == 0) {
            EXPECT_TRUE(v.type() == ado::VarType::i4) << static_cast<int>(v.type());
            ++reads;
        }
        acc.MoveNext();
    }
    opener.join();
    EXPECT_GT(reads, 0);
}

}  // namespace
