// The logger table rules on each real engine: built once with SQLite files and once with the
// MariaDB test server (DB_SCHEMA_ON_MARIADB). Tables are made and rows written and read
// through the data-access layer, as the database stores do.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <memory>
#include <random>
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
#include "log_stores/db_access/log_db_acc.h"
#include "log_stores/db_access/log_db_data_acc.h"
#include "platform/ado/connection.h"
#include "platform/ado/recordset.h"
#include "platform/ado/text_codec.h"
#include "platform/last_error.h"
#include "qvr/time/timestamp.h"
#include "test_database.h"

namespace {

using namespace log_stores::db_schema;
using namespace log_stores_test;
using ado::Variant;

#ifdef DB_SCHEMA_ON_MARIADB
constexpr bool kOnMariaDb = true;
#define SCHEMA_SUITE SchemaRulesOnMariaDb
#else
constexpr bool kOnMariaDb = false;
#define SCHEMA_SUITE SchemaRulesOnSqlite
#endif

std::u16string u16(const std::string& s) {
    return ado::utf16_from_utf8(s);
}

std::int32_t utc(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    std::tm t{};
    t.tm_year = y - 1900;
    t.tm_mon = mo - 1;
    t.tm_mday = d;
    t.tm_hour = h;
    t.tm_min = mi;
    t.tm_sec = s;
    return static_cast<std::int32_t>(time_MakeSeconds(&t));
}

// Every channel an enabled analog one.
ChannelLookup analog_lookup() {
    return [](std::size_t, std::uint16_t) {
        static const qvr::ChannelRecord record = analog_channel("x");
        return &record;
    };
}

class SchemaFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        db_ = suite_database(kOnMariaDb);
        if (!db_) GTEST_SKIP() << kNoMariaDbServer;
        ASSERT_EQ(schema_.OpenConnection(db_->connection_string(), u""), 0) << schema_.ErrorText();
        ASSERT_EQ(schema_.SetConnected(), 0);
        ASSERT_EQ(data_.OpenConnection(db_->connection_string(), u"", 0), 0) << data_.GetLastErrorText();
        ASSERT_EQ(data_.WaitIdle(u"", u""), 0);
        connection_ = std::make_shared<ado::Connection>();
        connection_->open(db_->connection_string());
        dialect_ = connection_->dialect();
        ASSERT_TRUE(run(loggers_create(false)) || run(loggers_create(true)));
        ASSERT_TRUE(run(loggers_key(dialect_))) << schema_.ErrorText();
    }

    bool run(const std::string& statement) {
        return schema_.ExecuteSql(u16(statement)) == 0;
    }
    Attempt attempt(const std::string& statement) {
        return run(statement) ? Attempt::accepted : judge_last_error(platform::last_error());
    }

    std::vector<std::vector<Variant>> rows(const std::string& sql) { return query_rows(connection_, sql); }
    std::int64_t count(const std::string& from_where) {
        const auto r = rows("SELECT COUNT(*) FROM " + from_where);
        return r.empty() ? -1 : r[0][0].to_i8();
    }

    // A new run's sequence and prefix as a collection finds them, its CHANNELS table made and
    // its LOGGERS row written.
    std::optional<PrefixTry> new_run(const std::string& logger, const std::string& run_prefix, bool plain,
                                     bool date, std::int32_t start) {
        const auto highest = rows(highest_counter_query(dialect_, logger));
        RunNaming naming{
            logger,
            run_prefix,
            plain,
            date,
            start,
            next_counter(highest.empty() ? std::nullopt : std::optional<std::int64_t>(highest[0][0].to_i8()))};
        const auto taken = first_accepted(prefix_tries(naming), [&](const PrefixTry& t) {
            return run(channels_create(dialect_, t.prefix));
        });
        if (!taken) return taken;
        EXPECT_TRUE(
            run("INSERT INTO LOGGERS (sLoggerName, nLoggerSequence, sTablePrefix, bCompleted) VALUES (" +
                text_literal(dialect_, logger) + ", " + std::to_string(taken->sequence) + ", " +
                text_literal(dialect_, taken->prefix) + ", 0)"))
            << schema_.ErrorText();
        return taken;
    }

    // The DATA table of a header; true when one of its forms was accepted.
    bool make_data(const std::string& prefix, const log_stores::LogHeader& h, const ChannelLookup& lookup,
                   bool digital_text) {
        const auto list = build_column_list(dialect_, h, lookup, digital_text);
        if (!list.list) {
            ADD_FAILURE() << list.context;
            return false;
        }
        for (const auto& form :
             data_create_forms(dialect_, Backend::ado, prefix, h.sigChange != 0, list.list->definition)) {
            if (run(form)) {
                for (const auto& index : data_indexes(dialect_, Backend::ado, prefix))
                    EXPECT_TRUE(run(index)) << index << ": " << schema_.ErrorText();
                return true;
            }
        }
        ADD_FAILURE() << schema_.ErrorText();
        return false;
    }

    void write(const std::string& prefix, const log_stores::LogHeader& h,
               const std::vector<std::uint8_t>& record, bool digital_text = false,
               const ChannelLookup& lookup = {}) {
        const auto values = data_row_values(h, record, digital_text, lookup);
        ASSERT_TRUE(values);
        ASSERT_EQ(data_.OpenTableByName(u16(prefix + "DATA")), 0) << data_.GetLastErrorText();
        ASSERT_EQ(data_.AddNew(), 0) << data_.GetLastErrorText();
        for (const auto& f : *values)
            ASSERT_EQ(data_.PutFieldByIndex(f.index, f.value), 0) << data_.GetLastErrorText();
        ASSERT_EQ(data_.Update(), 0) << data_.GetLastErrorText();
    }

    std::unique_ptr<TestDatabase> db_;
    CLogDbAcc schema_;
    CLogDbDataAcc data_;
    std::shared_ptr<ado::Connection> connection_;
    ado::Dialect dialect_;
};

