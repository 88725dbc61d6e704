#include "log_stores/text_files/text_edit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/last_error.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using namespace log_stores::text_files;

// Children that edit many times wait for one another; only a hang outlasts this.
constexpr auto kChildBound = std::chrono::seconds(300);

const std::string kFile = "[HEADER]\r\nold header\r\n[TEXT]\r\n09/03/05 14:07:09 a\r\n[POSITIONS]\r\np\r\n";

TEST(TextEdit, SectionsAreReplacedOrAppendedAndEveryOtherLineKept) {
    struct Case {
        const char* note;
        std::string old;
        const char* section;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"middle", kFile, "TEXT", "x\r\ny\r\n",
         "[HEADER]\r\nold header\r\n[TEXT]\r\nx\r\ny\r\n[POSITIONS]\r\np\r\n"},
        {"first, bracketed", kFile, "[HEADER]", "new\r\n",
         "[HEADER]\r\nnew\r\n[TEXT]\r\n09/03/05 14:07:09 a\r\n[POSITIONS]\r\np\r\n"},
        {"last", kFile, "POSITIONS", "q\r\n", "[HEADER]\r\nold header\r\n[TEXT]\r\n09/03/05 14:07:09 a\r\n[POSITIONS]\r\nq\r\n"},
        {"emptied", kFile, "TEXT", "", "[HEADER]\r\nold header\r\n[TEXT]\r\n[POSITIONS]\r\np\r\n"},
        {"missing section", kFile, "AB_3_FORMULAE", "f=1\r\n", kFile + "[AB_3_FORMULAE]\r\nf=1\r\n"},
        {"empty file", "", "HEADER", "h\r\n", "[HEADER]\r\nh\r\n"},
        {"text without CR LF", kFile, "HEADER", "new",
         "[HEADER]\r\nnew\r\n[TEXT]\r\n09/03/05 14:07:09 a\r\n[POSITIONS]\r\np\r\n"},
        {"file without a last CR LF", "[A]\r\nlast", "B", "b\r\n", "[A]\r\nlast\r\n[B]\r\nb\r\n"},
        {"old section without a last CR LF", "[A]\r\nx\r\n[B]\r\nlast", "B", "b\r\n", "[A]\r\nx\r\n[B]\r\nb\r\n"},
        {"only the first of two", "[A]\r\n1\r\n[A]\r\n2\r\n", "A", "n\r\n", "[A]\r\nn\r\n[A]\r\n2\r\n"},
        {"case counts", "[text]\r\n1\r\n", "TEXT", "n\r\n", "[text]\r\n1\r\n[TEXT]\r\nn\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.note);
        EXPECT_EQ(replaced_section(c.old, c.section, c.text), c.expected);
    }
}

class TextEditFile : public ::testing::Test {
  protected:
    qvr_test::TempDir dir_;
    std::filesystem::path path_ = dir_ / "L_090305_140709.txt";
};

TEST_F(TextEditFile, AFileIsReplacedWholeAndAMissingOneMade) {
    ASSERT_EQ(ReplaceTextSection(path_.string(), "HEADER", "first"), 1);
    EXPECT_EQ(qvr_test::read_file(path_), "[HEADER]\r\nfirst\r\n");
    qvr_test::write_file(path_, kFile);
    ASSERT_EQ(ReplaceTextSection(path_.string(), "TEXT", "x\r\n"), 1);
    EXPECT_EQ(qvr_test::read_file(path_), "[HEADER]\r\nold header\r\n[TEXT]\r\nx\r\n[POSITIONS]\r\np\r\n");
    // Nothing is left beside it.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"L_090305_140709.txt"});
}

