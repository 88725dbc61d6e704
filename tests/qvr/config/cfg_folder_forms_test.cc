// Every entry point that saves into a folder, given that folder as ".", as a relative path
// or as an absolute one: the plug-in, the switches, the forms written, the audit context and
// the schema follow the folder itself, never the text it was named by. The libraries read
// the current folder; only this test changes it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cfg_test_support.h"
#include "plugins/test_plugin_records.h"
#include "qvr/config/cfg_channel_tables.h"
#include "qvr/config/cfg_device_config.h"
#include "qvr/ext/ext.h"
#include "qvr/logger_config/logger_config.h"
#include "qvr/schema/schema.h"

namespace {

namespace fs = std::filesystem;
using cfg_test::audit_entry;
using cfg_test::file_bytes;
using cfg_test::set_switch;

// The current folder for the length of a scope.
class InFolder {
  public:
    explicit InFolder(const fs::path& folder) : before_(fs::current_path()) { fs::current_path(folder); }
    ~InFolder() { fs::current_path(before_); }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

  private:
    fs::path before_;
};

// How a caller names the folder `target` (inside the configuration folder `config`): from
// which current folder, by which text. A null text stands for the entry point's form on the
// current folder.
struct Form {
    std::string label;
    fs::path cwd;
    std::optional<std::string> folder;
};

std::vector<Form> forms(const fs::path& config, const std::string& target, bool with_cwd_form) {
    fs::create_directories(config / "elsewhere");
    std::vector<Form> all = {
        {"dot", config / target, "."},
        {"relative", config, target},
        {"dotted relative", config / "elsewhere", "./../" + target + "/."},
        {"backslashes", config, ".\\" + target + "\\"},
        {"absolute", "/", (config / target).string()},
    };
    if (with_cwd_form) all.push_back({"current folder form", config / target, std::nullopt});
    return all;
}

// Each form with a device folder of its own ("tvall_3", "tvall_4", ...), made.
struct DeviceCase {
    Form form;
    std::string name;
    fs::path dir;
};

std::vector<DeviceCase> device_cases(const fs::path& config, bool with_cwd_form) {
    std::vector<DeviceCase> cases;
    for (std::size_t i = 0;; ++i) {
        const std::string name = "tvall_" + std::to_string(3 + i);
        const std::vector<Form> all = forms(config, name, with_cwd_form);
        if (i == all.size()) return cases;
        fs::create_directories(config / name);
        cases.push_back({all[i], name, config / name});
    }
}

std::string tag_of(const qvr::ChannelRecord& r) {
    return qvr::join_text(r, qvr::ChannelText::Tag);
}

class FolderFormsTest : public cfg_test::ConfigTree {
  protected:
    void SetUp() override {
        ConfigTree::SetUp();
        set_switch("WriteXML", "BOTH");
        set_switch("ReadXML", "ON");
        turn_audit_on();
    }
    // The entries the audit trail gained since `before` lines.
    std::vector<std::string> entries_since(std::size_t before) {
        std::vector<std::string> out;
        const std::vector<std::string> lines = audit_lines();
        for (std::size_t i = before; i < lines.size(); ++i) out.push_back(audit_entry(lines[i]));
        return out;
    }
    // Only the configuration folder has an audit file.
    void expect_one_audit_file() {
        for (const auto& entry : fs::recursive_directory_iterator(config_)) {
            if (entry.path().filename() == qvr::kAuditFileName) {
                EXPECT_EQ(entry.path().parent_path(), config_) << entry.path();
            }
        }
    }
};

// The channel entry points that take a folder, each saving channel 1 of the AI table.
struct ChannelSaver {
    const char* name;
    int (*save)(const char* dir, const qvr::ChannelRecord* record);
};

const ChannelSaver kChannelSavers[] = {
    {"cfg_SaveChannelsUpdate",
     [](const char* dir, const qvr::ChannelRecord* r) {
         return cfg_SaveChannelsUpdate("ann", dir, 0, r, 0, 1, nullptr, 0, nullptr);
     }},
    {"cfg_SaveChannelsRewrite",
     [](const char* dir, const qvr::ChannelRecord* r) {
         return cfg_SaveChannelsRewrite("ann", dir, 0, r, 0, 1, nullptr, 0, nullptr);
     }},
    {"cfg_SaveChannels",
     [](const char* dir, const qvr::ChannelRecord* r) {
         return cfg_SaveChannels("ann", dir, 0, r, 0, 1, nullptr, 0, nullptr, 1);
     }},
};

// Channels: "tvall_3.AI.Channels.1.Tag CW -> DT" in the configuration folder's audit file,
// both tables written, and every later load (either form, any way of naming the folder)
// reads the new tag; the same through each entry point.
TEST_F(FolderFormsTest, ChannelSaves) {
    for (const auto& [form, name, dir] : device_cases(config_, true)) {
        SCOPED_TRACE(form.label);
        const qvr::ChannelRecord digital = cfg_test::channel(qvr::ChannelKind::DI, "D1");
        ASSERT_EQ(cfg_SaveChannelsUpdate("ann", dir.c_str(), 1, &digital, 0, 1, nullptr, 0, nullptr), 0);
        qvr::ChannelRecord r = cfg_test::channel(qvr::ChannelKind::AI, "CW");
        ASSERT_EQ(cfg_SaveChannelsUpdate("ann", dir.c_str(), 0, &r, 0, 1, nullptr, 0, nullptr), 0);

        std::vector<ChannelSaver> savers(std::begin(kChannelSavers), std::end(kChannelSavers));
        if (!form.folder) savers = {{"cfg_SaveChannelsFromCwd", nullptr}};
        std::string old_tag = "CW";
        for (std::size_t step = 0; step < savers.size(); ++step) {
            const ChannelSaver& saver = savers[step];
            SCOPED_TRACE(saver.name);
            const std::string tag = step == 0 ? "DT" : "E" + std::to_string(step);
            const std::size_t before = audit_lines().size();
            qvr::split_text(r, qvr::ChannelText::Tag, tag);
            {
                const InFolder in(form.cwd);
                if (form.folder) {
                    ASSERT_EQ(saver.save(form.folder->c_str(), &r), 0) << sink_.last();
                } else {
                    ASSERT_EQ(cfg_SaveChannelsFromCwd(0, &r, 0, 1), 0) << sink_.last();
                }
            }
            const std::vector<std::string> got = entries_since(before);
            EXPECT_EQ(got, std::vector<std::string>{name + ".AI.Channels.1.Tag " + old_tag + " -> " + tag});
            old_tag = tag;
            expect_one_audit_file();
            EXPECT_NE(file_bytes(dir / "ai.xml").find("<Tag>" + tag + "</Tag>"), std::string::npos);
            EXPECT_NE(file_bytes(dir / "ai").find(tag), std::string::npos);
            for (const char* read_xml : {"ON", "OFF"}) {
                set_switch("ReadXML", read_xml);
                qvr::ChannelRecord back{};
                EXPECT_EQ(cfg_LoadChannels(dir.c_str(), 0, &back, 0, 1, nullptr, 0, nullptr), 0) << sink_.last();
                EXPECT_EQ(tag_of(back), tag) << "ReadXML " << read_xml;
                const InFolder in(form.cwd);
                back = {};
                if (form.folder) {
                    EXPECT_EQ(cfg_LoadChannels(form.folder->c_str(), 0, &back, 0, 1, nullptr, 0, nullptr), 0);
                } else {
                    EXPECT_EQ(cfg_LoadChannelsFromCwd(0, &back, 0, 1), 0);
                }
                EXPECT_EQ(tag_of(back), tag) << "ReadXML " << read_xml << ", named as saved";
            }
            set_switch("ReadXML", "ON");
        }
    }
}

// Device settings: the entry with the record, and the current-folder forms of each part.
TEST_F(FolderFormsTest, DeviceSettingsSaves) {
    for (const auto& [form, name, dir] : device_cases(config_, true)) {
        SCOPED_TRACE(form.label);
        test_plugin::Config c{};
        std::snprintf(c.Name, sizeof c.Name, "boiler");
        std::uint8_t auto_enable = 0;
        ASSERT_EQ(cfg_SaveDeviceConfig("ann", dir.c_str(), &c, sizeof c, nullptr, 0, nullptr, &auto_enable, nullptr,
                                       nullptr, nullptr),
                  0);
        const std::size_t before = audit_lines().size();

        std::snprintf(c.Name, sizeof c.Name, "kettle");
        auto_enable = 1;
        {
            const InFolder in(form.cwd);
            if (form.folder) {
                ASSERT_EQ(cfg_SaveDeviceConfig("ann", form.folder->c_str(), &c, sizeof c, nullptr, 0, nullptr,
                                               &auto_enable, nullptr, nullptr, nullptr),
                          0)
                    << sink_.last();
            } else {
                ASSERT_EQ(cfg_SaveDeviceConfigFromCwd(&c, sizeof c), 0) << sink_.last();
                ASSERT_EQ(cfg_SaveAutoEnableInCwd(auto_enable), 0) << sink_.last();
            }
        }
        std::vector<std::string> got = entries_since(before);
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, (std::vector<std::string>{name + ".AutoEnable OFF -> ON", name + ".Name boiler -> kettle"}));
        expect_one_audit_file();
        const std::string xml = file_bytes(dir / "config.xml");
        EXPECT_NE(xml.find("<Name>kettle</Name>"), std::string::npos);
        EXPECT_NE(xml.find("../SCHEMA/tvall.xsd"), std::string::npos);
        EXPECT_TRUE(fs::exists(config_ / "SCHEMA" / "tvall.xsd"));
        EXPECT_EQ(file_bytes(dir / "config").substr(0, 1), "\x01");
        for (const char* read_xml : {"ON", "OFF"}) {
            set_switch("ReadXML", read_xml);
            test_plugin::Config back{};
            std::uint8_t back_enable = 0xEE;
            const InFolder in(form.cwd);
            const std::string folder = form.folder.value_or(".");
            EXPECT_EQ(cfg_LoadDeviceConfig(folder.c_str(), &back, sizeof back, nullptr, 0, nullptr, &back_enable,
                                           nullptr, nullptr, nullptr),
                      0)
                << sink_.last();
            EXPECT_STREQ(back.Name, "kettle") << "ReadXML " << read_xml;
            EXPECT_EQ(back_enable, 1) << "ReadXML " << read_xml;
        }
        set_switch("ReadXML", "ON");
        // The record with its extra record, into both forms, read back through the same name.
        if (form.folder) {
            const test_plugin::ConfigExtra extra{7, "spare"};
            std::snprintf(c.Name, sizeof c.Name, "urn");
            const std::size_t at = audit_lines().size();
            const InFolder in(form.cwd);
            const char* folder = form.folder->c_str();
            ASSERT_EQ(cfg_SaveDeviceConfigAndExtra("ann", folder, &c, sizeof c, &extra, sizeof extra, "dev.extra"), 0)
                << sink_.last();
            got = entries_since(at);
            EXPECT_NE(std::find(got.begin(), got.end(), name + ".Name kettle -> urn"), got.end());
            for (const std::string& entry : got) EXPECT_EQ(entry.rfind(name + ".", 0), 0u) << entry;
            expect_one_audit_file();
            EXPECT_TRUE(fs::exists(dir / "dev.extra"));
            EXPECT_NE(file_bytes(dir / "config.xml").find("<Note>spare</Note>"), std::string::npos);
            for (const char* read_xml : {"ON", "OFF"}) {
                set_switch("ReadXML", read_xml);
                test_plugin::Config back{};
                test_plugin::ConfigExtra back_extra{};
                EXPECT_EQ(cfg_LoadDeviceConfig(folder, &back, sizeof back, &back_extra, sizeof back_extra, "dev.extra",
                                               nullptr, nullptr, nullptr, nullptr),
                          0)
                    << sink_.last();
                EXPECT_STREQ(back.Name, "urn") << "ReadXML " << read_xml;
                EXPECT_STREQ(back_extra.Note, "spare") << "ReadXML " << read_xml;
            }
            set_switch("ReadXML", "ON");
        }
        // The autosave settings of the current-folder form.
        if (!form.folder) {
            const InFolder in(form.cwd);
            ASSERT_EQ(cfg_SaveAutosaveSettingsInCwd(1, 1, 60), 0);
            std::uint8_t outputs = 0, by_tag = 0;
            std::int32_t rate = 0;
            set_switch("ReadXML", "OFF");
            EXPECT_EQ(cfg_LoadAutosaveSettingsFromCwd(&outputs, &by_tag, &rate), 0);
            set_switch("ReadXML", "ON");
            EXPECT_EQ(rate, 60);
            EXPECT_NE(file_bytes(dir / "config.xml").find("<SaveRate>60</SaveRate>"), std::string::npos);
        }
    }
}

