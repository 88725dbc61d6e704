// Logger text files as files: sections read from companions and the events file, the UTF-16
// forms, the events file rule, a run's companion found by its name, and replaces killed
// halfway.
#include "log_stores/text_files/logger_text_files.h"

#include <gtest/gtest.h>

#include <csignal>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "log_stores/run_file/run_file_format.h"
#include "log_stores/run_file/run_file_layout.h"
#include "log_stores/text_files/run_text_name.h"
#include "platform/last_error.h"
#include "platform/registry_key.h"
#include "platform/remote_path.h"
#include "product_settings.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/settings_testing.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using namespace log_stores::text_files;
namespace fs = std::filesystem;

constexpr std::int32_t k140709 = 1236262029;  // 2009-03-05 14:07:09 UTC

std::string utf16_file(std::u16string_view text) {
    std::string out = "\xFF\xFE";
    for (const char16_t unit : text) {
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
    }
    return out;
}

using log_stores_test::set_product_value;

void use_events_file() { set_product_value("EventsTextFile", "ON"); }

// The section as ReadSection hands it out, or "<rc>" for a failure.
std::string section_of(const fs::path& file, const char* section, int* lines = nullptr) {
    std::size_t size = 0;
    const int n = ReadSection(file.string(), section, nullptr, &size);
    if (n < 0) return "<" + std::to_string(n) + ">";
    std::vector<char> buffer(size + 1, 'x');
    std::size_t capacity = buffer.size();
    EXPECT_EQ(ReadSection(file.string(), section, buffer.data(), &capacity), n);
    if (lines != nullptr) *lines = n;
    return std::string(buffer.data());
}

class LoggerTextFiles : public ::testing::Test {
  public:
    fs::path file(const std::string& name) const { return dir_ / name; }
    void write(const std::string& name, const std::string& bytes) const { qvr_test::write_file(file(name), bytes); }
    std::string read(const std::string& name) const { return qvr_test::read_file(file(name)); }

  protected:
    void SetUp() override { qvr::reset_product_settings_for_test(); }
    void TearDown() override { qvr::reset_product_settings_for_test(); }

    qvr_test::TempDir dir_;
};

