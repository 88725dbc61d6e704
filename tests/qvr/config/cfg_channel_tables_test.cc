// Channel tables as binary files and as XML, with the real plug-in (binary only) and the
// test plug-ins: round trips of every kind, ranges, required elements, extra data, audit.
#include "qvr/config/cfg_channel_tables.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cfloat>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "cfg_test_support.h"
#include "plugins/test_plugin_records.h"
#include "qvr/records/channel_record_types.h"

namespace {

namespace fs = std::filesystem;
using cfg_test::audit_entry;
using cfg_test::channel;
using cfg_test::file_bytes;
using cfg_test::remove_switch;
using cfg_test::set_edition;
using cfg_test::set_switch;
using qvr::AnalogFlag;
using qvr::ChannelKind;
using qvr::ChannelRecord;
using qvr::DigitalFlag;
using test_plugin::ChannelExtra;

constexpr ChannelKind kKinds[] = {ChannelKind::AI, ChannelKind::DI, ChannelKind::AO, ChannelKind::DO,
                                  ChannelKind::CI};

// A channel that sets many fields of its layout; its hardware address is upper case, as the
// test plug-in stores it.
ChannelRecord full_channel(ChannelKind kind, int n) {
    ChannelRecord r = channel(kind, ("CH" + std::to_string(n)).c_str());
    if (qvr::is_digital(kind)) {
        r.digital.Flags.set(DigitalFlag::AlarmEnable, true);
        r.digital.Flags.set(DigitalFlag::AlarmState, true);
        std::strcpy(r.digital.HighStateText, "RUNNING");
        std::strcpy(r.digital.LowStateText, "STOPPED");
        std::strcpy(r.digital.AlarmText, "tripped");
        r.digital.AlarmPriority = 3;
        r.digital.AlarmDelay = 12;
        r.digital.Digital[0] = static_cast<std::uint8_t>(n);
        std::memcpy(r.digital.Digital + 1, "B3:1", 4);
        r.digital.Digital[9] = 5;
    } else {
        r.analog.Flags.set(AnalogFlag::EventEnable, true);
        r.analog.Flags.set(AnalogFlag::ScalingEnable, true);
        r.analog.Flags.set(AnalogFlag::HighAlarmEnable, true);
        r.analog.Gain = 0.1f;
        r.analog.Offset = -40.0f;
        r.analog.LowEventLimit = -FLT_MAX;
        r.analog.HighEventLimit = FLT_MAX;  // a limit kept at the largest float
        r.analog.HighAlarmLimit = 95.5f;
        r.analog.MaximumUnits = 1e30f;
        r.analog.HighAlarmPriority = 2;
        r.analog.HighAlarmDelay = 7;
        std::strcpy(r.analog.HighAlarmText, "too hot");
        r.analog.Analogue[0] = static_cast<std::uint8_t>(n);
        std::memcpy(r.analog.Analogue + 1, "N7:10", 5);
        r.analog.Analogue[10] = 2;  // Words
    }
    return r;
}

std::vector<ChannelRecord> table(ChannelKind kind, int count, int from = 1) {
    std::vector<ChannelRecord> records;
    for (int i = 0; i < count; ++i) records.push_back(full_channel(kind, from + i));
    return records;
}

std::string record_bytes(const std::vector<ChannelRecord>& records) {
    return std::string(reinterpret_cast<const char*>(records.data()), records.size() * sizeof(ChannelRecord));
}

// Where the element `name` ("<name>text</name>" or "<name/>") stands in the XML text.
std::pair<std::size_t, std::size_t> element_span(const std::string& xml, const std::string& name) {
    const std::size_t empty = xml.find("<" + name + "/>");
    if (empty != std::string::npos) return {empty, empty + name.size() + 3};
    const std::size_t open = xml.find("<" + name + ">");
    if (open == std::string::npos) return {std::string::npos, std::string::npos};
    const std::string close = "</" + name + ">";
    return {open, xml.find(close, open) + close.size()};
}
// The XML text with the element `name` taken out.
std::string without(std::string xml, const std::string& name) {
    const auto [from, to] = element_span(xml, name);
    if (from != std::string::npos) xml.erase(from, to - from);
    return xml;
}
// The XML text with the element's value replaced.
std::string with(std::string xml, const std::string& name, const std::string& value) {
    const auto [from, to] = element_span(xml, name);
    if (from != std::string::npos) xml.replace(from, to - from, "<" + name + ">" + value + "</" + name + ">");
    return xml;
}

class ChannelTablesTest : public cfg_test::ConfigTree {
  protected:
    void xml_on() {
        set_switch("WriteXML", "XML");
        set_switch("ReadXML", "ON");
    }
};

TEST_F(ChannelTablesTest, EveryKindRoundTripsThroughItsBinaryTable) {
    const std::string dir = device("tolva_3");
    for (ChannelKind kind : kKinds) {
        const int k = static_cast<int>(kind);
        SCOPED_TRACE(cfg_ChannelKindName(k));
        const std::vector<ChannelRecord> records = table(kind, 3);
        ASSERT_EQ(cfg_SaveChannelsUpdate("ann", dir.c_str(), k, records.data(), 0, 3, nullptr, 0, nullptr),
                  0);
        const std::string file = file_bytes(fs::path(dir) / cfg_ChannelKindName(k));
        ASSERT_EQ(file.size(), 8 + 3 * 216u);
        EXPECT_NE(file.substr(0, 4), std::string(4, '\0')) << "the time of the write";
        EXPECT_EQ(file.substr(8), record_bytes(records));
        std::vector<ChannelRecord> back(3);
        ASSERT_EQ(cfg_LoadChannels(dir.c_str(), k, back.data(), 0, 3, nullptr, 0, nullptr), 0);
        EXPECT_EQ(record_bytes(back), record_bytes(records));
    }
    EXPECT_STREQ(cfg_ChannelKindName(5), "dc");
    EXPECT_STREQ(cfg_ChannelKindName(6), "dc");
    EXPECT_STREQ(cfg_ChannelKindName(7), "");
}

TEST_F(ChannelTablesTest, EveryKindRoundTripsThroughItsXmlTableWithExtraData) {
    xml_on();
    const std::string dir = device("tvall_1");
    for (ChannelKind kind : kKinds) {
        const int k = static_cast<int>(kind);
        SCOPED_TRACE(cfg_ChannelKindName(k));
        const std::vector<ChannelRecord> records = table(kind, 4);
        std::vector<ChannelExtra> extra;
        for (int i = 0; i < 4; ++i)
            extra.push_back({1.5f * static_cast<float>(i), static_cast<std::uint16_t>(1000 + i)});
        ASSERT_EQ(
            cfg_SaveChannelsRewrite("ann", dir.c_str(), k, records.data(), 0, 4, extra.data(),
                                    static_cast<int32_t>(extra.size() * sizeof(ChannelExtra)), "tvall.chx"),
            0)
            << sink_.last();
        EXPECT_FALSE(fs::exists(fs::path(dir) / cfg_ChannelKindName(k))) << "XML only";
        std::vector<ChannelRecord> back(4);
        std::vector<ChannelExtra> extra_back(4, ChannelExtra{9, 9});
        ASSERT_EQ(
            cfg_LoadChannels(dir.c_str(), k, back.data(), 0, 4, extra_back.data(),
                             static_cast<int32_t>(extra_back.size() * sizeof(ChannelExtra)), "tvall.chx"),
            0)
            << sink_.last();
        EXPECT_EQ(record_bytes(back), record_bytes(records));
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(extra_back[i].Scale, extra[i].Scale);
            EXPECT_EQ(extra_back[i].Code, extra[i].Code);
        }
        const std::string xml = file_bytes(fs::path(dir) / (std::string(cfg_ChannelKindName(k)) + ".xml"));
        EXPECT_NE(xml.find("<Channel id=\"4\">"), std::string::npos) << xml;
        EXPECT_NE(xml.find(qvr::is_digital(kind) ? "<Digital.Address>b3:1</Digital.Address>"
                                                 : "<Analogue.Address>n7:10</Analogue.Address>"),
                  std::string::npos)
            << "written through the plug-in's undecorated form";
        EXPECT_NE(xml.find("<Code>2</Code>"), std::string::npos) << xml;
    }
    EXPECT_TRUE(fs::exists(config_ / "SCHEMA" / "tvall_ai.xsd"));
}

