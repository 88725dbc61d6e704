// Text forms of the leaf types, run under a German locale: stored files must read the same
// whatever locale the host process set.
#include <gtest/gtest.h>

#include <locale.h>

#include <cfloat>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "structs_test_types.h"
#include "tslib/structs.h"
#include "tslib_test_util.h"

namespace {

using structs_test::failed;
using structs_test::ok;
using structs_test::set_text;
using structs_test::SetResult;
using structs_test::text_of;

const int kAccounting = typed_mem_turn_on();

class StructsPrimitiveTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(kAccounting, 0);
        ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "locales-all is needed";
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 0.5);
        ASSERT_STREQ(probe, "0,5") << "the locale must be in force for these tests to mean anything";
    }
    void TearDown() override {
        std::setlocale(LC_ALL, "C");
        EXPECT_TRUE(tslib_test::live_blocks().empty()) << "blocks leaked";
    }
};

// Parses text into a fresh instance of type and returns the outcome and the text read back.
struct RoundTrip {
    SetResult set;
    std::string text;
};

RoundTrip round_trip(const StructsType& type, const char* text) {
    std::vector<unsigned char> data(type.size + 16, 0);
    EXPECT_EQ(type.init(&type, data.data()), 0);
    RoundTrip r{set_text(&type, nullptr, text, data.data()), text_of(&type, nullptr, data.data())};
    type.uninit(&type, data.data());
    return r;
}

std::string einval_text() {
    return std::strerror(EINVAL);
}

TEST_F(StructsPrimitiveTest, IntegerDescriptionsHaveTheirSizesAndNames) {
    struct Case {
        const StructsType* type;
        unsigned size;
        const char* name;
    };
    const Case cases[] = {
        {&structs_type_uchar, 1, "uint"},  {&structs_type_char, 1, "int"},  {&structs_type_hchar, 1, "hint"},
        {&structs_type_ushort, 2, "uint"}, {&structs_type_short, 2, "int"}, {&structs_type_hshort, 2, "hint"},
        {&structs_type_uint, 4, "uint"},   {&structs_type_int, 4, "int"},   {&structs_type_hint, 4, "hint"},
        {&structs_type_ulong, 4, "uint"},  {&structs_type_long, 4, "int"},  {&structs_type_hlong, 4, "hint"},
        {&structs_type_uint8, 1, "uint"},  {&structs_type_int8, 1, "int"},  {&structs_type_hint8, 1, "hint"},
        {&structs_type_uint16, 2, "uint"}, {&structs_type_int16, 2, "int"}, {&structs_type_hint16, 2, "hint"},
        {&structs_type_uint32, 4, "uint"}, {&structs_type_int32, 4, "int"}, {&structs_type_hint32, 4, "hint"},
        {&structs_type_uint64, 8, "uint"}, {&structs_type_int64, 8, "int"}, {&structs_type_hint64, 8, "hint"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.type->size, c.size) << c.name;
        EXPECT_STREQ(c.type->name, c.name);
        // Automatic base in every description.
        const bool hex = std::strcmp(c.name, "hint") == 0;
        const std::string sixteen = hex ? "0x10" : "16";
        const std::string eight = hex ? (c.size == 1 ? "0x08" : "0x8") : "8";
        EXPECT_EQ(round_trip(*c.type, "0x10").text, sixteen) << c.type->args[0].i << c.name;
        EXPECT_EQ(round_trip(*c.type, "010").text, eight) << c.type->args[0].i << c.name;
        EXPECT_EQ(round_trip(*c.type, " \t42 \n").set, ok());
        EXPECT_EQ(round_trip(*c.type, "42a").set, failed(EINVAL, einval_text())) << "no message of its own";
        EXPECT_EQ(round_trip(*c.type, "").set, failed(EINVAL, "invalid integer value"));
        EXPECT_EQ(round_trip(*c.type, "-").set, failed(EINVAL, "invalid integer value"));
    }
}

