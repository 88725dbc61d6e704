#include "log_stores/log_location.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

using namespace log_stores;

TEST(LogLocation, KindsFollowTheProviderPrefix) {
    struct Case {
        const char* location;
        LocationKind kind;
    };
    const Case cases[] = {
        {nullptr, LocationKind::File},
        {"", LocationKind::File},
        {"C:\\Data\\Loggers", LocationKind::File},
        {"\\\\plant7\\share\\runs", LocationKind::File},
        {"//plant7/share/runs", LocationKind::File},
        {"/var/lib/quorvane/data", LocationKind::File},
        {"PROVIDER", LocationKind::File},
        {" PROVIDER=MYSQL", LocationKind::File},
        {"PROVIDER=mysql;SERVER=127.0.0.1", LocationKind::MySql},
        {"provider=MySQLx", LocationKind::MySql},
        {"Provider=MYSQ", LocationKind::Ado},
        {"PROVIDER=SQLOLEDB;Data Source=.", LocationKind::Ado},
        {"PROVIDER=", LocationKind::Ado},
        {"PROVIDER=witsml;URL=x", LocationKind::Witsml},
        {"PROVIDER=OSDU", LocationKind::Osdu},
        {"PROVIDER=OSD", LocationKind::Ado},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location == nullptr ? "(none)" : c.location);
        EXPECT_EQ(GetLocationKind(c.location), c.kind);
    }
}

TEST(LogLocation, NameThenSequenceAreTakenOutAndCut) {
    std::string location = "PROVIDER=SQLOLEDB;Data Source=.;LoggerName=Kiln_3;LoggerSeq=00000042";
    char name[32] = "untouched";
    std::size_t size = sizeof name;
    ASSERT_EQ(GetLoggerNameFromLocation(location, &size, name), 1);
    EXPECT_STREQ(name, "Kiln_3");
    EXPECT_EQ(size, 7u);
    EXPECT_EQ(location, "PROVIDER=SQLOLEDB;Data Source=.;LoggerSeq=00000042");

    std::int32_t sequence = -1;
    ASSERT_EQ(GetLoggerSeqFromLocation(location, sequence), 1);
    EXPECT_EQ(sequence, 42);
    EXPECT_EQ(location, "PROVIDER=SQLOLEDB;Data Source=.");
    EXPECT_EQ(GetLoggerSeqFromLocation(location, sequence), 0);
    EXPECT_EQ(GetLoggerNameFromLocation(location, &size, name), 0);
}

TEST(LogLocation, TheNameIsCopiedOnlyWithRoomForItsTerminator) {
    struct Case {
        const char* note;
        std::size_t given;
        bool with_buffer;
        int result;
    };
    // The value "Line5" needs 6 bytes.
    const Case cases[] = {
        {"room for the NUL", 6, true, 1},
        {"exactly the length, no NUL", 5, true, 0},
        {"none", 0, true, 0},
        {"plenty", 64, true, 1},
        {"size query", 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.note);
        const std::string original = "PROVIDER=x;loggername=Line5;Other=1";
        std::string location = original;
        char name[64];
        std::memset(name, '#', sizeof name);
        std::size_t size = c.given;
        EXPECT_EQ(GetLoggerNameFromLocation(location, &size, c.with_buffer ? name : nullptr), c.result);
        EXPECT_EQ(size, 6u);
        if (c.result == 1) {
            EXPECT_STREQ(name, "Line5");
            EXPECT_EQ(location, "PROVIDER=x;Other=1");
        } else {
            EXPECT_EQ(name[0], '#') << "nothing copied";
            EXPECT_EQ(location, original);
        }
    }
    // A value at the very end, and an empty one.
    std::string tail = "PROVIDER=x;LoggerName=End";
    char name[8];
    std::size_t size = sizeof name;
    ASSERT_EQ(GetLoggerNameFromLocation(tail, &size, name), 1);
    EXPECT_STREQ(name, "End");
    EXPECT_EQ(tail, "PROVIDER=x");
    std::string empty = "PROVIDER=x;LoggerName=;LoggerSeq=1";
    size = sizeof name;
    ASSERT_EQ(GetLoggerNameFromLocation(empty, &size, name), 1);
    EXPECT_STREQ(name, "");
    EXPECT_EQ(empty, "PROVIDER=x;LoggerSeq=1");
}