TEST_F(ChannelTablesTest, EachSwitchSettingWritesAndReadsItsForms) {
    enum class Reads { binary, xml, nothing };
    struct Case {
        const char* edition;
        const char* write;  // null: not set
        const char* read;
        bool binary;
        bool xml;
        Reads reads;
    };
    const Case cases[] = {
        {"Quorvane", "BOTH", "OFF", true, true, Reads::binary},
        {"Quorvane", "BOTH", "ON", true, true, Reads::xml},
        {"Quorvane", "XML", "OFF", false, true, Reads::nothing},
        {"Rimvale", nullptr, nullptr, false, true, Reads::xml},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.edition) + " " + (c.write ? c.write : "-") + "/" +
                     (c.read ? c.read : "-"));
        set_edition(c.edition);
        for (const auto& [name, value] : {std::pair{"WriteXML", c.write}, std::pair{"ReadXML", c.read}}) {
            if (value != nullptr)
                set_switch(name, value);
            else
                remove_switch(name);
        }
        const std::string dir = device("tvall_" + std::to_string(++n));
        const std::vector<ChannelRecord> records = table(ChannelKind::AI, 3);
        ASSERT_EQ(cfg_SaveChannelsRewrite("ann", dir.c_str(), 0, records.data(), 0, 3, nullptr, 0, nullptr),
                  0)
            << sink_.last();
        EXPECT_EQ(fs::exists(fs::path(dir) / "ai"), c.binary);
        const fs::path xml = fs::path(dir) / "ai.xml";
        EXPECT_EQ(fs::exists(xml), c.xml);
        // The two forms told apart: the XML table's first channel gets another tag.
        std::vector<ChannelRecord> expected = records;
        if (c.xml) {
            qvr_test::write_file(xml, with(file_bytes(xml), "Tag", "FROMXML"));
            if (c.reads == Reads::xml) qvr::split_text(expected[0], qvr::ChannelText::Tag, "FROMXML");
        }
        std::vector<ChannelRecord> back(3);
        const int rc = cfg_LoadChannels(dir.c_str(), 0, back.data(), 0, 3, nullptr, 0, nullptr);
        if (c.reads == Reads::nothing) {
            EXPECT_EQ(rc, -1) << "the binary table is read and there is none";
            EXPECT_EQ(errno, ENOENT);
        } else {
            ASSERT_EQ(rc, 0) << sink_.last();
            EXPECT_EQ(record_bytes(back), record_bytes(expected));
        }
    }
}