using SCHEMA_SUITE = SchemaFixture;

TEST_F(SCHEMA_SUITE, TheLoggersKeyRefusesASecondRowOfOneRun) {
    EXPECT_TRUE(run("INSERT INTO LOGGERS (sLoggerName, nLoggerSequence) VALUES ('L', 1)"));
    EXPECT_FALSE(run("INSERT INTO LOGGERS (sLoggerName, nLoggerSequence) VALUES ('L', 1)"));
    EXPECT_TRUE(run("INSERT INTO LOGGERS (sLoggerName, nLoggerSequence) VALUES ('L', 2)"));
}

TEST_F(SCHEMA_SUITE, SequencesAndPrefixesOfSuccessiveRuns) {
    const std::int32_t march5 = utc(2024, 3, 5, 8, 0, 0);
    const struct {
        const char* what;
        const char* logger;
        const char* run_prefix;
        bool plain, date;
        const char* prefix;
        std::int32_t sequence;
    } runs[] = {
        {"first run takes the plain prefix", "L", "", true, false, "L_", 1},
        {"counter 2 skips the plain prefix", "L", "", true, false, "L_00000002_", 2},
        {"the date prefix", "L", "", false, true, "L_20240305_", 20240305},
        {"the same day again falls to the counter, which ignores the date", "L", "", false, true,
         "L_00000003_", 3},
        {"blanks and parentheses", "Line 1 (A)", "", true, false, "Line_1__A__", 1},
        {"a run name prefix", "Line 1 (A)", "Batch 7", true, false, "Batch_7_", 2},
        {"a run name prefix whose plain table exists", "Line 1 (A)", "Batch 7", true, false,
         "Batch_7_00000003_", 3},
        {"quotes, backslash, semicolon, backtick and dashes", "Q'x\"y\\z;w`v--u", "", true, false,
         "Q'x\"y\\z;w`v__u_", 1},
        {"and its second run", "Q'x\"y\\z;w`v--u", "", true, false, "Q'x\"y\\z;w`v__u_00000002_", 2},
    };
    for (const auto& r : runs) {
        const auto taken = new_run(r.logger, r.run_prefix, r.plain, r.date, march5);
        ASSERT_TRUE(taken) << r.what << ": " << schema_.ErrorText();
        EXPECT_EQ(taken->prefix, r.prefix) << r.what;
        EXPECT_EQ(taken->sequence, r.sequence) << r.what;
        EXPECT_EQ(count(run_table(dialect_, taken->prefix, "CHANNELS")), 0) << r.what;
    }
    const auto row = rows(run_row_query(dialect_, "sTablePrefix", "Q'x\"y\\z;w`v--u", 2));
    ASSERT_EQ(row.size(), 1u);
    EXPECT_EQ(stored_prefix(ado::utf8_from_utf16(row[0][0].to_text())), "Q'x\"y\\z;w`v__u_00000002_");
    EXPECT_EQ(count("LOGGERS"), 9) << "nothing was injected";
}

