// Processor and device lists from the server and, when it does not answer, from DATPROC.TXT
// and DEVCAP.TXT; the combined list of configurable items.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>

#include "platform/last_error.h"
#include "platform/registry_key.h"
#include "qvr/requests/list_file.h"
#include "qvr/requests/processor_requests.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/settings_testing.h"
#include "qvr/testing/sink_testing.h"
#include "requests_fixture.h"
#include "support/child_process.h"

namespace {

using requests_test::bytes;
using requests_test::RequestTest;

class ListFallback : public RequestTest {
  protected:
    void SetUp() override {
        RequestTest::SetUp();
        previous_ = qvr::set_sink_capture([this](const qvr::SinkEntry& e) { reports_.push_back(e.message); });
    }
    void TearDown() override {
        qvr::set_sink_capture(previous_);
        CloseListFile();
        RequestTest::TearDown();
    }
    std::string path_of(const char* name) { return config_folder() + "/" + name; }

    std::vector<std::string> reports_;
    std::function<void(const qvr::SinkEntry&)> previous_;
};

TEST_F(ListFallback, ProcessorsComeFromDatprocWhenTheServerFails) {
    write_config("DATPROC.TXT",
                 "* processors of the line\r\n"
                 "\r\n"
                 "CALC1,Calculator,A-AA:10,run\r\n"
                 "   * indented comment\n"
                 "userd,,D-UD:62500\n"
                 "modbus1,Modbus,X-MB:7,run\n"
                 "ALARM,Alarms,,run\n");
    fail_once("QP");
    EXPECT_EQ(CountProcessors("."), 4);
    fail_once("IP");
    ProcessorRecord r[10];
    ASSERT_EQ(GetProcessorInfo(".", "*,10", r, 10), 4);
    EXPECT_STREQ(r[0].name, "CALC1");
    EXPECT_EQ(r[0].type, 2);
    EXPECT_EQ(r[0].run, 1);
    EXPECT_EQ(+r[0].channel_count, 10);
    EXPECT_STREQ(r[1].name, "USERD");
    EXPECT_STREQ(r[1].print_name, "userd");  // the name when none is given
    EXPECT_EQ(r[1].type, 3);
    EXPECT_EQ(r[1].run, 0);
    EXPECT_EQ(r[2].type, 6);
    EXPECT_STREQ(r[3].name, "ALARM");
    EXPECT_EQ(+r[3].channel_count, 256);  // the alarm queue's default size
    fail_once("IP");
    ASSERT_EQ(GetProcessorInfo(".", "2", r, 1), 1);
    EXPECT_STREQ(r[0].name, "USERD");
    fail_once("IP");
    ASSERT_EQ(GetProcessorInfo(".", "modbusX", r, 1), 1);  // the first five characters
    EXPECT_STREQ(r[0].name, "MODBUS1");
    fail_once("IP");
    EXPECT_EQ(GetProcessorInfo(".", "*,2", r, 2), 2);
    EXPECT_TRUE(reports_.empty());
    // The server answering gives the server's list, not the file's.
    server().tables.lock()->processors.push_back({"SRV1", "Server One", "SV:3", 1, 'D'});
    EXPECT_EQ(CountProcessors("."), 1);
    ASSERT_EQ(GetProcessorInfo(".", "*,1", r, 1), 1);
    EXPECT_STREQ(r[0].name, "SRV1");
}

TEST_F(ListFallback, AMissingFileCountsMinusOne) {
    fail_once("QP");
    EXPECT_EQ(CountProcessors("."), -1);
    fail_once("IE");
    DeviceInfoRecord d[1];
    EXPECT_EQ(GetDeviceInfo(".", "*,1", d, 1), -1);
}

TEST_F(ListFallback, DevicesComeFromDevcapWithSixRanges) {
    write_config("DEVCAP.TXT",
                 "* devices\n"
                 "tolva,1,Line PLC,AI:8,DI:16,AO:4,DO:2,CI:1,DC:3\n"
                 "tolva,2,Second PLC,,DI:1\n");
    fail_once("QE");
    EXPECT_EQ(CountDevices("."), 2);
    fail_once("IE");
    DeviceInfoRecord d[2];
    ASSERT_EQ(GetDeviceInfo(".", "*,2", d, 2), 2);
    EXPECT_STREQ(d[0].key, "TOLVA_1");
    for (int kind = 0; kind < kChannelKinds; ++kind) EXPECT_NE(d[0].ranges[kind].prefix[0], '\0') << kind;
    EXPECT_EQ(std::string(d[0].ranges[5].prefix, 2), "DC");
    EXPECT_EQ(+d[0].ranges[5].count, 3);
    EXPECT_EQ(d[1].ranges[0].prefix[0], '\0');  // an empty field: that kind is not in use
    EXPECT_EQ(std::string(d[1].ranges[1].prefix, 2), "DI");
    fail_once("IE");
    ASSERT_EQ(GetDeviceInfo(".", "tolva_2", d, 1), 1);
    EXPECT_STREQ(d[0].print_name, "Second PLC");
}

TEST_F(ListFallback, TheRestOfAnOverLongLineIsDroppedNotReadAsALine) {
    std::string line = "CALC1,Calculator,A-AA:10,run,";
    line += std::string(500 - line.size(), 'x') + "CALC2,Second,A-AA:1";
    write_config("DATPROC.TXT", line + "\nCALC3,Third,D-DD:1\n");
    fail_once("QP");
    EXPECT_EQ(CountProcessors("."), 2);
    fail_once("IP");
    ProcessorRecord r[3];
    ASSERT_EQ(GetProcessorInfo(".", "*,3", r, 3), 2);
    EXPECT_STREQ(r[1].name, "CALC3");
}

struct RuleCase {
    const char* file;
    const char* lines;  // after a comment and an empty line
    const char* message;
    int line;  // counted with the skipped lines
    const char* text;
};

void PrintTo(const RuleCase& c, std::ostream* os) {
    *os << c.message;
}

class LineRules : public ListFallback, public testing::WithParamInterface<RuleCase> {};

TEST_P(LineRules, AreReportedWithTheLineAsAnEditorCountsIt) {
    const RuleCase& c = GetParam();
    write_config(c.file, std::string("* comment\n\n") + c.lines);
    const bool devices = std::string(c.file) == "DEVCAP.TXT";
    fail_once(devices ? "IE" : "IP");
    int result = 0;
    if (devices) {
        DeviceInfoRecord d[8];
        result = GetDeviceInfo(".", "*,8", d, 8);
    } else {
        ProcessorRecord p[8];
        result = GetProcessorInfo(".", "*,8", p, 8);
    }
    EXPECT_EQ(result, -2);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0], "Can't Parse " + path_of(c.file) + "\nLine " + std::to_string(c.line) +
                               " : **** " + c.message + " ****\n" + c.text + "\nError : -2\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineRules,
    testing::Values(
        RuleCase{"DATPROC.TXT", ",Print,A-AA:1\n", "no processor name specified", 3, ",Print,A-AA:1"},
        RuleCase{"DATPROC.TXT", "ABCDEFGHI,P\n", "processor name too long", 3, "ABCDEFGHI,P"},
        RuleCase{"DATPROC.TXT", "P1,1234567890123456789012345\n", "processor print name too long", 3,
                 "P1,1234567890123456789012345"},
        RuleCase{"DATPROC.TXT", "P1,One,A-AA:1\n* x\np1,Two,A-AA:1\n", "duplicate processor name", 5,
                 "p1,Two,A-AA:1"},
        RuleCase{"DATPROC.TXT", "P1,One,A-AA:1\nP2,One,A-AA:1\n", "duplicate processor print name", 4,
                 "P2,One,A-AA:1"},
        RuleCase{"DATPROC.TXT", "P1,One,X-AA:1\n", "channel type must be A or D", 3, "P1,One,X-AA:1"},
        RuleCase{"DATPROC.TXT", "P1,One,A-AA:1\nP1,Two,X-AA:1\n", "duplicate processor name", 4,
                 "P1,Two,X-AA:1"},
        RuleCase{"DATPROC.TXT", "P1,One,A-A1:1\n", "invalid channel prefix", 3, "P1,One,A-A1:1"},
        RuleCase{"DATPROC.TXT", "P1,One,A-AA:62501\n", "invalid number of channels", 3, "P1,One,A-AA:62501"},
        RuleCase{"DATPROC.TXT", "ALARM,Alarms,1001,run\n", "invalid number of alarm queue entries", 3,
                 "ALARM,Alarms,1001,run"},
        RuleCase{"DEVCAP.TXT", ",1,P,AI:1\n", "no device name specified", 3, ",1,P,AI:1"},
        RuleCase{"DEVCAP.TXT", "ABCDEFGHI,1,P,AI:1\n", "device name too long", 3, "ABCDEFGHI,1,P,AI:1"},
        RuleCase{"DEVCAP.TXT", "D,,P,AI:1\n", "no device number specified", 3, "D,,P,AI:1"},
        RuleCase{"DEVCAP.TXT", "D,0,P,AI:1\n", "invalid device number", 3, "D,0,P,AI:1"},
        RuleCase{"DEVCAP.TXT", "D,100,P,AI:1\n", "invalid device number", 3, "D,100,P,AI:1"},
        RuleCase{"DEVCAP.TXT", "D,1,,AI:1\n", "no print name specified", 3, "D,1,,AI:1"},
        RuleCase{"DEVCAP.TXT", "D,1,1234567890123456789012345,AI:1\n", "print name too long", 3,
                 "D,1,1234567890123456789012345,AI:1"},
        RuleCase{"DEVCAP.TXT", "D,1,P,AI:1\nd,1,Q,AI:1\n", "duplicate device name and number", 4,
                 "d,1,Q,AI:1"},
        RuleCase{"DEVCAP.TXT", "D,1,P,AI:1\nD,2,P,AI:1\n", "duplicate print name", 4, "D,2,P,AI:1"},
        RuleCase{"DEVCAP.TXT", "D,1,P,A1:1\n", "invalid channel prefix", 3, "D,1,P,A1:1"},
        RuleCase{"DEVCAP.TXT", "D,1,P,AI:0\n", "invalid number of channels", 3, "D,1,P,AI:0"},
        RuleCase{"DEVCAP.TXT", "D,1,P\n", "no channel range(s) defined", 3, "D,1,P"}),
    [](const testing::TestParamInfo<RuleCase>& p) {
        std::string name = std::string(p.param.file).substr(0, 3) + "_";
        for (const char* c = p.param.message; *c; ++c)
            name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
        return name + "_" + std::to_string(p.index);
    });