TEST_F(ChannelTablesTest, TheLargestFloatIsWrittenAndReadBack) {
    xml_on();
    const std::string dir = device("tvall_1");
    const ChannelRecord r = full_channel(ChannelKind::AI, 1);
    ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 0, &r, 0, 1, nullptr, 0, nullptr), 0);
    const std::string xml = file_bytes(fs::path(dir) / "ai.xml");
    EXPECT_NE(xml.find("<HighEventLimit>3.402823466385289e+38</HighEventLimit>"), std::string::npos) << xml;
    ChannelRecord back{};
    ASSERT_EQ(cfg_LoadChannels(dir.c_str(), 0, &back, 0, 1, nullptr, 0, nullptr), 0) << sink_.last();
    EXPECT_EQ(back.analog.HighEventLimit, FLT_MAX);
    EXPECT_EQ(back.analog.LowEventLimit, -FLT_MAX);
}

TEST_F(ChannelTablesTest, ABinaryRangeSaveRewritesTheTableAroundIt) {
    const std::string dir = device("tolva_3");
    const std::vector<ChannelRecord> old = table(ChannelKind::AI, 6);
    ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 0, old.data(), 0, 6, nullptr, 0, nullptr), 0);
    std::string before = file_bytes(fs::path(dir) / "ai");
    before.replace(0, 8, std::string(8, '\0'));
    qvr_test::write_file(fs::path(dir) / "ai", before);

    const std::vector<ChannelRecord> changed = table(ChannelKind::AI, 2, 40);
    ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 0, changed.data(), 3, 2, nullptr, 0, nullptr), 0);
    const std::string after = file_bytes(fs::path(dir) / "ai");
    ASSERT_EQ(after.size(), before.size());
    EXPECT_NE(after.substr(0, 8), std::string(8, '\0')) << "the header time is refreshed";
    EXPECT_EQ(after.substr(8, 3 * 216), before.substr(8, 3 * 216));
    EXPECT_EQ(after.substr(8 + 3 * 216, 432), record_bytes(changed)) << "432 bytes at 8 + 3 x 216";
    EXPECT_EQ(after.substr(8 + 5 * 216), before.substr(8 + 5 * 216));

    // Past the end: the gap reads as zero channels.
    ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 0, changed.data(), 8, 2, nullptr, 0, nullptr), 0);
    const std::string longer = file_bytes(fs::path(dir) / "ai");
    ASSERT_EQ(longer.size(), 8 + 10 * 216u);
    EXPECT_EQ(longer.substr(8 + 6 * 216, 2 * 216), std::string(2 * 216, '\0'));
    EXPECT_EQ(longer.substr(8 + 8 * 216), record_bytes(changed));

    // No channels past the end: the table gains none.
    ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 0, nullptr, 20, 0, nullptr, 0, nullptr), 0);
    EXPECT_EQ(file_bytes(fs::path(dir) / "ai").size(), longer.size());
    ChannelRecord beyond{};
    EXPECT_EQ(cfg_LoadChannels(dir.c_str(), 0, &beyond, 19, 1, nullptr, 0, nullptr), -1);
    EXPECT_EQ(errno, 38);
}

