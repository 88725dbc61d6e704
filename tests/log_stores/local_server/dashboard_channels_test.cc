// The dashboard channel set: menu and dashboard texts scanned, and the files found beside the
// logged data or in the product's web folder.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log_stores/local_server/dashboard_scan.h"
#include "log_stores/local_server/local_data_server.h"
#include "platform/registry_key.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/settings_testing.h"
#include "support/debug_capture.h"
#include "support/test_env.h"

namespace {

namespace fs = std::filesystem;
using log_stores::local::AddDashboardChannels;
using log_stores::local::ChannelKey;
using log_stores::local::LoadWebHmiChannels;
using log_stores::local::MenuItems;
using log_stores::local::SortUniqueKeys;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string key_text(const ChannelKey& key) {
    std::string text;
    for (const char c : key.prefix)
        if (c != '\0') text += c;
    return text + ":" + std::to_string(key.number);
}

std::vector<std::string> texts(const std::vector<ChannelKey>& keys) {
    std::vector<std::string> out;
    for (const auto& k : keys) out.push_back(key_text(k));
    return out;
}

std::vector<std::string> scanned(const std::string& dashboard, bool with_xchannels = true) {
    std::vector<ChannelKey> keys;
    AddDashboardChannels(dashboard, with_xchannels, keys);
    return texts(keys);
}

std::string channel(const std::string& prefix, const std::string& no) {
    return "<channel><prefix>" + prefix + "</prefix><no>" + no + "</no></channel>";
}

struct ScanCase {
    const char* what;
    std::string dashboard;
    std::vector<std::string> keys;
};

TEST(DashboardScan, ChannelElementsGiveTheirPrefixAndNumber) {
    const std::vector<ScanCase> cases = {
        {"one channel", channel("AI", "12"), {"AI:12"}},
        {"white space around both texts", "<channel>\r\n <prefix> DI </prefix>\r\n <no> 7 </no>\r\n</channel>",
         {"DI:7"}},
        {"a prefix longer than two: its first two", channel("AIX", "3"), {"AI:3"}},
        {"a one-letter prefix", channel("A", "3"), {"A:3"}},
        {"the highest number", channel("AI", "32767"), {"AI:32767"}},
        {"leading zeros", channel("AI", "007"), {"AI:7"}},
        {"an empty prefix", channel("", "12"), {}},
        {"an empty number", channel("AI", ""), {}},
        {"no number at all", "<channel><prefix>AI</prefix></channel>", {}},
        {"number 0", channel("AI", "0"), {}},
        {"number 40000", channel("AI", "40000"), {}},
        {"number 12x", channel("AI", "12x"), {}},
        {"a negative number", channel("AI", "-5"), {}},
        {"a signed number", channel("AI", "+5"), {}},
        {"a number beyond any integer", channel("AI", "99999999999999999999"), {}},
        {"<notes> is not <no>", "<channel><prefix>AI</prefix><notes>4</notes></channel>", {}},
        {"an element that closes itself", "<channel/>" + channel("AI", "2"), {"AI:2"}},
        {"attributes on the elements", "<channel id=\"4\"><prefix a=\"1\">AI</prefix><no b='2'>9</no></channel>",
         {"AI:9"}},
        {"a channel never closed", "<channel><prefix>AI</prefix><no>1</no>", {}},
        {"<channels> is not <channel>", "<channels><prefix>AI</prefix><no>1</no></channels>", {}},
        {"every channel in order, repeats kept",
         "<page>" + channel("DI", "1") + "<x/>" + channel("AI", "2") + channel("DI", "1") + "</page>",
         {"DI:1", "AI:2", "DI:1"}},
        {"one bad channel does not stop the scan", channel("AI", "x") + channel("AI", "5"), {"AI:5"}},
        {"XChannel too", "<XChannel><prefix>TC</prefix><no>4</no></XChannel>", {"TC:4"}},
        {"a truncated file", "<channel><prefix>AI</pre", {}},
        {"a prefix that begins with a NUL is empty", channel(std::string("\0AI", 3), "1"), {}},
        {"a prefix cut at its NUL", channel(std::string("A\0I", 3), "1"), {"A:1"}},
    };
    for (const ScanCase& c : cases) EXPECT_EQ(scanned(c.dashboard), c.keys) << c.what;
}

TEST(DashboardScan, XChannelsAreLeftOutWhenAsked) {
    const std::string dashboard = "<XChannel><prefix>TC</prefix><no>4</no></XChannel>" + channel("AI", "1");
    EXPECT_THAT(scanned(dashboard, false), ElementsAre("AI:1"));
    EXPECT_THAT(scanned(dashboard, true), ElementsAre("AI:1", "TC:4"));
}

TEST(DashboardScan, KeysAreSortedByPrefixIgnoringCaseThenNumberAndRepeatsGo) {
    std::vector<ChannelKey> keys;
    AddDashboardChannels(channel("di", "2") + channel("AI", "10") + channel("AI", "9") + channel("DI", "2") +
                             channel("ai", "9") + channel("A", "1"),
                         true, keys);
    SortUniqueKeys(keys);
    ASSERT_EQ(keys.size(), 4u);
    EXPECT_EQ(key_text(keys[0]), "A:1");
    EXPECT_EQ(keys[1].number, 9);
    EXPECT_EQ(key_text(keys[2]), "AI:10");
    EXPECT_EQ(keys[3].number, 2);
}

TEST(DashboardScan, MenuItemsNameTheDashboards) {
    const std::string menu =
        "<?xml version=\"1.0\"?><menu><Items><Item>kiln.xml</Item><Item> line &amp; press.xml </Item>"
        "<Item></Item><Item/><Item>sub\\area.xml</Item><Item>../../secret.xml</Item><Item>/etc/passwd</Item>"
        "<Item>a/../b.xml</Item><Item id=\"2\">last.xml</Item></Items></menu>";
    EXPECT_THAT(MenuItems(menu), ElementsAre("kiln.xml", "line & press.xml", "sub/area.xml", "last.xml"));
    EXPECT_THAT(MenuItems("<menu><Item>never closed"), ElementsAre("never closed"));
    EXPECT_THAT(MenuItems("<Item"), IsEmpty());
    EXPECT_THAT(MenuItems(""), IsEmpty());
}

// A site: <root>/LOGGED_DATA/<logger> with <root>/WEBHMI beside it, and the product's web
// folder elsewhere.
class DashboardFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::path(qvr_test::test_root()) / "site";
        data_ = root_ / "LOGGED_DATA" / "L1";
        fs::create_directories(data_);
        web_ = fs::path(qvr_test::test_root()) / "product_web";
        ::setenv("QVR_WEBHMI", web_.c_str(), 1);
    }

    static void write(const fs::path& path, const std::string& text) {
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string menu(const std::vector<std::string>& items) {
        std::string text = "<menu>";
        for (const auto& i : items) text += "<Item>" + i + "</Item>";
        return text + "</menu>";
    }

    fs::path root_, data_, web_;
    qvr_test::DebugCapture debug_;
};

