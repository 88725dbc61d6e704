// The database store's statements on engines this machine has no server for, through the
// recording driver posing as them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db_schema_fixtures.h"
#include "log_stores/db_store/db_store.h"
#include "log_stores/run_file/run_file_format.h"
#include "recording_script.h"

namespace {

using namespace log_stores;
using namespace log_stores_test;

TEST(DbStoreOnRecorder, SqlServerGetsTopFormsForTheLimitedReads) {
    RecordingScript script(
        "dbms Microsoft SQL Server\n"
        "expect select sTablePrefix from LOGGERS where sLoggerName = 'O''Hara' AND nLoggerSequence = 3\n"
        "columns sTablePrefix:CHAR\n"
        "row L_   \n"
        "expect SELECT TOP 2 * FROM [L_DATA] ORDER BY DT DESC, MS DESC\n"
        "columns DT:DATETIME MS:INTEGER TX:VARCHAR AB1:REAL\n"
        "row 2024-03-05 10:00:01.000|0|NULL|2.5\n"
        "row 2024-03-05 10:00:00.000|0|NULL|NULL\n"
        "expect SELECT TOP 1 * FROM [L_DATA] ORDER BY DT DESC, MS DESC\n"
        "columns DT:DATETIME MS:INTEGER TX:VARCHAR AB1:REAL\n"
        "row 2024-03-05 10:00:01.000|0|NULL|2.5\n"
        "expect SELECT * FROM [L_DATA] WHERE DT = { ts '2024-03-05 10:00:01.000' } AND MS = 0\n"
        "columns DT:DATETIME MS:INTEGER TX:VARCHAR AB1:REAL\n"
        "row 2024-03-05 10:00:01.000|0|NULL|2.5\n");
    CLogDbStore store;
    const std::string location = script.connection_string() + ";LoggerName=O'Hara;LoggerSeq=3";
    ASSERT_EQ(store.Open(nullptr, location.c_str(), kGenericRead), 0)
        << store.GetErrorContext() << " " << store.GetErrorText() << script.log();
    char prefix[kDbNameCapacity];
    store.GetTablePrefix(prefix, sizeof prefix);
    EXPECT_STREQ(prefix, "L_") << "the padding blanks dropped";
    const LogHeader h = header_of({{"AB", 1, 1}}, false, false);
    std::vector<std::uint8_t> out(static_cast<std::size_t>(h.recordSize) * 2);
    EXPECT_EQ(store.ReadLogsByTime(nullptr, nullptr, h, out.data(), h.recordSize, 2, 0, nullptr, true, false), 2);
    run_file::ChannelSample sample;
    run_file::read_sample(out, h.blocks[0], 0, sample);
    EXPECT_EQ(sample.flags, 0x80);
    EXPECT_EQ(sample.value, 2.5f);
    // The latest record: newest first, one row, then its (DT, MS) group whole.
    ASSERT_EQ(store.ReadLog(0, h, out.data(), h.recordSize, 0, 0, nullptr, 1, true), 0)
        << store.GetErrorContext() << " " << store.GetErrorText() << script.log();
    EXPECT_EQ(run_file::decode_record_head(out).time.seconds, 1709632801);
    EXPECT_FALSE(script.has_unexpected()) << script.log();
}

TEST(DbStoreOnRecorder, TheRemoteRetryKeepsTheFirstFailuresTexts) {
    RecordingScript script("connect-error 08001 17 Server does not exist or access denied.\n");
    CLogDbStore store;
    const std::string location = script.connection_string() + ";LoggerName=L;LoggerSeq=3";
    EXPECT_EQ(store.Open("plant-server", location.c_str(), kGenericRead), -1);
    EXPECT_STREQ(store.GetErrorContext(), "CAN'T OPEN DATABASE");
    EXPECT_NE(std::string(store.GetErrorText()).find("Server does not exist"), std::string::npos)
        << store.GetErrorText();
    // Without a server there is no retry, and the text is the same.
    CLogDbStore local;
    EXPECT_EQ(local.Open(nullptr, location.c_str(), kGenericRead), -1);
    EXPECT_STREQ(local.GetErrorText(), store.GetErrorText());
}

}  // namespace