TEST_F(ChannelTablesTest, AShortBinaryTableFailsWithEndOfFile) {
    const std::string dir = device("tolva_3");
    const std::vector<ChannelRecord> records = table(ChannelKind::DO, 2);
    ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 3, records.data(), 0, 2, nullptr, 0, nullptr), 0);
    std::vector<ChannelRecord> back(3, full_channel(ChannelKind::DI, 9));
    EXPECT_EQ(cfg_LoadChannels(dir.c_str(), 3, back.data(), 0, 3, nullptr, 0, nullptr), -1);
    EXPECT_EQ(errno, 38);
    EXPECT_EQ(back[2], ChannelRecord{}) << "what the table lacks reads as zero";
    EXPECT_EQ(cfg_LoadChannels(dir.c_str(), 1, back.data(), 0, 1, nullptr, 0, nullptr), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST_F(ChannelTablesTest, InvalidRequestsAreRefused) {
    const std::string dir = device("tolva_3");
    ChannelRecord r{};
    struct Case {
        int kind, first, count;
        const char* extra_file;
    } cases[] = {{7, 0, 1, nullptr},  {-1, 0, 1, nullptr}, {0, -1, 1, nullptr},
                 {0, 0, -2, nullptr}, {0, 0, 1, "../x"},   {0, 2147483647, 1, nullptr}};
    for (const Case& c : cases) {
        errno = 99;
        EXPECT_EQ(cfg_LoadChannels(dir.c_str(), c.kind, &r, c.first, c.count, &r, 4, c.extra_file), -1);
        EXPECT_EQ(errno, 0);
        EXPECT_EQ(
            cfg_SaveChannels(nullptr, dir.c_str(), c.kind, &r, c.first, c.count, &r, 4, c.extra_file, 1), -1);
        EXPECT_EQ(errno, 0);
    }
    EXPECT_EQ(cfg_SaveChannels(nullptr, dir.c_str(), 0, &r, 5000000, 1, nullptr, 0, nullptr, 1), -1)
        << "a table beyond any real size";
}

TEST_F(ChannelTablesTest, XmlUpdateKeepsOtherChannelsAndRewriteStartsAnew) {
    xml_on();
    const std::string dir = device("tvall_1");
    const std::vector<ChannelRecord> three = table(ChannelKind::AO, 3);
    ASSERT_EQ(cfg_SaveChannelsRewrite(nullptr, dir.c_str(), 2, three.data(), 0, 3, nullptr, 0, nullptr), 0);
    const std::vector<ChannelRecord> one = table(ChannelKind::AO, 1, 50);
    ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 2, one.data(), 1, 1, nullptr, 0, nullptr), 0);
    ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 2, one.data(), 4, 1, nullptr, 0, nullptr), 0);
    std::vector<ChannelRecord> back(5);
    ASSERT_EQ(cfg_LoadChannels(dir.c_str(), 2, back.data(), 0, 5, nullptr, 0, nullptr), 0) << sink_.last();
    EXPECT_EQ(back[0], three[0]);
    EXPECT_EQ(back[1], one[0]);
    EXPECT_EQ(back[2], three[2]);
    EXPECT_EQ(back[4], one[0]) << "appended past the end";
    const std::string xml = file_bytes(fs::path(dir) / "ao.xml");
    EXPECT_EQ(xml.find("CH2"), std::string::npos) << "channel 2 replaced, not added";

    ASSERT_EQ(cfg_SaveChannelsRewrite(nullptr, dir.c_str(), 2, one.data(), 1, 1, nullptr, 0, nullptr), 0);
    EXPECT_EQ(cfg_LoadChannels(dir.c_str(), 2, back.data(), 0, 1, nullptr, 0, nullptr), -1);
    EXPECT_EQ(sink_.last(), "tvall_1ao Channel #1 - Channel id=1 Not Found");
    ASSERT_EQ(cfg_LoadChannels(dir.c_str(), 2, back.data(), 1, 1, nullptr, 0, nullptr), 0);
    EXPECT_EQ(back[0], one[0]);
}

