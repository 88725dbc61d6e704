// A device's settings in its binary files and in config.xml, by the switches, with the
// real plug-in (binary only) and the test plug-ins.
#include "qvr/config/cfg_device_config.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "cfg_test_support.h"
#include "plugins/test_plugin_records.h"

namespace {

namespace fs = std::filesystem;
using cfg_test::audit_entry;
using cfg_test::file_bytes;
using cfg_test::set_edition;
using cfg_test::set_switch;
using test_plugin::Config;
using test_plugin::ConfigExtra;

fs::path bin_folder() {
    return fs::read_symlink("/proc/self/exe").parent_path();
}

struct Settings {
    std::vector<std::uint8_t> record;
    std::vector<std::uint8_t> extra;
    std::uint8_t auto_enable = 0;
    std::uint8_t save_outputs = 0;
    std::uint8_t save_by_tag = 0;
    std::int32_t save_rate = 0;
    bool operator==(const Settings&) const = default;
};

Settings tvall_settings(const char* name = "boiler", std::uint8_t auto_enable = 1) {
    Config c{};
    c.Station = 7;
    c.Mode = 1;
    std::snprintf(c.Name, sizeof c.Name, "%s", name);
    c.Rate = 250;
    ConfigExtra x{42, "note"};
    Settings s;
    s.record.assign(reinterpret_cast<const std::uint8_t*>(&c),
                    reinterpret_cast<const std::uint8_t*>(&c) + sizeof c);
    s.extra.assign(reinterpret_cast<const std::uint8_t*>(&x),
                   reinterpret_cast<const std::uint8_t*>(&x) + sizeof x);
    s.auto_enable = auto_enable;
    s.save_outputs = 1;
    s.save_by_tag = 0;
    s.save_rate = 3600;
    return s;
}

int save(const std::string& dir, const Settings& s, const char* extra_file = "dev.extra",
         const char* user = "ann") {
    return cfg_SaveDeviceConfig(user, dir.c_str(), s.record.data(), static_cast<int32_t>(s.record.size()),
                                s.extra.data(), static_cast<int32_t>(s.extra.size()), extra_file,
                                &s.auto_enable, &s.save_outputs, &s.save_by_tag, &s.save_rate);
}

int load(const std::string& dir, Settings& s, std::size_t size, std::size_t extra_size,
         const char* extra_file = "dev.extra") {
    s.record.assign(size, 0xEE);
    s.extra.assign(extra_size, 0xEE);
    return cfg_LoadDeviceConfig(dir.c_str(), s.record.data(), static_cast<int32_t>(size), s.extra.data(),
                                static_cast<int32_t>(extra_size), extra_file, &s.auto_enable, &s.save_outputs,
                                &s.save_by_tag, &s.save_rate);
}

class DeviceConfigTest : public cfg_test::ConfigTree {};

TEST_F(DeviceConfigTest, TheBinaryFilesHoldTheirBytesAtTheirOffsetsWithTheRealPlugin) {
    const std::string dir = device("tolva_3");
    Settings s;
    s.record.resize(704);
    for (std::size_t i = 0; i < s.record.size(); ++i) s.record[i] = static_cast<std::uint8_t>(i * 7);
    s.auto_enable = 1;
    s.save_outputs = 1;
    s.save_by_tag = 1;
    s.save_rate = 0x01020304;
    set_switch("WriteXML", "BOTH");  // the real plug-in has no XML: binary only all the same
    ASSERT_EQ(cfg_SaveDeviceConfig("ann", dir.c_str(), s.record.data(), 704, nullptr, 0, nullptr,
                                   &s.auto_enable, &s.save_outputs, &s.save_by_tag, &s.save_rate),
              0);
    const std::string config = file_bytes(fs::path(dir) / "config");
    ASSERT_EQ(config.size(), 705u);
    EXPECT_EQ(config[0], '\x01');
    EXPECT_EQ(std::memcmp(config.data() + 1, s.record.data(), 704), 0);
    EXPECT_EQ(file_bytes(fs::path(dir) / "saveconfig"), std::string("\x01\x01\x04\x03\x02\x01", 6));
    EXPECT_FALSE(fs::exists(fs::path(dir) / "config.xml"));

    Settings back;
    ASSERT_EQ(load(dir, back, 704, 0, nullptr), 0);
    back.extra.clear();
    EXPECT_EQ(back, s);
}

TEST_F(DeviceConfigTest, AShortRecordReadsZeroExtended) {
    const std::string dir = device("tolva_3");
    qvr_test::write_file(fs::path(dir) / "config", std::string("\x01"
                                                               "abcdefghij",
                                                               11));
    std::vector<std::uint8_t> record(704, 0xEE);
    std::uint8_t enabled = 0;
    ASSERT_EQ(cfg_LoadDeviceConfig(dir.c_str(), record.data(), 704, nullptr, 0, nullptr, &enabled, nullptr,
                                   nullptr, nullptr),
              0);
    EXPECT_EQ(enabled, 1);
    EXPECT_EQ(std::string(record.begin(), record.begin() + 10), "abcdefghij");
    EXPECT_EQ(std::count(record.begin() + 10, record.end(), 0), 694) << "the unread tail is zero";
}

TEST_F(DeviceConfigTest, MissingFilesFailWithTheSystemErrorButAMissingExtraFileIsZeros) {
    const std::string dir = device("tolva_3");
    std::uint8_t enabled = 9;
    EXPECT_EQ(cfg_LoadDeviceConfig(dir.c_str(), nullptr, 0, nullptr, 0, nullptr, &enabled, nullptr, nullptr,
                                   nullptr),
              -1);
    EXPECT_EQ(errno, ENOENT);
    std::int32_t rate = 0;
    EXPECT_EQ(
        cfg_LoadDeviceConfig(dir.c_str(), nullptr, 0, nullptr, 0, nullptr, nullptr, nullptr, nullptr, &rate),
        -1);
    std::vector<std::uint8_t> extra(8, 0xEE);
    EXPECT_EQ(cfg_LoadDeviceConfig(dir.c_str(), nullptr, 0, extra.data(), 8, "absent.bin", nullptr, nullptr,
                                   nullptr, nullptr),
              0);
    EXPECT_EQ(std::count(extra.begin(), extra.end(), 0), 8);
    EXPECT_EQ(cfg_LoadDeviceConfig(dir.c_str(), nullptr, 0, extra.data(), 8, "../escape", nullptr, nullptr,
                                   nullptr, nullptr),
              -1);
    EXPECT_EQ(errno, 0) << "invalid argument";
}

TEST_F(DeviceConfigTest, EachSwitchCombinationWritesAndReadsItsForms) {
    struct Case {
        const char* write;
        const char* read;
        bool binary;
        bool xml;
        bool loads_back;
    };
    const Case cases[] = {
        {"BIN", "OFF", true, false, true}, {"BIN", "ON", true, false, true},
        {"BOTH", "OFF", true, true, true}, {"BOTH", "ON", true, true, true},
        {"XML", "ON", false, true, true},  {"XML", "OFF", false, true, false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.write) + "/" + c.read);
        set_switch("WriteXML", c.write);
        set_switch("ReadXML", c.read);
        const std::string dir = device("tvall_" + std::to_string(++n));
        const Settings s = tvall_settings();
        ASSERT_EQ(save(dir, s), 0);
        EXPECT_EQ(fs::exists(fs::path(dir) / "config"), c.binary);
        EXPECT_EQ(fs::exists(fs::path(dir) / "saveconfig"), c.binary);
        EXPECT_EQ(fs::exists(fs::path(dir) / "config.xml"), c.xml);
        Settings back;
        const int rc = load(dir, back, s.record.size(), s.extra.size());
        EXPECT_EQ(rc == 0, c.loads_back);
        if (c.loads_back) {
            EXPECT_EQ(back, s);
        }
    }
}

