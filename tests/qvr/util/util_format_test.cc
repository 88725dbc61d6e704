#include "qvr/util/util_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "qvr/testing/process_state_testing.h"

namespace {

template <class... Args>
std::string format(const char* text, const Args&... args) {
    char out[128];
    const int n = util_FormatText(out, sizeof out, text, args...);
    EXPECT_EQ(n, static_cast<int>(std::string(out).size()));
    return out;
}

const qvr::NumberLocale kEnglish{'.', ',', "3;0", 2, 1};
const qvr::NumberLocale kGerman{',', '.', "3;0", 2, 1};

std::string display(const qvr::NumberLocale& locale, bool left, bool zero, int width, int precision,
                    double value) {
    return qvr::format_locale_number(locale, left, zero, locale.thousands_separator, width, precision, value);
}

}  // namespace

TEST(UtilFormatText, IntegersTextsAndFlags) {
    EXPECT_EQ(format("n=%d", 42), "n=42");
    EXPECT_EQ(format("[%5d]", 42), "[   42]");
    EXPECT_EQ(format("[%-5d]", 42), "[42   ]");
    EXPECT_EQ(format("[%05d]", -42), "[-0042]");
    EXPECT_EQ(format("[%*d]", 4, 7), "[   7]");
    EXPECT_EQ(format("[%-*d]", 3, 7), "[7  ]");
    EXPECT_EQ(format("%d%%", 50), "50%");
    EXPECT_EQ(format("[%s|%.2s|%5s|%-4s]", "abc", "abc", "ab", "ab"), "[abc|ab|   ab|ab  ]");
    EXPECT_EQ(format("[%.*s]", 1, std::string("xyz")), "[x]");
    EXPECT_EQ(format("a%xb%dc", 5), "ab5c");  // unknown conversions are skipped
    EXPECT_EQ(format("%d %s", 1), "1 ");      // a missing argument writes nothing
    EXPECT_EQ(format("%s", static_cast<const char*>(nullptr)), "");
    EXPECT_EQ(format("%d", 2147483648LL), "-2147483648");  // a 32-bit integer
}