TEST_F(ChannelTablesTest, AMissingLaterChannelIsEmptyOfTheTablesKind) {
    xml_on();
    const std::string dir = device("tvall_1");
    std::vector<ChannelRecord> ten = table(ChannelKind::DO, 10);
    ASSERT_EQ(cfg_SaveChannelsRewrite(nullptr, dir.c_str(), 3, ten.data(), 0, 10, nullptr, 0, nullptr), 0);
    const fs::path file = fs::path(dir) / "do.xml";
    const std::string xml = file_bytes(file);
    const std::size_t from = xml.find("<Channel id=\"5\">");
    const std::size_t to = xml.find("</Channel>", from) + std::strlen("</Channel>");
    qvr_test::write_file(file, xml.substr(0, from) + xml.substr(to));
    std::vector<ChannelRecord> back(10);
    ASSERT_EQ(cfg_LoadChannels(dir.c_str(), 3, back.data(), 0, 10, nullptr, 0, nullptr), 0) << sink_.last();
    ChannelRecord empty{};
    empty.head.Type = ChannelKind::DO;
    EXPECT_EQ(back[4], empty);
    for (int i : {0, 3, 5, 9}) EXPECT_EQ(back[i], ten[i]) << i;

    // The missing channel's extra share starts empty, not with the channel before it.
    std::vector<ChannelExtra> extra(10, ChannelExtra{2.5f, 1007});
    ASSERT_EQ(cfg_SaveChannelsRewrite(nullptr, dir.c_str(), 3, ten.data(), 0, 10, extra.data(),
                                      static_cast<int32_t>(extra.size() * sizeof(ChannelExtra)), "tvall.chx"),
              0);
    const std::string with_extra = file_bytes(file);
    const std::size_t cut = with_extra.find("<Channel id=\"5\">");
    qvr_test::write_file(
        file, with_extra.substr(0, cut) +
                  with_extra.substr(with_extra.find("</Channel>", cut) + std::strlen("</Channel>")));
    std::vector<ChannelExtra> extra_back(10, ChannelExtra{9, 9});
    ASSERT_EQ(cfg_LoadChannels(dir.c_str(), 3, back.data(), 0, 10, extra_back.data(),
                               static_cast<int32_t>(extra_back.size() * sizeof(ChannelExtra)), "tvall.chx"),
              0)
        << sink_.last();
    EXPECT_EQ(extra_back[3].Code, 1007);
    EXPECT_EQ(extra_back[4].Scale, 0.0f);
    EXPECT_EQ(extra_back[4].Code, 1000) << "the plug-in's stored form of an empty share";
    EXPECT_EQ(extra_back[5].Code, 1007);
}

TEST_F(ChannelTablesTest, AChannelWithoutTypeTakesTheTablesKind) {
    set_switch("ReadXML", "ON");
    const std::string dir = device("tvall_1");
    struct Case {
        int kind;
        const char* file;
    } cases[] = {{1, "di.xml"}, {0, "ai.xml"}, {3, "do.xml"}};
    for (const Case& c : cases) {
        qvr_test::write_file(fs::path(dir) / c.file,
                             "<Channels><Channel id='1'><Enable>Off</Enable><HighStateText>up</HighStateText>"
                             "<Units>bar</Units></Channel></Channels>");
        ChannelRecord r{};
        ASSERT_EQ(cfg_LoadChannels(dir.c_str(), c.kind, &r, 0, 1, nullptr, 0, nullptr), 0) << sink_.last();
        EXPECT_EQ(static_cast<int>(r.head.Type), c.kind) << c.file;
        const bool digital = (c.kind & 1) != 0;
        // The same bytes hold the units (analog) or the high state text (digital).
        EXPECT_STREQ(reinterpret_cast<const char*>(r.bytes + 32), digital ? "up" : "bar") << c.file;
    }
}

