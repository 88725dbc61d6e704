#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/ado/com_error.h"
#include "platform/ado/date_value.h"
#include "platform/ado/text_codec.h"
#include "platform/ado/variant.h"

namespace {

using namespace ado;

TEST(AdoText, Windows1252AndUtf16RoundTripThroughUtf8) {
    EXPECT_EQ(utf8_from_cp1252("\xB0" "C"), "\xC2\xB0" "C");
    EXPECT_EQ(cp1252_from_utf8("\xC2\xB0" "C"), "\xB0" "C");
    EXPECT_EQ(utf8_from_cp1252("\x80"), "\xE2\x82\xAC");  // the euro sign
    EXPECT_EQ(cp1252_from_utf8("\xE2\x82\xAC"), "\x80");
    EXPECT_EQ(cp1252_from_utf8("\xE4\xB8\xAD"), "?") << "no Windows-1252 form";
    const std::u16string wide = u"Temp \u00B0C \u4E2D \U0001F600";
    EXPECT_EQ(utf16_from_utf8(utf8_from_utf16(wide)), wide);
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(cp1252_from_utf8(utf8_from_cp1252(one)), one) << b;
    }
}

TEST(AdoText, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(utf16_from_utf8("a\xC3"), u"a\uFFFD") << "truncated sequence at the end";
    EXPECT_EQ(utf16_from_utf8("\xC0\x80"), u"\uFFFD") << "overlong";
    EXPECT_EQ(utf16_from_utf8("\xED\xA0\x80"), u"\uFFFD") << "an encoded surrogate";
    EXPECT_EQ(utf8_from_utf16(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD") << "lone surrogate";
}

TEST(AdoDate, OleDatesRoundToTheNearestSecond) {
    struct Case {
        double ole;
        const char* text;
    };
    const Case cases[] = {
        {0.0, "1899-12-30 00:00:00.000"},
        {2.5, "1900-01-01 12:00:00.000"},
        {-1.25, "1899-12-29 06:00:00.000"},
        {45356.5 + 0.4 / 86400, "2024-03-05 12:00:00.000"},
        {45356.5 + 0.6 / 86400, "2024-03-05 12:00:01.000"},
        {25569.0, "1970-01-01 00:00:00.000"},
    };
    for (const auto& c : cases) {
        const auto d = date_from_ole(c.ole);
        ASSERT_TRUE(d) << c.ole;
        EXPECT_EQ(canonical_date_text(*d), c.text) << c.ole;
    }
    EXPECT_FALSE(date_from_ole(1e300));
    EXPECT_FALSE(date_from_ole(std::nan("")));
    const auto d = parse_date_text("2024-03-05 12:00:01.250");
    ASSERT_TRUE(d);
    EXPECT_EQ(d->nanoseconds, 250000000);
    EXPECT_DOUBLE_EQ(ole_from_date(*d), 45356.5 + 1.25 / 86400);
}

TEST(AdoDate, TextFormsParseAndOthersAreRefused) {
    EXPECT_EQ(parse_date_text("2024/03/05 01:02:03"), parse_date_text("2024-03-05 01:02:03.000"));
    EXPECT_EQ(parse_date_text("2024-03-05"), parse_date_text("2024-03-05 00:00:00"));
    for (const char* bad : {"", "2024-13-01", "2024-03-05 25:00:00", "2024-03-05x", "24-3-5", "2024-03-05 01:02:03."})
        EXPECT_FALSE(parse_date_text(bad)) << bad;
}

TEST(AdoVariant, CoercionsAndEquality) {
    EXPECT_EQ(Variant::boolean(true).bool_value(), -1);
    EXPECT_EQ(Variant::i4(2).to_bool(), -1);
    EXPECT_EQ(Variant::i4(0).to_bool(), 0);
    EXPECT_EQ(Variant::text(u"True").to_bool(), -1);
    EXPECT_EQ(Variant::text(u" 12 ").to_i4(), 12);
    EXPECT_EQ(Variant::r8(2.5).to_i4(), 2) << "OLE rounds half to even";
    EXPECT_EQ(Variant::r8(3.5).to_i4(), 4);
    EXPECT_EQ(Variant::i4(7).to_text(), u"7");
    EXPECT_THROW(Variant::null().to_bool(), ComError);
    EXPECT_THROW(Variant::text(u"x").to_r8(), ComError);
    EXPECT_THROW(Variant::r8(1e12).to_i4(), ComError);
    EXPECT_EQ(Variant::i4(1), Variant::i4(1));
    EXPECT_NE(Variant::i4(1), Variant::i2(1)) << "same contents, other type";
    EXPECT_NE(Variant::text(u"a"), Variant::text(u"A"));
    EXPECT_EQ(Variant::null(), Variant::null());
    EXPECT_EQ(Variant::text_cp1252("\xB0" "C").text_value(), u"\u00B0C");
}

TEST(AdoErrors, SqlStatesMapToResultCodes) {
    struct Case {
        const char* state;
        const char* text;
        uint32_t code;
    };
    const Case cases[] = {
        {"42000", "", 0x80040E14},
        {"37000", "", 0x80040E14},
        {"42S02", "", 0x80040E37},
        {"HY000", "no such table: LOGGERS", 0x80040E37},
        {"HY000", "near \"FRM\": syntax error", 0x80040E14},
        {"HY000", "[SQLite]incomplete input (1)", 0x80040E14},
        {"HY000", "unrecognized token: \"#03\"", 0x80040E14},
        {"HY000", "NOT NULL constraint failed: T.a", 0x80040E2F},
        {"22001", "", 0x80040E57},
        {"23000", "", 0x80040E2F},
        {"22007", "", 0x80040E07},
        {"22003", "", 0x80040E07},
        {"08001", "", 0x80004005},
        {"08S01", "", 0x80004005},
        {"HY000", "disk I/O error", 0x80004005},
        {"", "", 0x80004005},
    };
    for (const auto& c : cases)
        EXPECT_EQ(static_cast<uint32_t>(hresult_from_sqlstate(c.state, c.text)), c.code) << c.state << " " << c.text;
}

}  // namespace