TEST_F(SCHEMA_SUITE, ReservedWordTagsAndValuesWrittenAndReadBack) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    auto h = header_of({{"AI", 1, 4}, {"DI", 1, 2}}, true, true);
    const std::vector<qvr::ChannelRecord> ai{analog_channel("KEY"), analog_channel("ORDER"),
                                             analog_channel("USER"), analog_channel("a'b\"c`;\\")};
    const std::vector<qvr::ChannelRecord> di{digital_channel("select", "Off", "On"),
                                             digital_channel("dt", "Shut", "Open")};
    const std::vector<std::span<const qvr::ChannelRecord>> blocks{ai, di};
    const auto lookup = lookup_in_blocks(h, blocks);
    const auto run_ = new_run("T", "", true, false, 0);
    ASSERT_TRUE(run_);
    const std::string p = run_->prefix;
    ASSERT_TRUE(make_data(p, h, lookup, false));
    const TimeStamp t{utc(2024, 3, 5, 10, 0, 0), 125, 0};
    write(p, h,
          record_of(h, t, {{0x80, 1.5f}, {0x80, nan}, {0xA0, 3}, {0x80, -2}, {0x01, 0}, {0x00, 0}}, 2, nan));
    const std::string data = run_table(dialect_, p, "DATA");
    const auto q = [&](const char* name) { return quoted_name(dialect_, name); };
    EXPECT_EQ(count(data + " WHERE " + q("KEY") + " = 1.5 AND " + q("ORDER") + " IS NULL AND " + q("USER") +
                    " IS NULL AND " + q("a'b\"c`;\\") + " = -2"),
              1);
    EXPECT_EQ(
        count(data + " WHERE " + q("select") + " = 1 AND " + q("DI2") + " = 0 AND LL = 2 AND LV IS NULL"), 1)
        << "a NaN LV is stored as NULL";
    const auto back = rows("SELECT DT, MS FROM " + data);
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(seconds_of_date(back[0][0].to_date()), t.seconds);
    EXPECT_EQ(back[0][1].to_i4(), 125);
}

TEST_F(SCHEMA_SUITE, StateTextColumnsHoldTheConfiguredTexts) {
    auto h = header_of({{"DI", 1, 2}}, false, false);
    const std::vector<qvr::ChannelRecord> di{
        digital_channel("a", "Stopped", "Running"),
        digital_channel("b", std::string(32, 'L'), std::string(32, 'H'))};
    const std::vector<std::span<const qvr::ChannelRecord>> blocks{di};
    const auto lookup = lookup_in_blocks(h, blocks);
    ASSERT_TRUE(make_data("S_", h, lookup, true));
    write("S_", h, record_of(h, {utc(2024, 1, 1), 0, 0}, {{0x01, 0}, {0x00, 0}}), true, lookup);
    const auto r = rows("SELECT DI1, DI2 FROM " + run_table(dialect_, "S_", "DATA"));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(ado::utf8_from_utf16(r[0][0].to_text()).substr(0, 7), "Running");
    EXPECT_EQ(ado::utf8_from_utf16(r[0][1].to_text()), std::string(32, 'L')) << "a full 32-character text";
}