TEST_F(LoggerTextFiles, EdgeCasesOfReadingReplacingAndAdding) {
    const std::string companion = "L090305_140709.txt";
    struct Case {
        const char* note;
        bool events_in_use;
        std::map<std::string, std::string> files;
        std::function<std::string(LoggerTextFiles&)> act;
        std::string expected;
    };
    const Case cases[] = {
        {"TEXT comes from events.txt, time-first lines date first, fractions kept",
         true,
         {{companion, "[TEXT]\r\n09/03/05 01:00:00 own\r\n"},
          {"events.txt", "14:07:09.250 05/03/09 X\r\n14:07:10 05/03/09 Y\r\n14:07:11.250123 05/03/09 Z\r\n"}},
         [&](LoggerTextFiles& t) { return section_of(t.file(companion), "[text]"); },
         "09/03/05 14:07:09.250 X\r\n09/03/05 14:07:10 Y\r\n09/03/05 14:07:11.250123 Z\r\n"},
        {"other sections still come from the companion",
         true,
         {{companion, "[HEADER]\r\nh\r\n"}, {"events.txt", "14:07:09 05/03/09 X\r\n"}},
         [&](LoggerTextFiles& t) { return section_of(t.file(companion), "HEADER"); },
         "h\r\n"},
        {"without events.txt the companion's event lines are read",
         true,
         {{companion, "[TEXT]\r\n09/03/05 01:00:00 own\r\n"}},
         [&](LoggerTextFiles& t) { return section_of(t.file(companion), "TEXT"); },
         "09/03/05 01:00:00 own\r\n"},
        {"a last line without CR LF is not taken",
         false,
         {{companion, "[A]\r\n1\r\n2"}},
         [&](LoggerTextFiles& t) { return section_of(t.file(companion), "A"); },
         "1\r\n"},
        {"replacing in a missing file makes it with that section only",
         false,
         {},
         [&](LoggerTextFiles& t) {
             const int rc = ReplaceTextSection(t.file("new.txt").string(), "HEADER", "h");
             return std::to_string(rc) + " " + t.read("new.txt");
         },
         "1 [HEADER]\r\nh\r\n"},
        {"the W replace refuses a character above 127",
         false,
         {{companion, "[A]\r\nold\r\n"}},
         [&](LoggerTextFiles& t) {
             const int rc = ReplaceTextSectionW(t.file(companion).string(), "A", u"caf\u00e9");
             const int error = platform::last_error();
             return std::to_string(rc) + "," + std::to_string(error) + " " + t.read(companion);
         },
         "-1,87 [A]\r\nold\r\n"},
        {"the W replace refuses a UTF-16 file",
         false,
         {{companion, utf16_file(u"[A]\r\nold\r\n")}},
         [&](LoggerTextFiles& t) {
             const int rc = ReplaceTextSectionW(t.file(companion).string(), "A", u"new");
             const int error = platform::last_error();
             return std::to_string(rc) + "," + std::to_string(error) + " " +
                    std::to_string(t.read(companion) == utf16_file(u"[A]\r\nold\r\n"));
         },
         "-1,13 1"},
        {"the W replace of 7-bit text",
         false,
         {{companion, "[A]\r\nold\r\n[B]\r\nb\r\n"}},
         [&](LoggerTextFiles& t) {
             const int rc = ReplaceTextSectionW(t.file(companion).string(), "A", u"new\r\n");
             return std::to_string(rc) + " " + t.read(companion);
         },
         "1 [A]\r\nnew\r\n[B]\r\nb\r\n"},
        {"the example event in a run's companion",
         false,
         {},
         [&](LoggerTextFiles& t) {
             const int rc = AddTextLine(t.file(companion).string(), "TEXT", {k140709, 250, 0}, "X", nullptr);
             return std::to_string(rc) + " " + t.read(companion);
         },
         "0 [TEXT]\r\n09/03/05 14:07:09.250 X\r\n"},
        {"the example event in the events file",
         true,
         {},
         [&](LoggerTextFiles& t) {
             const int rc = AddTextLine(t.file(companion).string(), "TEXT", {k140709, 250, 0}, "X", nullptr);
             return std::to_string(rc) + " " + t.read("events.txt") + std::to_string(fs::exists(t.file(companion)));
         },
         "0 14:07:09.250 05/03/09 X\r\n0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.note);
        for (const auto& entry : fs::directory_iterator(dir_.path())) fs::remove_all(entry.path());
        set_product_value("EventsTextFile", c.events_in_use ? "ON" : "OFF");
        for (const auto& [name, bytes] : c.files) write(name, bytes);
        EXPECT_EQ(c.act(*this), c.expected);
    }
}

TEST_F(LoggerTextFiles, EightBitAndUtf16FilesReadAlike) {
    const std::u16string text = u"[HEADER]\r\nh\r\n[TEXT]\r\n09/03/05 14:07:09 \u00fcber\r\n09/03/05 14:07:10 \u4e2d\r\n";
    write("wide.txt", utf16_file(text));
    write("narrow.txt", "[HEADER]\r\nh\r\n[TEXT]\r\n09/03/05 14:07:09 \xFC" "ber\r\n09/03/05 14:07:10 ?\r\n");
    int lines = 0;
    EXPECT_EQ(section_of(file("wide.txt"), "TEXT", &lines), section_of(file("narrow.txt"), "TEXT"));
    EXPECT_EQ(lines, 2);

    // The UTF-16 reading, in the caller's units.
    std::size_t size = 0;
    ASSERT_EQ(ReadSectionW(file("narrow.txt").string(), "TEXT", nullptr, &size), 2);
    ASSERT_EQ(size, 46u);
    std::vector<char16_t> wide(size, u'x');
    ASSERT_EQ(ReadSectionW(file("narrow.txt").string(), "TEXT", wide.data(), &size), 2);
    EXPECT_EQ(std::u16string(wide.data()), u"09/03/05 14:07:09 \u00fcber\r\n09/03/05 14:07:10 ?\r\n");

    // A UTF-16 file hands its own units to the UTF-16 reading, even those Windows-1252 lacks.
    size = wide.size();
    ASSERT_EQ(ReadSectionW(file("wide.txt").string(), "TEXT", wide.data(), &size), 2);
    EXPECT_EQ(std::u16string(wide.data()), u"09/03/05 14:07:09 \u00fcber\r\n09/03/05 14:07:10 \u4e2d\r\n");

    // Lines are taken while they and the NUL fit; the first that does not ends the reading.
    std::vector<char16_t> small(40, u'x');
    size = small.size();
    ASSERT_EQ(ReadSectionW(file("wide.txt").string(), "TEXT", small.data(), &size), 1);
    EXPECT_EQ(size, 25u);
    EXPECT_EQ(std::u16string(small.data()), u"09/03/05 14:07:09 \u00fcber\r\n");
    char none[1] = {'x'};
    size = 0;
    EXPECT_EQ(ReadSectionW(file("wide.txt").string(), "TEXT", reinterpret_cast<char16_t*>(none), &size), 0);
    EXPECT_EQ(none[0], 'x');
}

TEST_F(LoggerTextFiles, SectionLinesAreCutAtCrLf) {
    write("a.txt", "[A]\r\none\r\n\r\nthree\r\n[B]\r\n");
    std::size_t count = 0, size = 0;
    ASSERT_EQ(ReadSectionLines(file("a.txt").string(), "A", nullptr, &count, nullptr, &size), 0);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(size, 15u);

    std::vector<char> buffer(size);
    const char* lines[3] = {};
    ASSERT_EQ(ReadSectionLines(file("a.txt").string(), "A", lines, &count, buffer.data(), &size), 0);
    ASSERT_EQ(count, 3u);
    EXPECT_STREQ(lines[0], "one");
    EXPECT_STREQ(lines[1], "");
    EXPECT_STREQ(lines[2], "three");

    // At most the given count is stored.
    count = 2;
    size = buffer.size();
    ASSERT_EQ(ReadSectionLines(file("a.txt").string(), "A", lines, &count, buffer.data(), &size), 0);
    EXPECT_EQ(count, 2u);

    std::vector<char16_t> wide(size);
    const char16_t* wide_lines[3] = {};
    count = 3;
    ASSERT_EQ(ReadSectionLinesW(file("a.txt").string(), "A", wide_lines, &count, wide.data(), &size), 0);
    ASSERT_EQ(count, 3u);
    EXPECT_EQ(std::u16string(wide_lines[2]), u"three");

    EXPECT_EQ(ReadSectionLines(file("missing.txt").string(), "A", lines, &count, buffer.data(), &size), -2);
}

TEST_F(LoggerTextFiles, ReadingRefusalsAndMissingSections) {
    write("a.txt", "[A]\r\n1\r\n");
    std::size_t size = 99;
    EXPECT_EQ(ReadSection(file("a.txt").string(), "", nullptr, &size), -1);
    EXPECT_EQ(ReadSection(file("a.txt").string(), "B", nullptr, &size), 0);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(ReadSection(file("missing.txt").string(), "A", nullptr, &size), -2);
    EXPECT_EQ(platform::last_error(), platform::kErrorFileNotFound);
    EXPECT_EQ(ReadSection("\\\\unmapped\\share\\a.txt", "A", nullptr, &size), -2);
    EXPECT_EQ(platform::last_error(), platform::kErrorBadNetPath);
}

TEST_F(LoggerTextFiles, TheWideAddTakesSevenBitTextIntoEitherKindOfFile) {
    const std::string path = file("w.txt").string();
    EXPECT_EQ(AddTextLineW(path, "TEXT", {k140709, 0, 0}, u"\u00e9t\u00e9", nullptr), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    EXPECT_EQ(AddTextLineW(path, "TEXT", {k140709, 0, 0}, u"ok", u"\u4e2d"), -1);
    EXPECT_FALSE(fs::exists(path));

    ASSERT_EQ(AddTextLineW(path, "TEXT", {k140709, 0, 0}, u"ok", nullptr), 0);
    EXPECT_EQ(read("w.txt"), "[TEXT]\r\n09/03/05 14:07:09 ok\r\n");
    ASSERT_EQ(AddTextLineW(path, "TEXT", {k140709, 0, 0}, u"again", u"ok"), 0);
    EXPECT_EQ(read("w.txt"), "[TEXT]\r\n09/03/05 14:07:09 again\r\n");

    write("u.txt", utf16_file(u"[TEXT]\r\n09/03/05 14:07:10 \u4e2d\r\n"));
    ASSERT_EQ(AddTextLineW(file("u.txt").string(), "TEXT", {k140709, 0, 0}, u"early", nullptr), 0);
    EXPECT_EQ(read("u.txt"), utf16_file(u"[TEXT]\r\n09/03/05 14:07:09 early\r\n09/03/05 14:07:10 \u4e2d\r\n"));
}

TEST_F(LoggerTextFiles, TheEventsFileIsInUseByEditionOrSetting) {
    struct Case {
        const char* value;  // null: absent
        int expected;
    };
    const Case cases[] = {{nullptr, 0}, {"ON", 1}, {"on", 1}, {"On, since March", 1}, {"OFF", 0}, {"", 0}, {"O", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value == nullptr ? "absent" : c.value);
        platform::RegistryKey key;
        ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey,
                                                platform::kKeyAllAccess, key),
                  0);
        if (c.value == nullptr)
            static_cast<void>(key.delete_value("EventsTextFile"));
        else
            ASSERT_EQ(key.set_string("EventsTextFile", c.value), 0);
        EXPECT_EQ(EventsFileInUse(), c.expected);
    }
    {
        platform::RegistryKey key;
        ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey,
                                                platform::kKeyAllAccess, key),
                  0);
        ASSERT_EQ(key.set_dword("EventsTextFile", 1), 0);
        EXPECT_EQ(EventsFileInUse(), 0);
    }
    set_product_value("ProductName", "Rimvale");
    qvr::reset_product_settings_for_test();
    EXPECT_EQ(EventsFileInUse(), 1);
}

