#include "qvr/records/channel_record_types.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "tslib/typed_mem.h"

namespace {

constexpr const char* kMtype = "channel_types_test";

std::string leaf_text(const StructsType& type, const std::string& path, const void* record) {
    char* text = structs_get_field_text(&type, path.c_str(), record, kMtype);
    if (text == nullptr) return "<null errno " + std::to_string(errno) + ">";
    std::string out(text);
    typed_mem_release(kMtype, text);
    return out;
}

// Sets a leaf; the result is the error text, empty on success.
std::string set_leaf(const StructsType& type, const std::string& path, const std::string& text, void* record) {
    char ebuf[256] = "";
    if (structs_set_field_text(&type, path.c_str(), text.c_str(), record, ebuf, sizeof ebuf) == 0) return "";
    return ebuf[0] != '\0' ? ebuf : "<failed without a message>";
}

std::vector<std::string> leaf_names(const StructsType& type, const void* record) {
    char** list = nullptr;
    const int n = structs_list_leaf_names(&type, record, &list, kMtype);
    std::vector<std::string> names;
    for (int i = 0; i < n; ++i) {
        names.emplace_back(list[i]);
        typed_mem_release(kMtype, list[i]);
    }
    if (n >= 0) typed_mem_release(kMtype, list);
    return names;
}

void put_u16(std::vector<std::uint8_t>& image, std::size_t offset, std::uint16_t v) {
    image.at(offset) = static_cast<std::uint8_t>(v);
    image.at(offset + 1) = static_cast<std::uint8_t>(v >> 8);
}
void put_u32(std::vector<std::uint8_t>& image, std::size_t offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) image.at(offset + i) = static_cast<std::uint8_t>(v >> (8 * i));
}
void put_f32(std::vector<std::uint8_t>& image, std::size_t offset, float f) {
    std::uint32_t v;
    std::memcpy(&v, &f, sizeof v);
    put_u32(image, offset, v);
}
void put_text(std::vector<std::uint8_t>& image, std::size_t offset, std::string_view text) {
    std::memcpy(image.data() + offset, text.data(), text.size());
}

std::vector<std::uint8_t> bytes_of(const qvr::ChannelRecord& r) {
    return {r.bytes, r.bytes + qvr::kChannelRecordSize};
}

struct Leaf {
    std::string name;
    std::string text;
};

const std::string kFullAlarmText = "High pressure on the inlet side!";  // 32 characters, no NUL
const std::string kAnalogHw = "0305fb0701000200ffff09000a000000";

// Every leaf of the analog layout, in element order.
const std::vector<Leaf> kAnalogLeaves = {
    {"Enable", "On"},
    {"Tag", "ABCDEFGHIJKLMNO"},
    {"Description", "0123456789abcdefGHIJKLMNOPQRSTUV"},
    {"Type", "AO"},
    {"ErrorAlarmEnable", "On"},
    {"ErrorAlarmDriveCommon", "Off"},
    {"ErrorAlarmPriority", "7"},
    {"ErrorAlarmDelay", "300"},
    {"EventEnable", "On"},
    {"LowEventLimit", "-5.5"},
    {"HighEventLimit", "105.25"},
    {"Units", "kPa/sec2"},
    {"MinimumUnits", "-10"},
    {"MaximumUnits", "110"},
    {"ReferenceEnable", "Off"},
    {"SigChangeEnable", "On"},
    {"SigChangeValue", "0.5"},
    {"ScalingEnable", "On"},
    {"Gain", "2"},
    {"Offset", "-1.25"},
    {"LowAlarmEnable", "On"},
    {"LowAlarmDriveCommon", "On"},
    {"LowAlarmLimit", "1"},
    {"LowWarningEnable", "On"},
    {"LowWarningLimit", "2"},
    {"LowAlarmDeadbandEnable", "On"},
    {"LowAlarmDeadband", "1.5"},
    {"LowAlarmPriority", "3"},
    {"LowAlarmDelay", "10"},
    {"LowAlarmText", "Low pressure"},
    {"HighAlarmEnable", "On"},
    {"HighAlarmDriveCommon", "Off"},
    {"HighAlarmLimit", "100"},
    {"HighWarningEnable", "Off"},
    {"HighWarningLimit", "95"},
    {"HighAlarmDeadbandEnable", "On"},
    {"HighAlarmDeadband", "98"},
    {"HighAlarmPriority", "200"},
    {"HighAlarmDelay", "65535"},
    {"HighAlarmText", kFullAlarmText},
    {"Analogue", kAnalogHw},
};