// Logger configurations in LOGGERS: context "LOGGERS", the logger's number, both forms.
TEST_F(FolderFormsTest, LoggerSaves) {
    const fs::path dir = config_ / "LOGGERS";
    fs::create_directories(dir);
    const std::vector<Form> all = forms(config_, "LOGGERS", true);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Form& form = all[i];
        SCOPED_TRACE(form.label);
        const int number = static_cast<int>(i) + 1;
        std::vector<std::uint8_t> r(1480, 0);
        std::memcpy(&r[1], "Alpha", 6);
        ASSERT_EQ(cfg_SaveLoggerConfig(dir.c_str(), "ann", "resub", number, r.data(), 1480), 0);
        const std::size_t before = audit_lines().size();

        std::memcpy(&r[1], "Beta\0", 6);
        {
            const InFolder in(form.cwd);
            if (form.folder) {
                ASSERT_EQ(cfg_SaveLoggerConfig(form.folder->c_str(), "ann", "resub", number, r.data(), 1480), 0)
                    << sink_.last();
            } else {
                ASSERT_EQ(cfg_SaveLoggerConfigFromCwd("resub", number, r.data(), 1480, "ann"), 0) << sink_.last();
            }
        }
        EXPECT_EQ(entries_since(before),
                  std::vector<std::string>{"LOGGERS." + std::to_string(number) + ".Name Alpha -> Beta"});
        expect_one_audit_file();
        const std::string file = "resub_" + std::to_string(number);
        EXPECT_NE(file_bytes(dir / (file + ".xml")).find("<Name>Beta</Name>"), std::string::npos);
        EXPECT_EQ(file_bytes(dir / file).substr(1, 4), "Beta");
        for (const char* read_xml : {"ON", "OFF"}) {
            set_switch("ReadXML", read_xml);
            std::vector<std::uint8_t> back(1480, 0xEE);
            const InFolder in(form.cwd);
            const std::string folder = form.folder.value_or(".");
            EXPECT_EQ(cfg_LoadLoggerConfig(folder.c_str(), "resub", number, back.data(), 1480), 0) << sink_.last();
            EXPECT_EQ(back, r) << "ReadXML " << read_xml;
        }
        set_switch("ReadXML", "ON");
    }
}