TEST_F(LoggerTextFiles, EventLinesStayWhereTheFolderAlreadyKeepsThem) {
    use_events_file();
    // A folder whose companions already hold event lines goes on writing them there.
    write("L090305_100000_090305_110000.txt", "[TEXT]\r\n09/03/05 10:00:00 old\r\n");
    const std::string run = file("L090305_140709.txt").string();
    ASSERT_EQ(AddTextLine(run, "TEXT", {k140709, 0, 0}, "here", nullptr), 0);
    EXPECT_EQ(read("L090305_140709.txt"), "[TEXT]\r\n09/03/05 14:07:09 here\r\n");
    EXPECT_FALSE(fs::exists(file("events.txt")));

    // Once the events file exists, every event line goes there; other sections do not.
    write("events.txt", "");
    ASSERT_EQ(AddTextLine(run, "[TEXT]", {k140709 + 1, 0, 0}, "there", nullptr), 0);
    ASSERT_EQ(AddTextLine(run, "POSITIONS", {k140709 + 1, 0, 0}, "1.000000", nullptr), 0);
    EXPECT_EQ(read("events.txt"), "14:07:10 05/03/09 there\r\n");
    EXPECT_EQ(read("L090305_140709.txt"),
              "[TEXT]\r\n09/03/05 14:07:09 here\r\n[POSITIONS]\r\n09/03/05 14:07:10 1.000000\r\n");
}