// The same record written from the offset tables.
std::vector<std::uint8_t> analog_image() {
    std::vector<std::uint8_t> image(qvr::kChannelRecordSize, 0);
    put_text(image, 0, "ABCDEFGH");
    put_text(image, 138, "IJKL");
    put_text(image, 158, "MNO");
    put_text(image, 8, "0123456789abcdef");
    put_text(image, 142, "GHIJKLMNOPQRSTUV");
    image[24] = 2;
    // Word bits: Enable 0, EventEnable 1, HighAlarmEnable 2, HighAlarmDeadbandEnable 3,
    // LowAlarmEnable 5, LowAlarmDeadbandEnable 6, LowAlarmDriveCommon 7, SigChangeEnable 8,
    // ScalingEnable 10, LowWarningEnable 12, ErrorAlarmEnable 13.
    put_u32(image, 28, 0b11'0101'1110'1111u);
    put_text(image, 32, "kPa/");
    put_text(image, 161, "sec2");
    put_f32(image, 36, 2.0f);
    put_f32(image, 40, -1.25f);
    put_f32(image, 44, 105.25f);
    put_f32(image, 48, -5.5f);
    put_f32(image, 52, 100.0f);
    put_f32(image, 56, 98.0f);
    put_f32(image, 60, 1.0f);
    put_f32(image, 64, 1.5f);
    put_f32(image, 68, 0.5f);
    image[72] = 200;
    image[73] = 3;
    put_text(image, 74, kFullAlarmText);
    put_text(image, 106, "Low pressure");
    image[165] = 7;
    put_u16(image, 166, 300);
    put_f32(image, 168, 110.0f);
    put_f32(image, 172, -10.0f);
    put_f32(image, 176, 95.0f);
    put_f32(image, 180, 2.0f);
    put_u16(image, 184, 65535);
    put_u16(image, 186, 10);
    const std::uint8_t hw[16] = {0x03, 0x05, 0xfb, 0x07, 0x01, 0x00, 0x02, 0x00,
                                 0xff, 0xff, 0x09, 0x00, 0x0a, 0x00, 0x00, 0x00};
    std::memcpy(image.data() + 188, hw, sizeof hw);
    return image;
}

const std::string kDigitalHw = "0103070400000000ffffffff0400000000000000a5a5a5a5";

const std::vector<Leaf> kDigitalLeaves = {
    {"Enable", "On"},
    {"Tag", "PUMPSTATION1"},
    {"Description", "Pump station running"},
    {"Type", "DO"},
    {"ErrorAlarmEnable", "On"},
    {"ErrorAlarmDriveCommon", "On"},
    {"ErrorAlarmPriority", "9"},
    {"ErrorAlarmDelay", "1000"},
    {"EventEnable", "On"},
    {"EventState", "High"},
    {"LowStateText", "Stopped"},
    {"HighStateText", "Running at full speed, all good."},  // 32 characters
    {"AlarmEnable", "On"},
    {"AlarmState", "Low"},
    {"AlarmDriveCommon", "Off"},
    {"AlarmPriority", "4"},
    {"AlarmDelay", "5"},
    {"AlarmText", "Pump tripped"},
    {"Digital", kDigitalHw},
};

std::vector<std::uint8_t> digital_image() {
    std::vector<std::uint8_t> image(qvr::kChannelRecordSize, 0);
    put_text(image, 0, "PUMPSTAT");
    put_text(image, 138, "ION1");
    put_text(image, 8, "Pump station run");
    put_text(image, 142, "ning");
    image[24] = 3;
    // Word bits: Enable 0, EventEnable 2, AlarmEnable 3, EventState 4, ErrorAlarmEnable 6,
    // ErrorAlarmDriveCommon 7.
    put_u32(image, 28, 0b1101'1101u);
    put_text(image, 32, "Running at full speed, all good.");
    put_text(image, 64, "Stopped");
    image[96] = 4;
    put_text(image, 97, "Pump tripped");
    image[186] = 9;
    put_u16(image, 188, 1000);
    put_u16(image, 190, 5);
    const std::uint8_t hw[24] = {0x01, 0x03, 0x07, 0x04, 0x00, 0x00, 0x00, 0x00, 0xff, 0xff, 0xff, 0xff,
                                 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xa5, 0xa5, 0xa5, 0xa5};
    std::memcpy(image.data() + 192, hw, sizeof hw);
    return image;
}

struct Layout {
    const char* name;
    const StructsType& type;
    const std::vector<Leaf>& leaves;
    std::vector<std::uint8_t> (*image)();
};

const Layout kLayouts[] = {
    {"analog", qvr::AnalogChannelType, kAnalogLeaves, analog_image},
    {"digital", qvr::DigitalChannelType, kDigitalLeaves, digital_image},
};

TEST(ChannelRecordTypes, LeavesAreTheElementsInTheirOrder) {
    for (const auto& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        EXPECT_EQ(layout.type.size, qvr::kChannelRecordSize);
        EXPECT_STREQ(layout.type.name, "structure");
        qvr::ChannelRecord record{};
        std::vector<std::string> expected;
        for (const auto& leaf : layout.leaves) expected.push_back(leaf.name);
        EXPECT_EQ(leaf_names(layout.type, &record), expected);
    }
    EXPECT_EQ(kAnalogLeaves.size(), qvr::kAnalogChannelFieldCount);
    EXPECT_EQ(kDigitalLeaves.size(), qvr::kDigitalChannelFieldCount);
    EXPECT_EQ(&qvr::channel_record_type(qvr::ChannelKind::CI), &qvr::AnalogChannelType);
    EXPECT_EQ(&qvr::channel_record_type(qvr::ChannelKind::DO), &qvr::DigitalChannelType);
}

// Texts set leaf by leaf give the bytes of the offset tables, read back as they were set,
// and the texts of a record rebuild it byte for byte.
TEST(ChannelRecordTypes, TextsBuildTheGoldenRecordAndRoundTripInPlace) {
    for (const auto& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        qvr::ChannelRecord record{};
        for (const auto& leaf : layout.leaves) {
            EXPECT_EQ(set_leaf(layout.type, leaf.name, leaf.text, &record), "") << leaf.name;
        }
        EXPECT_EQ(bytes_of(record), layout.image());

        qvr::ChannelRecord rebuilt{};
        for (const auto& leaf : layout.leaves) {
            const std::string text = leaf_text(layout.type, leaf.name, &record);
            EXPECT_EQ(text, leaf.text) << leaf.name;
            EXPECT_EQ(set_leaf(layout.type, leaf.name, text, &rebuilt), "") << leaf.name;
            // Setting a leaf's own text again changes nothing.
            const qvr::ChannelRecord before = record;
            EXPECT_EQ(set_leaf(layout.type, leaf.name, text, &record), "") << leaf.name;
            EXPECT_EQ(record, before) << leaf.name;
        }
        EXPECT_EQ(bytes_of(rebuilt), layout.image());
    }
}

TEST(ChannelRecordTypes, FlagWordsCompareExactly) {
    qvr::ChannelRecord record{};
    const qvr::ChannelRecord before = record;
    EXPECT_EQ(set_leaf(qvr::AnalogChannelType, "Enable", "on", &record), "invalid value \"on\"");
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(record, before);
    EXPECT_EQ(set_leaf(qvr::AnalogChannelType, "Enable", "On", &record), "");
    EXPECT_EQ(record.head.Flags.word(), 1u << 0);
    EXPECT_EQ(set_leaf(qvr::DigitalChannelType, "EventState", "On", &record), "invalid value \"On\"");
    EXPECT_EQ(set_leaf(qvr::DigitalChannelType, "EventState", "", &record), "invalid value \"\"");

    qvr::ChannelRecord digital{};
    EXPECT_EQ(set_leaf(qvr::DigitalChannelType, "EventState", "High", &digital), "");
    EXPECT_EQ(digital.head.Flags.word(), 1u << 4);
    EXPECT_EQ(leaf_text(qvr::DigitalChannelType, "EventState", &digital), "High");
    EXPECT_EQ(leaf_text(qvr::DigitalChannelType, "AlarmState", &digital), "Low");
    EXPECT_EQ(set_leaf(qvr::DigitalChannelType, "EventState", "Low", &digital), "");
    EXPECT_EQ(digital.head.Flags.word(), 0u);
}

// Each flag leaf owns exactly its bit of the table.
TEST(ChannelRecordTypes, EachFlagLeafOwnsItsWordBit) {
    struct Table {
        const StructsType& type;
        std::span<const qvr::FlagField> flags;
    };
    const Table tables[] = {{qvr::AnalogChannelType, qvr::kAnalogFlagFields},
                            {qvr::DigitalChannelType, qvr::kDigitalFlagFields}};
    for (const auto& table : tables) {
        for (const auto& flag : table.flags) {
            SCOPED_TRACE(std::string(flag.name));
            const std::string name(flag.name);
            qvr::ChannelRecord record{};
            EXPECT_EQ(set_leaf(table.type, name, std::string(flag.words.on), &record), "");
            EXPECT_EQ(record.head.Flags.word(), 1u << flag.word_bit);
            std::memset(record.head.Flags.bytes, 0xFF, sizeof record.head.Flags.bytes);
            EXPECT_EQ(set_leaf(table.type, name, std::string(flag.words.off), &record), "");
            EXPECT_EQ(record.head.Flags.word(), ~(1u << flag.word_bit));
            EXPECT_EQ(leaf_text(table.type, name, &record), flag.words.off);
        }
    }
}

// The flag area is the leaf's place minus the type's distance.
TEST(ChannelRecordTypes, BitfieldFindsTheFlagAreaByItsDistance) {
    constexpr StructsType at_distance = qvr::bitfield_type(5, qvr::flag_bit_number(4), qvr::kLowHighIds);
    qvr::ChannelRecord record{};
    std::uint8_t* place = record.bytes + qvr::kFlagsOffset + 5;
    char* text = at_distance.ascify(&at_distance, kMtype, place);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "Low");
    typed_mem_release(kMtype, text);
    ASSERT_EQ(at_distance.binify(&at_distance, "High", place, nullptr, 0), 0);
    EXPECT_EQ(record.head.Flags.word(), 1u << 4);
    EXPECT_TRUE(record.digital.Flags.test(qvr::DigitalFlag::EventState));
}

TEST(ChannelRecordTypes, SplitTextsJoinAndSplitThroughTheRecord) {
    qvr::ChannelRecord record{};
    // Older bytes after a short text are not part of it.
    std::memcpy(record.analog.Tag9, "WXYZ", 4);
    std::memcpy(record.analog.Units5, "stale", 4);
    EXPECT_EQ(set_leaf(qvr::AnalogChannelType, "Tag", "ABC", &record), "");
    EXPECT_EQ(record.analog.Tag9[0], '\0');
    EXPECT_EQ(leaf_text(qvr::AnalogChannelType, "Tag", &record), "ABC");
    EXPECT_EQ(set_leaf(qvr::AnalogChannelType, "Units", "bar", &record), "");
    EXPECT_EQ(record.analog.Units5[0], '\0');
    EXPECT_EQ(leaf_text(qvr::AnalogChannelType, "Units", &record), "bar");

    // A description of exactly 16 characters ends at the NUL of its second part.
    EXPECT_EQ(set_leaf(qvr::AnalogChannelType, "Description", "sixteen chars ok", &record), "");
    EXPECT_EQ(std::memchr(record.analog.Description, 0, 16), nullptr);
    EXPECT_EQ(leaf_text(qvr::AnalogChannelType, "Description", &record), "sixteen chars ok");

    // Longer texts are cut at the maximum; texts are bytes.
    EXPECT_EQ(set_leaf(qvr::AnalogChannelType, "Tag", "ABCDEFGHIJKLMNOPQRS", &record), "");
    EXPECT_EQ(leaf_text(qvr::AnalogChannelType, "Tag", &record), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(set_leaf(qvr::AnalogChannelType, "Units", "\xb0" "C", &record), "");
    EXPECT_EQ(leaf_text(qvr::AnalogChannelType, "Units", &record), "\xb0" "C");

    // The texts never touch the kind and the flags they overlay.
    record.head.Type = qvr::ChannelKind::CI;
    record.head.Flags.set(qvr::AnalogFlag::ErrorAlarmDriveCommon, true);
    const auto flags = record.head.Flags.word();
    EXPECT_EQ(set_leaf(qvr::AnalogChannelType, "Description", std::string(40, 'd'), &record), "");
    EXPECT_EQ(set_leaf(qvr::AnalogChannelType, "Units", "12345678", &record), "");
    EXPECT_EQ(record.head.Type, qvr::ChannelKind::CI);
    EXPECT_EQ(record.head.Flags.word(), flags);
    EXPECT_EQ(record.analog.Gain, 0.0f);
}

TEST(ChannelRecordTypes, ATextTypeAwayFromAFirstPartIsInvalid) {
    StructsType misplaced = qvr::chanconfignstring_type(qvr::ChannelText::Tag);
    misplaced.args[0] = StructsArg(4);
    qvr::ChannelRecord record{};
    char* text = misplaced.ascify(&misplaced, kMtype, record.bytes + 4);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "INVALID");
    typed_mem_release(kMtype, text);
    char ebuf[64] = "";
    EXPECT_EQ(misplaced.binify(&misplaced, "X", record.bytes + 4, ebuf, sizeof ebuf), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_STREQ(ebuf, "invalid value \"X\"");
    EXPECT_EQ(record, qvr::ChannelRecord{});
}

TEST(ChannelRecordTypes, KindTexts) {
    qvr::ChannelRecord record{};
    const char* names[] = {"AI", "DI", "AO", "DO", "CI"};
    for (int kind = 0; kind < 5; ++kind) {
        EXPECT_EQ(set_leaf(qvr::AnalogChannelType, "Type", names[kind], &record), "");
        EXPECT_EQ(record.bytes[24], kind);
    }
    EXPECT_EQ(set_leaf(qvr::AnalogChannelType, "Type", "ai", &record), "invalid value \"ai\"");
    record.bytes[24] = 7;
    EXPECT_EQ(leaf_text(qvr::DigitalChannelType, "Type", &record), "INVALID");
}

// Alarm and state texts may fill their 32 bytes; one character more is refused.
TEST(ChannelRecordTypes, AlarmAndStateTextsMayFillTheirField) {
    qvr::ChannelRecord record{};
    const std::string full(32, 'x');
    for (const char* leaf : {"LowStateText", "HighStateText", "AlarmText"}) {
        SCOPED_TRACE(leaf);
        EXPECT_EQ(set_leaf(qvr::DigitalChannelType, leaf, full, &record), "");
        EXPECT_EQ(leaf_text(qvr::DigitalChannelType, leaf, &record), full);
        const qvr::ChannelRecord before = record;
        EXPECT_EQ(set_leaf(qvr::DigitalChannelType, leaf, full + "y", &record),
                  "string is too long for bounded length buffer");
        EXPECT_EQ(record, before);
    }
    // The digital alarm text ends where the reserved bytes begin.
    EXPECT_EQ(record.digital.Reserved129[0], 0);
    EXPECT_EQ(set_leaf(qvr::AnalogChannelType, "LowAlarmText", "short", &record), "");
    EXPECT_EQ(leaf_text(qvr::AnalogChannelType, "LowAlarmText", &record), "short");
}

// Whole records are compared and copied as bytes: the generic forms refuse rather than
// ignore the flags or smear the texts over their neighbours.
TEST(ChannelRecordTypes, GenericCopyCompareAndBinaryFormsRefuse) {
    for (const auto& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        qvr::ChannelRecord a{};
        qvr::ChannelRecord b{};
        b.head.Flags.set(qvr::flag_bit_number(0), true);
        errno = 0;
        EXPECT_EQ(structs_struct_equal(&layout.type, &a, &b), 0);
        EXPECT_EQ(structs_struct_equal(&layout.type, &a, &a), 0);
        EXPECT_EQ(errno, ENOSYS);

        qvr::ChannelRecord to{};
        EXPECT_EQ(structs_struct_copy(&layout.type, &b, &to), -1);
        EXPECT_EQ(errno, ENOSYS);

        StructsBuffer code{};
        EXPECT_EQ(structs_get_field_binary(&layout.type, nullptr, &b, kMtype, &code), -1);
        EXPECT_EQ(code.data, nullptr);
        EXPECT_EQ(structs_get_field_binary(&layout.type, "Tag", &b, kMtype, &code), -1);
        EXPECT_EQ(errno, ENOSYS);
        const StructsBuffer text{3, reinterpret_cast<std::uint8_t*>(const_cast<char*>("On"))};
        EXPECT_EQ(structs_set_field_binary(&layout.type, "Enable", &text, &b, nullptr, 0), -1);
        EXPECT_EQ(structs_get_field(&layout.type, "Description", &b, to.bytes), -1);
    }
}

// Defaults: the whole record is zero; a text leaf's default empties only its own bytes.
TEST(ChannelRecordTypes, DefaultsTouchOnlyTheLeafsOwnBytes) {
    qvr::ChannelRecord record{};
    std::memset(record.bytes, 0x41, sizeof record.bytes);
    ASSERT_EQ(structs_init_field(&qvr::AnalogChannelType, nullptr, &record), 0);
    EXPECT_EQ(record, qvr::ChannelRecord{});

    ASSERT_EQ(set_leaf(qvr::AnalogChannelType, "Description", std::string(32, 'd'), &record), "");
    record.head.Type = qvr::ChannelKind::AO;
    record.head.Flags.set(qvr::AnalogFlag::Enable, true);
    ASSERT_EQ(structs_init_field(&qvr::AnalogChannelType, "Description", &record), 0);
    EXPECT_EQ(leaf_text(qvr::AnalogChannelType, "Description", &record), "");
    EXPECT_EQ(record.head.Type, qvr::ChannelKind::AO);
    EXPECT_TRUE(record.head.Flags.test(qvr::AnalogFlag::Enable));
}

}  // namespace