TEST_F(ListFallback, ServerListsWithMoreEntriesThanTheCapacityAreMalformed) {
    {
        auto t = server().tables.lock();
        t->processors.push_back({"P1", "One"});
        t->processors.push_back({"P2", "Two"});
    }
    server().dispatcher().script_reply("IP", bytes("2,P1,One,AA:1,1,A;P2,Two,AA:1,1,A;"));
    ProcessorRecord r[1];
    EXPECT_EQ(GetProcessorInfo(".", "*,1", r, 1), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidData);
    server().dispatcher().script_reply("IP", bytes("0,"));
    EXPECT_EQ(GetProcessorInfo(".", "*,1", r, 1), 0);
    ProcessorStateRecord s[2];
    server().tables.lock()->processors[1].state_text = "running";
    ASSERT_EQ(GetProcessorState(".", "*,2", s, 2), 2);
    EXPECT_STREQ(s[1].text, "running");
}

void set_machine_value(const char* key_path, const std::string& name, const std::string& value) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, key_path,
                                            platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string(name, value), 0);
}

TEST_F(ListFallback, EnabledFromDesktopIsReadOnThisMachineOnly) {
    set_machine_value(kProductKey, "Calculator From Desktop", "on");
    set_machine_value(kProductKey, "Other From Desktop", "OFF");
    EXPECT_EQ(IsEnabledFromDesktop(".", "Calculator"), 1);
    EXPECT_EQ(IsEnabledFromDesktop(".", "Other"), 0);
    EXPECT_EQ(IsEnabledFromDesktop(".", "Missing"), 0);
    EXPECT_EQ(IsEnabledFromDesktop("plant3", "Calculator"), 0);
    EXPECT_EQ(IsEnabledFromDesktop("tcp://127.0.0.2:5000", "Calculator"), 0);
}