TEST_F(LoggerTextFiles, PathsOfAnotherMachineAreUsedThroughTheirMountedFolder) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, platform::kRemoteMachinesKey,
                                            platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string("plant", dir_.str()), 0);
    write("share/L/L090305_140709_090305_150000.qdl", "");
    write("share/L/l090305_140709.TXT", "[HEADER]\r\nh\r\n");
    const std::string folder = "\\\\plant\\share\\L\\";

    const auto found = FindLoggerTextFile(nullptr, folder + "L090305_140709_090305_150000.qdl");
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, folder + "l090305_140709.TXT");
    EXPECT_EQ(ReplaceTextSection(*found, "TEXT", "09/03/05 14:07:09 a\r\n"), 1);
    ASSERT_EQ(AddTextLine(*found, "TEXT", {k140709 + 1, 0, 0}, "b", nullptr), 0);
    EXPECT_EQ(section_of(*found, "TEXT"), "09/03/05 14:07:09 a\r\n09/03/05 14:07:10 b\r\n");
    EXPECT_EQ(read("share/L/l090305_140709.TXT"),
              "[HEADER]\r\nh\r\n[TEXT]\r\n09/03/05 14:07:09 a\r\n09/03/05 14:07:10 b\r\n");

    // A machine without a mounted folder is not reachable from here: nothing is made.
    EXPECT_EQ(ReplaceTextSection("\\\\elsewhere\\share\\a.txt", "A", "x"), -2);
    EXPECT_EQ(platform::last_error(), platform::kErrorBadNetPath);
    EXPECT_EQ(AddTextLine("\\\\elsewhere\\share\\a.txt", "TEXT", {k140709, 0, 0}, "x", nullptr), -2);
}