// The writers of one form and the schema writers: files named by the folder's own prefix,
// schemas in the configuration folder's SCHEMA.
TEST_F(FolderFormsTest, XmlAndSchemaWriters) {
    for (const auto& [form, name, dir] : device_cases(config_, false)) {
        SCOPED_TRACE(form.label);
        fs::remove_all(config_ / "SCHEMA");
        fs::create_directories(dir / "LOGGERS");
        const std::vector<qvr::ChannelRecord> records = {cfg_test::channel(qvr::ChannelKind::AO, "W1"),
                                                          cfg_test::channel(qvr::ChannelKind::AO, "W2")};
        test_plugin::Config c{};
        std::snprintf(c.Name, sizeof c.Name, "pump");
        std::vector<std::uint8_t> logger(1480, 0);
        std::memcpy(&logger[1], "Gamma", 6);
        {
            const InFolder in(form.cwd);
            const char* folder = form.folder->c_str();
            EXPECT_EQ(cfg_WriteChannelXml("ann", folder, 2, records.data(), 0, 2, nullptr, 0, 0), 0) << sink_.last();
            EXPECT_EQ(cfg_WriteConfigXml("ann", folder, &c, sizeof c, nullptr, 0, nullptr, nullptr, nullptr, nullptr),
                      0)
                << sink_.last();
            EXPECT_EQ(ext_HasXmlSupport(folder), 1);
            EXPECT_EQ(cfg_IsNotCurrentConfigDir(folder), 1);
            EXPECT_EQ(cfg_WriteChannelSchema("ann", folder, 0, records.data(), 0, 2), 0) << sink_.last();
            EXPECT_EQ(cfg_WriteConfigSchema(folder, &c, sizeof c, nullptr, 0), 0) << sink_.last();
            const std::string loggers = *form.folder + "/LOGGERS";
            EXPECT_EQ(cfg_WriteLoggerXml(loggers.c_str(), "ann", "resub", 1, logger.data(), 1480), 0) << sink_.last();
        }
        const std::string channels = file_bytes(dir / "ao.xml");
        EXPECT_NE(channels.find("<Tag>W2</Tag>"), std::string::npos);
        EXPECT_NE(channels.find("../SCHEMA/tvall_ao.xsd"), std::string::npos);
        EXPECT_NE(file_bytes(dir / "config.xml").find("<Name>pump</Name>"), std::string::npos);
        EXPECT_NE(file_bytes(dir / "LOGGERS" / "resub_1.xml").find("<Name>Gamma</Name>"), std::string::npos);
        for (const char* schema : {"tvall_ao.xsd", "tvall_ai.xsd", "tvall.xsd"})
            EXPECT_TRUE(fs::exists(config_ / "SCHEMA" / schema)) << schema;
        EXPECT_TRUE(fs::exists(dir / "SCHEMA" / "resub.xsd"));
    }
    // "." names the folder current at each call: the plug-in answer is not kept for the text.
    fs::create_directories(config_ / "tvnon_1");
    {
        const InFolder in(config_ / "tvall_3");
        EXPECT_EQ(ext_HasXmlSupport("."), 1);
        EXPECT_EQ(cfg_IsNotCurrentConfigDir("."), 1);
    }
    {
        const InFolder in(config_ / "tvnon_1");
        EXPECT_EQ(ext_HasXmlSupport("."), 0);
    }
    const InFolder in(config_);
    EXPECT_EQ(cfg_IsNotCurrentConfigDir("."), 0);
}

}  // namespace
