#include "log_stores/run_file_collection/run_stamp.h"

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>

#include "log_stores/run_file_collection/country_table.h"

namespace {

using log_stores::read_run_stamp;

constexpr std::int32_t k240102_030405 = 1704164645;  // 2024-01-02 03:04:05 UTC
constexpr std::int32_t k240102_040000 = 1704168000;

TEST(RunStamp, NamesAreReadByThePairsBeforeTheExtension) {
    struct Case {
        const char* name;
        std::optional<std::size_t> at;  // nullopt: no stamp
        std::int32_t start;
        std::int32_t stop;
    };
    const Case cases[] = {
        {"L1_240102_030405.qdl", 3, k240102_030405, 0},
        {"L1_240102_030405_240102_040000.qdl", 3, k240102_030405, k240102_040000},
        {"L1_240102_030405_240102_040000.QDL", 3, k240102_030405, k240102_040000},  // any case
        {"L1_240102.030405.qdl", 3, k240102_030405, 0},                             // '.' between groups
        {"L1_240102.030405.240102.040000.qdl", 3, k240102_030405, k240102_040000},
        {"240102_030405.qdl", 0, k240102_030405, 0},  // no prefix
        {"A12240102_030405.qdl", 3, k240102_030405, 0},  // seven pairs: the last six
        {"690101_000000.qdl", 0, 0, 0},  // below 70: 2069, past the 32-bit count: not a run
        {"L_700101_000001.qdl", 2, 1, 0},
        {"L_991231_235959.qdl", 2, 946684799, 0},
        {"L_700101_000000.qdl", 2, 0, 0},  // start 0: not a run
        {"L_240102030405.qdl", 2, 0, 0},  // no separator: 13 characters are not there
        {"L_240230_030405.qdl", 2, 0, 0},  // no such day
        {"L_240102_250405.qdl", 2, 0, 0},  // no such hour
        {"L_2401_02030405.qdl", std::nullopt, 0, 0},  // separator inside a group
        {"L_24010_030405.qdl", std::nullopt, 0, 0},   // odd digit count
        {"L_030405.qdl", std::nullopt, 0, 0},         // three pairs
        {"L_240102_030405.txt", std::nullopt, 0, 0},  // other extension
        {"L_240102_030405", std::nullopt, 0, 0},
        {".qdl", std::nullopt, 0, 0},
        {"", std::nullopt, 0, 0},
        {"L_240102_030405_2401.qdl", std::nullopt, 0, 0},  // the stop cut short breaks the pairs
        {"L_240102_030405_991332_000000.qdl", 2, k240102_030405, 0},  // an unreadable stop is none
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto stamp = read_run_stamp(c.name, ".qdl");
        ASSERT_EQ(stamp.has_value(), c.at.has_value());
        if (!stamp) continue;
        EXPECT_EQ(stamp->at, *c.at);
        EXPECT_EQ(static_cast<std::uint32_t>(stamp->start), static_cast<std::uint32_t>(c.start));
        EXPECT_EQ(stamp->stop, c.stop);
    }
}

// Two-digit years below 70 are 20yy; from 2038-01-19 03:14:08 on the count no longer fits
// 32 bits, and such a name is no run (its start would wrap to before 1970).
TEST(RunStamp, YearsPastThe32BitCountAreNoRuns) {
    const struct {
        const char* name;
        std::int32_t start;
        std::int32_t stop;
    } cases[] = {
        {"L_371231_235959.qdl", 2145916799, 0},
        {"L_380101_000000.qdl", 2145916800, 0},
        {"L_380119_031407.qdl", 2147483647, 0},
        {"L_380119_031408.qdl", 0, 0},
        {"L_381231_235959.qdl", 0, 0},
        {"L_690101_000000.qdl", 0, 0},
        {"L_691231_235959.qdl", 0, 0},
        {"L_700101_000001.qdl", 1, 0},
        {"L_991231_235959.qdl", 946684799, 0},
        {"L_000101_000000.qdl", 946684800, 0},
        {"L_371231_235959_380119_031407.qdl", 2145916799, 2147483647},
        {"L_371231_235959_380119_031408.qdl", 2145916799, 0},  // an unreadable stop is none
        {"L_690101_000000_700101_000001.qdl", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto stamp = read_run_stamp(c.name, ".qdl");
        ASSERT_TRUE(stamp.has_value());
        EXPECT_EQ(stamp->start, c.start);
        EXPECT_EQ(stamp->stop, c.stop);
    }
}

TEST(RunStamp, TheStampOfACompanionIsReadByItsOwnExtension) {
    const auto stamp = read_run_stamp("L1_240102_030405_240102_040000.Txt", ".txt");
    ASSERT_TRUE(stamp.has_value());
    EXPECT_EQ(stamp->stop, k240102_040000);
}

TEST(CountryTable, NamesAreLookedUpByIndexUpToTheEndEntry) {
    EXPECT_STREQ(log_stores::CountryName(0), "AFGHANISTAN");
    EXPECT_STREQ(log_stores::CountryName(1), "\xC5LAND ISLANDS");  // Windows-1252
    EXPECT_STREQ(log_stores::CountryName(73), "FRANCE");
    EXPECT_STREQ(log_stores::CountryName(207), "SYRIANC");
    EXPECT_STREQ(log_stores::CountryName(239), "ZIMBABWE");
    EXPECT_EQ(log_stores::CountryName(240), nullptr);
    EXPECT_EQ(log_stores::CountryName(static_cast<std::size_t>(-1)), nullptr);

    const auto table = log_stores::country_table();
    ASSERT_EQ(table.size(), 241u);
    EXPECT_STREQ(table[0].code, "AF");
    EXPECT_FLOAT_EQ(table[0].latitude, 33.0f);
    EXPECT_FLOAT_EQ(table[0].longitude, 65.0f);
    EXPECT_STREQ(table[239].code, "ZW");
    EXPECT_FLOAT_EQ(table[239].latitude, -18.823116f);
    EXPECT_FLOAT_EQ(table[239].longitude, 29.750977f);
    EXPECT_EQ(table[240].name, nullptr);
    EXPECT_FLOAT_EQ(table[240].latitude, 999.0f);
    EXPECT_FLOAT_EQ(table[240].longitude, 999.0f);
    for (std::size_t i = 0; i < 240; ++i) {
        ASSERT_NE(table[i].name, nullptr);
        EXPECT_EQ(std::strlen(table[i].code), 2u) << table[i].name;
    }
}

}  // namespace