TEST_F(ChannelTablesTest, MissingRequiredElementsAndBadValuesFailTheLoad) {
    xml_on();
    const std::string dir = device("tvall_1");
    ChannelRecord analog = full_channel(ChannelKind::AI, 1);
    analog.analog.Flags.set(AnalogFlag::LowAlarmEnable, true);
    analog.analog.Flags.set(AnalogFlag::ErrorAlarmEnable, true);
    analog.analog.LowEventLimit = 1;
    analog.analog.HighEventLimit = 100;
    ChannelRecord digital = full_channel(ChannelKind::DI, 1);
    ASSERT_EQ(cfg_WriteChannelXml(nullptr, dir.c_str(), 0, &analog, 0, 1, nullptr, 0, 0), 0);
    ASSERT_EQ(cfg_WriteChannelXml(nullptr, dir.c_str(), 1, &digital, 0, 1, nullptr, 0, 0), 0);
    const std::string ai = file_bytes(fs::path(dir) / "ai.xml");
    const std::string di = file_bytes(fs::path(dir) / "di.xml");
    struct Case {
        int kind;
        std::string xml;
        const char* message;  // null: loads
    };
    const Case cases[] = {
        {0, ai, nullptr},
        {0, without(ai, "Enable"), "<Enable> Required"},
        {0, without(with(ai, "Enable", "Off"), "Tag"), nullptr},
        {0, without(ai, "Tag"), "<Tag> Required"},
        {0, without(ai, "ErrorAlarmDelay"), "<ErrorAlarmDelay> Required"},
        {0, with(with(ai, "LowEventLimit", "10"), "HighEventLimit", "5"), "LowEventLimiit > HighEventLimit"},
        {0, with(without(ai, "LowEventLimit"), "EventEnable", "Off"), nullptr},
        {0, without(ai, "LowAlarmLimit"), "<LowAlarmLimit> Required"},
        {0, without(ai, "HighAlarmText"), "<HighAlarmText> Required"},
        {0, without(with(ai, "HighAlarmEnable", "Off"), "HighAlarmText"), nullptr},
        {0, without(ai, "Gain"), "<Gain> Required"},
        {0, with(ai, "Gain", "abc"), " <Gain> invalid floating point value"},
        {0, with(ai, "HighAlarmLimit", "1e39"), " <HighAlarmLimit> floating point value overflow"},
        {0, with(ai, "Tag", "BAD"), "tag BAD refused"},
        {1, di, nullptr},
        {1, without(di, "AlarmText"), "<AlarmText> Required"},
        {1, without(di, "EventEnable"), "<EventEnable> Required"},
        {1, without(with(di, "AlarmEnable", "Off"), "AlarmText"), nullptr},
        {1, with(di, "EventState", "Up"), " <EventState> invalid value \"Up\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message != nullptr ? c.message : "loads");
        qvr_test::write_file(fs::path(dir) / (c.kind == 0 ? "ai.xml" : "di.xml"), c.xml);
        ChannelRecord r{};
        const int rc = cfg_LoadChannels(dir.c_str(), c.kind, &r, 0, 1, nullptr, 0, nullptr);
        if (c.message == nullptr) {
            EXPECT_EQ(rc, 0) << sink_.last();
        } else {
            EXPECT_EQ(rc, -1);
            EXPECT_EQ(errno, 1465);
            EXPECT_EQ(sink_.last(),
                      std::string("tvall_1") + (c.kind == 0 ? "ai" : "di") + " Channel #1 - " + c.message);
        }
    }
    EXPECT_EQ(cfg_CheckChannelElement(",Enable,Tag,", "Tag"), 0);
    EXPECT_EQ(cfg_CheckChannelElement(",Enable,EventEnable,", "Event"), -1);
}

TEST_F(ChannelTablesTest, XmlOnlyLeavesTheBinaryTableAlone) {
    const std::string dir = device("tvall_1");
    const std::vector<ChannelRecord> records = table(ChannelKind::AI, 2);
    ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 0, records.data(), 0, 2, nullptr, 0, nullptr), 0);
    const std::string binary = file_bytes(fs::path(dir) / "ai");
    ASSERT_EQ(binary.size(), 8 + 2 * 216u);
    xml_on();
    const std::vector<ChannelRecord> other = table(ChannelKind::AI, 2, 7);
    ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 0, other.data(), 0, 2, nullptr, 0, nullptr), 0);
    EXPECT_EQ(file_bytes(fs::path(dir) / "ai"), binary);
    EXPECT_TRUE(fs::exists(fs::path(dir) / "ai.xml"));
}

TEST_F(ChannelTablesTest, AHardwarePartMayFillTheRestOfTheRecordButNoMore) {
    // The test plug-in describes the first channel's part to the record's end, the second's a
    // byte past it.
    xml_on();
    const std::string dir = device("tvbig_1");
    std::vector<ChannelRecord> records = {channel(ChannelKind::AI, "A"), channel(ChannelKind::AI, "B")};
    for (ChannelRecord& r : records)
        for (std::size_t i = qvr::kAnalogHardwareOffset; i < qvr::kChannelRecordSize; ++i)
            r.bytes[i] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(cfg_SaveChannelsRewrite(nullptr, dir.c_str(), 0, records.data(), 0, 2, nullptr, 0, nullptr), 0)
        << sink_.last();
    const std::string xml = file_bytes(fs::path(dir) / "ai.xml");
    const auto [first_from, first_to] = element_span(xml, "Analogue");
    ASSERT_NE(first_from, std::string::npos) << xml;
    const auto [second_from, second_to] = element_span(xml.substr(first_to), "Analogue");
    ASSERT_NE(second_from, std::string::npos) << xml;
    const std::size_t tags = 2 * std::string("<Analogue>").size() + 1;
    EXPECT_EQ(first_to - first_from - tags, 2 * 28u) << xml;
    EXPECT_EQ(second_to - second_from - tags, 2 * 16u) << "written as the plain part\n" << xml;

    std::vector<ChannelRecord> back(2);
    ASSERT_EQ(cfg_LoadChannels(dir.c_str(), 0, back.data(), 0, 2, nullptr, 0, nullptr), 0) << sink_.last();
    EXPECT_TRUE(back[0] == records[0]) << "all 28 bytes come back";
    std::memset(records[1].bytes + qvr::kAnalogHardwareOffset + 16, 0, 12);
    EXPECT_TRUE(back[1] == records[1]) << "16 bytes come back, the reserved ones read as zero";
}