TEST_F(DeviceConfigTest, TheRimvaleEditionKeepsSettingsAsXmlOnly) {
    set_edition("Rimvale");
    const std::string dir = device("tvall_2");
    const Settings s = tvall_settings();
    ASSERT_EQ(save(dir, s), 0);
    EXPECT_FALSE(fs::exists(fs::path(dir) / "config"));
    EXPECT_TRUE(fs::exists(fs::path(dir) / "config.xml"));
    Settings back;
    ASSERT_EQ(load(dir, back, s.record.size(), s.extra.size()), 0);
    EXPECT_EQ(back, s);
}

TEST_F(DeviceConfigTest, TheXmlFormHoldsTheHeaderThenTheRecordAndExtraLeaves) {
    set_switch("WriteXML", "XML");
    const std::string dir = device("tvall_1");
    ASSERT_EQ(save(dir, tvall_settings()), 0);
    const std::string xml = file_bytes(fs::path(dir) / "config.xml");
    EXPECT_NE(xml.find("<!--Created Automatically by Velmora.-->"), std::string::npos) << xml;
    EXPECT_NE(xml.find("xmlns=\"http://www.brevantic.com/quorvane/tvall\""), std::string::npos) << xml;
    EXPECT_NE(xml.find("xsi:schemaLocation=\"http://www.brevantic.com/quorvane/tvall ../SCHEMA/tvall.xsd\""),
              std::string::npos)
        << xml;
    const char* order[] = {"<AutoEnable>On</AutoEnable>", "<SaveOutputs>On</SaveOutputs>",
                           "<SaveByTag>Off</SaveByTag>",  "<SaveRate>3600</SaveRate>",
                           "<Station>7</Station>",        "<Mode>Manual</Mode>",
                           "<Name>boiler</Name>",         "<Rate>250</Rate>",
                           "<Spare>21</Spare>",           "<Note>note</Note>"};
    std::size_t at = 0;
    for (const char* element : order) {
        const std::size_t found = xml.find(element, at);
        ASSERT_NE(found, std::string::npos) << element << " in order in\n" << xml;
        at = found;
    }
    EXPECT_TRUE(fs::exists(config_ / "SCHEMA" / "tvall.xsd"));
}

