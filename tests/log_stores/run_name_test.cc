#include "log_stores/run_file/run_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace log_stores::run_file;

constexpr std::int32_t k20090305_140709 = 1236262029;
constexpr std::int32_t k20090306_000000 = 1236297600;

TEST(RunName, RunsAreNamedByTheirUtcStartAndStop) {
    EXPECT_EQ(running_run_name("L_", k20090305_140709), "L_090305_140709.qdl");
    EXPECT_EQ(finished_run_name("L_", k20090305_140709, k20090306_000000), "L_090305_140709_090306_000000.qdl");
    EXPECT_EQ(running_run_name("", 0), "700101_000000.qdl");
}

TEST(RunName, NamesAreReadBackFromTheEnd) {
    struct Case {
        const char* name;
        bool valid;
        const char* prefix;
        std::int32_t start;
        std::optional<std::int32_t> stop;
    };
    const Case cases[] = {
        {"L_090305_140709.qdl", true, "L_", k20090305_140709, std::nullopt},
        {"L_090305_140709_090306_000000.qdl", true, "L_", k20090305_140709, k20090306_000000},
        {"L_090305_140709_090306_000000.QDL", true, "L_", k20090305_140709, k20090306_000000},
        {"090305_140709.qdl", true, "", k20090305_140709, std::nullopt},
        {"A_B_700101_000000.qdl", true, "A_B_", 0, std::nullopt},
        {"X691231_235959.qdl", false, "", 0, std::nullopt},  // 2069: past the 32-bit count
        {"X990101_000000.qdl", true, "X", 915148800, std::nullopt},
        // A prefix that itself ends like a stamp is no stop.
        {"P_991301_000000_090305_140709.qdl", true, "P_991301_000000_", k20090305_140709, std::nullopt},
        {"L_090305_140709.txt", false, "", 0, std::nullopt},
        {"L_090305-140709.qdl", false, "", 0, std::nullopt},
        {"L_090230_140709.qdl", false, "", 0, std::nullopt},
        {"L_090305_240709.qdl", false, "", 0, std::nullopt},
        {"L_09030a_140709.qdl", false, "", 0, std::nullopt},
        {"90305_140709.qdl", false, "", 0, std::nullopt},
        {".qdl", false, "", 0, std::nullopt},
        {"", false, "", 0, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto parts = parse_run_name(c.name);
        ASSERT_EQ(parts.has_value(), c.valid);
        if (!parts) continue;
        EXPECT_EQ(parts->prefix, c.prefix);
        EXPECT_EQ(parts->start, c.start);
        EXPECT_EQ(parts->stop, c.stop);
    }
}

TEST(RunName, EveryNameWrittenIsReadBack) {
    for (const std::int32_t start : {0, 951782400 /* 2000-02-29 */, k20090305_140709, 2147483647}) {
        SCOPED_TRACE(start);
        const auto running = parse_run_name(running_run_name("Q", start));
        ASSERT_TRUE(running);
        EXPECT_EQ(running->start, start);
        const auto finished = parse_run_name(finished_run_name("Q", start, start));
        ASSERT_TRUE(finished);
        EXPECT_EQ(finished->stop, start);
    }
}

// Years 38-69 read as 2038-2069; past 2038-01-19 03:14:07 UTC the count no longer fits the
// 32 bits of a run's start, and a wrapped one would lie before 1970: no run of this system.
TEST(RunName, StampsPastThe32BitCountAreNoRunNames) {
    const struct {
        const char* name;
        std::optional<std::int32_t> start;
        std::optional<std::int32_t> stop;
    } cases[] = {
        {"R_371231_235959.qdl", 2145916799, std::nullopt},
        {"R_380101_000000.qdl", 2145916800, std::nullopt},
        {"R_380119_031407.qdl", 2147483647, std::nullopt},
        {"R_380119_031408.qdl", std::nullopt, std::nullopt},
        {"R_380201_000000.qdl", std::nullopt, std::nullopt},
        {"R_690101_000000.qdl", std::nullopt, std::nullopt},
        {"R_691231_235959.qdl", std::nullopt, std::nullopt},
        {"R_700101_000000.qdl", 0, std::nullopt},
        {"R_991231_235959.qdl", 946684799, std::nullopt},
        {"R_000101_000000.qdl", 946684800, std::nullopt},
        {"R_371231_235959_380119_031407.qdl", 2145916799, 2147483647},
        {"R_371231_235959_690101_000000.qdl", std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto parts = parse_run_name(c.name);
        ASSERT_EQ(parts.has_value(), c.start.has_value());
        if (!parts) continue;
        EXPECT_EQ(parts->start, *c.start);
        EXPECT_EQ(parts->stop, c.stop);
    }
}

TEST(RunName, CompanionsReplaceTheExtensionOnly) {
    EXPECT_EQ(companion_name("/runs/L_090305_140709.qdl", ".txt"), "/runs/L_090305_140709.txt");
    EXPECT_EQ(companion_name("/ru.ns/L_090305_140709", ".zip"), "/ru.ns/L_090305_140709.zip");
    EXPECT_EQ(companion_name("C:\\a.b\\run.qdl", ".qvr"), "C:\\a.b\\run.qvr");
}

}  // namespace
