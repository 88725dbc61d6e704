// Schemas generated from the typed descriptions, checked against files written the way the
// configuration store writes them, with the schema validator of the XML library.
#include "qvr/schema/schema.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cfloat>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "qvr/records/config_header.h"
#include "qvr/records/channel_record_types.h"
#include "qvr/ext/ext.h"
#include "qvr/diag/sink.h"
#include "qvr/testing/sink_testing.h"
#include "qvr/xml/xml.h"
#include "schema_validation.h"
#include "support/temp_dir.h"
#include "tslib/typed_mem.h"

namespace {

namespace fs = std::filesystem;
using qvr::ChannelKind;
using qvr::ChannelRecord;
using qvr::Extension;
using qvr::XmlDocumentRef;
using qvr::XmlNodeRef;
using schema_test::validate;

constexpr const char* kMtype = "schema test";

void add_leaves(XmlDocument* doc, XmlNode* parent, const StructsType* type, const void* data) {
    char** names = nullptr;
    int count = structs_list_leaf_names(type, data, &names, kMtype);
    ASSERT_GE(count, 0);
    for (int i = 0; i < count; ++i) {
        char* text = structs_get_field_text(type, names[i], data, kMtype);
        ASSERT_NE(text, nullptr) << names[i];
        XmlNodeRef e(xml_AddChildElement(doc, names[i], parent));
        xml_CreateAndAddTextNode(doc, text, e.get());
        typed_mem_release(kMtype, text);
        typed_mem_release(kMtype, names[i]);
    }
    typed_mem_release(kMtype, names);
}

// A new file with the declaration, the comment and the root with its namespaces.
XmlNodeRef start_file(XmlDocument* doc, const char* root_name, const std::string& name) {
    std::string ns = std::string(qvr::kXmlNamespaceBase) + "/" + name;
    xml_CreateAndAddPINode(doc, "xml", "version='1.0' encoding='UTF-8'");
    xml_CreateAndAddCommentNode(doc, qvr::kXmlCreatedComment);
    XmlNodeRef root(xml_CreateElement(doc, root_name));
    xml_AppendChildToParent(root.get(), doc);
    xml_CreateAndAddAttributeNode(doc, "xmlns:xsi", qvr::kXmlSchemaInstanceNamespace, root.get());
    xml_CreateAndAddAttributeNode(doc, "xmlns", ns.c_str(), root.get());
    std::string location = ns + " ../SCHEMA/" + name + ".xsd";
    xml_CreateAndAddAttributeNode(doc, "xsi:schemaLocation", location.c_str(), root.get());
    return root;
}

void save(XmlDocument* doc, XmlNode* root, const fs::path& path) {
    xml_IndentTree(doc, root, 0);
    ASSERT_EQ(xml_SaveFile(doc, path.c_str()), 0) << xml_GetErrorText();
}

// "config.xml" of a device folder.
void write_config_xml(const Extension& e, const std::string& dir, const qvr::ConfigHeader& header,
                      std::span<const std::uint8_t> record, std::span<const std::uint8_t> extra) {
    XmlDocumentRef doc(xml_NewDocument());
    XmlNodeRef root = start_file(doc.get(), "Configs", qvr::device_prefix5(dir));
    XmlNodeRef config(xml_AddChildElement(doc.get(), "Config", root.get()));
    add_leaves(doc.get(), config.get(), &qvr::ConfigHeaderType, &header);
    if (qvr::ExtType t = e.config_type(record)) {
        std::vector<std::uint8_t> form = e.undecorate_config(record);
        ASSERT_GE(form.size(), t->size);
        add_leaves(doc.get(), config.get(), t.get(), form.data());
    }
    if (qvr::ExtType t = e.config_extra_type(record, extra)) {
        std::vector<std::uint8_t> form = e.undecorate_config_extra(record, extra);
        ASSERT_GE(form.size(), t->size);
        add_leaves(doc.get(), config.get(), t.get(), form.data());
    }
    save(doc.get(), root.get(), fs::path(dir) / "config.xml");
}

// "<kind>.xml" of a device folder, channels numbered from 1.
void write_channel_xml(const Extension& e, const std::string& dir, int kind,
                       const std::vector<ChannelRecord>& records, std::span<const std::uint8_t> extra = {}) {
    XmlDocumentRef doc(xml_NewDocument());
    std::string word = qvr::channel_kind_word(kind);
    XmlNodeRef root = start_file(doc.get(), "Channels", qvr::device_prefix5(dir) + "_" + word);
    for (size_t i = 0; i < records.size(); ++i) {
        XmlNodeRef channel(xml_AddChildElement(doc.get(), "Channel", root.get()));
        xml_CreateAndAddAttributeNode(doc.get(), "id", std::to_string(i + 1).c_str(), channel.get());
        bool digital = qvr::is_digital(records[i].head.Type);
        auto layout = e.channel_layout(kind, static_cast<int>(i), records[i], digital);
        ChannelRecord written = records[i];
        if (layout->typed_hardware())
            written = e.undecorate_channel_hw(kind, static_cast<int>(i), records[i]);
        add_leaves(doc.get(), channel.get(), &layout->type(), written.bytes);
        if (qvr::ExtType t = e.channel_extra_type(kind, static_cast<int>(i), records[i])) {
            auto size = e.channel_extra_size(kind, static_cast<int>(i), records[i], extra);
            ASSERT_TRUE(size.has_value());
            std::vector<std::uint8_t> share =
                e.undecorate_channel_extra(kind, static_cast<int>(i), records[i], extra.subspan(0, *size));
            ASSERT_GE(share.size(), t->size);
            add_leaves(doc.get(), channel.get(), t.get(), share.data());
            extra = extra.subspan(*size);
        }
    }
    save(doc.get(), root.get(), fs::path(dir) / (word + ".xml"));
}

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

size_t occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

ChannelRecord analog(const char* tag, float low, float high) {
    ChannelRecord r{};
    r.head.Type = ChannelKind::AI;
    qvr::split_text(r, qvr::ChannelText::Tag, tag);
    qvr::split_text(r, qvr::ChannelText::Description, "Tank level, north");
    qvr::split_text(r, qvr::ChannelText::Units, "m\xb3/h");
    r.head.Flags.set(qvr::AnalogFlag::Enable, true);
    r.head.Flags.set(qvr::AnalogFlag::LowAlarmEnable, true);
    r.analog.LowAlarmLimit = low;
    r.analog.HighAlarmLimit = high;
    r.analog.MaximumUnits = 3e38f;
    r.analog.MinimumUnits = -3e38f;
    r.analog.Gain = 1e-30f;
    r.analog.LowAlarmPriority = 255;
    r.analog.HighAlarmDelay = 65535;
    std::strcpy(r.analog.LowAlarmText, "Low level");
    return r;
}

ChannelRecord digital(const char* tag, ChannelKind kind = ChannelKind::DI) {
    ChannelRecord r{};
    r.head.Type = kind;
    qvr::split_text(r, qvr::ChannelText::Tag, tag);
    r.head.Flags.set(qvr::DigitalFlag::AlarmEnable, true);
    std::strcpy(r.digital.HighStateText, "Running");
    r.digital.AlarmDelay = 12;
    return r;
}

class XmlSchemaTest : public ::testing::Test {
  protected:
    std::string device(const std::string& name) {
        fs::create_directories(config_ / name);
        return (config_ / name).string();
    }
    fs::path schema(const std::string& name) { return config_ / "SCHEMA" / (name + ".xsd"); }