TEST_F(DeviceConfigTest, AnExistingFileIsUpdatedInPlace) {
    set_switch("WriteXML", "XML");
    set_switch("ReadXML", "ON");
    const std::string dir = device("tvall_1");
    qvr_test::write_file(fs::path(dir) / "config.xml",
                         "<?xml version='1.0'?><Configs xmlns='urn:kept'><Config><Kept>yes</Kept>"
                         "<Name>old</Name></Config></Configs>");
    const Settings s = tvall_settings("new");
    ASSERT_EQ(cfg_WriteConfigXml("ann", dir.c_str(), s.record.data(), 24, nullptr, 0, nullptr, nullptr,
                                 nullptr, nullptr),
              0);
    const std::string xml = file_bytes(fs::path(dir) / "config.xml");
    EXPECT_NE(xml.find("<Kept>yes</Kept>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("xmlns=\"urn:kept\""), std::string::npos) << xml;
    EXPECT_EQ(xml.find("old"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<Name>new</Name>"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("AutoEnable"), std::string::npos) << "only the parts given are written";
}

TEST_F(DeviceConfigTest, XmlFailuresNameTheFieldAndGoToTheSink) {
    set_switch("ReadXML", "ON");
    const std::string dir = device("tvall_1");
    struct Case {
        const char* config;
        const char* message;
    };
    const Case cases[] = {
        {"<Configs><Config><SaveOutputs>On</SaveOutputs><SaveByTag>On</SaveByTag><Rate>1</Rate></Config></"
         "Configs>",
         "tvall_1Dev/Proc Config - <SaveRate> tag not found"},
        {"<Configs><Other/></Configs>", "tvall_1Dev/Proc Config - <Config> tag not found"},
        {"<Configs><Config><SaveOutputs>On</SaveOutputs><SaveByTag>On</SaveByTag><SaveRate>x</SaveRate>"
         "</Config></Configs>",
         "tvall_1Dev/Proc Config - <SaveRate> invalid integer value"},
        {"<Configs><Config><SaveOutputs>On</SaveOutputs><SaveByTag>Maybe</SaveByTag><SaveRate>1</SaveRate>"
         "</Config></Configs>",
         "tvall_1Dev/Proc Config - <SaveByTag> invalid Boolean value"},
    };
    for (const Case& c : cases) {
        qvr_test::write_file(fs::path(dir) / "config.xml", c.config);
        std::uint8_t outputs = 0, by_tag = 0;
        std::int32_t rate = 0;
        EXPECT_EQ(cfg_LoadDeviceConfig(dir.c_str(), nullptr, 0, nullptr, 0, nullptr, nullptr, &outputs,
                                       &by_tag, &rate),
                  -1);
        EXPECT_EQ(errno, 1465);
        EXPECT_EQ(sink_.last(), c.message);
    }
}

TEST_F(DeviceConfigTest, AMissingDeviceFieldIsZeroAndAbsentFromTheFoundList) {
    set_switch("ReadXML", "ON");
    const std::string dir = device("tvall_1");
    // The plug-in's validator requires Rate (it checks the found list).
    qvr_test::write_file(fs::path(dir) / "config.xml",
                         "<Configs><Config><Station>9</Station><Rate>5</Rate></Config></Configs>");
    Config c;
    std::memset(&c, 0xEE, sizeof c);
    ASSERT_EQ(cfg_LoadDeviceConfigAndExtra(dir.c_str(), &c, sizeof c, nullptr, 0, nullptr), 0);
    EXPECT_EQ(c.Station, 9);
    EXPECT_EQ(c.Mode, 0);
    EXPECT_EQ(c.Name[0], '\0');
    EXPECT_EQ(c.Rate, 5u);
    qvr_test::write_file(fs::path(dir) / "config.xml",
                         "<Configs><Config><Station>9</Station></Config></Configs>");
    EXPECT_EQ(cfg_LoadDeviceConfigAndExtra(dir.c_str(), &c, sizeof c, nullptr, 0, nullptr), -1);
    EXPECT_EQ(sink_.last(), "tvall_1Dev/Proc Config - Rate Required");
}

TEST_F(DeviceConfigTest, WithoutXmlSupportOrInTheConfigurationFolderOnlyBinaryFilesAreUsed) {
    set_switch("WriteXML", "BOTH");
    set_switch("ReadXML", "ON");
    const std::string none = device("tvnon_1");
    const Settings s = tvall_settings();
    ASSERT_EQ(save(none, s), 0);
    EXPECT_FALSE(fs::exists(fs::path(none) / "config.xml"));

    // The configuration folder's own settings, with a plug-in that does XML bound to it.
    fs::create_directories(dir_ / "BIN");
    fs::copy_file(bin_folder() / "tvall_ex.so", dir_ / "BIN" / "curre_ex.so");
    ASSERT_EQ(save(config_.string(), s), 0);
    EXPECT_FALSE(fs::exists(config_ / "config.xml"));
    qvr_test::write_file(config_ / "config.xml", "not even XML");
    Settings back;
    ASSERT_EQ(load(config_.string(), back, s.record.size(), s.extra.size()), 0);
    EXPECT_EQ(back, s);
}

// Descriptions larger than the caller's record and extra record are converted apart from
// them: the caller's buffers are never written past their sizes.
TEST_F(DeviceConfigTest, LargerDescriptionsNeverWritePastTheCallersBuffers) {
    set_switch("WriteXML", "XML");
    set_switch("ReadXML", "ON");
    const std::string dir = device("tvbig_1");
    qvr_test::write_file(fs::path(dir) / "config.xml",
                         "<Configs><Config><Head>11</Head><Password>pw</Password><Tail>77</Tail>"
                         "<Spare>5</Spare><Far>99</Far></Config></Configs>");
    std::array<std::uint8_t, 24 + 64> record;
    std::array<std::uint8_t, 8 + 64> extra;
    record.fill(0xCC);
    extra.fill(0xCC);
    ASSERT_EQ(cfg_LoadDeviceConfigAndExtra(dir.c_str(), record.data(), 24, extra.data(), 8, "x.bin"), 0)
        << sink_.last();
    EXPECT_EQ(record[0], 11);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(record.data() + 4)), "pw");
    EXPECT_EQ(extra[0], 5);
    EXPECT_TRUE(std::all_of(record.begin() + 24, record.end(), [](std::uint8_t b) { return b == 0xCC; }));
    EXPECT_TRUE(std::all_of(extra.begin() + 8, extra.end(), [](std::uint8_t b) { return b == 0xCC; }));
    // Writing reads the descriptions over padded copies, not past the caller's records.
    ASSERT_EQ(cfg_WriteConfigXml(nullptr, dir.c_str(), record.data(), 24, extra.data(), 8, nullptr, nullptr,
                                 nullptr, nullptr),
              0);
    const std::string xml = file_bytes(fs::path(dir) / "config.xml");
    EXPECT_NE(xml.find("<Tail>0</Tail>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<Far>0</Far>"), std::string::npos) << xml;
}