TEST_F(StructsPrimitiveTest, IntegerTextsAndRanges) {
    struct Case {
        const StructsType* type;
        const char* in;
        const char* out;  // null: out of range
    };
    const Case cases[] = {
        {&structs_type_int8, "200", "-56"},  // stored in one byte
        {&structs_type_uint8, "-1", nullptr},
        {&structs_type_uint8, "255", "255"},
        {&structs_type_uint8, "256", nullptr},
        {&structs_type_char, "-128", "-128"},
        {&structs_type_char, "-129", nullptr},
        {&structs_type_hchar, "5", "0x05"},
        {&structs_type_hchar, "-1", "0xff"},
        {&structs_type_short, "65535", "-1"},
        {&structs_type_ushort, "65536", nullptr},
        {&structs_type_hint16, "-32768", "0x8000"},
        {&structs_type_hint16, "-32769", nullptr},
        {&structs_type_uint, "4294967295", "4294967295"},
        {&structs_type_int, "4294967295", "-1"},
        {&structs_type_ulong, "4294967296", nullptr},
        {&structs_type_long, "-2147483648", "-2147483648"},
        {&structs_type_hlong, "0xdeadBEEF", "0xdeadbeef"},
        {&structs_type_int32, "-2147483649", nullptr},
        {&structs_type_int64, "9223372036854775807", "9223372036854775807"},
        {&structs_type_int64, "-9223372036854775808", "-9223372036854775808"},
        {&structs_type_int64, "9223372036854775808", nullptr},
        {&structs_type_int64, "99999999999999999999", nullptr},
        // Every value an unsigned 64-bit type prints reads back.
        {&structs_type_uint64, "18446744073709551615", "18446744073709551615"},
        {&structs_type_uint64, "9223372036854775808", "9223372036854775808"},
        {&structs_type_uint64, "18446744073709551616", nullptr},
        {&structs_type_uint64, "-1", nullptr},
        {&structs_type_uint64, "-0", "0"},
        {&structs_type_hint64, "0xffffffffffffffff", "0xffffffffffffffff"},
        {&structs_type_hint64, "-1", "0xffffffffffffffff"},
        {&structs_type_hint64, "-9223372036854775809", nullptr},
        {&structs_type_int16, "+12", "12"},
        {&structs_type_int16, "0x", nullptr},  // see below: reads "0" then rejects the "x"
    };
    for (const Case& c : cases) {
        const RoundTrip r = round_trip(*c.type, c.in);
        if (std::strcmp(c.in, "0x") == 0) {
            EXPECT_EQ(r.set, failed(EINVAL, einval_text()));
            continue;
        }
        if (c.out == nullptr) {
            EXPECT_EQ(r.set, failed(EINVAL, "integer value is out of range"))
                << c.in << " " << c.type->args[0].i;
        } else {
            EXPECT_EQ(r.set, ok()) << c.in;
            EXPECT_EQ(r.text, c.out) << c.in << " " << c.type->args[0].i;
        }
    }
}

TEST_F(StructsPrimitiveTest, IntegerFailureLeavesTheValue) {
    std::uint16_t v = 7;
    EXPECT_EQ(set_text(&structs_type_uint16, nullptr, "70000", &v).rc, -1);
    EXPECT_EQ(v, 7);
}

TEST_F(StructsPrimitiveTest, FloatTextsIgnoreTheLocale) {
    struct Case {
        const StructsType* type;
        const char* in;
        SetResult set;
        const char* out;
    };
    const Case cases[] = {
        {&structs_type_double, "0.1", ok(), "0.1"},
        {&structs_type_float, "0.1", ok(), "0.1000000014901161"},
        {&structs_type_double, " -2.5e3 ", ok(), "-2500"},
        {&structs_type_double, "1234567.125", ok(), "1234567.125"},
        {&structs_type_double, "1e-39", ok(), "9.999999999999999e-40"},
        {&structs_type_double, "1e39", ok(), "9.999999999999999e+38"},
        {&structs_type_float, "1e-39", failed(EINVAL, "floating point value underflow"), nullptr},
        {&structs_type_float, "1e39", failed(EINVAL, "floating point value overflow"), nullptr},
        {&structs_type_float, "6e-39", ok(), "5.999999890533535e-39"},
        {&structs_type_float, "0", ok(), "0"},
        {&structs_type_double, "1e-400", failed(EINVAL, "floating point value underflow"), nullptr},
        {&structs_type_double, "1e400", failed(EINVAL, "floating point value overflow"), nullptr},
        {&structs_type_double, "0,5", failed(EINVAL, "invalid floating point value"), nullptr},
        {&structs_type_double, "2.5x", failed(EINVAL, "invalid floating point value"), nullptr},
        {&structs_type_double, "", failed(EINVAL, "invalid floating point value"), nullptr},
    };
    for (const Case& c : cases) {
        const RoundTrip r = round_trip(*c.type, c.in);
        EXPECT_EQ(r.set, c.set) << c.in;
        if (c.out != nullptr) {
            EXPECT_EQ(r.text, c.out) << c.in;
        }
    }
}