TEST_F(SCHEMA_SUITE, TextsAreCutToTheirColumnsOnEveryEngine) {
    std::string header = "[HEADER]\r\n";
    for (int i = 0; i < 200; ++i) header += "\xC3\xA4x";  // 400 characters, 600 bytes
    header += "\r\n[PREDEFINED]\r\n" + std::string(300, 'p') + "\r\nshort\r\n";
    const auto parts = split_header_text(header);
    ASSERT_TRUE(parts.header);
    ASSERT_EQ(parts.predefined.size(), 2u);
    ASSERT_EQ(data_.OpenTableByName(u"LOGGERS"), 0) << data_.GetLastErrorText();
    ASSERT_EQ(data_.AddNew(), 0);
    EXPECT_EQ(data_.PutFieldByIndex(0, Variant::text(u"L")), 0);
    EXPECT_EQ(data_.PutFieldByIndex(1, Variant::i4(1)), 0);
    EXPECT_EQ(data_.PutFieldByIndex(6, column_text(*parts.header, kTextColumnSize)), 0);
    ASSERT_EQ(data_.Update(), 0) << data_.GetLastErrorText();
    ASSERT_TRUE(run(text_create(dialect_, "L_")));
    ASSERT_EQ(data_.OpenTableByName(u16("L_TEXT")), 0) << data_.GetLastErrorText();
    for (const auto& line : parts.predefined) {
        ASSERT_EQ(data_.AddNew(), 0);
        EXPECT_EQ(data_.PutFieldByIndex(0, column_text(line, kTextColumnSize)), 0);
    }
    ASSERT_EQ(data_.Update(), 0) << data_.GetLastErrorText();
    const auto stored = rows("SELECT sHeader FROM LOGGERS");
    ASSERT_EQ(stored.size(), 1u);
    const std::u16string text = stored[0][0].to_text();
    EXPECT_EQ(text.size(), 255u);
    EXPECT_EQ(text.substr(0, 4), u"\u00E4x\u00E4x");
    EXPECT_EQ(count(run_table(dialect_, "L_", "TEXT") +
                    " WHERE TX = " + text_literal(dialect_, std::string(255, 'p'))),
              1);
}

TEST_F(SCHEMA_SUITE, RangeConditionsExcludeBothEnds) {
    auto h = header_of({{"AI", 1, 1}}, false, false);
    ASSERT_TRUE(make_data("R_", h, analog_lookup(), false));
    const std::int32_t t0 = utc(2024, 10, 27, 0, 59, 59);
    const std::pair<std::int32_t, std::int16_t> times[] = {{t0, 0},     {t0, 500},   {t0, 750},
                                                           {t0 + 1, 0}, {t0 + 2, 0}, {t0 + 2, 10}};
    for (const auto& [s, ms] : times) write("R_", h, record_of(h, {s, ms, 0}, {{0x80, 1}}));
    const TimeStamp lower{t0, 500, 0}, upper{t0 + 2, 0, 0};
    const std::string data = run_table(dialect_, "R_", "DATA");
    auto kinds = LiteralKinds::for_connection(ado::utf8_from_utf16(db_->connection_string()));
    const struct {
        std::optional<TimeStamp> lo, hi;
        std::int64_t expected;
    } cases[] = {{lower, std::nullopt, 4},
                 {std::nullopt, upper, 4},
                 {lower, upper, 2},
                 {std::nullopt, std::nullopt, 6}};
    for (const auto& c : cases) {
        std::int64_t n = -1;
        EXPECT_TRUE(with_literal_kinds(kinds, dialect_, [&](int kind) {
            n = count(data + range_condition(kind, c.lo, c.hi));
            return n >= 0 ? Attempt::accepted : Attempt::form_refused;
        }));
        EXPECT_EQ(n, c.expected);
    }
    EXPECT_EQ(kinds.lowest(), 0);
    EXPECT_EQ(kinds.highest(), 0);
    // A range delete through the retry, as the stores send it.
    EXPECT_TRUE(with_literal_kinds(kinds, dialect_, [&](int kind) {
        return attempt("DELETE FROM " + data + range_condition(kind, std::nullopt, upper));
    }));
    EXPECT_EQ(count(data), 2);
}

