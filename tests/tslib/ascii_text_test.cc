#include "tslib/ascii_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <string_view>

namespace {

struct Case {
    std::string_view a;
    std::string_view b;
    bool expected;
};

// 0xC9 and 0xE9 are one letter in two cases in Latin-1; here they are two bytes.
constexpr Case kCases[] = {
    {"", "", true},
    {"true", "TRUE", true},
    {"Yes", "yES", true},
    {"on", "of", false},
    {"on", "o", false},
    {"@[`{", "`{@[", false},
    {"\xC9t\xC9", "\xE9T\xE9", false},
    {"\xC9t", "\xC9T", true},
};

void expect_table() {
    for (const Case& c : kCases) {
        EXPECT_EQ(tslib::equal_ignoring_case(c.a, c.b), c.expected) << '"' << c.a << "\" \"" << c.b << '"';
        EXPECT_EQ(tslib::equal_ignoring_case(c.b, c.a), c.expected) << "swapped: " << c.a;
    }
    for (int i = 0; i < 256; ++i) {
        const char c = static_cast<char>(i);
        EXPECT_EQ(tslib::ascii_lower(c), i >= 'A' && i <= 'Z' ? static_cast<char>(i + 32) : c) << i;
    }
}

TEST(TslibAsciiText, LettersCompareWithoutCaseAndOtherBytesOnlyEqualThemselves) {
    expect_table();
}

TEST(TslibAsciiText, AByteLocaleWithOtherLettersChangesNothing) {
    const std::string old = std::setlocale(LC_CTYPE, nullptr);
    if (std::setlocale(LC_CTYPE, "de_DE.ISO-8859-1") == nullptr)
        GTEST_SKIP() << "no Latin-1 locale installed";
    expect_table();
    std::setlocale(LC_CTYPE, old.c_str());
}

}  // namespace
