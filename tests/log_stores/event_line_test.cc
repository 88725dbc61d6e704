#include "log_stores/text_files/event_line.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace log_stores::text_files;

constexpr std::int32_t k20090305_140709 = 1236262029;

TEST(EventLine, BothFormsCarryTheFractionTheStampNeeds) {
    struct Case {
        TimeStamp time;
        EventLineForm form;
        const char* line;
    };
    const Case cases[] = {
        {{k20090305_140709, 0, 0}, EventLineForm::DateFirst, "09/03/05 14:07:09 Pump 2 started"},
        {{k20090305_140709, 250, 0}, EventLineForm::DateFirst, "09/03/05 14:07:09.250 Pump 2 started"},
        {{k20090305_140709, 250, 7}, EventLineForm::DateFirst, "09/03/05 14:07:09.250007 Pump 2 started"},
        {{k20090305_140709, 0, 7}, EventLineForm::DateFirst, "09/03/05 14:07:09.000007 Pump 2 started"},
        {{k20090305_140709, 0, 0}, EventLineForm::TimeFirst, "14:07:09 05/03/09 Pump 2 started"},
        {{k20090305_140709, 5, 0}, EventLineForm::TimeFirst, "14:07:09.005 05/03/09 Pump 2 started"},
        {{k20090305_140709, 999, 999}, EventLineForm::TimeFirst, "14:07:09.999999 05/03/09 Pump 2 started"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::string line = format_event_line(c.time, "Pump 2 started", c.form);
        EXPECT_EQ(line, c.line);
        const auto read = ParseTextLineTime(line);
        ASSERT_TRUE(read);
        EXPECT_EQ(read->time.seconds, c.time.seconds);
        EXPECT_EQ(read->time.milliseconds, c.time.milliseconds);
        EXPECT_EQ(read->time.microseconds, c.time.microseconds);
        EXPECT_EQ(line.substr(read->text_at), "Pump 2 started");
        const std::u16string wide(line.begin(), line.end());
        const auto read_wide = ParseTextLineTime(std::u16string_view(wide));
        ASSERT_TRUE(read_wide);
        EXPECT_EQ(read_wide->time.seconds, c.time.seconds);
        EXPECT_EQ(read_wide->text_at, read->text_at);
    }
}

TEST(EventLine, LineBreaksInTheTextBecomeBlanks) {
    EXPECT_EQ(format_event_line({k20090305_140709, 0, 0}, "first\r\n[TEXT]\rx\ny", EventLineForm::DateFirst),
              "09/03/05 14:07:09 first  [TEXT] x y");
}

TEST(EventLine, LinesWithoutAReadableTimeGiveNone) {
    for (const char* line : {"", "Pump started", "[TEXT]", "09/03/05 14:07:09", "09/03/05 14:07:09 ",
                             "09/13/05 14:07:09 month", "09/02/29 14:07:09 no leap day", "09/03/05 24:00:00 hour",
                             "09/03/05 14:60:09 minute", "14:07:09 32/03/09 day", "14:07:09.-5 05/03/09 negative",
                             "09/03/05 14:07:09.1234567 too fine", "9-03-05 14:07:09 dashes"}) {
        SCOPED_TRACE(line);
        EXPECT_FALSE(ParseTextLineTime(std::string_view(line)));
    }
}

TEST(EventLine, YearsBelowSeventyAreThisCentury) {
    const auto late = ParseTextLineTime(std::string_view("69/12/31 23:59:59 x"));
    ASSERT_TRUE(late);
    EXPECT_EQ(static_cast<std::uint32_t>(late->time.seconds), 3155759999u);
    const auto early = ParseTextLineTime(std::string_view("70/01/01 00:00:00 x"));
    ASSERT_TRUE(early);
    EXPECT_EQ(early->time.seconds, 0);
    // A fraction of other width counts as microseconds, as the reading rule has it.
    const auto odd = ParseTextLineTime(std::string_view("09/03/05 14:07:09.5 x"));
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->time.milliseconds, 0);
    EXPECT_EQ(odd->time.microseconds, 5);
    EXPECT_EQ(odd->text_at, 20u);
}

TEST(EventLine, SectionNamesGetTheirBracketsOnce) {
    EXPECT_EQ(section_header("TEXT"), "[TEXT]");
    EXPECT_EQ(section_header("[TEXT]"), "[TEXT]");
    EXPECT_EQ(section_header("[TEXT"), "[[TEXT]");
    EXPECT_EQ(section_header("AB_3_FORMULAE"), "[AB_3_FORMULAE]");
}

}  // namespace