TEST_F(DeviceConfigTest, TheCurrentFolderFormsUseItWithoutChangingIt) {
    const std::string dir = device("tolva_4");
    const fs::path before = fs::current_path();
    ASSERT_EQ(::chdir(dir.c_str()), 0);
    std::vector<std::uint8_t> record(704, 0x5A);
    EXPECT_EQ(cfg_SaveDeviceConfigFromCwd(record.data(), 704), 0);
    EXPECT_EQ(cfg_SaveAutoEnableInCwd(1), 0);
    EXPECT_EQ(cfg_SaveAutosaveSettingsInCwd(1, 0, 60), 0);
    std::vector<std::uint8_t> back(704);
    std::uint8_t enabled = 0, outputs = 0, by_tag = 9;
    std::int32_t rate = 0;
    EXPECT_EQ(cfg_LoadDeviceConfigFromCwd(back.data(), 704), 0);
    EXPECT_EQ(cfg_LoadAutoEnableFromCwd(&enabled), 0);
    EXPECT_EQ(cfg_LoadAutosaveSettingsFromCwd(&outputs, &by_tag, &rate), 0);
    EXPECT_EQ(fs::current_path(), fs::path(dir));
    ASSERT_EQ(::chdir(before.c_str()), 0);
    EXPECT_EQ(back, record);
    EXPECT_EQ(enabled, 1);
    EXPECT_EQ(outputs, 1);
    EXPECT_EQ(by_tag, 0);
    EXPECT_EQ(rate, 60);
    EXPECT_EQ(file_bytes(fs::path(dir) / "config").size(), 705u) << "AutoEnable and record share the file";
}

