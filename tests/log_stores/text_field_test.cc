// The 32-byte text field codecs.
#include "log_stores/translations/text_field.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

using Field = std::array<char, kTextFieldSize>;

Field field_of(const std::string& bytes) {
    Field f{};
    for (size_t i = 0; i < bytes.size() && i < f.size(); ++i) f[i] = bytes[i];
    return f;
}

std::string bytes_of(const Field& f, size_t n) {
    return std::string(f.data(), n);
}

uint32_t stored(Field& f, const std::u16string& text, bool utf8) {
    uint32_t flags = 0x80;
    if (utf8)
        TextFieldFromWideUtf8(&flags, f, text.c_str());
    else
        TextFieldFromWide(&flags, f, text.c_str());
    EXPECT_EQ(flags & 0x80u, 0x80u) << "other flags kept";
    return flags;
}

TEST(TextField, TheSetBitDecides) {
    const Field f = field_of("TEXT");
    EXPECT_EQ(std::u16string(TextFieldToWideUtf8(0, f)), u"");
    EXPECT_EQ(std::u16string(TextFieldToWide(0x2, f)), u"");
    EXPECT_EQ(std::u16string(TextFieldToWideUtf8(kTextFieldSetBit, f)), u"TEXT");
    Field g{};
    EXPECT_EQ(stored(g, u"", true) & kTextFieldSetBit, 0u);
    EXPECT_EQ(stored(g, u"x", false) & kTextFieldSetBit, kTextFieldSetBit);
}

TEST(TextField, TheWideFormIsRead) {
    const Field f = field_of(std::string("\0\xFF" "A\0\xAC\x20" "B\0\0\0", 10));
    EXPECT_EQ(std::u16string(TextFieldToWideUtf8(1, f)), u"A\u20ACB");
    EXPECT_EQ(std::u16string(TextFieldToWide(1, f)), u"A\u20ACB");
    Field full{};
    full[1] = '\xFF';
    for (size_t i = 0; i < 15; ++i) full[2 + 2 * i] = static_cast<char>('a' + i);
    EXPECT_EQ(std::u16string(TextFieldToWide(1, full)), u"abcdefghijklmno") << "15 units, no terminator";
}

TEST(TextField, EightBitFormsAreRead) {
    const Field utf8 = field_of("\xC2\xB0" "C \xE2\x82\xAC");
    EXPECT_EQ(std::u16string(TextFieldToWideUtf8(1, utf8)), u"\u00B0C \u20AC");
    const Field cp1252 = field_of("\xB0" "C \x80");
    EXPECT_EQ(std::u16string(TextFieldToWide(1, cp1252)), u"\u00B0C \u20AC");
    EXPECT_EQ(std::u16string(TextFieldToWideUtf8(1, cp1252)), u"\uFFFDC \uFFFD") << "not UTF-8";
    const Field full = field_of(std::string(32, 'z'));
    EXPECT_EQ(std::u16string(TextFieldToWide(1, full)), std::u16string(32, u'z'));
}

TEST(TextField, StoringSelectsTheFormAndCutsBetweenCharacters) {
    struct Case {
        const char* what;
        std::u16string text;
        bool utf8;
        std::u16string read_back;
    };
    const std::u16string pair = u"\U0001F600";
    const Case cases[] = {
        {"ASCII", u"LEVEL", true, u"LEVEL"},
        {"Latin-1 in UTF-8", u"\u00B0C", true, u"\u00B0C"},
        {"Latin-1 in the code page", u"\u00B0C", false, u"\u00B0C"},
        {"a character above 255 keeps 15 units", u"\u20AC" + std::u16string(20, u'x'), true,
         u"\u20AC" + std::u16string(14, u'x')},
        {"the same in the code page form", u"\u0160" + std::u16string(20, u'x'), false,
         u"\u0160" + std::u16string(14, u'x')},
        {"a pair at the cut", std::u16string(14, u'a') + pair, true, std::u16string(14, u'a')},
        {"a pair before the cut", std::u16string(13, u'a') + pair + u"b", false, std::u16string(13, u'a') + pair},
        {"32 units at most", std::u16string(40, u'q'), false, std::u16string(32, u'q')},
        {"UTF-8 cut at 32 bytes", std::u16string(31, u'a') + u"\u00E9", true, std::u16string(31, u'a')},
        {"two-byte characters fill 32 bytes", std::u16string(20, u'\u00E9'), true, std::u16string(16, u'\u00E9')},
        {"code page keeps 32 of them", std::u16string(20, u'\u00E9'), false, std::u16string(20, u'\u00E9')},
        {"a unit the code page lacks", u"A\u0080B", false, u"A?B"},
    };
    for (const auto& c : cases) {
        Field f;
        f.fill('\x55');
        stored(f, c.text, c.utf8);
        const std::u16string back = c.utf8 ? TextFieldToWideUtf8(1, f) : TextFieldToWide(1, f);
        EXPECT_EQ(back, c.read_back) << c.what;
    }
}

TEST(TextField, StoredBytes) {
    Field f;
    f.fill('\x55');
    stored(f, u"\u00B0C", false);
    EXPECT_EQ(bytes_of(f, 4), std::string("\xB0" "C\0\0", 4));
    stored(f, u"\u00B0C", true);
    EXPECT_EQ(bytes_of(f, 4), std::string("\xC2\xB0" "C\0", 4));
    stored(f, u"\u20AC", false);
    EXPECT_EQ(bytes_of(f, 6), std::string("\0\xFF\xAC\x20\0\0", 6)) << "UTF-16 form even for the code page";
    stored(f, std::u16string(14, u'a') + u"\U0001F600", true);
    EXPECT_EQ(f[30], '\0');
    EXPECT_EQ(f[31], '\0') << "no half pair in the last unit";
}

}  // namespace
