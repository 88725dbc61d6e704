#include "log_stores/text_files/text_section.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace log_stores::text_files;

const std::string kCompanion =
    "[HEADER]\r\nKiln 3, night shift\r\n"
    "[TEXT]\r\n09/03/05 14:07:09 Pump 2 started\r\n14:07:10.250 05/03/09 Pump 2 stopped\r\n"
    "[POSITIONS]\r\n09/03/05 14:07:09 1.500000\r\nlast line without end";

struct Read {
    int lines;
    std::size_t size;
    std::string text;
};

Read read(std::string_view file, std::string_view section, SectionOptions options = {}, std::size_t capacity = 4096) {
    std::vector<char> out(capacity + 1, '#');
    std::size_t size = capacity;
    const int lines = read_section(file, section, options, out.data(), &size);
    return {lines, size, lines > 0 ? std::string(out.data()) : std::string()};
}

TEST(TextSection, SectionsAreTakenLineByLineWithTheirLineEnds) {
    struct Case {
        const char* note;
        std::string file;
        const char* section;
        SectionOptions options;
        int lines;
        std::string text;
    };
    const Case cases[] = {
        {"header", kCompanion, "HEADER", {}, 1, "Kiln 3, night shift\r\n"},
        {"bracketed name", kCompanion, "[HEADER]", {}, 1, "Kiln 3, night shift\r\n"},
        {"text as stored", kCompanion, "TEXT", {}, 2,
         "09/03/05 14:07:09 Pump 2 started\r\n14:07:10.250 05/03/09 Pump 2 stopped\r\n"},
        {"text date first", kCompanion, "TEXT", {false, true}, 2,
         "09/03/05 14:07:09 Pump 2 started\r\n09/03/05 14:07:10.250 Pump 2 stopped\r\n"},
        {"last line without CR LF", kCompanion, "POSITIONS", {}, 1, "09/03/05 14:07:09 1.500000\r\n"},
        {"letter case of the header counts", kCompanion, "text", {}, 0, ""},
        {"missing", kCompanion, "FORMULAE", {}, 0, ""},
        {"empty file", "", "TEXT", {}, 0, ""},
        {"events file whole", "14:07:09.000007 05/03/09 a\r\n[not a section]\r\n", "TEXT", {true, true}, 2,
         "09/03/05 14:07:09.000007 a\r\n[not a section]\r\n"},
        {"header as a prefix", "[TEXT] old\r\nx\r\n", "TEXT", {}, 1, "x\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.note);
        const Read r = read(c.file, c.section, c.options);
        EXPECT_EQ(r.lines, c.lines);
        EXPECT_EQ(r.text, c.text);
    }
    std::size_t size = 10;
    EXPECT_EQ(read_section(kCompanion, "", {}, nullptr, &size), -1);
}

TEST(TextSection, LinesAreTakenOnlyWhileTheyAndTheTerminatorFit) {
    // "Kiln 3, night shift\r\n" is 21 bytes; with the NUL 22.
    const std::string file = "[H]\r\nKiln 3, night shift\r\nab\r\n";
    struct Case {
        std::size_t capacity;
        int lines;
        std::string text;
    };
    for (const Case& c : {Case{26, 2, "Kiln 3, night shift\r\nab\r\n"}, Case{25, 1, "Kiln 3, night shift\r\n"},
                         Case{22, 1, "Kiln 3, night shift\r\n"}, Case{21, 0, ""}, Case{0, 0, ""}}) {
        SCOPED_TRACE(c.capacity);
        const Read r = read(file, "H", {}, c.capacity);
        EXPECT_EQ(r.lines, c.lines);
        EXPECT_EQ(r.text, c.text);
        EXPECT_EQ(r.size, r.text.size() + 1);
    }
    std::size_t size = 0;
    EXPECT_EQ(read_section(file, "H", {}, nullptr, &size), 2);
    EXPECT_EQ(size, 26u);
    size = 99;
    EXPECT_EQ(read_section(file, "MISSING", {}, nullptr, &size), 0);
    EXPECT_EQ(size, 0u);
}

TEST(TextSection, Utf16FilesAreReadAsWindows1252) {
    const std::u16string wide = u"[TEXT]\r\n09/03/05 14:07:09 Ofen \u00fcber 80 \u20ac \u4e2d\r\n";
    std::string bytes = "\xFF\xFE";
    for (const char16_t unit : wide) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    bytes += '\x41';  // an odd last byte
    bool utf16 = false;
    const std::string text = text_file_as_8bit(bytes, utf16);
    EXPECT_TRUE(utf16);
    const Read r = read(text, "TEXT");
    EXPECT_EQ(r.lines, 1);
    EXPECT_EQ(r.text, "09/03/05 14:07:09 Ofen \xFC" "ber 80 \x80 ?\r\n");

    const std::string plain = "[TEXT]\r\n\xFC\r\n";
    EXPECT_EQ(text_file_as_8bit(plain, utf16), plain);
    EXPECT_FALSE(utf16);
}

}  // namespace