TEST(UtilFormatText, SinglePrecisionNumbersKeepSevenSignificantDigits) {
    struct Case {
        const char* format;
        float value;
        const char* expected;
    };
    const Case cases[] = {
        {"%f", 1.5f, "1.500000"},
        {"%.2f", 12345.678f, "12345.68"},
        {"%6.2f", 12345.678f, "******"},  // too wide for its width: stars
        {"%8.2f", 12345.678f, "12345.68"},
        {"%9.2f", 12345.678f, " 12345.68"},
        {"%-9.1f|", 2.25f, "2.2      |"},
        {"%07.2f", -1.5f, "-001.50"},
        {"%.3f", 123456789.0f, "123456800.000"},
        {"%.2f", 0.0f, "0.00"},
        {"%e", 12345.678f, "1.234568e4"},
        {"%e", 0.001f, "1e-3"},
        {"%e", 0.0f, "0"},
        {"%e", -2.5f, "-2.5e0"},
        {"%.2e", 12345.678f, "1.23e4"},
        {"%g", 123.456f, "123.456000"},
        {"%g", 1e7f, "1e7"},
        {"%g", 0.00001f, "1e-5"},
        {"%g", 1234567.0f, "1234567.00"},
        {"%8g", 3.14159f, "3.141590"},
        {"%9g", 3.14159f, " 3.141590"},
        {"%5g", 123456.0f, "1.23456e5"},
        {"%6.2g", 0.001f, "  1e-3"},
        {"%6g", 12.5f, "12.500"},
        {"%6g", -12.5f, "-12.50"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(format(c.format, c.value), c.expected) << c.format << " of " << c.value;
    // A double argument is formatted as the single-precision value it stands for.
    EXPECT_EQ(format("%.2f", 0.1), "0.10");
    EXPECT_EQ(format("%.1f", 3), "3.0");
    EXPECT_EQ(format("%*.*f", 7, 2, 1.0f), "   1.00");
}

TEST(UtilFormatText, OutputIsCutToItsCapacityWithATerminatingZero) {
    char out[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(util_FormatText(out, sizeof out, "%s-%d", "abcdef", 12), 4);
    EXPECT_STREQ(out, "abcd");
    char one[1] = {'x'};
    EXPECT_EQ(util_FormatText(one, sizeof one, "abc"), 0);
    EXPECT_EQ(one[0], 0);
    char wide[16];
    EXPECT_EQ(util_FormatText(wide, sizeof wide, "%999999999d", 1), 15);  // no huge padding is built
}

TEST(UtilFormatText, NegativeStarWidthsLeftJustify) {
    EXPECT_EQ(format("[%*d]", -3, 7), "[7  ]");
    EXPECT_EQ(format("[%*s]", -2, "x"), "[x ]");
    // The most negative width has no positive counterpart: it is cut to the width bound.
    EXPECT_EQ(format("[%*d]", INT32_MIN, 7).size(), 127u);
    EXPECT_EQ(format("[%*d]", 2147483648LL, 7).size(), 127u);
}

TEST(UtilLocaleNumber, GroupsDigitsOnlyWhereBlanksLeaveRoom) {
    struct Case {
        bool left;
        bool zero;
        int width;
        int precision;
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {false, false, 12, 2, 1234567.891, "1,234,567.89"},
        {true, false, 12, 2, 1234567.891, "1,234,567.89"},
        {false, false, 14, 2, 1234567.891, "  1,234,567.89"},
        {false, false, 11, 2, 1234567.891, " 1234567.89"},  // one blank for two separators: none
        {false, false, 10, 2, 1234567.891, "1234567.89"},
        {false, true, 12, 2, 1234567.891, "001234567.89"},
        {false, false, 8, 1, 1234.5, " 1,234.5"},
        {false, false, 8, 1, 999.5, "   999.5"},
        {false, false, 14, 2, -1234567.0, "   -1234567.00"},
        {false, false, 6, 2, 1234567.891, " 1E+06"},  // too wide: exponent form, fewer digits
        {false, false, 8, 2, 1234567.891, "1.23E+06"},
        {true, false, 9, 2, 1234567.891, "1.23E+06 "},
        {false, false, 6, 2, 0.5, "  0.50"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(display(kEnglish, c.left, c.zero, c.width, c.precision, c.value), c.expected)
            << c.width << "." << c.precision << " of " << c.value;
    EXPECT_EQ(display(kGerman, false, false, 12, 2, 1234567.891), "1.234.567,89");
    EXPECT_EQ(display(kGerman, false, false, 4, 1, 2.5), " 2,5");
    const qvr::NumberLocale ungrouped{'.', ',', "0", 2, 1};
    EXPECT_EQ(display(ungrouped, false, false, 12, 2, 1234567.891), "  1234567.89");
}

TEST(UtilLocaleNumber, WithoutLeadingZeroTheLoneZeroBecomesABlank) {
    const qvr::NumberLocale bare{'.', ',', "3;0", 2, 0};
    EXPECT_EQ(display(bare, false, false, 6, 2, 0.5), "   .50");
    EXPECT_EQ(display(bare, true, false, 6, 2, 0.5), ".50   ");
    EXPECT_EQ(display(bare, false, false, 7, 2, -10.5), " -10.50");
}

TEST(UtilLocaleNumber, ReadsTheUserLocaleOfAGermanUser) {
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    EXPECT_EQ(util_LocaleChar(kLocaleDecimal), ',');
    EXPECT_EQ(util_LocaleChar(kLocaleThousand), '.');
    EXPECT_EQ(util_LocaleChar(kLocaleGrouping), '3');
    EXPECT_EQ(util_LocaleNumber(kLocaleDigits), 2);
    EXPECT_EQ(util_LocaleNumber(kLocaleLeadingZero), 1);
    EXPECT_STREQ(util_FormatNumberWidth(0, 0, 12, 2, 1234567.891), "1.234.567,89");
    EXPECT_STREQ(util_FormatNumber(0, 0, 10, 1234.5), "  1.234,50");
    EXPECT_STREQ(util_FormatNumber(0, 0, 4, 1.25), " 1,2");  // one decimal fits
    EXPECT_STREQ(util_FormatNumberSep(1, 0, '\'', 10, 0, 1234567.0), "1'234'567 ");
}

TEST(UtilLocaleNumber, ReadsTheUserLocaleOfAnAmericanUser) {
    setenv("LC_ALL", "en_US.UTF-8", 1);
    EXPECT_EQ(util_LocaleChar(kLocaleDecimal), '.');
    EXPECT_EQ(util_LocaleChar(kLocaleThousand), ',');
    EXPECT_STREQ(util_FormatNumberWidth(1, 0, 12, 2, 1234567.891), "1,234,567.89");
}

TEST(UtilLocaleNumber, TheCLocaleHasNoGrouping) {
    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(util_LocaleChar(kLocaleDecimal), '.');
    EXPECT_EQ(util_LocaleChar(kLocaleThousand), 0);
    EXPECT_EQ(util_LocaleChar(kLocaleGrouping), '0');
    EXPECT_STREQ(util_FormatNumberWidth(0, 0, 12, 2, 1234567.891), "  1234567.89");
    EXPECT_EQ(util_LocaleChar(0x99), 0);
}

// The user's format is read once per process: a later change of locale is not seen until
// the test hook forgets it, as a new process would read it afresh.
TEST(UtilLocaleNumber, TheUserFormatIsReadOncePerProcess) {
    setenv("LC_ALL", "de_DE.UTF-8", 1);
    ASSERT_EQ(util_LocaleChar(kLocaleDecimal), ',');
    setenv("LC_ALL", "en_US.UTF-8", 1);
    EXPECT_EQ(util_LocaleChar(kLocaleDecimal), ',') << "still the format read first";
    qvr::testing::forget_user_number_locale();
    EXPECT_EQ(util_LocaleChar(kLocaleDecimal), '.');
}
