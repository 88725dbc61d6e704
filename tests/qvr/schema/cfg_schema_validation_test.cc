// The files the configuration store itself writes, through its save calls, against the
// schemas it writes beside them: new files, files saved part by part, ranges and channels
// that change layout.
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "config/cfg_test_support.h"
#include "plugins/test_plugin_records.h"
#include "qvr/config/cfg_channel_tables.h"
#include "qvr/config/cfg_device_config.h"
#include "schema_validation.h"

namespace {

namespace fs = std::filesystem;
using cfg_test::file_bytes;
using cfg_test::set_switch;
using qvr::AnalogFlag;
using qvr::ChannelKind;
using qvr::ChannelRecord;
using qvr::DigitalFlag;
using schema_test::validate;
using test_plugin::ChannelExtra;
using test_plugin::Config;
using test_plugin::ConfigExtra;

// Runs the current-folder calls in `dir` and goes back.
class InFolder {
  public:
    explicit InFolder(const std::string& dir) : before_(fs::current_path()) { fs::current_path(dir); }
    ~InFolder() { fs::current_path(before_); }
    InFolder(const InFolder&) = delete;
    InFolder& operator=(const InFolder&) = delete;

  private:
    fs::path before_;
};

class StoreFilesValidateTest : public cfg_test::ConfigTree {
  protected:
    fs::path schema(const std::string& name) { return config_ / "SCHEMA" / (name + ".xsd"); }
};

// ---- config.xml ----

// The calls that write a device's settings, each with the parts it saves.
enum class DeviceSave { everything, record_and_extra, record_in_cwd, autosave_in_cwd, auto_enable_in_cwd };

struct DeviceState {
    std::optional<Config> record;
    std::optional<ConfigExtra> extra;
    std::optional<std::uint8_t> auto_enable;
    std::optional<std::array<std::int32_t, 3>> autosave;
};

void save_device(const std::string& dir, DeviceSave how, int n, DeviceState& state) {
    Config c{};
    c.Station = static_cast<std::uint16_t>(n);
    c.Mode = 1;
    std::snprintf(c.Name, sizeof c.Name, "unit %d", n % 1000);  // the numbers used are small
    c.Rate = 100u + static_cast<std::uint32_t>(n);
    ConfigExtra x{static_cast<std::uint32_t>(2 * n), "note"};
    std::uint8_t enable = n % 2 == 0 ? 1 : 0;
    std::uint8_t outputs = 1, by_tag = 0;
    std::int32_t rate = 60 * n;
    switch (how) {
        case DeviceSave::everything:
            ASSERT_EQ(cfg_SaveDeviceConfig("ann", dir.c_str(), &c, sizeof c, &x, sizeof x, "dev.extra",
                                           &enable, &outputs, &by_tag, &rate),
                      0);
            state = {c, x, enable, std::array{std::int32_t{outputs}, std::int32_t{by_tag}, rate}};
            break;
        case DeviceSave::record_and_extra:
            ASSERT_EQ(
                cfg_SaveDeviceConfigAndExtra("ann", dir.c_str(), &c, sizeof c, &x, sizeof x, "dev.extra"), 0);
            state.record = c;
            state.extra = x;
            break;
        case DeviceSave::record_in_cwd: {
            InFolder in(dir);
            ASSERT_EQ(cfg_SaveDeviceConfigFromCwd(&c, sizeof c), 0);
            state.record = c;
            break;
        }
        case DeviceSave::autosave_in_cwd: {
            InFolder in(dir);
            ASSERT_EQ(cfg_SaveAutosaveSettingsInCwd(outputs, by_tag, rate), 0);
            state.autosave = std::array{std::int32_t{outputs}, std::int32_t{by_tag}, rate};
            break;
        }
        case DeviceSave::auto_enable_in_cwd: {
            InFolder in(dir);
            ASSERT_EQ(cfg_SaveAutoEnableInCwd(enable), 0);
            state.auto_enable = enable;
            break;
        }
    }
}

TEST_F(StoreFilesValidateTest, EveryDeviceSaveLeavesAConfigFileItsSchemaAccepts) {
    struct Case {
        const char* name;
        std::vector<DeviceSave> saves;
    };
    using enum DeviceSave;
    const Case cases[] = {
        {"everything at once", {everything}},
        {"record and extra on a new device", {record_and_extra}},
        {"the record alone on a new device", {record_in_cwd}},
        {"the header after the record", {record_and_extra, autosave_in_cwd, auto_enable_in_cwd}},
        {"AutoEnable before the record", {auto_enable_in_cwd, record_in_cwd}},
        {"the autosave settings first, everything last", {autosave_in_cwd, record_and_extra, everything}},
        {"everything, then parts again", {everything, record_in_cwd, auto_enable_in_cwd, record_and_extra}},
    };
    int n = 0;
    for (const char* mode : {"XML", "BOTH"}) {
        set_switch("WriteXML", mode);
        set_switch("ReadXML", "ON");
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(mode) + ": " + c.name);
            const std::string name = "tvall_" + std::to_string(++n);
            const std::string dir = device(name);
            DeviceState state;
            for (DeviceSave how : c.saves) save_device(dir, how, ++n, state);
            const fs::path xml = fs::path(dir) / "config.xml";
            EXPECT_EQ(validate(xml, schema("tvall")), "") << file_bytes(xml);

            // What was saved reads back; a part never saved is still missing.
            Config record{};
            ConfigExtra extra{};
            std::uint8_t enable = 9;
            std::uint8_t outputs = 9, by_tag = 9;
            std::int32_t rate = -1;
            ASSERT_EQ(
                cfg_LoadDeviceConfig(dir.c_str(), &record, sizeof record, state.extra ? &extra : nullptr,
                                     sizeof extra, "dev.extra", nullptr, nullptr, nullptr, nullptr),
                0)
                << sink_.last();
            EXPECT_EQ(std::memcmp(&record, &*state.record, sizeof record), 0);
            if (state.extra) {
                EXPECT_EQ(extra.Spare, state.extra->Spare);
            }
            const int enable_rc = cfg_LoadDeviceConfig(dir.c_str(), nullptr, 0, nullptr, 0, nullptr, &enable,
                                                       nullptr, nullptr, nullptr);
            const int autosave_rc = cfg_LoadDeviceConfig(dir.c_str(), nullptr, 0, nullptr, 0, nullptr,
                                                         nullptr, &outputs, &by_tag, &rate);
            EXPECT_EQ(enable_rc == 0, state.auto_enable.has_value());
            EXPECT_EQ(autosave_rc == 0, state.autosave.has_value());
            if (!state.autosave) {
                EXPECT_EQ(sink_.last(), name + "Dev/Proc Config - <SaveOutputs> tag not found");
            }
            if (state.auto_enable) {
                EXPECT_EQ(enable, *state.auto_enable);
            }
            if (state.autosave) {
                EXPECT_EQ((std::array<std::int32_t, 3>{outputs, by_tag, rate}), *state.autosave);
            }
        }
    }
}

