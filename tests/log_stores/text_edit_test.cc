#include "log_stores/text_files/text_edit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/last_error.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using namespace log_stores::text_files;

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
        EXPECT_NE(child.read_stdout(60s, "\n").find("result 0"), std::string::npos);
        EXPECT_EQ(child.wait_exit_code(60s), 0);
    }
    const std::string text = qvr_test::read_file(path_);
    for (const char* section : {"A", "B", "C"}) {
        const std::string expected = "[" + std::string(section) + "]\r\n" + section + " " + std::to_string(kCount - 1) + "\r\n";
        EXPECT_NE(text.find(expected), std::string::npos) << text;
    }
    EXPECT_EQ(text.size(), 3 * std::string("[A]\r\nA 149\r\n").size());
}

}  // namespace