TEST_F(ChannelTablesTest, ExtraSharesThatDoNotFitFailTheLoad) {
    xml_on();
    const std::string dir = device("tvbig_1");
    std::vector<ChannelRecord> records = {channel(ChannelKind::AI, "A"), channel(ChannelKind::AI, "HUGE")};
    std::vector<std::uint8_t> extra(16, 0);
    ASSERT_EQ(
        cfg_SaveChannelsRewrite(nullptr, dir.c_str(), 0, records.data(), 0, 2, extra.data(), 16, "x.chx"), 0);
    std::vector<ChannelRecord> back(2);
    EXPECT_EQ(cfg_LoadChannels(dir.c_str(), 0, back.data(), 0, 1, extra.data(), 16, "x.chx"), 0)
        << sink_.last();
    EXPECT_EQ(cfg_LoadChannels(dir.c_str(), 0, back.data(), 0, 2, extra.data(), 16, "x.chx"), -1);
    EXPECT_EQ(sink_.last(),
              "tvbig_1ai Channel #2 - Extra data of 4096 bytes does not fit in the 8 bytes left");

    records[1] = channel(ChannelKind::AI, "NEG");
    EXPECT_EQ(
        cfg_SaveChannelsRewrite(nullptr, dir.c_str(), 0, records.data(), 0, 2, extra.data(), 16, "x.chx"),
        -1);
    EXPECT_EQ(sink_.last(), "tvbig_1ANALOG INPUTS Channel #2 - Extra data size -4 refused");
}

TEST_F(ChannelTablesTest, EverySaveTouchesTheConfigurationFolderConfigInEveryWriteMode) {
    qvr_test::write_file(config_ / "config", std::string("\0\0", 2));
    const std::vector<ChannelRecord> records = table(ChannelKind::DI, 2);
    for (const char* mode : {"BIN", "BOTH", "XML"}) {
        set_switch("WriteXML", mode);
        const timespec past[2] = {{1000000, 0}, {1000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, (config_ / "config").c_str(), past, 0), 0);
        ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, device("tvall_1").c_str(), 1, records.data(), 0, 2, nullptr,
                                         0, nullptr),
                  0)
            << sink_.last();
        struct stat st {};
        ASSERT_EQ(::stat((config_ / "config").c_str(), &st), 0);
        EXPECT_GT(st.st_mtime, 1000000) << mode;
        EXPECT_EQ(file_bytes(config_ / "config"), std::string("\0\0", 2)) << "only its time changes";
    }
}

// ---- The audit trail of channel saves ----

TEST_F(ChannelTablesTest, AuditEntriesNameTheKindAndTheChannel) {
    turn_audit_on();
    const std::string dir = device("tolva_3");
    std::vector<ChannelRecord> records = table(ChannelKind::AI, 5);
    ASSERT_EQ(cfg_SaveChannelsUpdate("ann", dir.c_str(), 0, records.data(), 0, 5, nullptr, 0, nullptr), 0);
    const std::size_t first_save = audit_lines().size();
    EXPECT_GT(first_save, 0u) << "channels added to a table count as changes from empty";
    EXPECT_EQ(audit_entry(audit_lines()[0]).rfind("tolva_3.Channels.1.", 0), 0u) << audit_lines()[0];

    std::vector<ChannelRecord> two(records.begin() + 3, records.end());
    qvr::split_text(two[1], qvr::ChannelText::Tag, "NEWTAG");
    ASSERT_EQ(cfg_SaveChannelsUpdate("ann", dir.c_str(), 0, two.data(), 3, 2, nullptr, 0, nullptr), 0);
    std::vector<std::string> lines = audit_lines();
    ASSERT_EQ(lines.size(), first_save + 1);
    EXPECT_EQ(audit_entry(lines.back()), "tolva_3.Channels.5.Tag CH5 -> NEWTAG");

    // With another kind's table beside it the context names the kind.
    const ChannelRecord d = channel(ChannelKind::DI, "D1");
    ASSERT_EQ(cfg_SaveChannelsUpdate("ann", dir.c_str(), 1, &d, 0, 1, nullptr, 0, nullptr), 0);
    qvr::split_text(two[0], qvr::ChannelText::Tag, "tag4");
    two[0].analog.HighAlarmLimit = 12.5f;
    ASSERT_EQ(cfg_SaveChannelsUpdate("ann", dir.c_str(), 0, two.data(), 3, 2, nullptr, 0, nullptr), 0);
    lines = audit_lines();
    EXPECT_EQ(audit_entry(lines[lines.size() - 2]), "tolva_3.AI.Channels.4.Tag CH4 -> tag4");
    EXPECT_EQ(audit_entry(lines.back()), "tolva_3.AI.Channels.4.HighAlarmLimit 95.5 -> 12.5");

    const std::size_t before = lines.size();
    ASSERT_EQ(cfg_SaveChannelsUpdate("ann", dir.c_str(), 0, two.data(), 3, 2, nullptr, 0, nullptr), 0);
    EXPECT_EQ(audit_lines().size(), before) << "an unchanged save records nothing";
}