TEST(RunTextName, TheWalkFindsExtensionAndStampsButNeverThePrefix) {
    struct Case {
        const char* path;
        bool has_extension;
        std::size_t start_at;  // npos: no stamp
        bool finished;
    };
    constexpr auto none = std::string_view::npos;
    const Case cases[] = {
        {"L090305_140709.qdl", true, 1, false},
        {"L090305_140709_090305_150000.qdl", true, 1, true},
        {"dir/L_090305_140709_090305_150000.QDL", true, 6, true},
        {"A_1_090305_140709.qdl", true, 4, false},
        {"090305_140709.qdl", true, 0, false},
        {"_090305_140709.qdl", true, 1, false},
        {"090305_140709_090305_150000.qdl", true, 0, true},
        {"L09030_140709.qdl", true, none, false},
        {"Lx90305_140709.qdl", true, none, false},
        {"L090305-140709.qdl", true, none, false},
        {"short.qdl", true, none, false},
        {".qdl", true, none, false},
        {"L090305_140709", false, none, false},
        {"dir.d/L090305_140709", false, none, false},
        {"dir.d\\L090305_140709", false, none, false},
        {"", false, none, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto walked = walk_run_name(c.path);
        ASSERT_EQ(walked.has_value(), c.has_extension);
        if (!walked) continue;
        EXPECT_EQ(walked->start_at, c.start_at);
        EXPECT_EQ(walked->finished, c.finished);
    }
}

// A run file of one block of two channels whose records carry the given times.
std::vector<std::uint8_t> run_file_bytes(std::int32_t start, std::int32_t stop, const std::vector<std::int32_t>& records) {
    log_stores::LogHeader h;
    h.blockCount = 1;
    h.blocks[0].prefix = {'A', 'B'};
    h.blocks[0].firstChannel = 1;
    h.blocks[0].lastChannel = 2;
    h.start = {start, 0, 0};
    h.stop = {stop, 0, 0};
    EXPECT_EQ(log_stores::run_file::lay_out_header(h), 0);
    std::vector<std::uint8_t> bytes;
    std::vector<qvr::ChannelRecord> channels(2);
    EXPECT_EQ(log_stores::run_file::encode_file_start(h, channels, bytes), 0);
    for (const std::int32_t t : records) {
        std::vector<std::uint8_t> record(static_cast<std::size_t>(h.recordSize));
        log_stores::run_file::RecordHead head;
        head.time = {t, 0, 0};
        log_stores::run_file::encode_record_head(head, record);
        bytes.insert(bytes.end(), record.begin(), record.end());
    }
    return bytes;
}

std::string as_text(const std::vector<std::uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

TEST_F(LoggerTextFiles, TheCompanionOfARunIsFoundByItsName) {
    constexpr std::int32_t k150000 = k140709 + 3171;  // 15:00:00
    struct Case {
        const char* note;
        std::map<std::string, std::string> files;
        std::string run;
        const char* expected;  // null: none
    };
    const std::string running_run = as_text(run_file_bytes(k140709, 0, {k140709, k150000}));
    const std::string stopped_run = as_text(run_file_bytes(k140709, k150000 + 60, {k140709}));
    const std::string empty_run = as_text(run_file_bytes(k140709, 0, {}));
    const Case cases[] = {
        {"finished run, own companion",
         {{"L090305_140709_090305_150000.txt", ""}, {"L090305_140709.txt", ""}},
         "L090305_140709_090305_150000.qdl",
         "L090305_140709_090305_150000.txt"},
        {"finished run, the companion of its running name",
         {{"L090305_140709.txt", ""}},
         "L090305_140709_090305_150000.qdl",
         "L090305_140709.txt"},
        {"finished run, companion copied in another letter case",
         {{"l090305_140709_090305_150000.TXT", ""}},
         "L090305_140709_090305_150000.qdl",
         "l090305_140709_090305_150000.TXT"},
        {"the exact name before one in another letter case",
         {{"l090305_140709_090305_150000.TXT", ""}, {"L090305_140709_090305_150000.txt", ""}},
         "L090305_140709_090305_150000.qdl",
         "L090305_140709_090305_150000.txt"},
        {"running run, own companion", {{"L090305_140709.txt", ""}}, "L090305_140709.qdl", "L090305_140709.txt"},
        {"running run, companion named by its last record",
         {{"L090305_140709.qdl", running_run}, {"L090305_140709_090305_150000.txt", ""}},
         "L090305_140709.qdl",
         "L090305_140709_090305_150000.txt"},
        {"running run, companion named by its stop",
         {{"L090305_140709.qdl", stopped_run}, {"L090305_140709_090305_150100.txt", ""}},
         "L090305_140709.qdl",
         "L090305_140709_090305_150100.txt"},
        {"running run, a finished companion of the same start",
         {{"L090305_140709.qdl", empty_run}, {"l090305_140709_090306_000000.txt", ""}},
         "L090305_140709.qdl",
         "l090305_140709_090306_000000.txt"},
        {"a prefix of digits and underscores is no stamp",
         {{"A_1_090305_140709.qdl", empty_run}, {"A_1_090305_140709_090306_000000.txt", ""}},
         "A_1_090305_140709.qdl",
         "A_1_090305_140709_090306_000000.txt"},
        {"another collection's companion of the same start is not taken",
         {{"L090305_140709.qdl", empty_run}, {"M090305_140709_090306_000000.txt", ""}},
         "L090305_140709.qdl",
         nullptr},
        {"a file that is no run file still finds its own companion", {{"notes.txt", ""}}, "notes.qdl", "notes.txt"},
        {"without an extension", {{"L090305_140709.txt", ""}}, "L090305_140709", nullptr},
        {"no companion at all", {{"L090305_140709.qdl", running_run}}, "L090305_140709.qdl", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.note);
        for (const auto& entry : fs::directory_iterator(dir_.path())) fs::remove_all(entry.path());
        for (const auto& [name, bytes] : c.files) write(name, bytes);
        errno = 0;
        const auto found = FindLoggerTextFile(nullptr, file(c.run).string());
        if (c.expected == nullptr) {
            EXPECT_FALSE(found) << *found;
            EXPECT_EQ(errno, ENOENT);
        } else {
            ASSERT_TRUE(found);
            EXPECT_EQ(*found, file(c.expected).string());
        }
    }
}

// A replace killed at any point leaves the old file or a new one, never a mixture, and the
// other sections whole.
TEST_F(LoggerTextFiles, AReplaceKilledAnywhereLeavesTheOldFileOrTheNew) {
    std::string big = "[BIG]\r\n";
    for (int i = 0; i < 40000; ++i) big += "line " + std::to_string(i) + " of the big section\r\n";
    const std::string old = "[A]\r\nA old\r\n" + big;
    std::mt19937 random(12345);
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        write("k.txt", old);
        auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("text_file_client"),
                                                   {"replace", file("k.txt").string(), "A", "100000"}, {}, true);
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 60));
        child.kill(SIGKILL);
        child.wait_exit_code(10s);
        const std::string now = read("k.txt");
        ASSERT_EQ(now.rfind("[A]\r\nA ", 0), 0u);
        const std::size_t line_end = now.find("\r\n", 5);
        ASSERT_NE(line_end, std::string::npos);
        const std::string value = now.substr(7, line_end - 7);
        EXPECT_TRUE(value == "old" || value.find_first_not_of("0123456789") == std::string::npos) << value;
        EXPECT_EQ(now.substr(line_end + 2), big);
    }
}

}  // namespace