TEST_F(SCHEMA_SUITE, EqualTimesComeBackInOneOrderWhateverThePageSize) {
    auto h = header_of({{"AI", 1, 2}}, false, false);
    ASSERT_TRUE(make_data("E_", h, analog_lookup(), false));
    // A second run's indexes in the same database (index names are database-wide on SQLite).
    ASSERT_TRUE(make_data("E2_", h, analog_lookup(), false));
    const std::int32_t t0 = utc(2024, 3, 5, 10, 0, 0);
    // 60 groups of five rows with equal DT and MS, written in a shuffled order.
    std::vector<std::pair<int, int>> order;
    for (int g = 0; g < 60; ++g)
        for (int k = 0; k < 5; ++k) order.emplace_back(g, k);
    std::shuffle(order.begin(), order.end(), std::mt19937(29));
    for (const auto& [g, k] : order) {
        const float v = static_cast<float>(k);
        write("E_", h,
              record_of(h, {t0 + g / 3, static_cast<std::int16_t>(g % 3 * 10), 0},
                        {{k == 4 ? 0x20 : 0x80, v}, {0x80, static_cast<float>(g)}}));
    }
    const auto read_all = [&](int page, bool descending) {
        std::vector<std::vector<Variant>> all;
        std::optional<RecordKey> after;
        const auto key_of = [](const std::vector<Variant>& row) {
            return RecordKey{*seconds_of_date(row[0].to_date()), row[1].to_i4()};
        };
        for (int guard = 0; guard < 1000; ++guard) {
            auto fetched = rows(page_query(dialect_, 0, {"E_", "*", after, page, descending}));
            std::vector<RecordKey> keys;
            for (const auto& r : fetched) keys.push_back(key_of(r));
            const PageCut cut = cut_page(keys, static_cast<std::size_t>(page));
            if (cut.whole_group) {
                fetched = rows(group_query(dialect_, 0, "E_", "*", keys.back()));
            } else {
                fetched.resize(cut.keep);
            }
            if (fetched.empty()) break;
            // Order every group of the page by its other columns.
            for (std::size_t from = 0; from < fetched.size();) {
                std::size_t to = from;
                while (to < fetched.size() && key_of(fetched[to]) == key_of(fetched[from])) ++to;
                std::vector<std::vector<Variant>> group(fetched.begin() + from, fetched.begin() + to);
                order_group(group, 2, descending);
                std::copy(group.begin(), group.end(), fetched.begin() + from);
                from = to;
            }
            after = key_of(fetched.back());
            all.insert(all.end(), fetched.begin(), fetched.end());
        }
        return all;
    };
    const auto by7 = read_all(7, false);
    ASSERT_EQ(by7.size(), 300u);
    EXPECT_EQ(read_all(1000, false), by7);
    EXPECT_EQ(read_all(3, false), by7) << "pages smaller than a group";
    auto backward = read_all(7, true);
    std::reverse(backward.begin(), backward.end());
    EXPECT_EQ(backward, by7);
    for (std::size_t i = 0; i < by7.size(); ++i) {
        // Inside each group: the bad value (NULL) first, then 0..3.
        const auto& v = by7[i][3];
        if (i % 5 == 0) {
            EXPECT_TRUE(v.is_null()) << i;
        } else {
            EXPECT_EQ(v.to_r8(), static_cast<double>(i % 5 - 1)) << i;
        }
        EXPECT_EQ(by7[i][4].to_r8(), static_cast<double>(i / 5)) << i;
    }
    const auto latest = rows(latest_key_query(dialect_, "E_"));
    ASSERT_EQ(latest.size(), 1u);
    EXPECT_EQ(seconds_of_date(latest[0][0].to_date()), t0 + 19);
    EXPECT_EQ(latest[0][1].to_i4(), 20);
}