TEST_F(DashboardFiles, TheMenuBesideTheLoggedDataListsTheDashboards) {
    write(root_ / "WEBHMI" / "menu.xml", menu({"one.xml", "two.xml"}));
    write(root_ / "WEBHMI" / "DASHBOARDS" / "one.xml", channel("DI", "1") + channel("AI", "3"));
    write(root_ / "WEBHMI" / "DASHBOARDS" / "two.xml", channel("AI", "3") + channel("AI", "1"));
    // The product's web folder has other files, not read while the site has its own.
    write(web_ / "menu.xml", menu({"one.xml"}));
    write(web_ / "DASHBOARDS" / "one.xml", channel("ZZ", "9"));

    const auto keys = LoadWebHmiChannels(data_.string());
    ASSERT_TRUE(keys.has_value());
    EXPECT_THAT(texts(*keys), ElementsAre("AI:1", "AI:3", "DI:1"));
    EXPECT_THAT(debug_.lines("WebHMIChannels"), ElementsAre("3 WebHMIChannels for " + data_.string() + "\r\n"));
}

TEST_F(DashboardFiles, TheProductWebFolderServesWhatTheSiteLacks) {
    // The site's menu names a dashboard only the product's folder has.
    write(root_ / "WEBHMI" / "menu.xml", menu({"shared.xml"}));
    write(web_ / "DASHBOARDS" / "shared.xml", channel("AI", "2"));
    auto keys = LoadWebHmiChannels(data_.string());
    ASSERT_TRUE(keys.has_value());
    EXPECT_THAT(texts(*keys), ElementsAre("AI:2"));

    // A data folder below no LOGGED_DATA takes the menu from the product's folder.
    const fs::path elsewhere = fs::path(qvr_test::test_root()) / "plain" / "L2";
    fs::create_directories(elsewhere);
    write(web_ / "menu.xml", menu({"shared.xml"}));
    keys = LoadWebHmiChannels(elsewhere.string());
    ASSERT_TRUE(keys.has_value());
    EXPECT_THAT(texts(*keys), ElementsAre("AI:2"));
}

