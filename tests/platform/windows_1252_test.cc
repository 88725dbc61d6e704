#include "platform/windows_1252.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Windows1252, EveryByteSurvivesTheRoundTripThroughUtf8AndUtf16) {
    for (int b = 0; b <= 0xFF; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        const std::string one(1, static_cast<char>(byte));
        EXPECT_EQ(platform::to_windows_1252(platform::from_windows_1252(byte)), static_cast<char>(byte)) << b;
        EXPECT_EQ(platform::windows_1252_byte(platform::from_windows_1252(byte)), byte) << b;
        EXPECT_EQ(platform::windows_1252_from_utf8(platform::utf8_from_windows_1252(one)), one) << b;
        EXPECT_EQ(platform::windows_1252_from_utf16(platform::utf16_from_windows_1252(one)), one) << b;
    }
}

TEST(Windows1252, HighBytesAreTheCodePageCharacters) {
    struct Case {
        unsigned char byte;
        char32_t code_point;
    };
    // The euro sign, the quotes, the last byte of the range, and the unassigned bytes that
    // stand for the C1 control of the same value.
    for (const Case c : {Case{0x80, 0x20AC}, Case{0x84, 0x201E}, Case{0x93, 0x201C}, Case{0x94, 0x201D},
                         Case{0x9F, 0x0178}, Case{0x81, 0x81}, Case{0x8D, 0x8D}, Case{0x8F, 0x8F},
                         Case{0x90, 0x90}, Case{0x9D, 0x9D}, Case{0xA0, 0xA0}, Case{0xE9, 0xE9}}) {
        EXPECT_EQ(platform::from_windows_1252(c.byte), c.code_point) << int{c.byte};
    }
    EXPECT_EQ(platform::utf8_from_windows_1252("5 \x80"), "5 \xE2\x82\xAC");
    EXPECT_EQ(platform::utf16_from_windows_1252("\x80"), u"\u20AC");
    EXPECT_EQ(platform::windows_1252_from_utf8("\xE2\x82\xAC"), "\x80");
}

TEST(Windows1252, CharactersTheCodePageLacksBecomeAQuestionMark) {
    EXPECT_EQ(platform::windows_1252_byte(0x4E2D), std::nullopt);
    EXPECT_EQ(platform::to_windows_1252(0x4E2D), '?');
    // C1 controls that 0x80..0x9F hold other characters for have no byte.
    EXPECT_EQ(platform::to_windows_1252(0x80), '?');
    EXPECT_EQ(platform::to_windows_1252(0x9F), '?');
    EXPECT_EQ(platform::windows_1252_from_utf8("a\xE4\xB8\xAD"
                                               "b"),
              "a?b");
    EXPECT_EQ(platform::windows_1252_from_utf16(u"a\u4E2Db\U0001F600"), "a?b?");
}

TEST(Windows1252, MalformedUnicodeBecomesOneQuestionMarkPerBadSequence) {
    struct Case {
        std::string utf8;
        std::string expected;
    };
    for (const Case& c : {Case{"\xC3", "?"}, Case{"\xE2\x82", "?"},
                          Case{"\xE2\x82"
                               "A",
                               "?A"},
                          Case{"\xC0\x80", "?"}, Case{"\xED\xA0\x80", "?"},
                          Case{"\xFF"
                               "A",
                               "?A"},
                          Case{"\xF4\x90\x80\x80", "?"}}) {
        EXPECT_EQ(platform::windows_1252_from_utf8(c.utf8), c.expected);
    }
    EXPECT_EQ(platform::windows_1252_from_utf16(std::u16string{u'a', char16_t{0xD800}, u'b'}), "a?b");
    EXPECT_EQ(platform::windows_1252_from_utf16(std::u16string{char16_t{0xDC00}}), "?");
    EXPECT_EQ(platform::windows_1252_from_utf16(std::u16string{char16_t{0xD800}}), "?");
}

}  // namespace
