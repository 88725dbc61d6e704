// The logger table rules as tables of cases: names, prefixes, columns, texts, times and the
// statements built from them, for each engine's dialect.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "db_schema_fixtures.h"
#include "log_stores/db_schema/data_columns.h"
#include "log_stores/db_schema/data_row.h"
#include "log_stores/db_schema/date_literal.h"
#include "log_stores/db_schema/header_text.h"
#include "log_stores/db_schema/record_query.h"
#include "log_stores/db_schema/run_naming.h"
#include "log_stores/db_schema/schema_tables.h"
#include "log_stores/db_schema/sql_text.h"
#include "platform/ado/text_codec.h"
#include "qvr/time/timestamp.h"

namespace {

using namespace log_stores::db_schema;
using namespace log_stores_test;
using ado::Dialect;
using ado::Engine;
using ado::Variant;

std::int32_t utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(time_MakeSeconds(&t)));
}

// --- sequence numbers and table prefixes ---

struct PrefixCase {
    const char* what;
    const char* logger;
    const char* run_prefix;
    bool plain, date;
    std::int32_t counter;
    std::vector<std::pair<std::string, std::int32_t>> tries;  // prefix, sequence
};

TEST(RunNaming, TriesInOrderForEachFlagAndCounter) {
    const std::int32_t march5 = utc(2024, 3, 5, 23, 59, 59);
    const std::vector<PrefixCase> cases{
        {"first run, plain prefix", "L", "", true, false, 1, {{"L_", 1}, {"L_00000001_", 1}}},
        {"second run cannot use the plain prefix", "L", "", true, false, 2, {{"L_00000002_", 2}}},
        {"with a run name prefix the plain one is tried again",
         "L",
         "Batch",
         true,
         false,
         7,
         {{"Batch_", 7}, {"Batch_00000007_", 7}}},
        {"date prefix", "L", "", false, true, 3, {{"L_20240305_", 20240305}, {"L_00000003_", 3}}},
        {"every try", "L", "", true, true, 1, {{"L_", 1}, {"L_20240305_", 20240305}, {"L_00000001_", 1}}},
        {"blanks and parentheses",
         "Line 1 (A)",
         "",
         true,
         false,
         1,
         {{"Line_1__A__", 1}, {"Line_1__A__00000001_", 1}}},
        {"every replaced character",
         "a #&*=+?!^(){}~<>:-z",
         "",
         false,
         false,
         12,
         {{"a__________________z_00000012_", 12}}},
        {"apostrophes and quotes stay", "O'Neil \"x\"", "", false, false, 1, {{"O'Neil_\"x\"_00000001_", 1}}},
    };
    for (const auto& c : cases) {
        RunNaming n{c.logger, c.run_prefix, c.plain, c.date, march5, c.counter};
        const auto tries = prefix_tries(n);
        ASSERT_EQ(tries.size(), c.tries.size()) << c.what;
        for (std::size_t i = 0; i < tries.size(); ++i) {
            EXPECT_EQ(tries[i].prefix, c.tries[i].first) << c.what;
            EXPECT_EQ(tries[i].sequence, c.tries[i].second) << c.what;
        }
        EXPECT_EQ(tries.back().number, 2) << c.what;
    }
}

TEST(RunNaming, CounterFromTheHighestCounterSequence) {
    EXPECT_EQ(next_counter(std::nullopt), 1);
    EXPECT_EQ(next_counter(1), 2);
    EXPECT_EQ(next_counter(41), 42);
    EXPECT_EQ(next_counter(0), 1);
    EXPECT_EQ(next_counter(-5), 1) << "a tampered row never gives a negative counter";
}

TEST(RunNaming, FirstAcceptedTryAndItsSequence) {
    RunNaming n{"L", "", true, true, utc(2024, 3, 5), 1};
    const auto tries = prefix_tries(n);
    const auto none = first_accepted(tries, [](const PrefixTry&) { return false; });
    EXPECT_FALSE(none);
    const auto date = first_accepted(tries, [](const PrefixTry& t) { return t.number >= 1; });
    ASSERT_TRUE(date);
    EXPECT_EQ(date->prefix, "L_20240305_");
    EXPECT_EQ(date->sequence, 2024 * 10000 + 3 * 100 + 5);
}

