// Logger text files of another machine, read and edited through the server's remote file
// requests, against the stand-in server and its product tree.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "log_stores/run_file/run_file_format.h"
#include "log_stores/run_file/run_file_layout.h"
#include "log_stores/text_files/logger_text_files.h"
#include "platform/last_error.h"
#include "requests/requests_fixture.h"

namespace {

using namespace log_stores::text_files;
namespace fs = std::filesystem;

constexpr std::int32_t k140709 = 1236262029;  // 2009-03-05 14:07:09 UTC
const std::string kFar = "\\\\far\\QVR_LOGGED_DATA\\L\\";

class RemoteTextFiles : public requests_test::RequestTest {
  protected:
    fs::path on_server(const std::string& name) const {
        return fs::path(server_->tree.folder("QVR_LOGGED_DATA")) / "L" / name;
    }
    void write_on_server(const std::string& name, const std::string& bytes) const {
        qvr_test::write_file(on_server(name), bytes);
    }
    std::string read_on_server(const std::string& name) const { return qvr_test::read_file(on_server(name)); }
    // The recorded requests with `code`, cut at their first NUL.
    std::vector<std::string> sent(const char* code) {
        std::vector<std::string> out;
        for (const std::string& r : server().sent())
            if (r.rfind(code, 0) == 0) out.push_back(r.substr(0, r.find('\0')));
        return out;
    }
};

TEST_F(RemoteTextFiles, SectionsOfAFileOutOfReachAreReadInPiecesThroughTheServer) {
    const std::string long_line = "09/03/05 14:07:09 " + std::string(12000, 'x');
    const std::string file = "[HEADER]\r\nh\r\n[TEXT]\r\n" + long_line + "\r\n14:07:10 05/03/09 late\r\n[B]\r\nb";
    write_on_server("run.txt", file);

    // Not here: the plain reading says so without a request.
    std::size_t size = 0;
    EXPECT_EQ(ReadSection(kFar + "run.txt", "TEXT", nullptr, &size), -2);
    EXPECT_EQ(platform::last_error(), platform::kErrorBadNetPath);
    EXPECT_TRUE(server().sent().empty());

    ASSERT_EQ(ReadSectionRemote(".", kFar + "run.txt", "TEXT", nullptr, &size), 2);
    std::vector<char> buffer(size);
    ASSERT_EQ(ReadSectionRemote(".", kFar + "run.txt", "TEXT", buffer.data(), &size), 2);
    EXPECT_EQ(std::string(buffer.data()), long_line + "\r\n09/03/05 14:07:10 late\r\n");

    const auto reads = sent("RF");
    ASSERT_EQ(reads.size(), 4u);  // two readings of two pieces each (9,999 + the rest)
    EXPECT_EQ(reads[0], "RF,QVR_LOGGED_DATA\\L\\run.txt\t9999\t0\t0\t-2147483648\t3\t0\t3\t128");
    EXPECT_EQ(reads[1], "RF,QVR_LOGGED_DATA\\L\\run.txt\t9999\t9999\t0\t-2147483648\t3\t0\t3\t128");

    const char* lines[4] = {};
    std::size_t count = 4;
    ASSERT_EQ(ReadSectionLinesRemote(".", kFar + "run.txt", "HEADER", lines, &count, buffer.data(), &size), 0);
    ASSERT_EQ(count, 1u);
    EXPECT_STREQ(lines[0], "h");

    size = 0;
    EXPECT_EQ(ReadSectionRemote(".", kFar + "missing.txt", "TEXT", nullptr, &size), -2);
    EXPECT_EQ(platform::last_error(), platform::kErrorFileNotFound);
}

TEST_F(RemoteTextFiles, ReplacesRewriteTheServersFileWhole) {
    std::string big = "[BIG]\r\n";
    for (int i = 0; i < 2000; ++i) big += "line " + std::to_string(i) + "\r\n";
    write_on_server("run.txt", "[A]\r\n" + std::string(30000, 'a') + "\r\n" + big);

    ASSERT_EQ(ReplaceTextSectionRemote(".", kFar + "run.txt", "A", "short"), 1);
    EXPECT_EQ(read_on_server("run.txt"), "[A]\r\nshort\r\n" + big);
    const auto writes = sent("WF");
    ASSERT_GE(writes.size(), 2u);
    // The first piece makes the file anew (2), the later ones open it (3).
    EXPECT_EQ(writes[0].rfind("WF,QVR_LOGGED_DATA\\L\\run.txt\t9999\t0\t0\t-1073741824\t3\t0\t2\t128\t", 0), 0u);
    EXPECT_EQ(writes[1].rfind("WF,QVR_LOGGED_DATA\\L\\run.txt\t9999\t9999\t0\t-1073741824\t3\t0\t3\t128\t", 0), 0u);

    // A file the server does not have yet is made with the section only.
    ASSERT_EQ(ReplaceTextSectionRemote(".", kFar + "new.txt", "HEADER", "h\r\n"), 1);
    EXPECT_EQ(read_on_server("new.txt"), "[HEADER]\r\nh\r\n");
}

TEST_F(RemoteTextFiles, AFileTheServerCannotReadIsNeverOverwritten) {
    write_on_server("run.txt", "[A]\r\na\r\n[B]\r\nb\r\n");
    fail_once("RF");
    EXPECT_EQ(ReplaceTextSectionRemote(".", kFar + "run.txt", "A", "x"), -1);
    fail_once("RF");
    EXPECT_EQ(AddTextLineRemote(".", kFar + "run.txt", "TEXT", {k140709, 0, 0}, "x", nullptr), -1);
    EXPECT_TRUE(sent("WF").empty());
    EXPECT_EQ(read_on_server("run.txt"), "[A]\r\na\r\n[B]\r\nb\r\n");

    // A UTF-16 file is left to the edits that keep it UTF-16.
    const std::string wide("\xFF\xFE[\0A\0]\0\r\0\n\0", 12);
    write_on_server("wide.txt", wide);
    EXPECT_EQ(ReplaceTextSectionRemote(".", kFar + "wide.txt", "A", "x"), -1);
    EXPECT_EQ(read_on_server("wide.txt"), wide);
}

TEST_F(RemoteTextFiles, EventLinesAreAddedInTimeOrderThroughTheServer) {
    write_on_server("run.txt", "[TEXT]\r\n09/03/05 14:07:08 a\r\n09/03/05 14:07:10 c\r\n[B]\r\nb\r\n");
    ASSERT_EQ(AddTextLineRemote(".", kFar + "run.txt", "TEXT", {k140709, 250, 0}, "b", nullptr), 0);
    EXPECT_EQ(read_on_server("run.txt"),
              "[TEXT]\r\n09/03/05 14:07:08 a\r\n09/03/05 14:07:09.250 b\r\n09/03/05 14:07:10 c\r\n[B]\r\nb\r\n");
    ASSERT_EQ(AddTextLineRemote(".", kFar + "run.txt", "TEXT", {k140709, 250, 0}, "B", "b"), 0);
    EXPECT_NE(read_on_server("run.txt").find("14:07:09.250 B\r\n"), std::string::npos);
    ASSERT_EQ(AddTextLineRemote(".", kFar + "made.txt", "TEXT", {k140709, 0, 0}, "first", nullptr), 0);
    EXPECT_EQ(read_on_server("made.txt"), "[TEXT]\r\n09/03/05 14:07:09 first\r\n");
}

std::string run_file(std::int32_t start, std::int32_t last_record) {
    log_stores::LogHeader h;
    h.blockCount = 1;
    h.blocks[0].prefix = {'A', 'B'};
    h.blocks[0].firstChannel = 1;
    h.blocks[0].lastChannel = 1;
    h.start = {start, 0, 0};
    EXPECT_EQ(log_stores::run_file::lay_out_header(h), 0);
    std::vector<std::uint8_t> bytes;
    std::vector<qvr::ChannelRecord> channels(1);
    EXPECT_EQ(log_stores::run_file::encode_file_start(h, channels, bytes), 0);
    std::vector<std::uint8_t> record(static_cast<std::size_t>(h.recordSize));
    log_stores::run_file::RecordHead head;
    head.time = {last_record, 0, 0};
    log_stores::run_file::encode_record_head(head, record);
    bytes.insert(bytes.end(), record.begin(), record.end());
    return std::string(bytes.begin(), bytes.end());
}

TEST_F(RemoteTextFiles, TheCompanionOfARunOnTheServerIsFoundThere) {
    write_on_server("L090305_140709_090305_150000.txt", "");
    auto found = FindLoggerTextFile(".", kFar + "L090305_140709_090305_150000.qdl");
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, kFar + "L090305_140709_090305_150000.txt");

