// Text forms of the date-and-time pattern, end-of-line and separator types.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
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

using TimeBytes = std::array<std::uint8_t, 6>;

const int kAccounting = typed_mem_turn_on();

class SystemTypesTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(kAccounting, 0); }
    void TearDown() override { EXPECT_TRUE(tslib_test::live_blocks().empty()) << "blocks leaked"; }
};

constexpr std::uint8_t kAny = kStructsTimeAny;

const StructsType& with_year = structs_type_time_with_year;
const StructsType& no_year = structs_type_time_no_year;

SetResult invalid_time() {
    return failed(EINVAL, "invalid time value");
}
SetResult invalid_year() {
    return failed(EINVAL, "invalid year value");
}
SetResult too_long() {
    return failed(EINVAL, "string is too long for bounded length buffer");
}

}  // namespace

TEST_F(SystemTypesTest, TimeParsesTheForms) {
    struct Case {
        const StructsType* type;
        const char* text;
        SetResult result;
        TimeBytes bytes;  // after success
    };
    const Case cases[] = {
        {&with_year, "2024-01-15T10:30", ok(), {124, 1, 15, 10, 30, 0}},
        {&with_year, "****-01-15T**:30", ok(), {kAny, 1, 15, kAny, 30, 0}},
        {&with_year, "****-**-**T**:**", ok(), {kAny, kAny, kAny, kAny, kAny, 0}},
        {&with_year, "*-*-*T*:*", ok(), {kAny, kAny, kAny, kAny, kAny, 0}},
        {&with_year, "  1999 - 7 - 4 T 8 : 5", failed(EINVAL, "invalid year value"), {}},
        {&with_year, "  1999-7-4 T 8 : 5", ok(), {99, 7, 4, 8, 5, 0}},
        {&with_year, "1900-12-31T23:59", ok(), {0, 12, 31, 23, 59, 0}},
        {&with_year, "2154-01-01T00:00", ok(), {254, 1, 1, 0, 0, 0}},
        {&with_year, "1899-01-01T00:00", invalid_year(), {}},
        {&with_year, "2155-01-01T00:00", invalid_year(), {}},
        {&with_year, "0000-01-01T00:00", invalid_year(), {}},
        {&with_year, "19999-01-01T00:00", invalid_year(), {}},
        {&with_year, "2024/01/15T10:30", invalid_year(), {}},
        {&with_year, "****/01/15T10:30", invalid_year(), {}},
        {&with_year, "", invalid_year(), {}},
        {&with_year, "2024-01-15", invalid_time(), {}},
        {&with_year, "2024-60-15T10:30", invalid_time(), {}},
        // Months, days and hours are read up to 59, as stored files may hold them.
        {&with_year, "2024-59-59T59:59", ok(), {124, 59, 59, 59, 59, 0}},
        {&no_year, " 12-31T23:59", ok(), {0, 12, 31, 23, 59, 0}},
        {&no_year, "13-32T24:60", invalid_time(), {}},
        {&no_year, "13-32T24:59", ok(), {0, 13, 32, 24, 59, 0}},
        {&no_year, "**-01T00:00", invalid_time(), {}},
        {&no_year, "01-01T**:00", invalid_time(), {}},
        {&no_year, "1-2T3:4", ok(), {0, 1, 2, 3, 4, 0}},
        {&no_year, "x1-2T3:4", invalid_time(), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TimeBytes value{7, 7, 7, 7, 7, 7};
        const TimeBytes before = value;
        EXPECT_EQ(set_text(c.type, nullptr, c.text, value.data()), c.result);
        EXPECT_EQ(value, c.result.rc == 0 ? c.bytes : before) << "a failed parse changes nothing";
    }
}

TEST_F(SystemTypesTest, TimePrintsTheFormsAndReadsThemBack) {
    struct Case {
        const StructsType* type;
        TimeBytes bytes;
        const char* text;
    };
    const Case cases[] = {
        {&with_year, {kAny, 1, 15, kAny, 30, 0}, "****-01-15T**:30"},
        {&with_year, {kAny, kAny, kAny, kAny, kAny, 0}, "****-**-**T**:**"},
        {&with_year, {124, 2, 29, 0, 5, 99}, "2024-02-29T00:05"},
        {&with_year, {0, 1, 1, 0, 0, 0}, "1900-01-01T00:00"},
        {&with_year, {254, 12, 31, 23, 59, 0}, "2154-12-31T23:59"},
        {&no_year, {0, 12, 31, 23, 59, 0}, "12-31T23:59"},
        {&no_year, {77, 3, 4, 5, 6, 0}, "03-04T05:06"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(text_of(c.type, nullptr, c.bytes.data()), c.text);
        TimeBytes back{};
        ASSERT_EQ(set_text(c.type, nullptr, c.text, back.data()), ok());
        TimeBytes expected = c.bytes;
        expected[5] = 0;  // never shown, left 0 by parsing
        if (c.type == &no_year) expected[0] = 0;
        EXPECT_EQ(back, expected);
    }
    // Without wildcards the byte 255 is a number.
    const TimeBytes all_ff{kAny, kAny, kAny, kAny, kAny, 0};
    EXPECT_EQ(text_of(&no_year, nullptr, all_ff.data()), "255-255T255:255");
}

TEST_F(SystemTypesTest, TimeEncodesItsBytesReversed) {
    const TimeBytes value{124, 1, 15, 10, 30, 0};
    EXPECT_EQ(structs_test::encoded(&with_year, nullptr, value.data()),
              (std::vector<std::uint8_t>{0, 30, 10, 15, 1, 124}));
}

TEST_F(SystemTypesTest, EndOfLineAndSeparatorWords) {
    struct Case {
        const StructsType* type;
        const char* text;
        SetResult result;
        const char* stored;  // after success
        const char* printed;
    };
    const Case cases[] = {
        {&structs_type_eol, "", ok(), "\r\n", "CR/LF"},
        {&structs_type_eol, "CR/LF", ok(), "\r\n", "CR/LF"},
        {&structs_type_eol, "cr/lf", ok(), "\r\n", "CR/LF"},
        {&structs_type_eol, "lf", ok(), "\n", "LF"},
        {&structs_type_eol, "Cr", ok(), "\r", "CR"},
        {&structs_type_eol, ";", ok(), ";", ";"},
        {&structs_type_eol, "ab", ok(), "ab", "ab"},
        {&structs_type_eol, "CRLF", too_long(), nullptr, nullptr},
        {&structs_type_eol, "TAB", too_long(), nullptr, nullptr},
        {&structs_type_sep, "", ok(), ",", "COMMA"},
        {&structs_type_sep, "comma", ok(), ",", "COMMA"},
        {&structs_type_sep, "Tab", ok(), "\t", "TAB"},
        {&structs_type_sep, "SPACE", ok(), " ", "SPACE"},
        {&structs_type_sep, "space", ok(), " ", "SPACE"},
        {&structs_type_sep, ";", ok(), ";", ";"},
        {&structs_type_sep, "\t", ok(), "\t", "TAB"},
        {&structs_type_sep, "LF", ok(), "LF", "LF"},
        {&structs_type_sep, "abc", too_long(), nullptr, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.type->name) + " " + c.text);
        std::array<char, 3> value{'q', 'q', '\0'};
        EXPECT_EQ(set_text(c.type, nullptr, c.text, value.data()), c.result);
        if (c.result.rc != 0) {
            EXPECT_STREQ(value.data(), "qq") << "a failed parse changes nothing";
            continue;
        }
        EXPECT_STREQ(value.data(), c.stored);
        EXPECT_EQ(text_of(c.type, nullptr, value.data()), c.printed);
    }
    std::array<char, 3> empty{};
    EXPECT_EQ(text_of(&structs_type_eol, nullptr, empty.data()), "");
    EXPECT_EQ(text_of(&structs_type_sep, nullptr, empty.data()), "");
}

TEST_F(SystemTypesTest, EndOfLineAndSeparatorEncodeTheirWords) {
    const std::array<char, 3> crlf{'\r', '\n', '\0'};
    const std::vector<std::uint8_t> code = structs_test::encoded(&structs_type_eol, nullptr, crlf.data());
    EXPECT_EQ(code, (std::vector<std::uint8_t>{'C', 'R', '/', 'L', 'F', 0}));
    std::array<char, 3> back{};
    const StructsBuffer buffer{static_cast<std::uint32_t>(code.size()), const_cast<std::uint8_t*>(code.data())};
    char ebuf[64];
    EXPECT_EQ(structs_set_field_binary(&structs_type_eol, nullptr, &buffer, back.data(), ebuf, sizeof ebuf), 6);
    EXPECT_EQ(back, crlf);
}