// Each header setting, the record and the extra record may be missing from a file, as the
// saves write only what they are given; but a record that is there is whole, and every
// element stands in its place.
TEST_F(StoreFilesValidateTest, TheDeviceSchemaStillRejectsBrokenPartsAndOrder) {
    set_switch("WriteXML", "XML");
    const std::string dir = device("tvall_1");
    DeviceState state;
    save_device(dir, DeviceSave::everything, 1, state);
    const fs::path xml = fs::path(dir) / "config.xml";
    ASSERT_EQ(validate(xml, schema("tvall")), "");
    const std::string whole = file_bytes(xml);
    auto cut = [&](const std::string& element) {
        std::string text = whole;
        const std::size_t from = text.find("<" + element + ">");
        const std::size_t to = text.find("\n", text.find("</" + element + ">"));
        text.erase(from, to + 1 - from);
        return text;
    };
    auto swap = [&](const std::string& first, const std::string& second) {
        std::string text = whole;
        const std::size_t a = text.find("<" + first + ">");
        const std::size_t a_end = text.find("</" + first + ">") + first.size() + 3;
        const std::size_t b = text.find("<" + second + ">");
        const std::size_t b_end = text.find("</" + second + ">") + second.size() + 3;
        const std::string one = text.substr(a, a_end - a), two = text.substr(b, b_end - b);
        text.replace(b, b_end - b, one);
        text.replace(a, a_end - a, two);
        return text;
    };
    const std::string broken[] = {cut("Rate"), cut("Note"), swap("SaveRate", "Station"),
                                  swap("AutoEnable", "SaveOutputs"), swap("Name", "Spare")};
    for (const std::string& text : broken) {
        qvr_test::write_file(xml, text);
        EXPECT_NE(validate(xml, schema("tvall")), "") << text;
    }
}

// ---- Channel tables ----

// A channel with a few fields of its layout set, its hardware address upper case as the
// plug-in stores it.
ChannelRecord channel(ChannelKind kind, int n) {
    ChannelRecord r = cfg_test::channel(kind, ("CH" + std::to_string(n)).c_str());
    if (qvr::is_digital(kind)) {
        r.digital.Flags.set(DigitalFlag::AlarmEnable, true);
        std::strcpy(r.digital.HighStateText, "RUNNING");
        r.digital.AlarmDelay = static_cast<std::uint16_t>(n);
        std::memcpy(r.digital.Digital + 1, "B3:1", 4);
    } else {
        r.analog.Flags.set(AnalogFlag::HighAlarmEnable, true);
        r.analog.HighAlarmLimit = 95.5f + static_cast<float>(n);
        std::strcpy(r.analog.HighAlarmText, "too hot");
        std::memcpy(r.analog.Analogue + 1, "N7:10", 5);
    }
    return r;
}