    // A running run: its last record, read through the server, names the companion.
    write_on_server("M090305_140709.qdl", run_file(k140709, k140709 + 3171));
    write_on_server("M090305_140709_090305_150000.txt", "");
    found = FindLoggerTextFile(".", kFar + "M090305_140709.qdl");
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, kFar + "M090305_140709_090305_150000.txt");

    // Copied in another letter case: the server's listing has it.
    write_on_server("n090305_140709.TXT", "");
    found = FindLoggerTextFile(".", kFar + "N090305_140709.qdl");
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, kFar + "n090305_140709.TXT");
    EXPECT_FALSE(sent("DF").empty());

    EXPECT_FALSE(FindLoggerTextFile(".", kFar + "P090305_140709.qdl"));
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(FindLoggerTextFile(nullptr, kFar + "L090305_140709_090305_150000.qdl"));
}

TEST_F(RemoteTextFiles, LoggerConfigurationTextsLieHereOrInTheServersConfiguration) {
    EXPECT_EQ(LoggerTextFilePath(".", "AB", 3), "AB_3.txt");
    EXPECT_EQ(LoggerTextFilePath(nullptr, "AB", 3), "AB_3.txt");
    EXPECT_EQ(LoggerTextFilePath("plant", "AB", 3), "AB_3.txt");  // reached by the pipe
    EXPECT_EQ(LoggerTextFilePath("ssl://plant:2000", "AB", 3),
              "\\\\ssl://plant:2000\\QVR_CURRENT_CONFIG\\LOGGERS\\AB_3.txt");

    const fs::path before = fs::current_path();
    fs::current_path(temp_.path());
    // Not here yet: the server's configuration has it.
    write_config("LOGGERS/AB_3.txt", "[FORMULAE]\r\nf=1\r\n");
    std::size_t size = 0;
    EXPECT_EQ(ReadLoggerText(".", "AB", 3, "FORMULAE", nullptr, &size), 1);
    EXPECT_EQ(sent("RF").front(), "RF,QVR_CURRENT_CONFIG\\LOGGERS\\AB_3.txt\t9999\t0\t0\t-2147483648\t3\t0\t3\t128");
    // Written here, then read from here.
    EXPECT_EQ(WriteLoggerText(".", "AB", 3, "FORMULAE", "f=2\r\n"), 1);
    EXPECT_EQ(qvr_test::read_file(temp_.path() / "AB_3.txt"), "[FORMULAE]\r\nf=2\r\n");
    std::vector<char> buffer(size + 8);
    size = buffer.size();
    EXPECT_EQ(ReadLoggerText(".", "AB", 3, "FORMULAE", buffer.data(), &size), 1);
    EXPECT_STREQ(buffer.data(), "f=2\r\n");
    fs::current_path(before);
}

}  // namespace