TEST_F(ChannelTablesTest, AChannelThatChangesSenseIsComparedFromItsHead) {
    turn_audit_on();
    const std::string dir = device("tolva_3");
    ChannelRecord r = channel(ChannelKind::AI, "MIX");
    ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 0, &r, 0, 1, nullptr, 0, nullptr), 0);
    const std::size_t before = audit_lines().size();
    ChannelRecord now = channel(ChannelKind::DI, "MIX");  // same head, digital
    ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 0, &now, 0, 1, nullptr, 0, nullptr), 0);
    const std::vector<std::string> lines = audit_lines();
    ASSERT_EQ(lines.size(), before + 1) << "the analog units are not compared as a state text";
    EXPECT_EQ(audit_entry(lines.back()), "tolva_3.Channels.1.Type AI -> DI");
}

TEST_F(ChannelTablesTest, WithTheAuditOnChannelsCanBeAppendedToAnXmlTable) {
    turn_audit_on();
    xml_on();
    const std::string dir = device("tvall_1");
    const std::vector<ChannelRecord> one = table(ChannelKind::CI, 1);
    ASSERT_EQ(cfg_SaveChannelsRewrite(nullptr, dir.c_str(), 4, one.data(), 0, 1, nullptr, 0, nullptr), 0);
    const std::size_t before = audit_lines().size();
    const std::vector<ChannelRecord> next = table(ChannelKind::CI, 1, 2);
    ASSERT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 4, next.data(), 1, 1, nullptr, 0, nullptr), 0)
        << sink_.last();
    const std::vector<std::string> lines = audit_lines();
    ASSERT_GT(lines.size(), before);
    EXPECT_EQ(audit_entry(lines[before]).rfind("tvall_1.Channels.2.", 0), 0u) << lines[before];
    std::vector<ChannelRecord> back(2);
    ASSERT_EQ(cfg_LoadChannels(dir.c_str(), 4, back.data(), 0, 2, nullptr, 0, nullptr), 0);
    EXPECT_EQ(back[1], next[0]);
}

TEST_F(ChannelTablesTest, WithTheAuditOnAMalformedTableIsNotOverwritten) {
    turn_audit_on();
    set_switch("WriteXML", "BOTH");
    set_switch("ReadXML", "ON");
    const std::string dir = device("tvall_1");
    qvr_test::write_file(fs::path(dir) / "ai.xml", "<Channels><Channel id='1'>");
    const ChannelRecord r = full_channel(ChannelKind::AI, 1);
    EXPECT_EQ(cfg_SaveChannelsUpdate(nullptr, dir.c_str(), 0, &r, 0, 1, nullptr, 0, nullptr), -1);
    EXPECT_EQ(errno, 1465);
    EXPECT_EQ(file_bytes(fs::path(dir) / "ai.xml"), "<Channels><Channel id='1'>");
    EXPECT_FALSE(fs::exists(fs::path(dir) / "ai"));
}

TEST_F(ChannelTablesTest, TheCurrentFolderFormsUseItWithoutChangingIt) {
    const std::string dir = device("tolva_5");
    const fs::path before = fs::current_path();
    ASSERT_EQ(::chdir(dir.c_str()), 0);
    const std::vector<ChannelRecord> records = table(ChannelKind::AO, 2);
    EXPECT_EQ(cfg_SaveChannelsFromCwd(2, records.data(), 0, 2), 0);
    std::vector<ChannelRecord> back(2);
    EXPECT_EQ(cfg_LoadChannelsFromCwd(2, back.data(), 0, 2), 0);
    EXPECT_EQ(fs::current_path(), fs::path(dir));
    ASSERT_EQ(::chdir(before.c_str()), 0);
    EXPECT_EQ(record_bytes(back), record_bytes(records));
}

}  // namespace
