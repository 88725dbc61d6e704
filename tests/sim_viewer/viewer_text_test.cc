// The viewer's CSV fields and time texts: quoting that a CSV reader takes back whole,
// numbers that read back as the float they came from in any locale, and times shown and
// taken in UTC and in a local zone.
#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "viewer/csv_text.h"
#include "viewer/time_text.h"

namespace {

using namespace viewer;
using time_text::Zone;

TEST(ViewerCsvText, FieldsAreQuotedOnlyWhenTheyMustBeAndReadBackWhole) {
    const struct {
        const char* text;
        const char* field;
    } cases[] = {
        {"AI1", "AI1"},
        {"", ""},
        {"FLOW,IN", "\"FLOW,IN\""},
        {"SAY \"HI\"", "\"SAY \"\"HI\"\"\""},
        {"two\nlines", "\"two\nlines\""},
        {"cr\r", "\"cr\r\""},
        {"\"", "\"\"\"\""},
    };
    std::string line;
    std::vector<std::string> texts;
    for (const auto& c : cases) {
        EXPECT_EQ(csv::field(c.text), c.field);
        line += (line.empty() && texts.empty() ? "" : ",") + csv::field(c.text);
        texts.push_back(c.text);
    }
    EXPECT_EQ(csv::split(line), texts);
}

TEST(ViewerCsvText, BrokenQuotingIsRefused) {
    for (const char* line : {"\"open", "a\"b", "\"x\"y", "\"x\",\"", "a,\"b\"\"", "x\""})
        EXPECT_FALSE(csv::split(line).has_value()) << line;
    EXPECT_EQ(csv::split(""), (std::vector<std::string>{""}));
    EXPECT_EQ(csv::split("a,,"), (std::vector<std::string>{"a", "", ""}));
}

TEST(ViewerCsvText, NumbersReadBackExactlyWithAPointWhateverTheLocale) {
    // The process locale as a user's shell would set it, where the system has it.
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    for (const float v : {0.0f, -0.0f, 0.5f, 1.0f / 3.0f, 123456.79f, 1e-30f, -3.4e38f, 16777217.0f,
                          std::numeric_limits<float>::denorm_min(), std::numeric_limits<float>::max()}) {
        const std::string text = csv::number(v);
        EXPECT_EQ(text.find(','), std::string::npos) << text;
        float back = 0;
        const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), back);
        EXPECT_TRUE(ec == std::errc() && end == text.data() + text.size()) << text;
        EXPECT_EQ(back, v) << text;
    }
    EXPECT_EQ(csv::number(2.5f), "2.5");
    EXPECT_EQ(csv::number(std::numeric_limits<float>::quiet_NaN()), "");
    EXPECT_EQ(csv::number(std::numeric_limits<float>::infinity()), "");
    std::setlocale(LC_ALL, "C");
}

TEST(ViewerTimeText, TimesAreShownInOneFormWithTheirZone) {
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    const std::uint64_t winter = 1'700'000'000'250'000;  // 2023-11-14T22:13:20.250Z
    const std::uint64_t summer = 1'690'000'000'000'999;  // 2023-07-22T04:26:40Z and 999 us
    EXPECT_EQ(time_text::format(winter, Zone::kUtc), "2023-11-14T22:13:20.250Z");
    EXPECT_EQ(time_text::format(winter, Zone::kLocal), "2023-11-14T23:13:20.250+01:00");
    EXPECT_EQ(time_text::format(summer, Zone::kLocal), "2023-07-22T06:26:40.000+02:00");
    EXPECT_EQ(time_text::format(0, Zone::kUtc), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(time_text::format(0xFFFFFFFFull * 1'000'000, Zone::kUtc), "2106-02-07T06:28:15.000Z");
    ::setenv("TZ", "America/St_Johns", 1);
    ::tzset();
    EXPECT_EQ(time_text::format(winter, Zone::kLocal), "2023-11-14T18:43:20.250-03:30");
    ::unsetenv("TZ");
    ::tzset();
}

TEST(ViewerTimeText, TimesAreTakenInTheFormsTheHelpNames) {
    ::setenv("TZ", "Europe/Berlin", 1);
    ::tzset();
    const std::uint64_t s = 1'000'000;
    const std::uint64_t at = 1'700'000'000 * s;  // 2023-11-14T22:13:20Z
    const struct {
        const char* text;
        Zone zone;
        std::uint64_t micros;
    } good[] = {
        {"2023-11-14T22:13:20.000Z", Zone::kUtc, at},
        {"2023-11-14T22:13:20.25Z", Zone::kLocal, at + 250'000},
        {"2023-11-14T22:13:20.000001Z", Zone::kUtc, at + 1},
        {"2023-11-14T23:13:20.000+01:00", Zone::kUtc, at},
        {"2023-11-14T18:43:20-03:30", Zone::kUtc, at},
        {"2023-11-14 22:13:20", Zone::kUtc, at},
        {"2023-11-14 23:13:20", Zone::kLocal, at},
        {"2023-11-14T22:13", Zone::kUtc, at - 20 * s},
        {"2023-11-14", Zone::kUtc, at - (22 * 3600 + 13 * 60 + 20) * s},
        {"2024-02-29", Zone::kUtc, 1'709'164'800 * s},
        {"@1700000000", Zone::kLocal, at},
        {"@0", Zone::kUtc, 0},
        {"2106-02-07T06:28:15Z", Zone::kUtc, 0xFFFFFFFFull * s},
    };
    for (const auto& g : good) EXPECT_EQ(time_text::parse(g.text, g.zone), g.micros) << g.text;
    for (const char* bad : {"", "2023", "2023-11-14T", "2023-11-14T22", "2023-13-01", "2023-02-29", "2023-11-31",
                            "2023-11-14T24:00", "2023-11-14T22:60", "2023-11-14T22:13:61", "2023-11-14T22:13:20.",
                            "2023-11-14T22:13:20.1234567", "2023-11-14T22:13:20+1", "2023-11-14T22:13:20Zx",
                            "1969-12-31T23:59:59Z", "2106-02-07T06:28:16Z", "@", "@-1", "@4294967296", "@12x",
                            "2023/11/14", " 2023-11-14"})
        EXPECT_FALSE(time_text::parse(bad, Zone::kUtc).has_value()) << bad;
    // What is shown is taken back as the same time, in either zone.
    for (const Zone zone : {Zone::kUtc, Zone::kLocal})
        for (const std::uint64_t t : {at + 250'000, std::uint64_t{1'690'000'000} * s})
            EXPECT_EQ(time_text::parse(time_text::format(t, zone), zone), t);
    ::unsetenv("TZ");
    ::tzset();
}

}  // namespace