class ConfigItems : public ListFallback {
  protected:
    void SetUp() override {
        ListFallback::SetUp();
        auto t = server().tables.lock();
        t->devices.push_back({"PLC", 1, "Line PLC", "AI:8 - AO:4"});
        t->devices.push_back({"DEV", 2, "Other", "DI:2"});
        t->devices.push_back({"GONE", 3, "Gone", "AI:1"});
        t->processors.push_back({"CALC1", "Calculator", "CA:10", 1, 'A'});
        t->processors.push_back({"MODB1", "Modbus", "MB:7", 1, 'A'});
    }
    std::string list(uint32_t size = 4096) {
        std::string out(size, '\0');
        last_ = ListConfigItems(".", out.data(), size);
        return out.c_str();
    }
    int last_ = 0;
};

TEST_F(ConfigItems, ListKindsThatTheFilesAllow) {
    write_config("PLC_1/config", "c");
    write_config("PLC_1/ai", "");      // ao is missing in a folder that exists: skipped
    write_config("GONE_3/other", "");  // the configuration file is missing: the device is skipped
    write_config("CALC1/config", "c");
    write_config("CALC1/ai", "");
    // DEV_2 has no folder at all: a path that does not exist passes.
    EXPECT_EQ(list(),
              "4,Line PLC AI (AI),AI,8,1;Other (DI),DI,2,1;Calculator (CA),CA,10,1;Modbus (MB),MB,7,1;");
    EXPECT_EQ(last_, 4);
}