// A float written as text must read back as the same float, the largest one included:
// limits are often stored as FLT_MAX. Values below the smallest bound stay refused as an
// underflow.
TEST_F(StructsPrimitiveTest, EveryWrittenFloatReadsBackAsItself) {
    std::vector<float> values = {FLT_MAX, -FLT_MAX, std::nextafter(FLT_MAX, 0.0f),
                                 FLT_MIN, -FLT_MIN, 5.877473155409902e-39f,
                                 0.1f,    1.0f / 3, 16777217.0f,
                                 -0.0f};
    // Bit patterns spread over every exponent of the normal range.
    for (std::uint32_t bits = 0x00800000u; bits < 0x7f800000u; bits += 0x000fd3c5u) {
        float f;
        std::memcpy(&f, &bits, sizeof f);
        values.push_back(f);
        values.push_back(-f);
    }
    for (const float v : values) {
        const std::string text = text_of(&structs_type_float, nullptr, &v);
        float back = 0;
        ASSERT_EQ(set_text(&structs_type_float, nullptr, text.c_str(), &back), ok()) << text;
        EXPECT_EQ(std::memcmp(&back, &v, sizeof v), 0) << text;
    }
    EXPECT_EQ(text_of(&structs_type_float, nullptr, &values[0]), "3.402823466385289e+38");
    // Halfway to 2^128 and beyond a float cannot hold the value.
    float f = 0;
    EXPECT_EQ(set_text(&structs_type_float, nullptr, "3.4028235677973366e38", &f),
              failed(EINVAL, "floating point value overflow"));
    EXPECT_EQ(set_text(&structs_type_float, nullptr, "3.4028235677973362e38", &f), ok());
    EXPECT_EQ(f, FLT_MAX);
}

// The 16 digits of a double's text put the largest doubles a little above DBL_MAX; they
// must still read back, as DBL_MAX, not fail as an overflow. Beyond that form a value is
// too large.
TEST_F(StructsPrimitiveTest, DoublesNearTheLargestReadBack) {
    const double values[] = {DBL_MAX, -DBL_MAX, std::nextafter(DBL_MAX, 0.0), std::nextafter(-DBL_MAX, 0.0),
                             1.7976931348623e308};
    for (const double v : values) {
        const std::string text = text_of(&structs_type_double, nullptr, &v);
        double back = 0;
        ASSERT_EQ(set_text(&structs_type_double, nullptr, text.c_str(), &back), ok()) << text;
        EXPECT_TRUE(std::isfinite(back)) << text;
        EXPECT_LE(std::fabs(back - v), std::fabs(v) * 1e-15) << text;
    }
    EXPECT_EQ(text_of(&structs_type_double, nullptr, &values[0]), "1.797693134862316e+308");
    double d = 0;
    ASSERT_EQ(set_text(&structs_type_double, nullptr, "1.797693134862316e+308", &d), ok());
    EXPECT_EQ(d, DBL_MAX);
    ASSERT_EQ(set_text(&structs_type_double, nullptr, "-1.797693134862316e308", &d), ok());
    EXPECT_EQ(d, -DBL_MAX);
    for (const char* too_large : {"1.7976931348623161e308", "1.8e308", "-1e309"})
        EXPECT_EQ(set_text(&structs_type_double, nullptr, too_large, &d),
                  failed(EINVAL, "floating point value overflow"))
            << too_large;
}

