// The configuration audit trail: its lines, where they go, the switch, and appends from
// several processes at once.
#include "qvr/config/cfg_audit.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <cctype>
#include <charconv>
#include <string>
#include <vector>

#include "cfg_test_support.h"
#include "platform/host_identity.h"
#include "qvr/testing/config_testing.h"
#include "support/child_process.h"

namespace {

namespace fs = std::filesystem;
using cfg_test::audit_entry;
using cfg_test::file_bytes;
using cfg_test::set_switch;
using namespace std::chrono_literals;

// "yyyy/mm/dd<TAB>hh:mm:ss<TAB>" at the start of the line.
bool stamped(const std::string& line) {
    const std::string shape = "dddd/dd/dd\tdd:dd:dd\t";
    if (line.size() < shape.size()) return false;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool ok = shape[i] == 'd' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0 : line[i] == shape[i];
        if (!ok) return false;
    }
    return true;
}

TEST(AuditLine, HoldsTimeUserContextChannelAndBothTexts) {
    const std::string line = qvr::audit_line("tolva_3.AI.Channels", "ann", 5, "Tag", "OLD", "NEW");
    EXPECT_TRUE(stamped(line)) << line;
    EXPECT_EQ(line.substr(20), "ann\ttolva_3.AI.Channels.5.Tag OLD -> NEW\r\n");
    EXPECT_EQ(qvr::audit_line("", "ann", 0, "AutoEnable", "OFF", "ON").substr(20),
              "ann\tAutoEnable OFF -> ON\r\n");
    EXPECT_EQ(qvr::audit_line("tolva_3", "", 0, "SaveRate", "1", "2").substr(20),
              platform::user_name() + "\ttolva_3.SaveRate 1 -> 2\r\n")
        << "no user name: the logged-on user";
}

TEST(AuditLine, LineBreaksAndTabsInsideFieldsAreEscaped) {
    const std::string line = qvr::audit_line("dev\t1", "a\nb", 2, "Note", "x\r\ny", "\tz");
    EXPECT_EQ(line.substr(20), "a\\nb\tdev\\t1.2.Note x\\r\\ny -> \\tz\r\n");
}

TEST(AuditLine, AnEntryLongerThanTheLimitIsDropped) {
    const std::string head = qvr::audit_line("c", "u", 0, "S", "", "");
    const std::size_t room = qvr::kAuditLineMax - head.size();
    EXPECT_EQ(qvr::audit_line("c", "u", 0, "S", std::string(room, 'o'), "").size(), qvr::kAuditLineMax);
    EXPECT_EQ(qvr::audit_line("c", "u", 0, "S", std::string(room + 1, 'o'), ""), "");
}

class AuditTrailTest : public cfg_test::ConfigTree {};

TEST_F(AuditTrailTest, ADeviceFolderWritesAboveItAndTheConfigurationFolderIntoItself) {
    const std::string dir = device("tolva_3");
    {
        qvr::AuditTrail trail(dir);
        ASSERT_TRUE(trail.open(1));
        EXPECT_EQ(trail.context(), "tolva_3.Channels") << "no other table beside it";
        trail.write("ann", 5, "Tag", "a", "b");
    }
    qvr_test::write_file(fs::path(dir) / "di", "");
    {
        qvr::AuditTrail trail(dir);
        ASSERT_TRUE(trail.open(1));
        EXPECT_EQ(trail.context(), "tolva_3.AI.Channels");
    }
    {
        qvr::AuditTrail trail(config_.string());
        trail.write("ann", 0, "AutoEnable", "OFF", "ON");
        EXPECT_EQ(trail.context(), "");
    }
    {
        qvr::AuditTrail trail(device("SYSTEM"));
        ASSERT_TRUE(trail.open(3));
        EXPECT_EQ(trail.context(), "SYSTEM") << "not a device folder";
    }
    const std::vector<std::string> lines = audit_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(audit_entry(lines[0]), "tolva_3.Channels.5.Tag a -> b");
    EXPECT_EQ(lines[1].substr(20), "ann\tAutoEnable OFF -> ON");
}

TEST_F(AuditTrailTest, WithXmlTablesTheOtherKindsAreLookedForAsXml) {
    set_switch("ReadXML", "ON");
    const std::string dir = device("tvall_1");
    qvr_test::write_file(fs::path(dir) / "do", "");
    qvr::AuditTrail plain(dir);
    ASSERT_TRUE(plain.open(3));
    EXPECT_EQ(plain.context(), "tvall_1.Channels") << "a binary table does not count beside XML tables";
    qvr_test::write_file(fs::path(dir) / "dc.xml", "");
    qvr::AuditTrail xml(dir);
    ASSERT_TRUE(xml.open(3));
    EXPECT_EQ(xml.context(), "tvall_1.AO.Channels");
}