TEST_F(DeviceConfigTest, EverySaveTouchesTheConfigurationFolderConfigInEveryWriteMode) {
    qvr_test::write_file(config_ / "config", std::string("\0\0", 2));
    for (const char* mode : {"BIN", "XML"}) {
        set_switch("WriteXML", mode);
        const timespec past[2] = {{1000000, 0}, {1000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (config_ / "config").c_str(), past, 0), 0);
        ASSERT_EQ(save(device("tvall_1"), tvall_settings()), 0);
        struct stat st {};
        ASSERT_EQ(::stat((config_ / "config").c_str(), &st), 0);
        EXPECT_GT(st.st_mtime, 1000000) << mode;
        EXPECT_EQ(file_bytes(config_ / "config"), std::string("\0\0", 2)) << "only its time changes";
    }
}

// ---- The audit trail of device saves ----

TEST_F(DeviceConfigTest, TheAuditRecordsEachChangedSettingOnce) {
    turn_audit_on();
    set_switch("WriteXML", "BOTH");
    set_switch("ReadXML", "ON");
    const std::string dir = device("tvall_1");
    Settings s = tvall_settings("abc", 0);
    ASSERT_EQ(save(dir, s), 0);
    const std::size_t first_save = audit_lines().size();

    ASSERT_EQ(save(dir, s), 0);
    EXPECT_EQ(audit_lines().size(), first_save) << "an unchanged save records nothing";

    s = tvall_settings("ABC", 0);
    ASSERT_EQ(save(dir, s), 0);
    EXPECT_EQ(audit_lines().size(), first_save) << "texts compare without case";

    s = tvall_settings("xyz", 1);
    s.save_rate = 60;
    ASSERT_EQ(save(dir, s, "dev.extra", "bob"), 0);
    const std::vector<std::string> lines = audit_lines();
    ASSERT_EQ(lines.size(), first_save + 3);
    EXPECT_EQ(audit_entry(lines[first_save]), "tvall_1.AutoEnable OFF -> ON");
    EXPECT_EQ(audit_entry(lines[first_save + 1]), "tvall_1.SaveRate 3600 -> 60");
    EXPECT_EQ(audit_entry(lines[first_save + 2]), "tvall_1.Name ABC -> xyz");
    EXPECT_NE(lines[first_save].find("\tbob\t"), std::string::npos) << lines[first_save];
}