TEST_F(DashboardFiles, AMissingMenuLeavesTheSetUnknown) {
    EXPECT_FALSE(LoadWebHmiChannels(data_.string()).has_value());
    EXPECT_THAT(debug_.lines("WebHMIChannels"),
                ElementsAre("Can't read menu file " + (web_ / "menu.xml").string() +
                            " to determine number of WebHMIChannels\r\n"));
}

TEST_F(DashboardFiles, AMissingDashboardIsNamedAndTheOthersStillCount) {
    write(root_ / "WEBHMI" / "menu.xml", menu({"gone.xml", "here.xml"}));
    write(root_ / "WEBHMI" / "DASHBOARDS" / "here.xml", channel("AI", "5"));
    const auto keys = LoadWebHmiChannels(data_.string());
    ASSERT_TRUE(keys.has_value());
    EXPECT_THAT(texts(*keys), ElementsAre("AI:5"));
    EXPECT_THAT(debug_.lines("WebHMIChannels"),
                ElementsAre("Can't read dashboard " + (web_ / "DASHBOARDS" / "gone.xml").string() +
                                " to determine number of WebHMIChannels\r\n",
                            "1 WebHMIChannels for " + data_.string() + "\r\n"));
}

TEST_F(DashboardFiles, DashboardsWithoutUsableChannelsGiveAnEmptySet) {
    write(root_ / "WEBHMI" / "menu.xml", menu({"empty.xml"}));
    write(root_ / "WEBHMI" / "DASHBOARDS" / "empty.xml",
          channel("", "1") + channel("AI", "") + channel("AI", "0") + channel("AI", "40000") + channel("AI", "12x"));
    const auto keys = LoadWebHmiChannels(data_.string());
    ASSERT_TRUE(keys.has_value());
    EXPECT_THAT(*keys, IsEmpty());
    EXPECT_THAT(debug_.lines("WebHMIChannels"), ElementsAre("No WebHMIChannels for " + data_.string() + "\r\n"));
}

TEST_F(DashboardFiles, TheRimvaleEditionIgnoresXChannels) {
    write(root_ / "WEBHMI" / "menu.xml", menu({"mixed.xml"}));
    write(root_ / "WEBHMI" / "DASHBOARDS" / "mixed.xml",
          "<XChannel><prefix>TC</prefix><no>4</no></XChannel>" + channel("AI", "1"));
    auto keys = LoadWebHmiChannels(data_.string());
    ASSERT_TRUE(keys.has_value());
    EXPECT_THAT(texts(*keys), ElementsAre("AI:1", "TC:4"));

    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey, platform::kKeyAllAccess,
                                            key),
              0);
    ASSERT_EQ(key.set_string("ProductName", "Rimvale"), 0);
    qvr::reset_product_settings_for_test();
    keys = LoadWebHmiChannels(data_.string());
    ASSERT_TRUE(keys.has_value());
    EXPECT_THAT(texts(*keys), ElementsAre("AI:1"));
    qvr::reset_product_settings_for_test();
}

TEST_F(DashboardFiles, AMenuFarTooLargeIsNotRead) {
    write(root_ / "WEBHMI" / "menu.xml", std::string(9u << 20, ' '));
    EXPECT_FALSE(LoadWebHmiChannels(data_.string()).has_value());
}

}  // namespace
