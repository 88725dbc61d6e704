// The zone record built from real zone files and from rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/time_zone.h"

namespace {

using platform::TimeZoneInformation;

int32_t i32_at(const TimeZoneInformation& z, std::size_t at) {
    uint32_t v = 0;
    for (std::size_t i = 0; i < 4; ++i) v |= static_cast<uint32_t>(z[at + i]) << (8 * i);
    return static_cast<int32_t>(v);
}

uint16_t u16_at(const TimeZoneInformation& z, std::size_t at) {
    return static_cast<uint16_t>(z[at] | z[at + 1] << 8);
}

std::string name_at(const TimeZoneInformation& z, std::size_t at) {
    std::string out;
    for (std::size_t i = 0; i < platform::kTimeZoneNameUnits; ++i) {
        const uint16_t unit = u16_at(z, at + 2 * i);
        if (unit == 0) break;
        out += static_cast<char>(unit);
    }
    return out;
}

// month, weekday, week, hour, minute (year, seconds and milliseconds are checked to be 0).
struct Date {
    int month, weekday, week, hour, minute;
};

Date date_at(const TimeZoneInformation& z, std::size_t at) {
    EXPECT_EQ(u16_at(z, at), 0);  // year
    EXPECT_EQ(u16_at(z, at + 12), 0);
    EXPECT_EQ(u16_at(z, at + 14), 0);
    return {u16_at(z, at + 2), u16_at(z, at + 4), u16_at(z, at + 6), u16_at(z, at + 8), u16_at(z, at + 10)};
}

struct ZoneCase {
    const char* tz;
    int bias;
    const char* standard_name;
    Date standard_date;
    const char* daylight_name;
    Date daylight_date;
    int daylight_bias;
};

class ZoneFiles : public testing::TestWithParam<ZoneCase> {};

TEST_P(ZoneFiles, GiveTheRecordOfTheirRule) {
    const ZoneCase& c = GetParam();
    setenv("TZ", c.tz, 1);
    const TimeZoneInformation z = platform::local_time_zone_information();
    EXPECT_EQ(i32_at(z, platform::kTimeZoneBias), c.bias);
    EXPECT_EQ(name_at(z, platform::kTimeZoneStandardName), c.standard_name);
    EXPECT_EQ(i32_at(z, platform::kTimeZoneStandardBias), 0);
    EXPECT_EQ(name_at(z, platform::kTimeZoneDaylightName), c.daylight_name);
    EXPECT_EQ(i32_at(z, platform::kTimeZoneDaylightBias), c.daylight_bias);
    const Date s = date_at(z, platform::kTimeZoneStandardDate);
    const Date d = date_at(z, platform::kTimeZoneDaylightDate);
    EXPECT_EQ((std::array{s.month, s.weekday, s.week, s.hour, s.minute}),
              (std::array{c.standard_date.month, c.standard_date.weekday, c.standard_date.week,
                          c.standard_date.hour, c.standard_date.minute}));
    EXPECT_EQ((std::array{d.month, d.weekday, d.week, d.hour, d.minute}),
              (std::array{c.daylight_date.month, c.daylight_date.weekday, c.daylight_date.week,
                          c.daylight_date.hour, c.daylight_date.minute}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ZoneFiles,
    testing::Values(
        ZoneCase{"Europe/Berlin", -60, "CET", {10, 0, 5, 3, 0}, "CEST", {3, 0, 5, 2, 0}, -60},
        ZoneCase{":America/New_York", 300, "EST", {11, 0, 1, 2, 0}, "EDT", {3, 0, 2, 2, 0}, -60},
        ZoneCase{"Australia/Sydney", -600, "AEST", {4, 0, 1, 3, 0}, "AEDT", {10, 0, 1, 2, 0}, -60},
        ZoneCase{"Asia/Kolkata", -330, "IST", {0, 0, 0, 0, 0}, "", {0, 0, 0, 0, 0}, 0},
        ZoneCase{"UTC", 0, "UTC", {0, 0, 0, 0, 0}, "", {0, 0, 0, 0, 0}, 0},
        // A rule in TZ itself, with a quoted name and minutes.
        ZoneCase{"<+0545>-5:45", -345, "+0545", {0, 0, 0, 0, 0}, "", {0, 0, 0, 0, 0}, 0},
        ZoneCase{"EST5EDT4,M3.2.0/1:30,M11.1.0", 300, "EST", {11, 0, 1, 2, 0}, "EDT", {3, 0, 2, 1, 30}, -60}),
    [](const testing::TestParamInfo<ZoneCase>& p) {
        std::string name;
        for (const char* c = p.param.tz; *c; ++c)
            name += (std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_');
        return name;
    });

TEST(ZoneRules, DatesTheRecordCannotHoldAreZeroButBiasesStay) {
    for (const char* text : {"XST3XDT,J60,J300", "XST3XDT,60,300", "XST3XDT,M3.5.0/-1,M10.5.0",
                             "XST3XDT,M3.5.0/25,M10.5.0", "XST3XDT"}) {
        const auto rule = platform::parse_zone_rule(text);
        ASSERT_TRUE(rule) << text;
        EXPECT_TRUE(rule->dates_inexpressible) << text;
        const TimeZoneInformation z = platform::time_zone_information(*rule);
        EXPECT_EQ(i32_at(z, platform::kTimeZoneBias), 180) << text;
        EXPECT_EQ(i32_at(z, platform::kTimeZoneDaylightBias), -60) << text;
        EXPECT_EQ(u16_at(z, platform::kTimeZoneStandardDate + 2), 0) << text;
        EXPECT_EQ(u16_at(z, platform::kTimeZoneDaylightDate + 2), 0) << text;
    }
}

TEST(ZoneRules, TextThatIsNoRuleIsRefused) {
    for (const char* text :
         {"", "X1", "CET", "CET-1CEST,M13.1.0,M10.5.0", "CET-1CEST,M3.6.0,M10.5.0",
          "CET-1CEST,M3.5.7,M10.5.0", "CET-1CEST,M3.5.0", "CET-1 trailing", "<CET-1", "CET-99"})
        EXPECT_FALSE(platform::parse_zone_rule(text)) << text;
}

TEST(ZoneRules, AnUnreadableZoneIsReportedAsUtc) {
    setenv("TZ", ":No/Such_Zone", 1);
    const TimeZoneInformation z = platform::local_time_zone_information();
    EXPECT_EQ(i32_at(z, platform::kTimeZoneBias), 0);
    EXPECT_EQ(name_at(z, platform::kTimeZoneStandardName), "UTC");
    setenv("TZ", "../../etc/passwd", 1);
    EXPECT_EQ(name_at(platform::local_time_zone_information(), platform::kTimeZoneStandardName), "UTC");
}

TEST(ZoneRules, TzifDataWithoutAWholeFooterHasNoRule) {
    std::string header(44, '\0');
    header.replace(0, 5, "TZif2");
    EXPECT_EQ(platform::tzif_footer_rule(header + header + "\nCET-1\n"), std::optional<std::string>("CET-1"));
    EXPECT_FALSE(platform::tzif_footer_rule(header + header + "\nCET-1"));
    EXPECT_FALSE(platform::tzif_footer_rule(header + header));
    std::string v1 = header;
    v1[4] = '\0';
    EXPECT_FALSE(platform::tzif_footer_rule(v1 + header + "\nCET-1\n"));
    std::string big = header;
    big[35] = '\x7f';  // more transitions than the data holds
    EXPECT_FALSE(platform::tzif_footer_rule(big + header + "\nCET-1\n"));
}

}  // namespace