TEST_F(TextEditFile, RefusalsLeaveTheFileAsItWas) {
    EXPECT_EQ(ReplaceTextSection(path_.string(), "", "x"), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    const std::string utf16("\xFF\xFE[\0A\0]\0\r\0\n\0", 12);
    qvr_test::write_file(path_, utf16);
    EXPECT_EQ(ReplaceTextSection(path_.string(), "A", "x"), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidData);
    EXPECT_EQ(qvr_test::read_file(path_), utf16);
    EXPECT_EQ(ReplaceTextSection((dir_ / "no/such/folder.txt").string(), "A", "x"), -2);
    EXPECT_EQ(platform::last_error(), ENOENT);
}

// Three processes edit their own section of one file at once: without a lock that
// survives the rename, one would save over another's edit and lose its section's value.
TEST_F(TextEditFile, EditsOfSeveralProcessesAreNeverLost) {
    constexpr int kCount = 150;
    std::vector<qvr_test::ChildProcess> children;
    for (const char* section : {"A", "B", "C"})
        children.push_back(qvr_test::ChildProcess::spawn(qvr_test::bin_path("text_file_client"),
                                                         {"replace", path_.string(), section, std::to_string(kCount)},
                                                         {}, true));
    for (auto& child : children) {
        EXPECT_NE(child.read_stdout(kChildBound, "\n").find("result 0"), std::string::npos);
        EXPECT_EQ(child.wait_exit_code(kChildBound), 0);
    }
    const std::string text = qvr_test::read_file(path_);
    for (const char* section : {"A", "B", "C"}) {
        const std::string expected = "[" + std::string(section) + "]\r\n" + section + " " + std::to_string(kCount - 1) + "\r\n";
        EXPECT_NE(text.find(expected), std::string::npos) << text;
    }
    EXPECT_EQ(text.size(), 3 * std::string("[A]\r\nA 149\r\n").size());
}

struct AddCase {
    const char* note;
    std::string old;
    TimeStamp time;
    std::string text;
    const char* match;
    std::string expected;
};

// 09/03/05 14:07:09 is 1236262029.
const std::string kEvents = "[HEADER]\r\nh\r\n[TEXT]\r\n09/03/05 14:07:08 early\r\n09/03/05 14:07:09.250 pump on\r\n"
                            "no time here\r\n09/03/05 14:07:10 late\r\n[POSITIONS]\r\np\r\n";

TEST_F(TextEditFile, EventLinesGoInTimeOrderAndTiesFollowTheMatchText) {
    const auto with = [](std::string_view lines) {
        return "[HEADER]\r\nh\r\n[TEXT]\r\n" + std::string(lines) + "[POSITIONS]\r\np\r\n";
    };
    const AddCase cases[] = {
        {"between", kEvents, {1236262029, 500, 0}, "valve", nullptr,
         with("09/03/05 14:07:08 early\r\n09/03/05 14:07:09.250 pump on\r\nno time here\r\n"
              "09/03/05 14:07:09.500 valve\r\n09/03/05 14:07:10 late\r\n")},
        {"first", kEvents, {1236262000, 0, 0}, "start", nullptr,
         with("09/03/05 14:06:40 start\r\n09/03/05 14:07:08 early\r\n09/03/05 14:07:09.250 pump on\r\n"
              "no time here\r\n09/03/05 14:07:10 late\r\n")},
        {"after the last", kEvents, {1236262030, 0, 1}, "end\r\nof run", nullptr,
         with("09/03/05 14:07:08 early\r\n09/03/05 14:07:09.250 pump on\r\nno time here\r\n"
              "09/03/05 14:07:10 late\r\n09/03/05 14:07:10.000001 end  of run\r\n")},
        {"tie replaced by match", kEvents, {1236262029, 250, 0}, "pump off", "pump",
         with("09/03/05 14:07:08 early\r\n09/03/05 14:07:09.250 pump off\r\nno time here\r\n"
              "09/03/05 14:07:10 late\r\n")},
        {"tie without match goes after", kEvents, {1236262029, 250, 0}, "fan on", "fan",
         with("09/03/05 14:07:08 early\r\n09/03/05 14:07:09.250 pump on\r\nno time here\r\n"
              "09/03/05 14:07:09.250 fan on\r\n09/03/05 14:07:10 late\r\n")},
        {"tie removed by empty text", kEvents, {1236262029, 250, 0}, "", "pump",
         with("09/03/05 14:07:08 early\r\nno time here\r\n09/03/05 14:07:10 late\r\n")},
        {"microseconds make no tie", kEvents, {1236262029, 250, 1}, "x", nullptr,
         with("09/03/05 14:07:08 early\r\n09/03/05 14:07:09.250 pump on\r\nno time here\r\n"
              "09/03/05 14:07:09.250001 x\r\n09/03/05 14:07:10 late\r\n")},
        {"missing section", "[HEADER]\r\nh", {1236262029, 0, 0}, "a", nullptr,
         "[HEADER]\r\nh\r\n[TEXT]\r\n09/03/05 14:07:09 a\r\n"},
        {"last line without CR LF", "[TEXT]\r\n09/03/05 14:07:08 x", {1236262029, 0, 0}, "a", nullptr,
         "[TEXT]\r\n09/03/05 14:07:08 x\r\n09/03/05 14:07:09 a\r\n"},
        {"missing file", "", {1236262029, 0, 0}, "a", nullptr, "[TEXT]\r\n09/03/05 14:07:09 a\r\n"},
    };
    for (const AddCase& c : cases) {
        SCOPED_TRACE(c.note);
        std::filesystem::remove(path_);
        if (!c.old.empty()) qvr_test::write_file(path_, c.old);
        ASSERT_EQ(AddTextLine(path_.string(), "TEXT", c.time, c.text, c.match, {}), 0);
        EXPECT_EQ(qvr_test::read_file(path_), c.expected);
    }
}

TEST_F(TextEditFile, TheEventsFileIsOneSectionWrittenTimeFirst) {
    qvr_test::write_file(path_, "14:07:08 05/03/09 early\r\n14:07:10 05/03/09 late\r\n");
    ASSERT_EQ(AddTextLine(path_.string(), "TEXT", {1236262029, 0, 0}, "mid", nullptr,
                          {EventLineForm::TimeFirst, true}),
              0);
    EXPECT_EQ(qvr_test::read_file(path_),
              "14:07:08 05/03/09 early\r\n14:07:09 05/03/09 mid\r\n14:07:10 05/03/09 late\r\n");
}

TEST_F(TextEditFile, Utf16FilesStayUtf16) {
    const auto utf16 = [](std::u16string_view text) {
        std::string bytes = "\xFF\xFE";
        for (const char16_t unit : text) {
            bytes += static_cast<char>(unit & 0xFF);
            bytes += static_cast<char>(unit >> 8);
        }
        return bytes;
    };
    qvr_test::write_file(path_, utf16(u"[TEXT]\r\n09/03/05 14:07:10 \u4e2d late\r\n"));
    ASSERT_EQ(AddTextLine(path_.string(), "TEXT", {1236262029, 0, 0}, "\xFC" "ber", nullptr, {}), 0);
    EXPECT_EQ(qvr_test::read_file(path_),
              utf16(u"[TEXT]\r\n09/03/05 14:07:09 \u00fcber\r\n09/03/05 14:07:10 \u4e2d late\r\n"));
}

TEST_F(TextEditFile, TwoProcessesAddingLinesLeaveThemAllInTimeOrder) {
    constexpr int kCount = 200;
    std::vector<qvr_test::ChildProcess> children;
    for (const char* id : {"0", "1"})
        children.push_back(qvr_test::ChildProcess::spawn(qvr_test::bin_path("text_file_client"),
                                                         {"add", path_.string(), id, std::to_string(kCount)}, {},
                                                         true));
    for (auto& child : children) {
        EXPECT_NE(child.read_stdout(kChildBound, "\n").find("result 0"), std::string::npos);
        EXPECT_EQ(child.wait_exit_code(kChildBound), 0);
    }
    const std::string text = qvr_test::read_file(path_);
    ASSERT_EQ(text.rfind("[TEXT]\r\n", 0), 0u);
    std::size_t at = 8;
    std::int64_t previous = -1;
    int lines = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        const auto read = ParseTextLineTime(std::string_view(text).substr(at, end - at));
        ASSERT_TRUE(read);
        EXPECT_GT(read->time.seconds, previous);
        previous = read->time.seconds;
        ++lines;
        at = end + 2;
    }
    EXPECT_EQ(lines, 2 * kCount);
}