TEST_F(ConfigItems, TheVariablesFilterByPrintNameWithoutCase) {
    setenv("QVR_DEVICES", "other;LINE PLC", 1);
    setenv("QVR_PROCESSORS", "MODBUS", 1);
    EXPECT_EQ(list(),
              "4,Line PLC AI (AI),AI,8,1;Line PLC AO (AO),AO,4,1;Other (DI),DI,2,1;Modbus (MB),MB,7,1;");
    setenv("QVR_DEVICES", "", 1);  // set but empty: no device is allowed
    EXPECT_EQ(list(), "1,Modbus (MB),MB,7,1;");
}

TEST_F(ConfigItems, XmlConfigurationChecksTheXmlFiles) {
    set_machine_value(kProductKey, "ReadXML", "ON");
    setenv("QVR_DEVICES", "Line PLC", 1);
    setenv("QVR_PROCESSORS", "", 1);
    write_config("PLC_1/config", "c");  // the binary file: not the one asked for
    write_config("PLC_1/ai.xml", "");
    EXPECT_EQ(list(), "0,");
    write_config("PLC_1/config.xml", "<x/>");
    EXPECT_EQ(list(), "1,Line PLC AI (AI),AI,8,1;");
}

TEST_F(ConfigItems, AnOutputThatDoesNotFitFailsWith234) {
    const std::string whole = list();
    ASSERT_GT(whole.size(), 10u);
    EXPECT_EQ(list(static_cast<uint32_t>(whole.size())), "");
    EXPECT_EQ(last_, -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorMoreData);
    EXPECT_EQ(list(static_cast<uint32_t>(whole.size() + 1)), whole);
}