// The zone a machine runs in never moves a stored time: across the autumn change in Berlin
// (01:00 UTC on 2024-10-27) the dates read back are the stamps' own UTC values.
TEST_F(SCHEMA_SUITE, StoredDatesAreTheStampsUtcValuesInAnyZone) {
    const char* was = std::getenv("TZ");
    const std::string saved = was ? was : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    auto h = header_of({{"AI", 1, 1}}, false, false);
    ASSERT_TRUE(make_data("Z_", h, analog_lookup(), false));
    const std::int32_t change = utc(2024, 10, 27, 1, 0, 0);
    const std::vector<std::int32_t> times{change - 3600, change - 1, change, change + 1, change + 3600};
    for (const std::int32_t t : times) write("Z_", h, record_of(h, {t, 0, 0}, {{0x80, 1}}));
    std::vector<std::int32_t> back;
    for (const auto& r : rows("SELECT DT FROM " + run_table(dialect_, "Z_", "DATA") + " ORDER BY DT"))
        back.push_back(seconds_of_date(r[0].to_date()).value_or(0));
    EXPECT_EQ(back, times);
    EXPECT_EQ(count(run_table(dialect_, "Z_", "DATA") + " WHERE DT = " + date_literal(0, change)), 1);
    if (was) {
        setenv("TZ", saved.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

TEST_F(SCHEMA_SUITE, DroppingARunsTables) {
    const auto r = new_run("D'x", "", true, false, 0);
    ASSERT_TRUE(r);
    ASSERT_TRUE(make_data(r->prefix, header_of({{"AI", 1, 1}}, false, false), analog_lookup(), false));
    const auto drops = drop_tables(dialect_, r->prefix);
    EXPECT_FALSE(run(drops[0])) << "a run made without header text has no TEXT table";
    EXPECT_TRUE(run(drops[1])) << schema_.ErrorText();
    EXPECT_TRUE(run(drops[2])) << schema_.ErrorText();
    EXPECT_TRUE(run(delete_run_row(dialect_, r->prefix)));
    EXPECT_EQ(count("LOGGERS"), 0);
}

#ifndef DB_SCHEMA_ON_MARIADB
TEST_F(SCHEMA_SUITE, ABusyDatabaseLeavesTheLiteralKindsAlone) {
    setenv("QUORVANE_DB_TIMEOUT", "1", 1);
    auto h = header_of({{"AI", 1, 1}}, false, false);
    ASSERT_TRUE(make_data("B_", h, analog_lookup(), false));
    write("B_", h, record_of(h, {utc(2024, 3, 5), 0, 0}, {{0x80, 1}}));
    ado::Connection holder;
    holder.open(db_->connection_string());
    holder.execute(u"BEGIN IMMEDIATE");
    holder.execute_utf8("INSERT INTO " + run_table(dialect_, "B_", "DATA") + " (MS) VALUES (1)");
    auto kinds = LiteralKinds::for_connection(ado::utf8_from_utf16(db_->connection_string()));
    int tried = 0;
    EXPECT_FALSE(with_literal_kinds(kinds, dialect_, [&](int kind) {
        ++tried;
        return attempt("DELETE FROM " + run_table(dialect_, "B_", "DATA") +
                       range_condition(kind, std::nullopt, TimeStamp{utc(2025, 1, 1), 0, 0}));
    }));
    EXPECT_EQ(tried, 1);
    EXPECT_EQ(kinds.lowest(), 0);
    EXPECT_EQ(kinds.highest(), 2);
    holder.execute(u"ROLLBACK");
    EXPECT_TRUE(with_literal_kinds(kinds, dialect_, [&](int kind) {
        return attempt("DELETE FROM " + run_table(dialect_, "B_", "DATA") +
                       range_condition(kind, std::nullopt, TimeStamp{utc(2025, 1, 1), 0, 0}));
    }));
    EXPECT_EQ(kinds.highest(), 0);
    EXPECT_EQ(count(run_table(dialect_, "B_", "DATA")), 0);
    unsetenv("QUORVANE_DB_TIMEOUT");
}
#endif

}  // namespace