TEST_F(TextEditFile, AnEditGetsItsTurnWhileAnotherProcessEditsWithoutPause) {
    // Later lines that every edit copies: an edit takes long next to the lock's polling.
    std::string text = "[TEXT]\r\n";
    for (int i = 0; i < 5000; ++i) text += "33/01/01 12:00:00 later line " + std::to_string(i) + "\r\n";
    qvr_test::write_file(path_, text);
    auto busy = qvr_test::ChildProcess::spawn(qvr_test::bin_path("text_file_client"),
                                              {"add", path_.string(), "0", "100000000"});
    const auto busy_has_edited = [&] {
        return std::filesystem::exists(path_) && qvr_test::read_file(path_).find(" 0 1\r\n") != std::string::npos;
    };
    for (int i = 0; i < 2000 && !busy_has_edited(); ++i) std::this_thread::sleep_for(5ms);
    ASSERT_TRUE(busy_has_edited());
    // The other process takes the lock again the moment it gives it free; each of these
    // still gets its turn instead of waiting out the lock's time limit.
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(AddTextLine(path_.string(), "TEXT", {1'000'000'001 + 2 * i, 0, 0}, "mine " + std::to_string(i),
                              nullptr, {}),
                  0)
            << platform::last_error();
    }
    EXPECT_TRUE(busy.running());
    busy.kill(SIGKILL);
    text = qvr_test::read_file(path_);
    for (int i = 0; i < 3; ++i) EXPECT_NE(text.find(" mine " + std::to_string(i) + "\r\n"), std::string::npos) << i;
}

}  // namespace