TEST_F(DeviceConfigTest, TheAuditHidesPasswords) {
    turn_audit_on();
    set_switch("WriteXML", "XML");
    set_switch("ReadXML", "ON");
    const std::string dir = device("tvbig_1");
    std::vector<std::uint8_t> record(1024, 0);
    std::strcpy(reinterpret_cast<char*>(record.data() + 4), "secret1");
    ASSERT_EQ(cfg_SaveDeviceConfig("ann", dir.c_str(), record.data(), 1024, nullptr, 0, nullptr, nullptr,
                                   nullptr, nullptr, nullptr),
              0);
    std::strcpy(reinterpret_cast<char*>(record.data() + 4), "secret2");
    ASSERT_EQ(cfg_SaveDeviceConfig("ann", dir.c_str(), record.data(), 1024, nullptr, 0, nullptr, nullptr,
                                   nullptr, nullptr, nullptr),
              0);
    const std::vector<std::string> lines = audit_lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(audit_entry(lines.back()), "tvbig_1.Password **** -> ****");
    EXPECT_EQ(file_bytes(config_ / qvr::kAuditFileName).find("secret"), std::string::npos);
}

TEST_F(DeviceConfigTest, WithTheAuditOnAMalformedFileIsNotOverwritten) {
    turn_audit_on();
    set_switch("WriteXML", "BOTH");
    set_switch("ReadXML", "ON");
    const std::string dir = device("tvall_1");
    qvr_test::write_file(fs::path(dir) / "config.xml", "<Configs><Config>");
    EXPECT_EQ(save(dir, tvall_settings()), -1);
    EXPECT_EQ(errno, 1465);
    EXPECT_EQ(file_bytes(fs::path(dir) / "config.xml"), "<Configs><Config>");
    EXPECT_FALSE(fs::exists(fs::path(dir) / "config"));
    EXPECT_FALSE(fs::exists(fs::path(dir) / "saveconfig"));
}

TEST_F(DeviceConfigTest, WithTheAuditOnSettingsCanBeAddedToAFileThatLacksThem) {
    turn_audit_on();
    set_switch("WriteXML", "XML");
    set_switch("ReadXML", "ON");
    const std::string dir = device("tvall_1");
    qvr_test::write_file(fs::path(dir) / "config.xml",
                         "<Configs><Config><Station>x</Station></Config></Configs>");
    const std::uint8_t on = 1;
    ASSERT_EQ(cfg_SaveDeviceConfig(nullptr, dir.c_str(), nullptr, 0, nullptr, 0, nullptr, &on, nullptr,
                                   nullptr, nullptr),
              0);
    std::uint8_t back = 0;
    ASSERT_EQ(
        cfg_LoadDeviceConfig(dir.c_str(), nullptr, 0, nullptr, 0, nullptr, &back, nullptr, nullptr, nullptr),
        0);
    EXPECT_EQ(back, 1);
    ASSERT_EQ(audit_lines().size(), 1u);
    EXPECT_EQ(audit_entry(audit_lines()[0]), "tvall_1.AutoEnable OFF -> ON");
}

}  // namespace
