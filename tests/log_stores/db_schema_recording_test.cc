// The logger table rules against the recording driver posing as the engines that cannot run
// here: the exact statements, the row limit forms and the literal kinds they are sent with.
#include <gtest/gtest.h>

#include <string>

#include "log_stores/db_schema/date_literal.h"
#include "log_stores/db_schema/record_query.h"
#include "log_stores/db_schema/run_naming.h"
#include "log_stores/db_schema/schema_tables.h"
#include "platform/ado/com_error.h"
#include "platform/ado/connection.h"
#include "platform/ado/recordset.h"
#include "platform/ado/text_codec.h"
#include "recording_script.h"

namespace {

using namespace log_stores::db_schema;
using log_stores_test::RecordingScript;

// Sends a statement; the verdict the stores' literal retry judges by.
Attempt send(ado::Connection& c, const std::string& sql) {
    try {
        c.execute_utf8(sql);
        return Attempt::accepted;
    } catch (const ado::ComError& e) {
        return judge_failure(e.code());
    }
}

constexpr std::int32_t k20240305_100000 = 1709632800;

TEST(SchemaOnRecorder, SqlServerRefusingTheFirstKindFixesTheSecond) {
    RecordingScript script(
        "dbms Microsoft SQL Server\n"
        "expect DELETE FROM [L_DATA] WHERE ((DT = { ts '2024-03-05 10:00:00.000' } AND MS < 0) OR DT < { ts "
        "'2024-03-05 10:00:00.000' }) \n"
        "error 42000 102 Incorrect syntax near '{'.\n"
        "expect DELETE FROM [L_DATA] WHERE ((DT = { ts '2024/03/05 10:00:00.000' } AND MS < 0) OR DT < { ts "
        "'2024/03/05 10:00:00.000' }) \n"
        "affected 3\n"
        "expect SELECT COUNT(*) FROM [L_DATA] WHERE ((DT = { ts '2024/03/05 10:00:00.000' } AND MS > 0) OR "
        "DT > { ts "
        "'2024/03/05 10:00:00.000' }) \n"
        "error HYT00 0 Query timeout expired\n");
    ado::Connection c;
    c.open(ado::utf16_from_utf8(script.connection_string()));
    auto kinds = LiteralKinds::for_connection(script.connection_string());
    const TimeStamp t{k20240305_100000, 0, 0};
    EXPECT_TRUE(with_literal_kinds(kinds, c.dialect(), [&](int kind) {
        return send(c, "DELETE FROM [L_DATA]" + range_condition(kind, std::nullopt, t));
    }));
    EXPECT_EQ(kinds.lowest(), 1);
    // A time-out is no verdict on the literal: the kind stays, nothing more is sent.
    EXPECT_FALSE(with_literal_kinds(kinds, c.dialect(), [&](int kind) {
        return send(c, "SELECT COUNT(*) FROM [L_DATA]" + range_condition(kind, t, std::nullopt));
    }));
    EXPECT_EQ(kinds.lowest(), 1);
    EXPECT_FALSE(script.has_unexpected()) << script.log();
}

TEST(SchemaOnRecorder, JetWritesKindTwoFromTheFirstStatementAndTop) {
    RecordingScript script(
        "dbms ACCESS\n"
        "expect SELECT TOP 50 * FROM [L_DATA] WHERE ((DT = #03/05/2024 10:00:00# AND MS > 7) OR DT > "
        "#03/05/2024 "
        "10:00:00#)  ORDER BY DT ASC, MS ASC\n"
        "columns DT:DATETIME MS:INTEGER\n"
        "expect SELECT TOP 1 DT, MS FROM [L_DATA] ORDER BY DT DESC, MS DESC\n"
        "columns DT:DATETIME MS:INTEGER\n");
    ado::Connection c;
    c.open(ado::utf16_from_utf8(script.connection_string()));
    EXPECT_EQ(c.dialect().engine(), ado::Engine::jet);
    auto kinds = LiteralKinds::for_connection("Provider=Microsoft.Jet.OLEDB.4.0; Data Source=\"x.mdb\"");
    int tried = 0;
    EXPECT_TRUE(with_literal_kinds(kinds, c.dialect(), [&](int kind) {
        ++tried;
        return send(c, page_query(c.dialect(), kind, {"L_", "*", RecordKey{k20240305_100000, 7}, 50, false}));
    }));
    EXPECT_EQ(tried, 1);
    EXPECT_EQ(send(c, latest_key_query(c.dialect(), "L_")), Attempt::accepted);
    EXPECT_FALSE(script.has_unexpected()) << script.log();
}

TEST(SchemaOnRecorder, ARunsTablesOnSqlServerWithTheDataFallback) {
    RecordingScript script(
        "dbms Microsoft SQL Server\n"
        "expect select nLoggerSequence from LOGGERS where sLoggerName = 'O''Hara' AND nLoggerSequence < "
        "19000101 "
        "order by nLoggerSequence Desc\n"
        "columns nLoggerSequence:INTEGER\n"
        "row 4\n"
        "expect CREATE TABLE [O'Hara_00000005_CHANNELS] (nBlock int, sPrefix char(2), nChannelNumber "
        "integer, "
        "sSource char(32), sTag char(32), sDescription char(32), nType int,sUnits char(12), fMinScale real, "
        "fMaxScale real, sLowStateDesc char(32), sHighStateDesc char(32), sColumnName char(32), bLag "
        "integer)\n"
        "expect CREATE INDEX [CH] ON [O'Hara_00000005_CHANNELS] (sPrefix, nChannelNumber)\n"
        "expect CREATE TABLE [O'Hara_00000005_DATA] (DT datetime, MS integer, TX varchar(255) NULL, [AI1] "
        "REAL "
        "NULL, TP float NULL)\n"
        "error 42000 2715 Column, parameter, or variable #3: Cannot find data type varchar.\n"
        "expect CREATE TABLE [O'Hara_00000005_DATA] (DT datetime, MS integer, TX char(255) NULL, [AI1] REAL "
        "NULL, "
        "TP float NULL)\n"
        "expect CREATE INDEX [TM] ON [O'Hara_00000005_DATA] (DT, MS)\n"
        "expect CREATE INDEX [DT] ON [O'Hara_00000005_DATA] (DT)\n"
        "expect CREATE INDEX [MS] ON [O'Hara_00000005_DATA] (MS)\n"
        "expect CREATE INDEX [TX] ON [O'Hara_00000005_DATA] (TX)\n"
        "expect CREATE TABLE [O'Hara_00000005_TEXT] (TX char(255))\n");
    auto c = std::make_shared<ado::Connection>();
    c->open(ado::utf16_from_utf8(script.connection_string()));
    const ado::Dialect& d = c->dialect();
    ado::Recordset rs;
    rs.set_active_connection(c);
    rs.open(ado::utf16_from_utf8(highest_counter_query(d, "O'Hara")), ado::kStatic, ado::kReadOnly,
            ado::kCmdUnknown);
    const auto counter = next_counter(
        rs.eof() ? std::nullopt : std::optional<std::int64_t>(rs.value(ado::Variant::i4(0)).to_i8()));
    rs.close();
    const auto tries = prefix_tries({"O'Hara", "", true, false, 0, counter});
    ASSERT_EQ(tries.size(), 1u);
    const auto taken = first_accepted(tries, [&](const PrefixTry& t) {
        return send(*c, channels_create(d, t.prefix)) == Attempt::accepted;
    });
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->sequence, 5);
    EXPECT_EQ(send(*c, channels_index(d, taken->prefix)), Attempt::accepted);
    bool made = false;
    for (const auto& form : data_create_forms(d, Backend::ado, taken->prefix, false, ", [AI1] REAL NULL"))
        if (!made) made = send(*c, form) == Attempt::accepted;
    EXPECT_TRUE(made);
    for (const auto& index : data_indexes(d, Backend::ado, taken->prefix))
        EXPECT_EQ(send(*c, index), Attempt::accepted);
    EXPECT_EQ(send(*c, text_create(d, taken->prefix)), Attempt::accepted);
    EXPECT_FALSE(script.has_unexpected()) << script.log();
}

}  // namespace