TEST(RunNaming, StoredPrefixAndCollectionPrefixMatch) {
    EXPECT_EQ(stored_prefix("Line_1__A__00000002_      "), "Line_1__A__00000002_");
    EXPECT_EQ(stored_prefix("   "), "");
    // The table prefix holds the sanitised prefix: a prefix with blanks or parentheses still
    // finds its runs, letter case ignored.
    const struct {
        const char* table;
        const char* prefix;
        bool belongs;
    } cases[] = {
        {"Line_1__A__00000002_", "Line 1 (A)", true}, {"line_1__a__20240305_", "LINE 1 (A)", true},
        {"Line_1__A__00000002_", "", true},           {"Line_2_00000001_", "Line 1 (A)", false},
        {"Batch_00000001_", "Batch", true},           {"BatchX_00000001_", "Batch", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(prefix_belongs(c.table, c.prefix), c.belongs) << c.table << " " << c.prefix;
}

// --- column names and types ---

TEST(DataColumns, NamesByTagOrByPrefixAndNumber) {
    const auto h = header_of({{"AI", 3, 3}}, true, false);
    const struct {
        const char* tag;
        bool tag_columns;
        const char* column;
    } cases[] = {
        {"Flow", true, "Flow"},
        {"Flow", false, "AI3"},
        {"DT", true, "AI3"},
        {"dt", true, "AI3"},
        {"Tx", true, "AI3"},
        {"end", true, "AI3"},
        {"", true, "AI3"},
        {"   ", true, "___"},
        {"\t", true, "AI3"},
        {"DT1", true, "DT1"},
        {"Flow-1 (m3/h)", true, "Flow_1__m3/h_"},
        {"KEY", true, "KEY"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(column_name(h.blocks[0], 3, analog_channel(c.tag), c.tag_columns), c.column) << c.tag;
}

TEST(DataColumns, TypesQuotingAndOrder) {
    auto h = header_of({{"AI", 1, 2}, {"DI", 5, 5}}, true, false);
    const std::vector<qvr::ChannelRecord> ai{analog_channel("ORDER"), analog_channel("a\"b")};
    const std::vector<qvr::ChannelRecord> di{digital_channel("USER", "Off", "On")};
    const std::vector<std::span<const qvr::ChannelRecord>> blocks{ai, di};
    const auto lookup = lookup_in_blocks(h, blocks);
    const auto r = build_column_list(Dialect(Engine::sqlite), h, lookup, false);
    ASSERT_TRUE(r.list) << r.context;
    EXPECT_EQ(r.list->definition, ", \"ORDER\" REAL NULL, \"a\"\"b\" REAL NULL, \"USER\" INTEGER NULL");
    ASSERT_EQ(r.list->columns.size(), 3u);
    EXPECT_EQ(r.list->columns[2].block, 1u);
    EXPECT_EQ(r.list->columns[2].channel, 5);
    EXPECT_TRUE(r.list->columns[2].digital);
    const auto text = build_column_list(Dialect(Engine::mariadb), h, lookup, true);
    ASSERT_TRUE(text.list);
    // State texts in the code page's single bytes, as char(32) keeps them on SQL Server.
    EXPECT_EQ(text.list->definition,
              ", `ORDER` REAL NULL, `a\"b` REAL NULL, `USER` char(32) CHARACTER SET latin1 NULL");
    const auto mssql = build_column_list(Dialect(Engine::sql_server), h, lookup, false);
    EXPECT_EQ(mssql.list->definition, ", [ORDER] REAL NULL, [a\"b] REAL NULL, [USER] INTEGER NULL");
    const auto mssql_text = build_column_list(Dialect(Engine::sql_server), h, lookup, true);
    EXPECT_EQ(mssql_text.list->definition, ", [ORDER] REAL NULL, [a\"b] REAL NULL, [USER] char(32) NULL");
}

TEST(DataColumns, DuplicatesIgnoringCaseAndMissingChannels) {
    const struct {
        std::vector<std::string> tags;
        bool tag_columns;
        const char* context;  // empty: accepted
    } cases[] = {
        {{"Pump", "Pump"}, true, "DUPLICATE COLUMN Pump"},
        {{"Pump", "PUMP"}, true, "DUPLICATE COLUMN PUMP"},
        {{"Pump-1", "Pump 1"}, true, "DUPLICATE COLUMN Pump_1"},
        {{"\xC4l", "\xE4L"}, true, "DUPLICATE COLUMN \xC3\xA4L"},  // Windows-1252 letters fold too
        {{"AI2", "DT"}, true, "DUPLICATE COLUMN AI2"},             // a tag equal to a fallback name
        {{"dt", "DT"}, true, ""},                                  // both fall back to AI1, AI2
        {{"Pump", "Pump"}, false, ""},
    };
    for (const auto& c : cases) {
        const auto h = header_of({{"AI", 1, 2}}, c.tag_columns, false);
        const std::vector<qvr::ChannelRecord> ai{analog_channel(c.tags[0]), analog_channel(c.tags[1])};
        const std::vector<std::span<const qvr::ChannelRecord>> blocks{ai};
        const auto r = build_column_list(Dialect(Engine::sqlite), h, lookup_in_blocks(h, blocks), false);
        if (*c.context) {
            EXPECT_FALSE(r.list) << c.tags[0] << "," << c.tags[1];
            EXPECT_EQ(r.failure, ColumnFailure::duplicate);
            EXPECT_EQ(r.context, c.context);
        } else {
            EXPECT_TRUE(r.list) << c.tags[0] << "," << c.tags[1] << ": " << r.context;
        }
    }
    // The same prefix and channel in two blocks is a duplicate without tag columns.
    const auto twice = header_of({{"AI", 1, 1}, {"AI", 1, 1}}, false, false);
    const std::vector<qvr::ChannelRecord> one{analog_channel("x")};
    const std::vector<std::span<const qvr::ChannelRecord>> both{one, one};
    EXPECT_EQ(build_column_list(Dialect(), twice, lookup_in_blocks(twice, both), false).context,
              "DUPLICATE COLUMN AI1");
    // A block without its configurations.
    const std::vector<std::span<const qvr::ChannelRecord>> short_table{one};
    const auto missing = build_column_list(Dialect(), twice, lookup_in_blocks(twice, short_table), false);
    EXPECT_EQ(missing.failure, ColumnFailure::channels_missing);
    EXPECT_EQ(missing.context, "CAN'T FIND CHANNELS");
}

TEST(DataColumns, ModuleIndexAndDigitalTextSwitch) {
    EXPECT_EQ(module_index(1, 10), 0u);
    EXPECT_EQ(module_index(10, 10), 9u);
    EXPECT_FALSE(module_index(0, 10));
    EXPECT_FALSE(module_index(11, 10));
    EXPECT_FALSE(module_index(1, 0));
    EXPECT_TRUE(digital_text_selected("On"));
    EXPECT_TRUE(digital_text_selected("oN"));
    for (const char* v : {"", "Off", "1", "char(32)", "On ", "Onn"})
        EXPECT_FALSE(digital_text_selected(v)) << v;
    EXPECT_FALSE(digital_text_selected(std::nullopt));
}

TEST(DataColumns, ChannelsRowValues) {
    auto h = header_of({{"AI", 4, 4}}, true, false);
    auto& block = h.blocks[0];
    const char source[] = "Boiler house PLC";
    std::memcpy(block.carried.data(), source, sizeof source);
    block.carried[25] = 1;
    auto ai = analog_channel("Flow");
    qvr::split_text(ai, qvr::ChannelText::Description, "Main flow");
    qvr::split_text(ai, qvr::ChannelText::Units, "m3/h");
    ai.analog.MinimumUnits = 0;
    ai.analog.MaximumUnits = std::numeric_limits<float>::infinity();
    const auto row = channels_row(0, block, 4, ai, "Flow");
    ASSERT_EQ(row.size(), 14u);
    EXPECT_EQ(row[0], Variant::i4(0));
    EXPECT_EQ(row[1], Variant::text(u"AI"));
    EXPECT_EQ(row[2], Variant::i4(4));
    EXPECT_EQ(row[3], Variant::text(u"Boiler house PLC"));
    EXPECT_EQ(row[4], Variant::text(u"Flow"));
    EXPECT_EQ(row[5], Variant::text(u"Main flow"));
    EXPECT_EQ(row[6], Variant::i4(0));
    EXPECT_EQ(row[7], Variant::text(u"m3/h"));
    EXPECT_EQ(row[8], Variant::r4(0));
    EXPECT_TRUE(row[9].is_null()) << "a scale the servers refuse is written as NULL";
    EXPECT_TRUE(row[10].is_null());
    EXPECT_TRUE(row[11].is_null());
    EXPECT_EQ(row[12], Variant::text(u"Flow"));
    EXPECT_EQ(row[13], Variant::i4(1));
    const auto di = channels_row(0, block, 4, digital_channel("Run", "Stopped", "Running"), "Run");
    EXPECT_EQ(di[6], Variant::i4(1));
    EXPECT_TRUE(di[7].is_null());
    EXPECT_EQ(di[10], Variant::text(u"Stopped"));
    EXPECT_EQ(di[11], Variant::text(u"Running"));
    const auto off = channels_row(0, block, 4, analog_channel("Off", false), "Off");
    for (int i : {6, 7, 8, 9, 10, 11}) EXPECT_TRUE(off[i].is_null()) << i;
}

// --- header text ---

TEST(HeaderText, SplitCases) {
    const struct {
        const char* what;
        std::string text;
        std::optional<std::string> header;
        std::vector<std::string> lines;
    } cases[] = {
        {"no markers", "just text\r\n", std::nullopt, {}},
        {"header only", "[HEADER]\r\nline 1\r\nline 2", "line 1\r\nline 2", {}},
        {"both parts", "[HEADER]\r\nh1\r\nh2\r\n[PREDEFINED]\r\np1\r\n\r\np2\r\n", "h1\r\nh2", {"p1", "p2"}},
        {"a last line without CR LF is not stored", "[HEADER]\r\nh\r\n[PREDEFINED]\r\np1\r\np2", "h", {"p1"}},
        {"empty header", "[HEADER]\r\n\r\n[PREDEFINED]\r\np\r\n", "", {"p"}},
        {"predefined marker without header marker", "\r\n[PREDEFINED]\r\np\r\n", std::nullopt, {}},
        {"text before the header marker", "junk[HEADER]\r\nh", "h", {}},
        {"a lone CR stays inside a line", "[HEADER]\r\nh\r\n[PREDEFINED]\r\na\rb\r\n", "h", {"a\rb"}},
    };
    for (const auto& c : cases) {
        const auto parts = split_header_text(c.text);
        EXPECT_EQ(parts.header, c.header) << c.what;
        EXPECT_EQ(parts.predefined, c.lines) << c.what;
    }
}

TEST(HeaderText, LongTextsAreCutToTheColumnAtACharacterBoundary) {
    const std::string long_header = "[HEADER]\r\n" + std::string(300, 'h');
    const auto parts = split_header_text(long_header);
    ASSERT_TRUE(parts.header);
    EXPECT_EQ(parts.header->size(), 300u) << "the split keeps the whole text; the writer cuts";
    EXPECT_EQ(column_text(*parts.header, kTextColumnSize), Variant::text(std::u16string(255, u'h')));
    // 300 a-umlauts: 255 characters, not 255 bytes, and never half a character.
    std::string umlauts;
    for (int i = 0; i < 300; ++i) umlauts += "\xC3\xA4";
    EXPECT_EQ(column_text(umlauts, 255), Variant::text(std::u16string(255, u'\u00E4')));
    EXPECT_EQ(cut_to_characters(std::string_view("a\xC3\xA4\xE2\x82\xAC"), 2), "a\xC3\xA4");
    EXPECT_EQ(cut_to_characters(std::string_view("\xF0\x9F\x98\x80x"), 1), "\xF0\x9F\x98\x80");
    EXPECT_EQ(cut_to_characters(std::string_view("ab"), 5), "ab");
    EXPECT_EQ(cut_to_characters(std::u16string_view(u"\U0001F600x"), 1), u"\U0001F600");
    EXPECT_EQ(cut_to_characters(std::u16string_view(u"abc"), 2), u"ab");
}

// --- names and texts in SQL ---

TEST(SqlText, NamesAndLiteralsPerDialect) {
    const std::string nasty = "a'b\"c\\d;e`f--g]h";
    const struct {
        Engine engine;
        const char* table;
        const char* literal;
    } cases[] = {
        {Engine::sqlite, "\"a'b\"\"c\\d;e`f--g]hDATA\"", "'a''b\"c\\d;e`f--g]h'"},
        {Engine::mariadb, "`a'b\"c\\d;e``f--g]hDATA`", "'a''b\"c\\\\d;e`f--g]h'"},
        {Engine::sql_server, "[a'b\"c\\d;e`f--g]]hDATA]", "'a''b\"c\\d;e`f--g]h'"},
        {Engine::jet, "[a'b\"c\\d;e`f--g]]hDATA]", "'a''b\"c\\d;e`f--g]h'"},
    };
    for (const auto& c : cases) {
        const Dialect d(c.engine);
        EXPECT_EQ(run_table(d, nasty, "DATA"), c.table);
        EXPECT_EQ(text_literal(d, nasty), c.literal);
    }
    EXPECT_EQ(text_literal(Dialect(Engine::sqlite), std::string_view("ab\0'c", 5)), "'ab'")
        << "a NUL ends a text";
}

TEST(SchemaTables, StatementsPerDialect) {
    const Dialect sqlite(Engine::sqlite), maria(Engine::mariadb), mssql(Engine::sql_server);
    EXPECT_EQ(
        loggers_create(false),
        "CREATE TABLE LOGGERS (sLoggerName char(255), nLoggerSequence integer, dStartTime datetime,dStopTime "
        "datetime, bCompleted integer, sTablePrefix char(255), sHeader char(255), bTagColumns integer, "
        "bRowsPerChannel integer, bDST integer, nTimeZone integer,bSigChange integer, sTriggerPrefix "
        "char(2), "
        "nTriggerNumber integer,sLagPrefix char(2), nLagNumber integer, dTextTime datetime)");
    EXPECT_EQ(loggers_create(true).find("datetime"), std::string::npos);
    EXPECT_NE(loggers_create(true).find("dStartTime date,dStopTime date,"), std::string::npos);
    EXPECT_EQ(loggers_key(mssql),
              "ALTER TABLE LOGGERS ADD CONSTRAINT PK PRIMARY KEY (sLoggerName, nLoggerSequence)");
    EXPECT_EQ(loggers_key(sqlite),
              "CREATE UNIQUE INDEX LOGGERS_PK ON LOGGERS (sLoggerName, nLoggerSequence)");
    EXPECT_EQ(channels_index(mssql, "L_"), "CREATE INDEX [CH] ON [L_CHANNELS] (sPrefix, nChannelNumber)");
    EXPECT_EQ(channels_index(sqlite, "L_"),
              "CREATE INDEX \"L_CH\" ON \"L_CHANNELS\" (sPrefix, nChannelNumber)")
        << "index names are database-wide on SQLite";
    const auto forms = data_create_forms(mssql, Backend::ado, "L_", true, ", [AI1] REAL NULL");
    ASSERT_EQ(forms.size(), 3u);
    EXPECT_EQ(forms[0],
              "CREATE TABLE [L_DATA] (DT datetime, MS integer, TX varchar(255) NULL,LL integer, LV float "
              "NULL, [AI1] "
              "REAL NULL, TP float NULL)");
    EXPECT_EQ(forms[1],
              "CREATE TABLE [L_DATA] (DT datetime, MS integer, TX char(255) NULL,LL integer, LV float NULL, "
              "[AI1] REAL NULL, TP float NULL)");
    EXPECT_EQ(forms[2],
              "CREATE TABLE [L_DATA] (DT date, MS integer, TX char(255) NULL,LL integer, LV float NULL, "
              "[AI1] REAL NULL, TP float NULL)");
    const auto mysql = data_create_forms(maria, Backend::mysql, "L_", false, "");
    ASSERT_EQ(mysql.size(), 1u);
    EXPECT_EQ(mysql[0], "CREATE TABLE `L_DATA` (DT datetime, MS float, TX varchar(255) NULL, TP float NULL)");
    EXPECT_EQ(data_indexes(maria, Backend::mysql, "L_").size(), 1u);
    const auto idx = data_indexes(sqlite, Backend::ado, "L_");
    ASSERT_EQ(idx.size(), 4u);
    EXPECT_EQ(idx[0], "CREATE INDEX \"L_TM\" ON \"L_DATA\" (DT, MS)");
    EXPECT_EQ(idx[3], "CREATE INDEX \"L_TX\" ON \"L_DATA\" (TX)");
    EXPECT_EQ(text_create(maria, "L_"), "CREATE TABLE `L_TEXT` (TX char(255))");
    const auto drops = drop_tables(mssql, "L_");
    EXPECT_EQ(drops[0], "DROP TABLE [L_TEXT]");
    EXPECT_EQ(drops[1], "DROP TABLE [L_DATA]");
    EXPECT_EQ(drops[2], "DROP TABLE [L_CHANNELS]");
    EXPECT_EQ(highest_counter_query(maria, "O'Ne\\il"),
              "select nLoggerSequence from LOGGERS where sLoggerName = 'O''Ne\\\\il' AND nLoggerSequence < "
              "19000101 "
              "order by nLoggerSequence Desc");
    EXPECT_EQ(run_row_query(sqlite, "sTablePrefix", "x'; DROP TABLE LOGGERS; --", 3),
              "select sTablePrefix from LOGGERS where sLoggerName = 'x''; DROP TABLE LOGGERS; --' AND "
              "nLoggerSequence = 3");
    EXPECT_EQ(run_row_by_prefix(mssql, "O'N_"), "select * from LOGGERS where sTablePrefix = 'O''N_'");
    EXPECT_EQ(delete_run_row(mssql, "O'N_"), "DELETE from LOGGERS where sTablePrefix = 'O''N_'");
    EXPECT_EQ(run_list_query(sqlite, "L"),
              "select nLoggerSequence, dStartTime, dStopTime, bCompleted, sTablePrefix from LOGGERS where "
              "sLoggerName = 'L' order by dStartTime Desc");
}

// --- times ---

TEST(DateLiterals, KindsAndExtremeStamps) {
    const std::int32_t t = utc(2024, 3, 5, 7, 8, 9);
    EXPECT_EQ(date_literal(0, t), "{ ts '2024-03-05 07:08:09.000' }");
    EXPECT_EQ(date_literal(1, t), "{ ts '2024/03/05 07:08:09.000' }");
    EXPECT_EQ(date_literal(2, t), "#03/05/2024 07:08:09#");
    EXPECT_EQ(date_literal(3, t), "");
    EXPECT_EQ(date_literal(-1, t), "");
    EXPECT_EQ(date_literal(0, 0), "{ ts '1970-01-01 00:00:00.000' }");
    EXPECT_EQ(date_literal(0, std::numeric_limits<std::int32_t>::max()), "{ ts '2038-01-19 03:14:07.000' }");
    // The seconds count as unsigned: past 2038, up to 2106.
    EXPECT_EQ(date_literal(0, std::numeric_limits<std::int32_t>::min()), "{ ts '2038-01-19 03:14:08.000' }");
    EXPECT_EQ(date_literal(2, -1), "#02/07/2106 06:28:15#");
}

TEST(DateLiterals, DateValuesAreTheZoneFreeBreakdown) {
    const std::int32_t t = utc(2024, 10, 27, 1, 30, 0);
    const auto d = date_value(t);
    const auto civil = ado::civil_from_date(d);
    EXPECT_EQ(civil.year, 2024);
    EXPECT_EQ(civil.month, 10);
    EXPECT_EQ(civil.day, 27);
    EXPECT_EQ(civil.hour, 1);
    EXPECT_EQ(civil.minute, 30);
    EXPECT_EQ(seconds_of_date(d), t);
    EXPECT_EQ(seconds_of_date(date_value(-1)), -1) << "2106 comes back as the same stamp";
    EXPECT_FALSE(seconds_of_date(ado::date_from_civil({1969, 12, 31, 23, 59, 59, 0})));
    EXPECT_FALSE(seconds_of_date(ado::date_from_civil({1752, 1, 1, 0, 0, 0, 0})));
    EXPECT_FALSE(seconds_of_date(ado::date_from_civil({2106, 2, 7, 6, 28, 16, 0})));
}

TEST(DateLiterals, RangeConditionWithOneOrTwoExclusiveBounds) {
    const TimeStamp lo{utc(2024, 3, 5, 10, 0, 0), 250, 0};
    const TimeStamp hi{utc(2024, 3, 5, 11, 0, 0), 0, 0};
    EXPECT_EQ(range_condition(0, std::nullopt, std::nullopt), "");
    EXPECT_EQ(range_condition(0, lo, std::nullopt),
              " WHERE ((DT = { ts '2024-03-05 10:00:00.000' } AND MS > 250) OR DT > { ts '2024-03-05 "
              "10:00:00.000' }) ");
    EXPECT_EQ(range_condition(2, std::nullopt, hi),
              " WHERE ((DT = #03/05/2024 11:00:00# AND MS < 0) OR DT < #03/05/2024 11:00:00#) ");
    EXPECT_EQ(range_condition(1, lo, hi),
              " WHERE ((DT = { ts '2024/03/05 10:00:00.000' } AND MS > 250) OR DT > { ts '2024/03/05 "
              "10:00:00.000' }) "
              " AND ((DT = { ts '2024/03/05 11:00:00.000' } AND MS < 0) OR DT < { ts '2024/03/05 "
              "11:00:00.000' }) ");
}

TEST(DateLiterals, KindsTriedAndTheRetryRule) {
    EXPECT_EQ(LiteralKinds::for_connection("Provider=SQLite.File;Data Source=x")
                  .candidates(Dialect(Engine::sqlite)),
              std::vector<int>{0});
    EXPECT_EQ(LiteralKinds::for_connection("Provider=MSDASQL").candidates(Dialect(Engine::sql_server)),
              (std::vector<int>{0, 1}));
    EXPECT_EQ(LiteralKinds::for_connection("Provider=MSDASQL").candidates(Dialect(Engine::other)),
              (std::vector<int>{0, 1, 2}));
    const auto jet = LiteralKinds::for_connection("provider=microsoft.jet.oledb.4.0; Data Source=x.mdb");
    EXPECT_EQ(jet.lowest(), 2);
    EXPECT_EQ(jet.candidates(Dialect(Engine::jet)), std::vector<int>{2});
    EXPECT_EQ(jet.candidates(Dialect(Engine::sql_server)), std::vector<int>{2})
        << "the range holds none of the engine's";

    const struct {
        const char* what;
        std::vector<Attempt> answers;  // per kind tried
        bool accepted;
        int tried;
        int lowest, highest;
    } cases[] = {
        {"the first kind is taken", {Attempt::accepted}, true, 1, 0, 0},
        {"a syntax refusal moves on", {Attempt::form_refused, Attempt::accepted}, true, 2, 1, 1},
        {"a busy database fixes nothing", {Attempt::failed}, false, 1, 0, 2},
        {"every kind refused",
         {Attempt::form_refused, Attempt::form_refused, Attempt::form_refused},
         false,
         3,
         0,
         2},
    };
    for (const auto& c : cases) {
        auto kinds = LiteralKinds::for_connection("Provider=X");
        int tried = 0;
        const bool ok = with_literal_kinds(kinds, Dialect(Engine::other), [&](int kind) {
            EXPECT_EQ(kind, tried) << c.what;
            return c.answers.at(static_cast<std::size_t>(tried++));
        });
        EXPECT_EQ(ok, c.accepted) << c.what;
        EXPECT_EQ(tried, c.tried) << c.what;
        EXPECT_EQ(kinds.lowest(), c.lowest) << c.what;
        EXPECT_EQ(kinds.highest(), c.highest) << c.what;
    }
    EXPECT_EQ(judge_failure(ado::kSyntax), Attempt::form_refused);
    EXPECT_EQ(judge_failure(ado::kConversion), Attempt::form_refused);
    EXPECT_EQ(judge_failure(ado::kFail), Attempt::failed);
    EXPECT_EQ(judge_failure(ado::kNoSuchTable), Attempt::failed);
    EXPECT_EQ(judge_last_error(0x0C14), Attempt::form_refused);
    EXPECT_EQ(judge_last_error(0x0C07), Attempt::form_refused);
    EXPECT_EQ(judge_last_error(0), Attempt::failed);
}

// --- DATA rows ---

TEST(DataRow, ValuesByPositionWithBadAndNonFiniteAsNull) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    auto h = header_of({{"AI", 1, 4}, {"DI", 1, 3}}, false, true);
    const std::vector<qvr::ChannelRecord> ai(4, analog_channel("a"));
    const std::vector<qvr::ChannelRecord> di{digital_channel("d1", "Low1", "High1"),
                                             analog_channel("not digital")};
    const std::vector<std::span<const qvr::ChannelRecord>> blocks{ai, di};
    const auto lookup = lookup_in_blocks(h, blocks);
    const TimeStamp t{utc(2024, 3, 5, 1, 2, 3), 456, 789};
    const auto rec = record_of(h, t,
                               {{0x80, 1.5f},
                                {0xA0, 2.5f},
                                {0x80, nan},
                                {0x80, -inf},  // analog block
                                {0x01, 0},
                                {0x00, 7},
                                {0x01, 0}},  // digital block
                               3, inf);
    const auto v = data_row_values(h, rec, false, lookup);
    ASSERT_TRUE(v);
    ASSERT_EQ(v->size(), 4u + 7u);
    EXPECT_EQ((*v)[0].index, 0);
    EXPECT_EQ((*v)[0].value, Variant::date(date_value(t.seconds)));
    EXPECT_EQ((*v)[1].value, Variant::i4(456));
    EXPECT_EQ((*v)[2].index, 3);
    EXPECT_EQ((*v)[2].value, Variant::i4(3));
    EXPECT_EQ((*v)[3].index, 4);
    EXPECT_TRUE((*v)[3].value.is_null()) << "an infinite LV";
    EXPECT_EQ((*v)[4].index, 5);
    EXPECT_EQ((*v)[4].value, Variant::r4(1.5f));
    EXPECT_TRUE((*v)[5].value.is_null()) << "flag 0x20 whatever the value";
    EXPECT_TRUE((*v)[6].value.is_null()) << "NaN";
    EXPECT_TRUE((*v)[7].value.is_null()) << "-inf";
    EXPECT_EQ((*v)[8].value, Variant::i4(1));
    EXPECT_EQ((*v)[9].value, Variant::i4(0));
    EXPECT_EQ((*v)[10].index, 11);

    const auto text = data_row_values(h, rec, true, lookup);
    ASSERT_TRUE(text);
    EXPECT_EQ((*text)[8].value, Variant::text(u"High1"));
    EXPECT_EQ((*text)[9].value, Variant::i4(0)) << "configured as analog: its column is numeric";
    EXPECT_EQ((*text)[10].value, Variant::text(u"")) << "no configuration for channel 3";
    EXPECT_EQ((*text)[4].value, Variant::r4(1.5f)) << "analog channels are unchanged";
}

TEST(DataRow, ShortRecordsAndNarrowBlocks) {
    auto h = header_of({{"AI", 1, 2}}, false, false);
    const auto rec = record_of(h, {1, 0, 0}, {{0x80, 1}, {0x80, 2}});
    EXPECT_FALSE(data_row_values(h, std::span(rec).first(rec.size() - 1), false, {}));
    h.blocks[0].blockKind = 4;  // fewer than 8 bytes per channel: no value is kept
    const auto v = data_row_values(h, rec, false, {});
    ASSERT_TRUE(v);
    EXPECT_TRUE((*v)[2].value.is_null());
    EXPECT_EQ((*v)[2].index, 3);
    auto outside = header_of({{"AI", 1, 2}}, false, false);
    outside.blocks[0].recordOffset = 30;  // the block runs past the record
    EXPECT_FALSE(data_row_values(outside, rec, false, {}));
}

// --- ordered records ---

TEST(RecordQuery, RowLimitsInTheEngineForm) {
    EXPECT_EQ(limited_select(Dialect(Engine::sql_server), "*", "[L_DATA]", " ORDER BY DT ASC", 5),
              "SELECT TOP 5 * FROM [L_DATA] ORDER BY DT ASC");
    EXPECT_EQ(limited_select(Dialect(Engine::jet), "DT, MS", "[L_DATA]", "", 1),
              "SELECT TOP 1 DT, MS FROM [L_DATA]");
    EXPECT_EQ(limited_select(Dialect(Engine::sqlite), "*", "\"L_DATA\"", " ORDER BY DT ASC", 5),
              "SELECT * FROM \"L_DATA\" ORDER BY DT ASC LIMIT 5");
    EXPECT_EQ(limited_select(Dialect(Engine::mariadb), "*", "`L_DATA`", "", std::nullopt),
              "SELECT * FROM `L_DATA`");
}

TEST(RecordQuery, PageGroupAndLatestQueries) {
    const Dialect mssql(Engine::sql_server), sqlite(Engine::sqlite);
    const std::int32_t t = utc(2024, 3, 5, 10, 0, 0);
    EXPECT_EQ(page_query(sqlite, 0, {"L_", "*", std::nullopt, 7, false}),
              "SELECT * FROM \"L_DATA\" ORDER BY DT ASC, MS ASC LIMIT 7");
    EXPECT_EQ(
        page_query(mssql, 1, {"L_", "*", RecordKey{t, 5}, 7, false}),
        "SELECT TOP 7 * FROM [L_DATA] WHERE ((DT = { ts '2024/03/05 10:00:00.000' } AND MS > 5) OR DT > { ts "
        "'2024/03/05 10:00:00.000' })  ORDER BY DT ASC, MS ASC");
    EXPECT_EQ(page_query(sqlite, 0, {"L_", "DT, MS", RecordKey{t, 5}, 0, true}),
              "SELECT DT, MS FROM \"L_DATA\" WHERE ((DT = { ts '2024-03-05 10:00:00.000' } AND MS < 5) OR DT "
              "< { ts "
              "'2024-03-05 10:00:00.000' })  ORDER BY DT DESC, MS DESC");
    EXPECT_EQ(group_query(mssql, 2, "L_", "*", {t, 5}),
              "SELECT * FROM [L_DATA] WHERE DT = #03/05/2024 10:00:00# AND MS = 5");
    EXPECT_EQ(latest_key_query(mssql, "L_"), "SELECT TOP 1 DT, MS FROM [L_DATA] ORDER BY DT DESC, MS DESC");
    EXPECT_EQ(latest_key_query(sqlite, "L_"),
              "SELECT DT, MS FROM \"L_DATA\" ORDER BY DT DESC, MS DESC LIMIT 1");
}

TEST(RecordQuery, PagesEndOnWholeGroups) {
    const RecordKey a{1, 0}, b{1, 5}, c{2, 0};
    const struct {
        std::vector<RecordKey> keys;
        std::size_t limit, keep;
        bool whole;
    } cases[] = {
        {{a, a, b, b, c}, 5, 4, false},  // c may go on in the next page
        {{a, a, b, b}, 5, 4, false},     // not full: the end of the run
        {{a, b, b, b, b}, 5, 1, false},
        {{b, b, b}, 3, 0, true},  // one group fills the page: read it whole
        {{}, 3, 0, false},
        {{a, b, c}, 0, 3, false},  // no limit
    };
    for (const auto& k : cases) {
        const auto cut = cut_page(k.keys, k.limit);
        EXPECT_EQ(cut.keep, k.keep);
        EXPECT_EQ(cut.whole_group, k.whole);
    }
}

TEST(RecordQuery, GroupsComeOutInOneOrder) {
    using Row = std::vector<Variant>;
    const Row r1{Variant::i4(0), Variant::i4(0), Variant::null(), Variant::r8(2.0)};
    const Row r2{Variant::i4(0), Variant::i4(0), Variant::null(), Variant::r8(1.0)};
    const Row r3{Variant::i4(0), Variant::i4(0), Variant::text(u"t"), Variant::r8(0.5)};
    const Row r4{Variant::i4(0), Variant::i4(0), Variant::null(), Variant::null()};
    std::vector<Row> one{r1, r2, r3, r4}, other{r3, r4, r2, r1};
    order_group(one, 2, false);
    order_group(other, 2, false);
    EXPECT_EQ(one, other);
    EXPECT_EQ(one, (std::vector<Row>{r4, r2, r1, r3}));
    order_group(other, 2, true);
    EXPECT_EQ(other, (std::vector<Row>{r3, r1, r2, r4}));
    EXPECT_LT(compare_values(Variant::null(), Variant::i4(-5)), 0);
    EXPECT_EQ(compare_values(Variant::i4(2), Variant::r8(2.0)), 0);
    EXPECT_LT(compare_values(Variant::r4(1), Variant::date({0, 0})), 0);
    EXPECT_LT(compare_values(Variant::text(u"a"), Variant::text(u"b")), 0);
}

}  // namespace