TEST(LogLocation, SequencesReadAsDecimalNumbers) {
    struct Case {
        const char* location;
        int result;
        std::int32_t sequence;
        const char* left;
    };
    const Case cases[] = {
        {"P;LoggerSeq=00000007", 1, 7, "P"},
        {"P;loggerseq=12;More=1", 1, 12, "P;More=1"},
        {"P;LoggerSeq= -3", 1, -3, "P"},
        {"P;LoggerSeq=+5", 1, 5, "P"},
        {"P;LoggerSeq=12ab;X", 1, 12, "P;X"},
        {"P;LoggerSeq=2147483647", 1, 2147483647, "P"},
        {"P;LoggerSeq=abc;X", 0, 0, "P;LoggerSeq=abc;X"},
        {"P;LoggerSeq=;X", 0, 0, "P;LoggerSeq=;X"},
        {"P;LoggerSeq=-", 0, 0, "P;LoggerSeq=-"},
        {"P;LoggerSeq=99999999999", 0, 0, "P;LoggerSeq=99999999999"},
        {"P;Seq=1", 0, 0, "P;Seq=1"},
        {"LoggerSeq=1", 0, 0, "LoggerSeq=1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.location);
        std::string location = c.location;
        std::int32_t sequence = 0;
        EXPECT_EQ(GetLoggerSeqFromLocation(location, sequence), c.result);
        if (c.result == 1) {
            EXPECT_EQ(sequence, c.sequence);
        }
        EXPECT_EQ(location, c.left);
    }
}

TEST(LogLocation, TableNamesLoseEveryCharacterADatabaseRefuses) {
    std::string name = " #&*=+?!^(){}~<>:-Abc_9.x";
    SanitiseTableName(name);
    EXPECT_EQ(name, "__________________Abc_9.x");
}

TEST(LogLocation, ReservedColumnNamesKeepTheirCase) {
    for (const char* tag : {"", "END", "DT", "MS", "TX", "TP", "LL", "LV"}) EXPECT_EQ(IsReservedColumnName(tag), 1) << tag;
    for (const char* tag : {"dt", "DT1", "Lv", " DT", "ENDS", "T"}) EXPECT_EQ(IsReservedColumnName(tag), 0) << tag;
}

TEST(LogLocation, TextLinesCountPairsAndATrailingLine) {
    struct Case {
        std::string_view text;
        int lines;
    };
    for (const Case c : {Case{"", 0}, Case{"a", 1}, Case{"a\r\n", 1}, Case{"a\r\nb", 2}, Case{"\r\n\r\n", 2},
                         Case{"a\nb\rc", 1}, Case{"a\r\r\n", 1}, Case{"\r", 1}}) {
        EXPECT_EQ(CountTextLines(c.text), c.lines) << testing::PrintToString(std::string(c.text));
    }
}

// The rule every GetLocation follows: copy only with room for the NUL, always report the need.
TEST(LogLocation, LocationsAreCopiedOnlyWhenTheyAndTheirTerminatorFit) {
    struct Case {
        std::size_t given;
        bool with_buffer, copied;
    };
    for (const Case c : {Case{11, true, true}, Case{10, true, false}, Case{0, true, false}, Case{260, true, true},
                         Case{0, false, false}}) {
        SCOPED_TRACE(c.given);
        char out[300];
        std::memset(out, '#', sizeof out);
        std::size_t size = c.given;
        EXPECT_EQ(copy_with_size("/runs/a.qd", c.with_buffer ? out : nullptr, &size), c.copied);
        EXPECT_EQ(size, 11u);
        if (c.copied) {
            EXPECT_STREQ(out, "/runs/a.qd");
        } else {
            EXPECT_EQ(out[0], '#');
        }
    }
    char out[4];
    EXPECT_FALSE(copy_with_size("abc", out, nullptr));
}

}  // namespace