TEST_F(ConfigItems, TheRimvaleEditionDoesNotRepeatAPrefixTheNameEndsWith) {
    {
        auto t = server().tables.lock();
        t->devices = {{"PUMP", 1, "Pump (AI)", "AI:8"}};
        t->processors.clear();
    }
    EXPECT_EQ(list(), "1,Pump (AI) (AI),AI,8,1;");
    set_machine_value(kMakerKey, "ProductName", "Rimvale");
    qvr::reset_product_settings_for_test();
    EXPECT_EQ(list(), "1,Pump (AI),AI,8,1;");
    qvr::reset_product_settings_for_test();
}

}  // namespace

namespace {

// A folder every user may enter, for the unprivileged child (the test root is private).
class SharedFolder {
  public:
    SharedFolder() {
        std::string name = "/tmp/qvr-items.XXXXXX";
        if (::mkdtemp(name.data()) != nullptr) path_ = name;
        ::chmod(path_.c_str(), 0755);
    }
    ~SharedFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

void write_with_mode(const std::filesystem::path& path, const std::string& bytes, mode_t mode) {
    qvr_test::write_file(path, bytes);
    ::chmod(path.c_str(), mode);
    ::chmod(path.parent_path().c_str(), 0755);
}

TEST(ConfigItemsUnprivileged, AReadOnlyChannelFileIsListedAsNotWritable) {
    SharedFolder shared;
    ASSERT_FALSE(shared.path().empty());
    write_with_mode(shared.path() / "DEVCAP.TXT", "PLC,1,Line PLC,AI:8,,AO:4\n", 0644);
    write_with_mode(shared.path() / "PLC_1/config", "c", 0644);
    write_with_mode(shared.path() / "PLC_1/ai", "", 0666);
    write_with_mode(shared.path() / "PLC_1/ao", "", 0444);
    auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_settings_helper"),
                                               {"--drop", "config-items", "."},
                                               {"QVR_CURRENT_CONFIG=" + shared.path().string()}, true);
    const std::string out = child.read_stdout(std::chrono::seconds(20), "\n");
    EXPECT_EQ(child.wait_exit_code(std::chrono::seconds(20)), 0);
    EXPECT_EQ(out, "2 2,Line PLC AI (AI),AI,8,1;Line PLC AO (AO),AO,4,0;\n");
}

}  // namespace

namespace {

using requests_test::RequestTest;

void executable(const std::filesystem::path& path) {
    qvr_test::write_file(path, "#!/bin/sh\n");
    ::chmod(path.c_str(), 0755);
}

TEST_F(RequestTest, ProcessorFilesAreFoundInBinThenOnThePath) {
    const std::string bin = server().tree.folder("QVR_BIN");
    executable(std::filesystem::path(bin) / "calc_ca.so");
    executable(std::filesystem::path(bin) / "USERA_AN");  // copied from elsewhere: any case
    const std::filesystem::path path_dir = temp_.path() / "path";
    executable(path_dir / "opddx");
    setenv("PATH", (path_dir.string() + ":/usr/bin").c_str(), 1);
    const char* library = FindProcessorLibrary(".", "calc12", "CA");  // "calc" and a number: "calc"
    ASSERT_NE(library, nullptr);
    EXPECT_EQ(std::string(library), bin + "/calc_ca.so");
    const char* program = FindProcessorProgram(".", "UserA", "an");
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(std::string(program), bin + "/USERA_AN");
    program = FindProcessorProgram(".", "opddx3", nullptr);
    ASSERT_NE(program, nullptr);
    EXPECT_EQ(std::string(program), (path_dir / "opddx").string());
    EXPECT_EQ(FindProcessorLibrary(".", "missing", "XX"), nullptr);
    EXPECT_EQ(FindProcessorProgram(".", "../x", nullptr), nullptr);
}

}  // namespace