TEST_F(AuditTrailTest, TheProcessWideTrailWorksOnTheCurrentFolderWithoutChangingIt) {
    const std::string dir = device("tolva_3");
    qvr_test::write_file(fs::path(dir) / "ai", "");
    const fs::path before = fs::current_path();
    ASSERT_EQ(::chdir(dir.c_str()), 0);
    EXPECT_EQ(audit_Open(2), 1);
    EXPECT_EQ(audit_Open(2), 1) << "already open";
    audit_Write(nullptr, 3, "Tag", "x", "y");
    audit_Close();
    audit_Write("ann", 0, "SaveByTag", "OFF", "ON");  // opened on demand, without kind
    audit_Close();
    EXPECT_EQ(fs::current_path(), fs::path(dir));
    ASSERT_EQ(::chdir(before.c_str()), 0);
    const std::vector<std::string> lines = audit_lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(audit_entry(lines[0]), "tolva_3.DI.Channels.3.Tag x -> y");
    EXPECT_EQ(audit_entry(lines[1]), "tolva_3.SaveByTag OFF -> ON");
}

TEST_F(AuditTrailTest, TheSwitchIsByteOneOfTheConfigurationFolderConfigReadOncePerProcess) {
    const std::string dir = device("tolva_3");
    qvr::reset_audit_for_test();
    const fs::path before = fs::current_path();
    ASSERT_EQ(::chdir(dir.c_str()), 0);
    EXPECT_EQ(audit_IsEnabled(), 0) << "no config: off";
    qvr::reset_audit_for_test();
    qvr_test::write_file(config_ / "config", std::string("\x00\x01", 2));
    EXPECT_EQ(audit_IsEnabled(), 1);
    EXPECT_EQ(fs::current_path(), fs::path(dir)) << "read by path";
    qvr_test::write_file(config_ / "config", std::string("\x00\x00", 2));
    EXPECT_EQ(audit_IsEnabled(), 1) << "read once";
    audit_SetEnabled(0x100);
    EXPECT_EQ(audit_IsEnabled(), 0) << "the low byte";
    ASSERT_EQ(::chdir(before.c_str()), 0);

    qvr::reset_audit_for_test();
    qvr_test::write_file(config_ / "config", std::string("\x01\x07", 2));
    EXPECT_TRUE(qvr::audit_enabled_for(config_.string())) << "the configuration folder reads its own";
}

TEST_F(AuditTrailTest, AnUnopenableFileSkipsTheEntries) {
    const std::string dir = device("tolva_3");
    fs::create_directories(config_ / qvr::kAuditFileName);  // a folder in the file's place
    qvr::AuditTrail trail(dir);
    EXPECT_FALSE(trail.open(1));
    trail.write("ann", 1, "Tag", "a", "b");
    EXPECT_TRUE(fs::is_directory(config_ / qvr::kAuditFileName));
}

TEST_F(AuditTrailTest, LinesFromTwoProcessesAtOnceStayWhole) {
    const std::string dir = device("tolva_3");
    constexpr int kEach = 2000;
    std::vector<qvr_test::ChildProcess> children;
    for (const char* name : {"First", "Second"})
        children.push_back(qvr_test::ChildProcess::spawn(qvr_test::bin_path("cfg_test_helper"),
                                                         {"append", dir, std::to_string(kEach), name}));
    for (auto& child : children) ASSERT_EQ(child.wait_exit_code(60s), 0);
    const std::vector<std::string> lines = audit_lines();
    ASSERT_EQ(lines.size(), 2u * kEach);
    int seen[2] = {0, 0};
    for (const std::string& line : lines) {
        ASSERT_TRUE(stamped(line)) << line;
        const std::string prefix = "helper\ttolva_3.";
        ASSERT_EQ(line.compare(20, prefix.size(), prefix), 0) << line;
        const char* number = line.c_str() + 20 + prefix.size();
        int channel = 0;
        const auto parsed = std::from_chars(number, line.c_str() + line.size(), channel);
        ASSERT_EQ(parsed.ec, std::errc{}) << line;
        const std::string rest(parsed.ptr);
        const std::string n = std::to_string(channel - 1);
        const std::string tail = " old\\tvalue " + n + " -> new\\r\\nvalue " + n + std::string(200, 'x');
        const bool first = rest == ".First" + tail;
        ASSERT_TRUE(first || rest == ".Second" + tail) << line;
        ++seen[first ? 0 : 1];
    }
    EXPECT_EQ(seen[0], kEach);
    EXPECT_EQ(seen[1], kEach);
}

}  // namespace