// One save of a range of channels of the table.
struct ChannelSave {
    int first;
    std::vector<ChannelKind> layouts;  // one channel of each, in order
    bool extra;
    bool update;
};

TEST_F(StoreFilesValidateTest, EveryChannelSaveLeavesATableItsSchemaAccepts) {
    struct Case {
        const char* name;
        int kind;
        std::vector<ChannelSave> saves;
    };
    constexpr auto AI = ChannelKind::AI, DI = ChannelKind::DI, AO = ChannelKind::AO, DO = ChannelKind::DO,
                   CI = ChannelKind::CI;
    const Case cases[] = {
        {"a mixed table with extra data", 0, {{0, {AI, DI, AI}, true, false}}},
        {"a table without extra data", 0, {{0, {AI, AI}, false, false}}},
        {"analog to digital in place", 0, {{0, {AI, AI, AI}, true, false}, {1, {DI}, true, true}}},
        {"digital to analog without extra data", 0, {{0, {DI, AI}, true, false}, {0, {AI}, false, true}}},
        {"both ways in one range", 0, {{0, {AI, DI, AI}, false, false}, {0, {DI, AI, DI}, true, true}}},
        {"extra data added by an update", 0, {{0, {AI, AI}, false, false}, {1, {DI, AI, AI}, true, true}}},
        {"a range past the end", 1, {{0, {DI, DI}, true, false}, {4, {DO, DI}, false, true}}},
        {"a rewrite after updates",
         0,
         {{0, {AI, AI}, true, false}, {1, {DI}, true, true}, {0, {DI, DI}, false, false}}},
        {"output channels", 2, {{0, {AO, AO}, true, false}, {1, {AO}, false, true}}},
        {"digital outputs", 3, {{0, {DO, DO}, false, false}, {0, {DO}, true, true}}},
        {"counters", 4, {{0, {CI, CI, CI}, true, true}, {2, {CI}, true, true}}},
    };
    int n = 0;
    for (const char* mode : {"XML", "BOTH"}) {
        set_switch("WriteXML", mode);
        set_switch("ReadXML", "ON");
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(mode) + ": " + c.name);
            const std::string dir = device("tvall_" + std::to_string(++n));
            std::map<int, ChannelRecord> table;
            for (const ChannelSave& s : c.saves) {
                std::vector<ChannelRecord> records;
                std::vector<ChannelExtra> extra;
                for (ChannelKind layout : s.layouts) {
                    records.push_back(channel(layout, ++n));
                    extra.push_back({0.5f * static_cast<float>(n), static_cast<std::uint16_t>(n)});
                }
                if (!s.update) table.clear();
                for (std::size_t i = 0; i < records.size(); ++i)
                    table[s.first + static_cast<int>(i)] = records[i];
                const auto count = static_cast<int>(records.size());
                ASSERT_EQ(
                    cfg_SaveChannels("ann", dir.c_str(), c.kind, records.data(), s.first, count,
                                     s.extra ? extra.data() : nullptr,
                                     s.extra ? static_cast<std::int32_t>(count * sizeof(ChannelExtra)) : 0,
                                     s.extra ? "tvall.chx" : nullptr, s.update ? 1 : 0),
                    0)
                    << sink_.last();
            }
            const std::string word = cfg_ChannelKindName(c.kind);
            const fs::path xml = fs::path(dir) / (word + ".xml");
            EXPECT_EQ(validate(xml, schema("tvall_" + word)), "") << file_bytes(xml);
            for (const auto& [index, expected] : table) {
                ChannelRecord back{};
                ASSERT_EQ(cfg_LoadChannels(dir.c_str(), c.kind, &back, index, 1, nullptr, 0, nullptr), 0)
                    << sink_.last();
                EXPECT_EQ(back, expected) << "channel " << index + 1;
            }
        }
    }
}

}  // namespace

