#include "platform/ascii_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <string_view>

namespace {

// Runs a block under another character-type locale and puts the old one back.
class CharacterLocale {
  public:
    explicit CharacterLocale(const char* name) : old_(std::setlocale(LC_CTYPE, nullptr)) {
        active_ = std::setlocale(LC_CTYPE, name) != nullptr;
    }
    ~CharacterLocale() { std::setlocale(LC_CTYPE, old_.c_str()); }
    CharacterLocale(const CharacterLocale&) = delete;
    CharacterLocale& operator=(const CharacterLocale&) = delete;
    bool active() const { return active_; }

  private:
    std::string old_;
    bool active_ = false;
};

enum class Check { equal, starts, ends };

struct Case {
    Check check;
    std::string_view text;
    std::string_view other;
    bool expected;
};

// 0xC9 and 0xE9 are one letter in two cases in Latin-1; here they are two bytes.
constexpr Case kCases[] = {
    {Check::equal, "", "", true},
    {Check::equal, "localhost", "LocalHost", true},
    {Check::equal, "AZaz", "azAZ", true},
    {Check::equal, "abc", "abd", false},
    {Check::equal, "abc", "ab", false},
    {Check::equal, "@[`{", "`{@[", false},  // differ by 0x20 but are no letters
    {Check::equal, "\xC9TAT", "\xE9tat", false},
    {Check::equal, "\xC9tat", "\xC9TAT", true},
    {Check::equal, std::string_view("a\0b", 3), std::string_view("A\0B", 3), true},
    {Check::equal, std::string_view("a\0b", 3), std::string_view("A\0C", 3), false},
    {Check::starts, "dword:00000001", "DWORD:", true},
    {Check::starts, "anything", "", true},
    {Check::starts, "he", "hex", false},
    {Check::starts, "\xE9t\xE9", "\xC9", false},
    {Check::ends, "SAVE.QVR", ".qvr", true},
    {Check::ends, "qvr", ".qvr", false},
    {Check::ends, "x", "", true},
    {Check::ends, "caf\xE9", "CAF\xC9", false},
};

bool holds(const Case& c) {
    switch (c.check) {
        case Check::equal:
            return platform::equal_ignoring_case(c.text, c.other);
        case Check::starts:
            return platform::starts_with_ignoring_case(c.text, c.other);
        case Check::ends:
            return platform::ends_with_ignoring_case(c.text, c.other);
    }
    return false;
}

void expect_table() {
    for (const Case& c : kCases) {
        EXPECT_EQ(holds(c), c.expected)
            << static_cast<int>(c.check) << " \"" << c.text << "\" \"" << c.other << '"';
        if (c.check == Check::equal) {
            EXPECT_EQ(platform::equal_ignoring_case(c.other, c.text), c.expected) << "swapped: " << c.text;
        }
    }
    EXPECT_EQ(platform::ascii_lower_copy("Tag-\xC9Z9"), "tag-\xC9z9");
    EXPECT_EQ(platform::ascii_upper_copy("ai-\xE9z9"), "AI-\xE9Z9");
}

TEST(AsciiText, LettersCompareWithoutCaseAndOtherBytesOnlyEqualThemselves) {
    expect_table();
}

TEST(AsciiText, AByteLocaleWithOtherLettersChangesNothing) {
    const CharacterLocale latin1("de_DE.ISO-8859-1");
    if (!latin1.active()) GTEST_SKIP() << "no Latin-1 locale installed";
    expect_table();
}

TEST(AsciiText, EveryByteMapsOnlyWithinItsAsciiLetterPair) {
    for (int i = 0; i < 256; ++i) {
        const char c = static_cast<char>(i);
        const bool upper = i >= 'A' && i <= 'Z';
        const bool lower = i >= 'a' && i <= 'z';
        EXPECT_EQ(platform::ascii_lower(c), upper ? static_cast<char>(i + 32) : c) << i;
        EXPECT_EQ(platform::ascii_upper(c), lower ? static_cast<char>(i - 32) : c) << i;
    }
}

TEST(AsciiText, BoundedPrefixCompareAgreesUpToTheBoundOrBothEnds) {
    struct Bounded {
        std::string_view a;
        std::string_view b;
        std::size_t n;
        bool expected;
    };
    const Bounded cases[] = {
        {"modbus", "MODB", 4, true},  {"mod", "MODB", 4, false},    {"CALC12", "calc99", 4, true},
        {"ab", "AB", 5, true},        {"ab", "ABC", 5, false},      {"", "", 3, true},
        {"\xC9X", "\xE9X", 2, false}, {"\xC9Xa", "\xC9xB", 2, true}, {"anything", "other", 0, true},
    };
    for (const Bounded& c : cases)
        EXPECT_EQ(platform::prefix_equal_ignoring_case(c.a, c.b, c.n), c.expected)
            << c.a << " " << c.b << " " << c.n;
}

}  // namespace
