// The XML switches of the configuration files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cfg_test_support.h"
#include "platform/debug_output.h"
#include "platform/testing/debug_output_testing.h"
#include "qvr/config/cfg_device_config.h"
#include "qvr/diag/trace.h"
#include "qvr/testing/config_testing.h"

namespace {

using cfg_test::remove_switch;
using cfg_test::set_edition;
using cfg_test::set_switch;

TEST(CfgSwitches, WriteAndReadTextsCompareWithoutCase) {
    struct Case {
        const char* value;  // null: absent
        int write_mode;
        int read_on;
    };
    const Case cases[] = {
        {"BIN", 0, 0}, {"both", 1, 0}, {"Both", 1, 0}, {"XML", 2, 0},          {"xml", 2, 0},   {"OFF", 0, 0},
        {"ON", 0, 1},  {"on", 0, 1},   {"", 0, 0},     {"toolongvalue", 0, 0}, {nullptr, 0, 0},
    };
    for (const Case& c : cases) {
        if (c.value != nullptr) {
            set_switch("WriteXML", c.value);
            set_switch("ReadXML", c.value);
        } else {
            remove_switch("WriteXML");
            remove_switch("ReadXML");
        }
        const char* shown = c.value != nullptr ? c.value : "absent";
        EXPECT_EQ(cfg_GetWriteXmlMode("/q/CURRENT_CONFIG/tolva_3"), c.write_mode) << shown;
        EXPECT_EQ(cfg_IsReadXmlOn("/q/CURRENT_CONFIG/tolva_3"), c.read_on) << shown;
    }
}

TEST(CfgSwitches, TheRimvaleEditionWritesAndReadsXmlByDefault) {
    set_edition("RIMVALE");
    EXPECT_EQ(cfg_GetWriteXmlMode("/q"), 2);
    EXPECT_EQ(cfg_IsReadXmlOn("/q"), 1);
    // An unknown read text counts as absent, an unknown write text as binary.
    set_switch("ReadXML", "maybe");
    set_switch("WriteXML", "maybe");
    EXPECT_EQ(cfg_IsReadXmlOn("/q"), 1);
    EXPECT_EQ(cfg_GetWriteXmlMode("/q"), 0);
    set_switch("ReadXML", "OFF");
    EXPECT_EQ(cfg_IsReadXmlOn("/q"), 0);

    set_edition("Quorvane");
    remove_switch("ReadXML");
    remove_switch("WriteXML");
    EXPECT_EQ(cfg_GetWriteXmlMode("/q"), 0);
    EXPECT_EQ(cfg_IsReadXmlOn("/q"), 0);
}

TEST(CfgSwitches, AFolderOnAnotherMachineGetsTheDefaults) {
    set_switch("WriteXML", "XML");
    set_switch("ReadXML", "ON");
    EXPECT_EQ(cfg_GetWriteXmlMode("\\\\FARAWAY\\q\\CURRENT_CONFIG\\tolva_3"), 0);
    EXPECT_EQ(cfg_IsReadXmlOn("//faraway/q/tolva_3"), 0);
    EXPECT_EQ(cfg_GetWriteXmlMode("\\\\localhost\\q\\tolva_3"), 2);
    EXPECT_EQ(cfg_IsReadXmlOn(nullptr), 1);
}

TEST(CfgSwitches, ExcelCompatibleSchemasAreOnUnlessSet) {
    EXPECT_EQ(cfg_GetExcelCompatibleXsd("/q"), 1);
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey,
                                            platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_dword("ExcelCompatibleXSD", 0), 0);
    EXPECT_EQ(cfg_GetExcelCompatibleXsd("/q"), 0);
    ASSERT_EQ(key.set_string("ExcelCompatibleXSD", "0"), 0);
    EXPECT_EQ(cfg_GetExcelCompatibleXsd("/q"), 1) << "not a DWORD";
}

TEST(CfgSwitches, OnlyTheConfigurationFolderItselfIsTheCurrentConfigDir) {
    struct Case {
        const char* path;
        int result;
    };
    const Case cases[] = {
        {"/opt/q/CURRENT_CONFIG", 0},      {"C:\\Q\\current_config", 0},
        {"/opt/q/CURRENT_CONFIG/", 0},     {"/opt/q/CURRENT_CONFIG/tolva_3", 1},
        {"/opt/q/OLD_CURRENT_CONFIGS", 1}, {"/opt/q/XCURRENT_CONFIG", 1},
    };
    for (const Case& c : cases) EXPECT_EQ(cfg_IsNotCurrentConfigDir(c.path), c.result) << c.path;
    EXPECT_EQ(cfg_IsNotCurrentConfigDir(nullptr), 0);
}

TEST(CfgSwitches, ContradictionsAreTracedOncePerProcess) {
    std::vector<std::string> lines;
    platform::set_debug_output_capture([&](std::string_view text) { lines.emplace_back(text); });
    set_switch("Scanner_Debug", "ON");
    trace_Create("Scanner");
    qvr::cfg::reset_switch_warnings_for_test();

    set_switch("WriteXML", "XML");
    set_switch("ReadXML", "OFF");
    qvr::cfg::warn_if_xml_only_unread("/q/tolva_3");
    qvr::cfg::warn_if_xml_only_unread("/q/tolva_3");
    set_switch("ReadXML", "ON");
    set_switch("WriteXML", "BIN");
    qvr_test::TempDir dir;
    qvr_test::write_file(dir / "config.xml", "<Configs/>");
    qvr::cfg::warn_if_stale_xml(dir.str().c_str(), (dir / "config.xml").string());
    qvr::cfg::warn_if_stale_xml(dir.str().c_str(), (dir / "config.xml").string());
    trace_Destroy();
    platform::set_debug_output_capture({});

    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("WriteXML is XML but ReadXML is OFF"), std::string::npos) << lines[0];
    EXPECT_NE(lines[1].find("WriteXML is BIN but ReadXML is ON"), std::string::npos) << lines[1];
}

}  // namespace