TEST_F(StructsPrimitiveTest, FloatTextIsTheCLocalePrintfForm) {
    const double values[] = {0.1, -1.0 / 3, 1e300, 4.9e-324, 123456789012345678.0, 1e16, 1e15, 100, -0.0};
    const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    ASSERT_NE(c_locale, static_cast<locale_t>(nullptr));
    for (const double v : values) {
        const locale_t previous = uselocale(c_locale);
        char expected[64];
        std::snprintf(expected, sizeof expected, "%.16g", v);
        uselocale(previous);
        EXPECT_EQ(text_of(&structs_type_double, nullptr, &v), expected);
    }
    freelocale(c_locale);
}

TEST_F(StructsPrimitiveTest, FloatEqualityComparesValuesNotBytes) {
    const float pz = 0.0f, nz = -0.0f;
    const double dpz = 0.0, dnz = -0.0;
    EXPECT_EQ(structs_type_float.equal(&structs_type_float, &pz, &nz), 1);
    EXPECT_EQ(structs_type_double.equal(&structs_type_double, &dpz, &dnz), 1);
    const float a = 1.5f, b = 1.25f;
    EXPECT_EQ(structs_type_float.equal(&structs_type_float, &a, &b), 0);
}

TEST_F(StructsPrimitiveTest, BooleanWordsOfEveryPairAreAccepted) {
    EXPECT_EQ(round_trip(structs_type_boolean_int_01, "yes").text, "1");
    EXPECT_EQ(round_trip(structs_type_boolean_int_01, "  ENABLED\t").text, "1");
    EXPECT_EQ(round_trip(structs_type_boolean_int_01, "off").text, "0");
    EXPECT_EQ(round_trip(structs_type_boolean_char, "1").text, "True");
    EXPECT_EQ(round_trip(structs_type_boolean_char, "false").text, "False");
    EXPECT_EQ(round_trip(structs_type_boolean_char_onoff, "TRUE").text, "On");
    EXPECT_EQ(round_trip(structs_type_boolean_int_onoff, "disabled").text, "Off");
    EXPECT_EQ(round_trip(structs_type_boolean_char_01, "maybe").set, failed(EINVAL, "invalid Boolean value"));
    EXPECT_EQ(round_trip(structs_type_boolean_char_01, "").set, failed(EINVAL, "invalid Boolean value"));

    // Four-byte storage: any non-zero word is true and parsing stores exactly 1.
    std::uint32_t word = 0x100;
    EXPECT_EQ(text_of(&structs_type_boolean_int, nullptr, &word), "True");
    EXPECT_EQ(set_text(&structs_type_boolean_int, nullptr, "on", &word), ok());
    EXPECT_EQ(word, 1u);
    std::uint8_t byte = 0;
    EXPECT_EQ(set_text(&structs_type_boolean_char, nullptr, "Yes", &byte), ok());
    EXPECT_EQ(byte, 1);
}

constexpr StructsId kColours[] = {
    {"Red", 3, 0},
    {"green", 5, 1},
    {"Minus", -2, 0},
    {nullptr, 0, 0},
};

TEST_F(StructsPrimitiveTest, EnumerationNamesValues) {
    constexpr StructsType byte_id = structs_id_type(1, kColours);
    constexpr StructsType word_id = structs_id_type(4, kColours);
    std::uint8_t b = 0;
    ASSERT_EQ(byte_id.init(&byte_id, &b), 0);
    EXPECT_EQ(b, 3) << "the first entry's value, not zero";
    EXPECT_EQ(text_of(&byte_id, nullptr, &b), "Red");
    EXPECT_EQ(set_text(&byte_id, nullptr, "GREEN", &b), ok()) << "this entry ignores case";
    EXPECT_EQ(b, 5);
    EXPECT_EQ(set_text(&byte_id, nullptr, "red", &b), failed(EINVAL, "invalid value \"red\""));
    EXPECT_EQ(b, 5);
    b = 9;
    EXPECT_EQ(text_of(&byte_id, nullptr, &b), "INVALID");
    EXPECT_EQ(set_text(&byte_id, nullptr, "INVALID", &b), failed(EINVAL, "invalid value \"INVALID\""));
    // A negative value reads back in every storage width.
    EXPECT_EQ(set_text(&byte_id, nullptr, "Minus", &b), ok());
    EXPECT_EQ(text_of(&byte_id, nullptr, &b), "Minus");
    std::int32_t w = 0;
    EXPECT_EQ(set_text(&word_id, nullptr, "Minus", &w), ok());
    EXPECT_EQ(w, -2);
    EXPECT_EQ(text_of(&word_id, nullptr, &w), "Minus");
}