// Only the old layout's elements go: the extra data this save did not write and an element
// someone added stay.
TEST_F(StoreFilesValidateTest, AChannelThatChangesLayoutKeepsWhatIsNotItsLayout) {
    set_switch("WriteXML", "XML");
    set_switch("ReadXML", "ON");
    const std::string dir = device("tvall_1");
    const std::vector<ChannelRecord> analog = {channel(ChannelKind::AI, 1), channel(ChannelKind::AI, 2)};
    const std::vector<ChannelExtra> extra = {{1.5f, 11}, {2.5f, 22}};
    ASSERT_EQ(cfg_SaveChannelsRewrite(nullptr, dir.c_str(), 0, analog.data(), 0, 2, extra.data(),
                                      2 * sizeof(ChannelExtra), "tvall.chx"),
              0);
    const fs::path xml = fs::path(dir) / "ai.xml";
    std::string text = file_bytes(xml);
    text.insert(text.find("</Channel>"), "<Remark>by hand</Remark>");
    qvr_test::write_file(xml, text);

    const ChannelRecord digital = channel(ChannelKind::DI, 3);
    ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 0, &digital, 0, 1, nullptr, 0, nullptr), 0);
    text = file_bytes(xml);
    const std::string first = text.substr(0, text.find("</Channel>"));
    for (const char* gone : {"<LowEventLimit>", "<Units>", "<HighAlarmText>", "<Analogue."})
        EXPECT_EQ(first.find(gone), std::string::npos) << gone << " in\n" << first;
    EXPECT_NE(first.find("<Digital.Address>b3:1</Digital.Address>"), std::string::npos) << first;
    EXPECT_LT(first.find("<Digital.Bit>"), first.find("<Scale>1.5</Scale>"))
        << "extra data behind the layout";
    EXPECT_NE(first.find("<Remark>by hand</Remark>"), std::string::npos) << first;

    std::vector<ChannelRecord> back(2);
    std::vector<ChannelExtra> extra_back(2);
    ASSERT_EQ(cfg_LoadChannels(dir.c_str(), 0, back.data(), 0, 2, extra_back.data(), 2 * sizeof(ChannelExtra),
                               "tvall.chx"),
              0)
        << sink_.last();
    EXPECT_EQ(back[0], digital);
    EXPECT_EQ(back[1], analog[1]);
    EXPECT_EQ(extra_back[0].Scale, 1.5f);
    EXPECT_EQ(extra_back[0].Code, 11);
}

// Extra data whose element is named like a field of the old layout is extra data all the
// same: only the old layout's own elements go.
TEST_F(StoreFilesValidateTest, ExtraDataNamedLikeAnOldLayoutFieldStaysOnALayoutChange) {
    set_switch("WriteXML", "XML");
    set_switch("ReadXML", "ON");
    struct NamedLikeLayout {
        NamedLikeLayout() { setenv("TVALL_EXTRA_NAMED_LIKE_LAYOUT", "1", 1); }
        ~NamedLikeLayout() { unsetenv("TVALL_EXTRA_NAMED_LIKE_LAYOUT"); }
    } named_like_layout;
    const std::string dir = device("tvall_1");
    std::vector<ChannelRecord> analog = {channel(ChannelKind::AI, 1), channel(ChannelKind::AI, 2)};
    analog[0].analog.Gain = 7.25f;
    const std::vector<ChannelExtra> extra = {{1.5f, 11}, {2.5f, 22}};
    ASSERT_EQ(cfg_SaveChannelsRewrite(nullptr, dir.c_str(), 0, analog.data(), 0, 2, extra.data(),
                                      2 * sizeof(ChannelExtra), "tvall.chx"),
              0);
    const fs::path xml = fs::path(dir) / "ai.xml";
    std::string text = file_bytes(xml);
    std::string first = text.substr(0, text.find("</Channel>"));
    ASSERT_NE(first.find("<Gain>7.25</Gain>"), std::string::npos) << first;
    ASSERT_NE(first.find("<Gain>1.5</Gain>"), std::string::npos) << first;

    const ChannelRecord digital = channel(ChannelKind::DI, 3);
    ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 0, &digital, 0, 1, nullptr, 0, nullptr), 0);
    text = file_bytes(xml);
    first = text.substr(0, text.find("</Channel>"));
    EXPECT_EQ(first.find("<Gain>7.25</Gain>"), std::string::npos) << "the old layout's field stays\n"
                                                                  << first;
    EXPECT_NE(first.find("<Gain>1.5</Gain>"), std::string::npos) << "the extra data went\n" << first;
    EXPECT_LT(first.find("<Digital.Bit>"), first.find("<Gain>1.5</Gain>")) << "extra data behind the layout";

    std::vector<ChannelRecord> back(2);
    std::vector<ChannelExtra> extra_back(2);
    ASSERT_EQ(cfg_LoadChannels(dir.c_str(), 0, back.data(), 0, 2, extra_back.data(), 2 * sizeof(ChannelExtra),
                               "tvall.chx"),
              0)
        << sink_.last();
    EXPECT_EQ(back[0], digital);
    EXPECT_EQ(back[1], analog[1]);
    EXPECT_EQ(extra_back[0].Scale, 1.5f);
    EXPECT_EQ(extra_back[0].Code, 11);
}