    qvr_test::TempDir dir_;
    fs::path config_ = dir_ / "CURRENT_CONFIG";
};

TEST_F(XmlSchemaTest, ADeviceWithoutPluginTypesHasOnlyTheHeaderSettings) {
    std::string dir = device("plain_1");
    std::uint8_t record[32] = {};
    ASSERT_EQ(cfg_WriteConfigSchema(dir.c_str(), record, sizeof record, nullptr, 0), 0) << xml_GetErrorText();
    std::string xsd = qvr_test::read_file(config_ / "SCHEMA" / "plain.xsd");
    EXPECT_EQ(occurrences(xsd, "<xs:element name="), 6u) << xsd;
    for (const char* field : {"AutoEnable", "SaveOutputs", "SaveByTag", "SaveRate"})
        EXPECT_NE(xsd.find(std::string("<xs:element name=\"") + field + "\">"), std::string::npos) << field;
    EXPECT_EQ(xsd.substr(0, 97),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<!--Created Automatically by "
              "Velmora.-->\n");
    EXPECT_NE(xsd.find("xmlns:plain=\"http://www.brevantic.com/quorvane/plain\""), std::string::npos);
    EXPECT_NE(xsd.find("<xs:sequence minOccurs=\"1\" maxOccurs=\"2\">"), std::string::npos);

    write_config_xml(Extension(), dir, qvr::ConfigHeader{1, 0, 1, 600}, {}, {});
    EXPECT_EQ(validate(fs::path(dir) / "config.xml", config_ / "SCHEMA" / "plain.xsd"), "");
}

TEST_F(XmlSchemaTest, DeviceFilesValidateWithThePluginsTypes) {
    for (auto [name, size] : {std::pair{"tvall_2", 24}, std::pair{"tolva_3", 704}}) {
        std::string dir = device(name);
        Extension e = Extension::load(dir);
        ASSERT_TRUE(e.loaded());
        std::vector<std::uint8_t> record(704, 0);
        record[0] = 3;
        std::memcpy(record.data() + 4, "Line A", 6);
        std::vector<std::uint8_t> extra(16, 0);
        ASSERT_EQ(qvr::write_config_schema(e, dir.c_str(), record.data(), size, extra.data(), 16), 0)
            << xml_GetErrorText();
        write_config_xml(e, dir, qvr::ConfigHeader{1, 1, 0, 0}, std::span(record).first(size), extra);
        std::string prefix = qvr::device_prefix5(dir);
        EXPECT_EQ(validate(fs::path(dir) / "config.xml", schema(prefix)), "") << name;
    }
    std::string xsd = qvr_test::read_file(schema("tvall"));
    size_t mode = xsd.find("<xs:element name=\"Mode\">");
    ASSERT_NE(mode, std::string::npos);
    EXPECT_LT(xsd.find("<xs:enumeration value=\"Auto\"/>", mode),
              xsd.find("<xs:enumeration value=\"Manual\"/>", mode));
    EXPECT_NE(xsd.find("<xs:element name=\"Note\">"), std::string::npos) << "the extra record's fields";
}

TEST_F(XmlSchemaTest, TheSchemasQualifyLocalElementsSoTheFilesValidate) {
    std::string dir = device("plain_1");
    ASSERT_EQ(cfg_WriteConfigSchema(dir.c_str(), nullptr, 0, nullptr, 0), 0);
    write_config_xml(Extension(), dir, qvr::ConfigHeader{}, {}, {});
    std::string xsd = qvr_test::read_file(schema("plain"));
    ASSERT_NE(xsd.find(" elementFormDefault=\"qualified\""), std::string::npos);
    EXPECT_EQ(validate(fs::path(dir) / "config.xml", xsd), "");
    EXPECT_NE(validate(fs::path(dir) / "config.xml", replaced(xsd, " elementFormDefault=\"qualified\"", "")),
              "")
        << "without it the schema rejects the files it was made for";
}

TEST_F(XmlSchemaTest, AChannelSchemaTakesAnyNumberOfChannels) {
    std::string dir = device("tolva_3");
    Extension e = Extension::load(dir);
    std::vector<ChannelRecord> records{analog("LT101", -5.5f, 1e30f), analog("LT102", 0, 100)};
    ASSERT_EQ(cfg_WriteChannelSchema("user", dir.c_str(), 0, records.data(), 0, 2), 0) << xml_GetErrorText();
    std::string xsd = qvr_test::read_file(schema("tolva_ai"));
    EXPECT_NE(xsd.find("maxOccurs=\"unbounded\""), std::string::npos);
    EXPECT_NE(xsd.find("<xs:attribute name=\"id\" type=\"xs:integer\" use=\"required\"/>"),
              std::string::npos);
    EXPECT_NE(xsd.find("<xs:group ref=\"tolva_ai:Channel_a\"/>"), std::string::npos);
    EXPECT_EQ(xsd.find("xs:choice"), std::string::npos) << "one layout only";
    // The whole table of this and of any other device of the type.
    for (int i = 0; i < 98; ++i) records.push_back(analog(("LT" + std::to_string(200 + i)).c_str(), 1, 2));
    write_channel_xml(e, dir, 0, records);
    EXPECT_EQ(validate(fs::path(dir) / "ai.xml", xsd), "");
    EXPECT_NE(validate(fs::path(dir) / "ai.xml", replaced(xsd, "maxOccurs=\"unbounded\"", "maxOccurs=\"2\"")),
              "")
        << "a count taken from one save rejects the table";
}

// Devices of one type share their schema files: saves of two devices at once must each
// leave a whole schema, and neither may fail for the other's sake.
TEST_F(XmlSchemaTest, TwoDevicesOfATypeWritingTheirSchemaAtOnceLeaveItWhole) {
    const std::string dirs[] = {device("tolva_3"), device("tolva_4")};
    std::vector<ChannelRecord> records{analog("LT101", -5.5f, 1e30f), analog("LT102", 0, 100)};
    constexpr int kRounds = 150;
    int failures[2] = {0, 0};
    auto writer = [&](int w) {
        for (int i = 0; i < kRounds; ++i)
            if (cfg_WriteChannelSchema(nullptr, dirs[w].c_str(), 0, records.data(), 0, 2) != 0) ++failures[w];
    };
    std::thread first(writer, 0);
    std::thread second(writer, 1);
    first.join();
    second.join();
    EXPECT_EQ(failures[0] + failures[1], 0);
    const std::string xsd = qvr_test::read_file(schema("tolva_ai"));
    write_channel_xml(Extension::load(dirs[0]), dirs[0], 0, records);
    EXPECT_EQ(validate(fs::path(dirs[0]) / "ai.xml", xsd), "");
    for (const auto& entry : fs::directory_iterator(config_ / "SCHEMA"))
        EXPECT_EQ(entry.path().extension(), ".xsd") << "left behind: " << entry.path();
}

TEST_F(XmlSchemaTest, AMixedTableOffersEitherLayoutPerChannel) {
    std::string dir = device("tvall_5");
    Extension e = Extension::load(dir);
    ASSERT_TRUE(e.mixed_channel_type());
    std::vector<ChannelRecord> records{analog("AI1", 0, 10), digital("DI1"), analog("AI2", 1, 2)};
    std::vector<std::uint8_t> extra(3 * 8, 0);
    ASSERT_EQ(cfg_WriteChannelSchema(nullptr, dir.c_str(), 0, records.data(), 0, 3), 0) << xml_GetErrorText();
    std::string xsd = qvr_test::read_file(schema("tvall_ai"));
    EXPECT_NE(xsd.find("<xs:group name=\"Channel_a\">"), std::string::npos);
    EXPECT_NE(xsd.find("<xs:group name=\"Channel_d\">"), std::string::npos);
    EXPECT_NE(xsd.find("<xs:element name=\"Analogue.Address\">"), std::string::npos) << "the plug-in's part";
    EXPECT_NE(xsd.find("<xs:element name=\"Digital.Bit\">"), std::string::npos);
    EXPECT_NE(xsd.find("<xs:element name=\"Scale\">"), std::string::npos) << "the channel extra data";
    write_channel_xml(e, dir, 0, records, extra);
    EXPECT_EQ(validate(fs::path(dir) / "ai.xml", xsd), "");
    EXPECT_NE(validate(fs::path(dir) / "ai.xml", replaced(xsd, "xs:choice", "xs:sequence")), "")
        << "a sequence demands both layouts in every channel";
}

TEST_F(XmlSchemaTest, TablesOfEveryKindValidate) {
    for (const char* name : {"plain_1", "tolva_3", "tvall_4", "tvnon_2"}) {
        std::string dir = device(name);
        Extension e = Extension::load(dir);
        struct Table {
            int kind;
            std::vector<ChannelRecord> records;
        } tables[] = {
            {0, {analog("A1", 0, 1), analog("A2", -1, 1)}},
            {1, {digital("D1"), digital("D2")}},
            {2, {analog("O1", 0, 1)}},
            {3, {digital("Q1", ChannelKind::DO)}},
            {4, {analog("C1", 0, 1)}},
        };
        for (Table& t : tables) {
            for (ChannelRecord& r : t.records) r.head.Type = static_cast<ChannelKind>(t.kind);
            if (t.kind == 0 && e.mixed_channel_type()) t.records.push_back(digital("MIX"));
            std::vector<std::uint8_t> extra(t.records.size() * 8, 0);
            ASSERT_EQ(qvr::write_channel_schema(e, dir.c_str(), t.kind, t.records.data(), 0,
                                                static_cast<int>(t.records.size())),
                      0)
                << xml_GetErrorText();
            write_channel_xml(e, dir, t.kind, t.records, extra);
            std::string word = qvr::channel_kind_word(t.kind);
            EXPECT_EQ(
                validate(fs::path(dir) / (word + ".xml"), schema(qvr::device_prefix5(dir) + "_" + word)), "")
                << name << " " << word;
        }
    }
}

TEST_F(XmlSchemaTest, LeafTypesGiveTheirSimpleTypes) {
    std::string dir = device("plain_1");
    std::vector<ChannelRecord> records{analog("A1", 0, 1)};
    ASSERT_EQ(cfg_WriteChannelSchema(nullptr, dir.c_str(), 0, records.data(), 0, 1), 0);
    std::string xsd = qvr_test::read_file(schema("plain_ai"));
    auto element = [&](const std::string& name) {
        size_t at = xsd.find("<xs:element name=\"" + name + "\">");
        size_t end = xsd.find("</xs:element>", at);
        std::string body = at == std::string::npos ? "" : xsd.substr(at, end - at);
        std::string flat;
        for (char c : body)
            if (c != '\n' && c != '\t') flat.push_back(c);
        return flat;
    };
    auto restriction = [](const std::string& inner) {
        return "<xs:simpleType><xs:restriction base=\"xs:string\">" + inner +
               "</xs:restriction></xs:simpleType>";
    };
    EXPECT_EQ(element("Type"),
              "<xs:element name=\"Type\">" +
                  restriction("<xs:enumeration value=\"AI\"/><xs:enumeration value=\"DI\"/><xs:enumeration "
                              "value=\"AO\"/><xs:enumeration value=\"DO\"/><xs:enumeration value=\"CI\"/>"));
    EXPECT_EQ(element("Enable"),
              "<xs:element name=\"Enable\">" +
                  restriction("<xs:enumeration value=\"Off\"/><xs:enumeration value=\"On\"/>"));
    EXPECT_EQ(element("Analogue"),
              "<xs:element name=\"Analogue\">" + restriction("<xs:maxLength value=\"32\"/>"));
    EXPECT_EQ(element("Tag"), "<xs:element name=\"Tag\">" + restriction("<xs:maxLength value=\"15\"/>"));
    EXPECT_EQ(element("LowAlarmText"),
              "<xs:element name=\"LowAlarmText\">" + restriction("<xs:maxLength value=\"32\"/>"));
    EXPECT_EQ(element("Gain"),
              "<xs:element name=\"Gain\"><xs:simpleType><xs:restriction base=\"xs:float\"/></xs:simpleType>");
    EXPECT_EQ(element("LowAlarmPriority"),
              "<xs:element name=\"LowAlarmPriority\"><xs:simpleType><xs:restriction "
              "base=\"xs:unsignedByte\"/></xs:simpleType>");
    EXPECT_EQ(element("LowAlarmDelay"),
              "<xs:element name=\"LowAlarmDelay\"><xs:simpleType><xs:restriction "
              "base=\"xs:unsignedShort\"/></xs:simpleType>");
}

TEST_F(XmlSchemaTest, ChannelTextsRoundTripThroughTheFile) {
    std::string dir = device("plain_1");
    ChannelRecord units = analog("FT100", 0, 1);
    qvr::split_text(units, qvr::ChannelText::Units,
                    "\xb0"
                    "C");
    ChannelRecord control = analog(
        "TAG\x01"
        "X",
        0, 1);
    std::vector<ChannelRecord> records{units, control};
    write_channel_xml(Extension(), dir, 0, records);
    ASSERT_EQ(cfg_WriteChannelSchema(nullptr, dir.c_str(), 0, records.data(), 0, 2), 0);
    std::string file = qvr_test::read_file(fs::path(dir) / "ai.xml");
    EXPECT_NE(file.find("<Units>\xc2\xb0"
                        "C</Units>"),
              std::string::npos)
        << "UTF-8 in the file";

    XmlDocumentRef doc(xml_NewDocument());
    ASSERT_EQ(xml_LoadFile(doc.get(), (fs::path(dir) / "ai.xml").c_str()), 0) << xml_GetErrorText();
    XmlNodeRef root(xml_GetRootElement(doc.get()));
    std::vector<ChannelRecord> loaded;
    for (int id = 1; id <= 2; ++id) {
        XmlNodeRef channel(xml_FindByAttribute(root.get(), "Channel", "id", std::to_string(id).c_str()));
        ASSERT_NE(channel, nullptr);
        ChannelRecord r{};
        for (const StructsField* f = qvr::kAnalogChannelFields; f->name != nullptr; ++f) {
            XmlNodeRef element(xml_FindByName(channel.get(), f->name));
            ASSERT_NE(element, nullptr) << f->name;
            qvr::XmlText text(xml_getText(element.get()));
            char ebuf[256] = {};
            ASSERT_EQ(structs_set_field_text(&qvr::AnalogChannelType, f->name, text.get(), r.bytes, ebuf,
                                             sizeof ebuf),
                      0)
                << f->name << ": " << ebuf;
            xml_RemoveChild(channel.get(), element.get());
        }
        loaded.push_back(r);
    }
    EXPECT_EQ(qvr::join_text(loaded[0], qvr::ChannelText::Units),
              "\xb0"
              "C");
    EXPECT_TRUE(loaded[0] == units) << "every field back as it was";
    EXPECT_EQ(qvr::join_text(loaded[1], qvr::ChannelText::Tag),
              std::string(kXmlIllegalCharacters).substr(0, 15))
        << "the file stays readable";
    EXPECT_EQ(qvr::join_text(loaded[1], qvr::ChannelText::Description), "Tank level, north");
}

TEST_F(XmlSchemaTest, ALoggerSchemaValidatesItsFile) {
    struct Logger {
        char Name[16];
        std::uint32_t Inputs[3];
        double Period;
        std::int16_t Offset;
        std::uint32_t Mask;
        std::uint8_t Active;
    };
    static constexpr StructsType kName = structs_fixedstring_type(16);
    static constexpr StructsType kInputs = structs_fixedarray_type(structs_type_uint32, "input", 3);
    static constexpr StructsField kFields[] = {
        structs_field("Name", kName, offsetof(Logger, Name)),
        structs_field("Inputs", kInputs, offsetof(Logger, Inputs)),
        structs_field("Period", structs_type_double, offsetof(Logger, Period)),
        structs_field("Offset", structs_type_int16, offsetof(Logger, Offset)),
        // Families without a simple type of their own, and Boolean words other than Off/On.
        structs_field("Mask", structs_type_hint, offsetof(Logger, Mask)),
        structs_field("Active", structs_type_boolean_char, offsetof(Logger, Active)),
        structs_field_end(),
    };
    static constexpr StructsType kLogger = structs_struct_type(sizeof(Logger), kFields);
    std::string dir = device("LOGGERS");
    Logger logger{"Trend 1", {1, 2, 3}, 0.25, -7, 0xbeef, 1};
    xml_SetSubject("");
    ASSERT_EQ(cfg_WriteLoggerSchema(dir.c_str(), "trend", &kLogger, &logger, sizeof logger), 0)
        << xml_GetErrorText();
    std::string xsd = qvr_test::read_file(schema("trend"));
    EXPECT_NE(xsd.find("<xs:element name=\"Inputs.2\">"), std::string::npos) << xsd;
    EXPECT_NE(xsd.find("xs:double"), std::string::npos);
    EXPECT_NE(xsd.find("xs:short"), std::string::npos);
    EXPECT_NE(xsd.find("<xs:enumeration value=\"True\"/>"), std::string::npos);

    XmlDocumentRef doc(xml_NewDocument());
    XmlNodeRef root = start_file(doc.get(), "Loggers", "trend");
    XmlNodeRef item(xml_AddChildElement(doc.get(), "Logger", root.get()));
    add_leaves(doc.get(), item.get(), &kLogger, &logger);
    save(doc.get(), root.get(), fs::path(dir) / "trend.xml");
    EXPECT_EQ(validate(fs::path(dir) / "trend.xml", xsd), "");
}

TEST_F(XmlSchemaTest, FailuresAreReportedAndNameTheLeaf) {
    std::vector<qvr::SinkEntry> reports;
    qvr::set_sink_capture([&](const qvr::SinkEntry& entry) { reports.push_back(entry); });
    xml_SetSubject("plain_1");
    EXPECT_EQ(cfg_WriteConfigSchema(nullptr, nullptr, 0, nullptr, 0), -1);
    EXPECT_EQ(errno, 1465);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].message, "plain_1Creating Schema - Invalid Pathname");
    EXPECT_EQ(cfg_WriteLoggerSchema(device("L").c_str(), "../escape", &qvr::ConfigHeaderType, nullptr, 0),
              -1);
    EXPECT_FALSE(fs::exists(dir_ / "escape.xsd"));

    struct Odd {
        std::uint32_t a, b, c;
    };
    static constexpr StructsField kFields[] = {
        structs_field("First", structs_type_uint32, 0),
        structs_field("Bad\x01Name", structs_type_uint32, 4),
        structs_field("Third", structs_type_uint32, 8),
        structs_field_end(),
    };
    static constexpr StructsType kOdd = structs_struct_type(sizeof(Odd), kFields);
    XmlDocumentRef doc(xml_NewDocument());
    XmlNodeRef root(xml_CreateElement(doc.get(), "xs:sequence"));
    xml_AppendChildToParent(root.get(), doc.get());
    int status = cfg_WriteSchemaFields(doc.get(), root.get(), &kOdd, 0, 0);
    EXPECT_EQ(status, kXmlStatusInvalidArgument);
    EXPECT_EQ(std::string(xml_GetMessage()),
              "<Bad\x01Name> xml_CreateAndAddAttributeNode('name','Bad\x01Name') failed 0x80070057");
    qvr::XmlText name(xml_getName(nullptr));
    xml_ResetStatus();
    XmlNodeRef last(xml_LastChild(root.get()));
    qvr::XmlText last_name(xml_getAttribute(last.get(), "name"));
    EXPECT_EQ(last_name, nullptr) << "the walk stopped at the bad leaf";
    // A range of leaves.
    XmlNodeRef range(xml_AddChildElement(doc.get(), "xs:sequence", root.get()));
    EXPECT_EQ(cfg_WriteSchemaFields(doc.get(), range.get(), &qvr::ConfigHeaderType, 1, 3), 0);
    XmlNameText pairs[4] = {};
    EXPECT_EQ(xml_IterateChan(range.get(), pairs, 4), 2);
    for (XmlNameText& p : pairs) {
        std::free(p.name);
        std::free(p.text);
    }
    qvr::set_sink_capture({});
}

}  // namespace