TEST_F(StructsPrimitiveTest, StringsOwnTheirTextAndSettingReleasesTheOld) {
    char* s = nullptr;
    ASSERT_EQ(structs_type_string.init(&structs_type_string, &s), 0);
    ASSERT_NE(s, nullptr) << "a new empty text";
    EXPECT_EQ(set_text(&structs_type_string, nullptr, "first", &s), ok());
    EXPECT_EQ(set_text(&structs_type_string, nullptr, "second", &s), ok());
    EXPECT_EQ(tslib_test::live_blocks()[kStructsStringMtype].count, 1u) << "the old text was released";
    EXPECT_EQ(text_of(&structs_type_string, nullptr, &s), "second");
    EXPECT_EQ(set_text(&structs_type_string, nullptr, nullptr, &s), ok()) << "absent text counts as empty";
    EXPECT_STREQ(s, "");
    structs_type_string.uninit(&structs_type_string, &s);
    EXPECT_EQ(s, nullptr);

    char* n = nullptr;
    ASSERT_EQ(structs_type_string_null.init(&structs_type_string_null, &n), 0);
    EXPECT_EQ(n, nullptr);
    EXPECT_EQ(text_of(&structs_type_string_null, nullptr, &n), "");
    EXPECT_EQ(set_text(&structs_type_string_null, nullptr, "x", &n), ok());
    EXPECT_EQ(set_text(&structs_type_string_null, nullptr, "", &n), ok());
    EXPECT_EQ(n, nullptr) << "an empty text is stored as none";
    char empty[] = "";
    char* e = empty;
    EXPECT_EQ(structs_type_string_null.equal(&structs_type_string_null, &n, &e), 1);
}

TEST_F(StructsPrimitiveTest, BoundedStringsStayInsideTheirBuffer) {
    constexpr StructsType two = structs_fixedstring_type(2);
    char buf[2] = {};
    EXPECT_EQ(set_text(&two, nullptr, "a", buf), ok());
    const SetResult too_long = failed(EINVAL, "string is too long for bounded length buffer");
    EXPECT_EQ(set_text(&two, nullptr, "ab", buf), too_long) << "errno is set, not left as it was";
    EXPECT_STREQ(buf, "a");

    // A full buffer without a terminating zero, as a binary file may hold it: every read stops
    // at the buffer's end (the sanitizer build catches a read past it).
    constexpr StructsType eight = structs_fixedstring_type(8);
    std::vector<char> a(8, 'A'), b(8, 'A');
    EXPECT_EQ(text_of(&eight, nullptr, a.data()), "AAAAAAAA");
    EXPECT_EQ(eight.equal(&eight, a.data(), b.data()), 1);
    b[7] = 'B';
    EXPECT_EQ(eight.equal(&eight, a.data(), b.data()), 0);
    EXPECT_EQ(structs_test::encoded(&eight, nullptr, a.data()),
              (std::vector<std::uint8_t>{'A', 'A', 'A', 'A', 'A', 'A', 'A', 'A', 0}));

    // Parsing writes the whole buffer, so records compare byte for byte.
    EXPECT_EQ(set_text(&eight, nullptr, "xy", a.data()), ok());
    EXPECT_EQ(std::string(a.data(), 8), std::string("xy\0\0\0\0\0\0", 8));
}

TEST_F(StructsPrimitiveTest, HexadecimalData) {
    StructsBuffer d{};
    EXPECT_EQ(set_text(&structs_type_hexdata, nullptr, "0A ff", &d), ok());
    ASSERT_EQ(d.length, 2u);
    EXPECT_EQ(d.data[0], 0x0A);
    EXPECT_EQ(d.data[1], 0xFF);
    EXPECT_EQ(text_of(&structs_type_hexdata, nullptr, &d), "0aff");
    EXPECT_EQ(set_text(&structs_type_hexdata, nullptr, "abc", &d), failed(EINVAL, "odd length hex sequence"));
    EXPECT_EQ(set_text(&structs_type_hexdata, nullptr, "0g", &d), failed(EINVAL, "non-hex character seen"));
    EXPECT_EQ(set_text(&structs_type_hexdata, nullptr, "0 a", &d), failed(EINVAL, "non-hex character seen"));
    EXPECT_EQ(d.length, 2u) << "failures leave the value";
    EXPECT_EQ(set_text(&structs_type_hexdata, nullptr, "  010203  ", &d), ok());
    EXPECT_EQ(text_of(&structs_type_hexdata, nullptr, &d), "010203");
    EXPECT_EQ(tslib_test::live_blocks()[kStructsDataMtype].count, 1u) << "the old block was released";
    EXPECT_EQ(set_text(&structs_type_hexdata, nullptr, "", &d), ok());
    EXPECT_EQ(d.length, 0u);
    EXPECT_EQ(d.data, nullptr);
    structs_type_hexdata.uninit(&structs_type_hexdata, &d);
}

TEST_F(StructsPrimitiveTest, Base64Data) {
    StructsBuffer d{};
    EXPECT_EQ(set_text(&structs_type_data, nullptr, "AQIDBA==", &d), ok());
    ASSERT_EQ(d.length, 4u);
    EXPECT_EQ(std::memcmp(d.data, "\x01\x02\x03\x04", 4), 0);
    EXPECT_EQ(text_of(&structs_type_data, nullptr, &d), "AQIDBA==");
    EXPECT_EQ(set_text(&structs_type_data, nullptr, "AQ*D", &d),
              failed(EINVAL, "invalid encoded binary data"));
    EXPECT_EQ(d.length, 4u);

    StructsBuffer copy{};
    ASSERT_EQ(structs_type_data.copy(&structs_type_data, &d, &copy), 0);
    EXPECT_NE(copy.data, d.data);
    EXPECT_EQ(structs_type_data.equal(&structs_type_data, &d, &copy), 1);
    copy.data[0] = 9;
    EXPECT_EQ(structs_type_data.equal(&structs_type_data, &d, &copy), 0);
    structs_type_data.uninit(&structs_type_data, &copy);
    structs_type_data.uninit(&structs_type_data, &d);
    EXPECT_EQ(text_of(&structs_type_data, nullptr, &d), "");

    // A 64-symbol alphabet of its own.
    constexpr StructsType own = structs_data_type(
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_", kStructsDataMtype);
    std::uint8_t bytes[3] = {0xFB, 0xFF, 0x00};
    StructsBuffer o{3, bytes};
    EXPECT_EQ(text_of(&own, nullptr, &o), "-_8a");
}

TEST_F(StructsPrimitiveTest, FixedData) {
    constexpr StructsType four = structs_fixeddata_type(4);
    std::uint8_t v[4] = {0x0a, 0x0b, 0xff, 0x00};
    EXPECT_EQ(text_of(&four, nullptr, v), "0a0bff00");
    EXPECT_EQ(set_text(&four, nullptr, " 1 2 3 4 a b C D ", v), ok());
    EXPECT_EQ(text_of(&four, nullptr, v), "1234abcd");
    EXPECT_EQ(set_text(&four, nullptr, "0a0b", v), failed(EINVAL, "hex string is too short"));
    EXPECT_EQ(set_text(&four, nullptr, "0a0bff0011", v), failed(EINVAL, "hex string is too long"));
    EXPECT_EQ(set_text(&four, nullptr, "0a0bzz00", v), failed(EINVAL, "non-hex character seen"));
    EXPECT_EQ(text_of(&four, nullptr, v), "1234abcd") << "a failure writes nothing";
}

}  // namespace
