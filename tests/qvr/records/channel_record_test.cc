#include "qvr/records/channel_record.h"

#include <gtest/gtest.h>

#include <bit>
#include <cerrno>
#include <string>
#include <vector>

#include "platform/last_error.h"

namespace {

using qvr::AnalogFlag;
using qvr::ChannelKind;
using qvr::ChannelRecord;
using qvr::ChannelText;
using qvr::DigitalFlag;

// A record image written byte by byte from the offset tables, independent of the structs.
class Image {
  public:
    Image() : bytes_(qvr::kChannelRecordSize, 0) {}
    Image& text(std::size_t offset, std::string_view s) {
        for (std::size_t i = 0; i < s.size(); ++i) bytes_.at(offset + i) = static_cast<std::uint8_t>(s[i]);
        return *this;
    }
    Image& u8(std::size_t offset, std::uint8_t v) {
        bytes_.at(offset) = v;
        return *this;
    }
    Image& u16(std::size_t offset, std::uint16_t v) {
        bytes_.at(offset) = static_cast<std::uint8_t>(v);
        bytes_.at(offset + 1) = static_cast<std::uint8_t>(v >> 8);
        return *this;
    }
    Image& f32(std::size_t offset, float f) {
        const auto v = std::bit_cast<std::uint32_t>(f);
        for (int i = 0; i < 4; ++i) bytes_.at(offset + i) = static_cast<std::uint8_t>(v >> (8 * i));
        return *this;
    }
    Image& fill(std::size_t offset, std::size_t count, std::uint8_t first) {
        for (std::size_t i = 0; i < count; ++i) bytes_.at(offset + i) = static_cast<std::uint8_t>(first + i);
        return *this;
    }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

  private:
    std::vector<std::uint8_t> bytes_;
};

std::vector<std::uint8_t> bytes_of(const ChannelRecord& r) {
    return {r.bytes, r.bytes + qvr::kChannelRecordSize};
}

std::string part(const ChannelRecord& r, std::size_t offset, std::size_t size) {
    return std::string(reinterpret_cast<const char*>(r.bytes + offset), size);
}

TEST(ChannelRecordLayout, AnalogRecordMatchesTheOffsetTable) {
    ChannelRecord r{};
    qvr::split_text(r, ChannelText::Tag, "ABCDEFGHIJKLMNO");
    qvr::split_text(r, ChannelText::Description, "0123456789abcdefGHIJKLMNOPQRSTUV");
    qvr::split_text(r, ChannelText::Units, "degC/min");
    r.analog.Type = ChannelKind::CI;
    r.analog.Flags.set(AnalogFlag::Enable, true);
    r.analog.Flags.set(AnalogFlag::ScalingEnable, true);
    r.analog.Flags.set(AnalogFlag::ErrorAlarmDriveCommon, true);
    r.analog.Gain = 2.5f;
    r.analog.Offset = -1.25f;
    r.analog.HighEventLimit = 90.0f;
    r.analog.LowEventLimit = 10.0f;
    r.analog.HighAlarmLimit = 95.5f;
    r.analog.HighAlarmDeadband = 0.5f;
    r.analog.LowAlarmLimit = 4.75f;
    r.analog.LowAlarmDeadband = 0.25f;
    r.analog.SigChangeValue = 0.125f;
    r.analog.HighAlarmPriority = 3;
    r.analog.LowAlarmPriority = 4;
    std::memcpy(r.analog.HighAlarmText, "Too hot", 7);
    std::memcpy(r.analog.LowAlarmText, "Too cold", 8);
    r.analog.ErrorAlarmPriority = 7;
    r.analog.ErrorAlarmDelay = 0x1234;
    r.analog.MaximumUnits = 100.0f;
    r.analog.MinimumUnits = -50.0f;
    r.analog.HighWarningLimit = 85.0f;
    r.analog.LowWarningLimit = 15.0f;
    r.analog.HighAlarmDelay = 0x0A0B;
    r.analog.LowAlarmDelay = 0x0C0D;
    for (std::size_t i = 0; i < 16; ++i) r.analog.Analogue[i] = static_cast<std::uint8_t>(0xA0 + i);

    Image expected;
    expected.text(0, "ABCDEFGH")
        .text(8, "0123456789abcdef")
        .u8(24, 4)
        .u8(28, 0x01)
        .u8(29, 0x44)  // word bits 10 and 14
        .text(32, "degC")
        .f32(36, 2.5f)
        .f32(40, -1.25f)
        .f32(44, 90.0f)
        .f32(48, 10.0f)
        .f32(52, 95.5f)
        .f32(56, 0.5f)
        .f32(60, 4.75f)
        .f32(64, 0.25f)
        .f32(68, 0.125f)
        .u8(72, 3)
        .u8(73, 4)
        .text(74, "Too hot")
        .text(106, "Too cold")
        .text(138, "IJKL")
        .text(142, "GHIJKLMNOPQRSTUV")
        .text(158, "MNO")
        .text(161, "/min")
        .u8(165, 7)
        .u16(166, 0x1234)
        .f32(168, 100.0f)
        .f32(172, -50.0f)
        .f32(176, 85.0f)
        .f32(180, 15.0f)
        .u16(184, 0x0A0B)
        .u16(186, 0x0C0D)
        .fill(188, 16, 0xA0);
    EXPECT_EQ(bytes_of(r), expected.bytes());
    EXPECT_EQ(r.analog.Flags.word(), (1u << 0) | (1u << 10) | (1u << 14));
    EXPECT_EQ(qvr::hardware_part(r).data(), r.bytes + 188);
    EXPECT_EQ(qvr::hardware_part(r).size(), 16u);
}

TEST(ChannelRecordLayout, DigitalRecordMatchesTheOffsetTable) {
    ChannelRecord r{};
    qvr::split_text(r, ChannelText::Tag, "ABC");
    qvr::split_text(r, ChannelText::Description, "Pump 3 running!!");  // exactly 16
    r.digital.Type = ChannelKind::DO;
    r.digital.Flags.set(DigitalFlag::EventState, true);
    r.digital.Flags.set(DigitalFlag::ErrorAlarmDriveCommon, true);
    std::memcpy(r.digital.HighStateText, "RUNNING", 7);
    std::memcpy(r.digital.LowStateText, "STOPPED", 7);
    r.digital.AlarmPriority = 5;
    std::memcpy(r.digital.AlarmText, "Motor tripped", 13);
    r.digital.ErrorAlarmPriority = 6;
    r.digital.ErrorAlarmDelay = 300;
    r.digital.AlarmDelay = 45;
    for (std::size_t i = 0; i < 24; ++i) r.digital.Digital[i] = static_cast<std::uint8_t>(0x40 + i);

    Image expected;
    expected.text(0, "ABC")
        .text(8, "Pump 3 running!!")
        .u8(24, 3)
        .u8(28, 0x90)  // word bits 4 and 7
        .text(32, "RUNNING")
        .text(64, "STOPPED")
        .u8(96, 5)
        .text(97, "Motor tripped")
        .u8(186, 6)
        .u16(188, 300)
        .u16(190, 45)
        .fill(192, 24, 0x40);
    EXPECT_EQ(bytes_of(r), expected.bytes());
    EXPECT_EQ(r.digital.Flags.word(), (1u << 4) | (1u << 7));
    EXPECT_EQ(qvr::hardware_part(r).data(), r.bytes + 192);
    EXPECT_EQ(qvr::hardware_part(r).size(), 24u);
}

TEST(ChannelRecordLayout, HeadIsSharedByBothLayouts) {
    ChannelRecord r{};
    r.digital.Type = ChannelKind::DI;
    r.digital.Flags.set(DigitalFlag::Enable, true);
    EXPECT_EQ(r.head.Type, ChannelKind::DI);
    EXPECT_TRUE(r.analog.Flags.test(AnalogFlag::Enable));
    EXPECT_TRUE(qvr::is_digital(r.head.Type));

    ChannelRecord copy = r;
    EXPECT_EQ(copy, r);
    copy.bytes[215] = 1;
    EXPECT_FALSE(copy == r);
}

TEST(ChannelKindNames, TextFormsAndLayoutBit) {
    struct Case {
        std::string_view name;
        std::uint8_t value;
        bool digital;
    };
    const Case cases[] = {
        {"AI", 0, false}, {"DI", 1, true}, {"AO", 2, false}, {"DO", 3, true}, {"CI", 4, false}};
    for (const auto& c : cases) {
        const auto kind = static_cast<ChannelKind>(c.value);
        EXPECT_EQ(qvr::channel_kind_name(kind), c.name);
        EXPECT_EQ(qvr::channel_kind_from_name(c.name), kind);
        EXPECT_EQ(qvr::is_digital(kind), c.digital) << c.name;
    }
    EXPECT_FALSE(qvr::channel_kind_name(static_cast<ChannelKind>(5)).has_value());
    EXPECT_TRUE(qvr::is_digital(static_cast<ChannelKind>(5)));
    EXPECT_FALSE(qvr::channel_kind_from_name("ai").has_value());
}

// Word bit, flag byte and mask as the flag table places them.
struct FlagPlace {
    std::string_view name;
    unsigned word_bit;
    std::size_t byte;
    std::uint8_t mask;
};

template <std::size_t N, typename Flag>
void expect_flag_table(const std::array<qvr::FlagField, N>& fields, const std::vector<FlagPlace>& places,
                       const std::vector<Flag>& enums) {
    ASSERT_EQ(fields.size(), places.size());
    ASSERT_EQ(enums.size(), places.size());
    for (std::size_t i = 0; i < places.size(); ++i) {
        const FlagPlace& p = places[i];
        SCOPED_TRACE(std::string(p.name));
        EXPECT_EQ(fields[i].name, p.name);
        EXPECT_EQ(fields[i].word_bit, p.word_bit);
        EXPECT_EQ(static_cast<unsigned>(enums[i]), p.word_bit);

        qvr::ChannelFlags flags{};
        flags.set(enums[i], true);
        EXPECT_EQ(flags.word(), 1u << p.word_bit);
        for (std::size_t b = 0; b < 4; ++b)
            EXPECT_EQ(flags.bytes[b], b == p.byte ? p.mask : 0) << "byte " << b;
        EXPECT_TRUE(flags.test(qvr::flag_bit_number(p.word_bit)));

        qvr::ChannelFlags all{{0xFF, 0xFF, 0xFF, 0xFF}};
        all.set(enums[i], false);
        EXPECT_EQ(all.word(), ~(1u << p.word_bit));
        EXPECT_FALSE(all.test(enums[i]));
    }
}

TEST(ChannelFlags, AnalogTable) {
    const std::vector<FlagPlace> places = {
        {"Enable", 0, 0, 0x01},
        {"EventEnable", 1, 0, 0x02},
        {"HighAlarmEnable", 2, 0, 0x04},
        {"HighAlarmDeadbandEnable", 3, 0, 0x08},
        {"HighAlarmDriveCommon", 4, 0, 0x10},
        {"LowAlarmEnable", 5, 0, 0x20},
        {"LowAlarmDeadbandEnable", 6, 0, 0x40},
        {"LowAlarmDriveCommon", 7, 0, 0x80},
        {"SigChangeEnable", 8, 1, 0x01},
        {"ReferenceEnable", 9, 1, 0x02},
        {"ScalingEnable", 10, 1, 0x04},
        {"HighWarningEnable", 11, 1, 0x08},
        {"LowWarningEnable", 12, 1, 0x10},
        {"ErrorAlarmEnable", 13, 1, 0x20},
        {"ErrorAlarmDriveCommon", 14, 1, 0x40},
    };
    const std::vector<AnalogFlag> enums = {
        AnalogFlag::Enable,
        AnalogFlag::EventEnable,
        AnalogFlag::HighAlarmEnable,
        AnalogFlag::HighAlarmDeadbandEnable,
        AnalogFlag::HighAlarmDriveCommon,
        AnalogFlag::LowAlarmEnable,
        AnalogFlag::LowAlarmDeadbandEnable,
        AnalogFlag::LowAlarmDriveCommon,
        AnalogFlag::SigChangeEnable,
        AnalogFlag::ReferenceEnable,
        AnalogFlag::ScalingEnable,
        AnalogFlag::HighWarningEnable,
        AnalogFlag::LowWarningEnable,
        AnalogFlag::ErrorAlarmEnable,
        AnalogFlag::ErrorAlarmDriveCommon,
    };
    expect_flag_table(qvr::kAnalogFlagFields, places, enums);
    for (const auto& f : qvr::kAnalogFlagFields) {
        EXPECT_EQ(f.words.off, "Off");
        EXPECT_EQ(f.words.on, "On");
    }
}

TEST(ChannelFlags, DigitalTable) {
    const std::vector<FlagPlace> places = {
        {"Enable", 0, 0, 0x01},           {"AlarmDriveCommon", 1, 0, 0x02},
        {"EventEnable", 2, 0, 0x04},      {"AlarmEnable", 3, 0, 0x08},
        {"EventState", 4, 0, 0x10},       {"AlarmState", 5, 0, 0x20},
        {"ErrorAlarmEnable", 6, 0, 0x40}, {"ErrorAlarmDriveCommon", 7, 0, 0x80},
    };
    const std::vector<DigitalFlag> enums = {
        DigitalFlag::Enable,           DigitalFlag::AlarmDriveCommon,
        DigitalFlag::EventEnable,      DigitalFlag::AlarmEnable,
        DigitalFlag::EventState,       DigitalFlag::AlarmState,
        DigitalFlag::ErrorAlarmEnable, DigitalFlag::ErrorAlarmDriveCommon,
    };
    expect_flag_table(qvr::kDigitalFlagFields, places, enums);
    for (const auto& f : qvr::kDigitalFlagFields) {
        const bool state = f.name == "EventState" || f.name == "AlarmState";
        EXPECT_EQ(f.words.off, state ? "Low" : "Off") << f.name;
        EXPECT_EQ(f.words.on, state ? "High" : "On") << f.name;
    }
}

TEST(ChannelFlags, BitNumbersBeyondTheAreaAreIgnored) {
    qvr::ChannelFlags flags{};
    flags.set(32, true);
    flags.set(1000, true);
    EXPECT_EQ(flags.word(), 0u);
    EXPECT_FALSE(flags.test(32));
}

TEST(ChannelFlagText, ExactWordsSetAndClearTheBit) {
    ChannelRecord r{};
    const unsigned enable = qvr::flag_bit_number(0);
    auto on = qvr::parse_flag_text("On", qvr::kOffOn);
    ASSERT_TRUE(on.has_value());
    r.analog.Flags.set(enable, *on);
    EXPECT_EQ(r.analog.Flags.word(), 1u);
    EXPECT_EQ(qvr::flag_text(r.analog.Flags, enable, qvr::kOffOn), "On");

    EXPECT_FALSE(qvr::parse_flag_text("on", qvr::kOffOn).has_value());
    EXPECT_FALSE(qvr::parse_flag_text("On ", qvr::kOffOn).has_value());
    EXPECT_FALSE(qvr::parse_flag_text("", qvr::kOffOn).has_value());
    EXPECT_EQ(qvr::parse_flag_text("Off", qvr::kOffOn), false);

    ChannelRecord d{};
    d.digital.Type = ChannelKind::DI;
    const unsigned event_state = qvr::flag_bit_number(static_cast<unsigned>(DigitalFlag::EventState));
    EXPECT_EQ(qvr::flag_text(d.digital.Flags, event_state, qvr::kLowHigh), "Low");
    d.digital.Flags.set(event_state, qvr::parse_flag_text("High", qvr::kLowHigh).value());
    EXPECT_EQ(d.digital.Flags.word(), 1u << 4);
    EXPECT_EQ(qvr::flag_text(d.digital.Flags, event_state, qvr::kLowHigh), "High");
}

struct SplitCase {
    ChannelText which;
    std::string_view text;
    std::vector<std::string> parts;  // every part's bytes in full
    std::string_view joined;
};

std::vector<std::string> parts_of(const ChannelRecord& r, ChannelText which) {
    switch (which) {
        case ChannelText::Tag:
            return {part(r, 0, 8), part(r, 138, 4), part(r, 158, 3)};
        case ChannelText::Description:
            return {part(r, 8, 16), part(r, 142, 16)};
        case ChannelText::Units:
            break;
    }
    return {part(r, 32, 4), part(r, 161, 4)};
}

std::string z(std::string_view s, std::size_t size) {
    std::string out(s);
    out.resize(size, '\0');
    return out;
}

TEST(ChannelTextSplit, PartsAndJoin) {
    const std::string full32 = "0123456789abcdefGHIJKLMNOPQRSTUV";
    const std::string too_long = full32 + "overflow";
    const SplitCase cases[] = {
        {ChannelText::Tag, "ABCDEFGHIJKLMNO", {"ABCDEFGH", "IJKL", "MNO"}, "ABCDEFGHIJKLMNO"},
        {ChannelText::Tag, "ABC", {z("ABC", 8), z("", 4), z("", 3)}, "ABC"},
        {ChannelText::Tag, "ABCDEFGH", {"ABCDEFGH", z("", 4), z("", 3)}, "ABCDEFGH"},
        {ChannelText::Tag, "ABCDEFGHI", {"ABCDEFGH", z("I", 4), z("", 3)}, "ABCDEFGHI"},
        {ChannelText::Tag, "ABCDEFGHIJKL", {"ABCDEFGH", "IJKL", z("", 3)}, "ABCDEFGHIJKL"},
        {ChannelText::Tag, "ABCDEFGHIJKLM", {"ABCDEFGH", "IJKL", z("M", 3)}, "ABCDEFGHIJKLM"},
        {ChannelText::Tag, "ABCDEFGHIJKLMNOPQR", {"ABCDEFGH", "IJKL", "MNO"}, "ABCDEFGHIJKLMNO"},
        {ChannelText::Tag, "", {z("", 8), z("", 4), z("", 3)}, ""},
        {ChannelText::Tag, std::string_view("AB\0CDEFGHIJ", 11), {z("AB", 8), z("", 4), z("", 3)}, "AB"},
        {ChannelText::Description, "Pump 3 running!!", {"Pump 3 running!!", z("", 16)}, "Pump 3 running!!"},
        {ChannelText::Description,
         "Pump 3 running!!X",
         {"Pump 3 running!!", z("X", 16)},
         "Pump 3 running!!X"},
        {ChannelText::Description, too_long, {"0123456789abcdef", "GHIJKLMNOPQRSTUV"}, full32},
        {ChannelText::Units, "degC", {"degC", z("", 4)}, "degC"},
        {ChannelText::Units, "m3/h", {"m3/h", z("", 4)}, "m3/h"},
        {ChannelText::Units, "litres/s", {"litr", "es/s"}, "litres/s"},
        {ChannelText::Units, "litres/sec", {"litr", "es/s"}, "litres/s"},
        {ChannelText::Units,
         "\xB0"
         "C",
         {z("\xB0"
            "C",
            4),
          z("", 4)},
         "\xB0"
         "C"},  // degree sign, one byte
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        ChannelRecord r{};
        std::memset(r.bytes, 'x', sizeof r.bytes);  // older contents
        qvr::split_text(r, c.which, c.text);
        EXPECT_EQ(parts_of(r, c.which), c.parts);
        EXPECT_EQ(qvr::join_text(r, c.which), c.joined);
    }
}

TEST(ChannelTextSplit, SplittingTouchesOnlyTheTextsParts) {
    ChannelRecord r{};
    std::memset(r.bytes, 0x5A, sizeof r.bytes);
    ChannelRecord before = r;
    qvr::split_text(r, ChannelText::Tag, "T");
    qvr::split_text(r, ChannelText::Description, "D");
    qvr::split_text(r, ChannelText::Units, "U");
    for (std::size_t i = 0; i < qvr::kChannelRecordSize; ++i) {
        const bool text_byte = i < 24 || (i >= 32 && i < 36) || (i >= 138 && i < 165);
        if (!text_byte) {
            EXPECT_EQ(r.bytes[i], before.bytes[i]) << "offset " << i;
        }
    }
}

TEST(ChannelTextJoin, StopsAtTheFirstNulWhateverFollows) {
    ChannelRecord r{};
    std::memcpy(r.bytes + 0, "ABC\0WXYZ", 8);
    std::memcpy(r.bytes + 138, "IJKL", 4);
    std::memcpy(r.bytes + 158, "MNO", 3);
    EXPECT_EQ(qvr::join_text(r, ChannelText::Tag), "ABC");

    // A full primary part carries on into the next part, which may end at once.
    std::memcpy(r.bytes + 0, "ABCDEFGH", 8);
    r.bytes[138] = 0;
    EXPECT_EQ(qvr::join_text(r, ChannelText::Tag), "ABCDEFGH");

    // All parts full: the text is as long as the maximum, with no NUL anywhere.
    std::memset(r.bytes + 8, 'd', 16);
    std::memset(r.bytes + 142, 'e', 16);
    r.bytes[158 + 3] = 'u';  // the byte after the tag's last part is not part of the tag
    std::memcpy(r.bytes + 138, "IJKL", 4);
    EXPECT_EQ(qvr::join_text(r, ChannelText::Tag), "ABCDEFGHIJKLMNO");
    EXPECT_EQ(qvr::join_text(r, ChannelText::Description), std::string(16, 'd') + std::string(16, 'e'));
}

TEST(ChannelTextFields, PrimaryOffsetsAndMaxima) {
    EXPECT_EQ(qvr::text_at_primary_offset(0), ChannelText::Tag);
    EXPECT_EQ(qvr::text_at_primary_offset(8), ChannelText::Description);
    EXPECT_EQ(qvr::text_at_primary_offset(32), ChannelText::Units);
    for (std::size_t other : {1u, 4u, 24u, 138u, 142u, 161u})
        EXPECT_FALSE(qvr::text_at_primary_offset(other)) << other;
    EXPECT_EQ(qvr::text_max(ChannelText::Tag), 15u);
    EXPECT_EQ(qvr::text_max(ChannelText::Description), 32u);
    EXPECT_EQ(qvr::text_max(ChannelText::Units), 8u);
}

TEST(ChanrecTexts, GettersJoinIntoTheirOwnBuffers) {
    ChannelRecord r{};
    ASSERT_EQ(chanrec_SetTag(&r, "ABCDEFGHIJKLMNOPQ"), 0);
    ASSERT_EQ(chanrec_SetDescription(&r, "Feed water flow, line 2"), 0);
    ASSERT_EQ(chanrec_SetUnits(&r, "m3/hour"), 0);
    const char* tag = chanrec_GetTag(&r);
    const char* description = chanrec_GetDescription(&r);
    const char* units = chanrec_GetUnits(&r);
    EXPECT_STREQ(tag, "ABCDEFGHIJKLMNO");
    EXPECT_STREQ(description, "Feed water flow, line 2");
    EXPECT_STREQ(units, "m3/hour");

    ChannelRecord other{};
    chanrec_SetTag(&other, "X");
    EXPECT_EQ(chanrec_GetTag(&other), tag);  // the same buffer, refilled
    EXPECT_STREQ(tag, "X");
    EXPECT_STREQ(description, "Feed water flow, line 2");
}

TEST(ChanrecTexts, NullArguments) {
    ChannelRecord r{};
    chanrec_SetTag(&r, "OLD");
    EXPECT_EQ(chanrec_SetTag(&r, nullptr), 0);
    EXPECT_STREQ(chanrec_GetTag(&r), "");

    errno = 12345;
    EXPECT_EQ(chanrec_SetDescription(nullptr, "x"), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidArgument);
    EXPECT_EQ(errno, platform::kErrorInvalidArgument);
    EXPECT_STREQ(chanrec_GetDescription(nullptr), "");
}

// The units places of a digital record hold the high state text and a reserved run.
TEST(ChanrecTexts, DigitalRecordHasNoUnits) {
    ChannelRecord r{};
    r.digital.Type = ChannelKind::DI;
    std::memcpy(r.digital.HighStateText, "CLOSED", 6);
    const ChannelRecord before = r;
    EXPECT_EQ(chanrec_SetUnits(&r, "bar"), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidArgument);
    EXPECT_EQ(r, before);
    EXPECT_STREQ(chanrec_GetUnits(&r), "");
}

struct KeyCase {
    std::string kind;
    std::string source;
    std::string key;
};

TEST(ChannelSourceKeys, LoggerKeys) {
    const std::string long_parts = "srv_ABCD_0123456789ABCDEF_3333333333333333_4444444444444444";
    const std::string long_parts_c = long_parts + "_Zrest";
    const std::string long_key = "AB_0123456789AB_" + std::string(15, '3') + "_" + std::string(15, '4');
    const std::string long_key_c =
        "AB_0123456789AB_" + std::string(14, '3') + "_" + std::string(14, '4') + "_Z";
    const std::string plain_long(60, 'q');
    const KeyCase cases[] = {
        // Short sources are keys as they are, whatever the kind.
        {"resub", "PLANT_A_B_C_D", "PLANT_A_B_C_D"},
        {"resub", "host_a_b_c_d_ef", "host_a_b_c_d_ef"},  // 15 characters
        {"stand", "Boiler house", "Boiler house"},
        // Three underscores are not a resubscriber's name.
        {"resub", "hostname_AB_CDEF_GH", "hostname_AB_CDEF_GH"},
        // Four underscores: tag part, then description part from character 16.
        {"resub", "host_P1_TAGPART_DESC3_DESC4", "P1_TAGPART     _DESC3_DESC4"},
        {"RESUB", "host_P1_TAGPART_DESC3_DESC4", "P1_TAGPART     _DESC3_DESC4"},
        {"resubscriber", "host_P1_TAGPART_DESC3_DESC4", "P1_TAGPART     _DESC3_DESC4"},
        // Five underscores: the single character after the fifth ends the key.
        {"resub", "host_P1_TAG_D3_D4_X", "P1_TAG         _D3_D4_X"},
        {"resub", "host_a_b_c_dd_e_fff", "a_b            _c_dd_e"},
        {"resub", "host_P1_TAG_D3_D4_", "P1_TAG         _D3_D4"},
        // The first name part keeps two characters; empty parts print as one blank.
        {"resub", "host_PLANT_TAG_D3_D4", "PL_TAG         _D3_D4"},
        {"resub", "abcdefghijklmnop____", " _             _ _ "},
        {"resub", long_parts, long_key},
        {"resub", long_parts_c, long_key_c},
        // Other kinds take the first 47 characters.
        {"stand", "host_P1_TAGPART_DESC3_DESC4", "host_P1_TAGPART_DESC3_DESC4"},
        {"repub", plain_long, plain_long.substr(0, 47)},
        {"resu", "host_P1_TAGPART_DESC3_DESC4", "host_P1_TAGPART_DESC3_DESC4"},
        {"", plain_long, plain_long.substr(0, 47)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.kind + " / " + c.source);
        const std::string key = qvr::logger_source_key(c.kind, c.source);
        EXPECT_EQ(key, c.key);
        EXPECT_LE(key.size(), qvr::kSourceKeyMax);
        EXPECT_STREQ(chanrec_LoggerSourceKey(c.kind.c_str(), c.source.c_str()), c.key.c_str());
    }
    EXPECT_EQ(long_key.size(), 47u);
    EXPECT_EQ(long_key_c.size(), 47u);
}

TEST(ChannelSourceKeys, ExportKeysPrefixTheLoggerKeyAndCutAt47) {
    const std::string long_parts = "srv_ABCD_0123456789ABCDEF_3333333333333333_4444444444444444";
    const std::string plain_long = "0123456789012345678901234567890123456789012345678901234";
    const KeyCase cases[] = {
        {"resub", "PLANT_A", "EXP PLANT_A"},
        {"resub", "host_P1_TAG_D3_D4_X", "EXP P1_TAG         _D3_D4_X"},
        {"resub", long_parts, "EXP AB_0123456789AB_" + std::string(15, '3') + "_" + std::string(11, '4')},
        {"stand", plain_long, "EXP " + plain_long.substr(0, 43)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        EXPECT_EQ(qvr::export_source_key(c.kind, c.source), c.key);
        EXPECT_STREQ(chanrec_ExportSourceKey(c.kind.c_str(), c.source.c_str()), c.key.c_str());
    }
    EXPECT_STREQ(chanrec_ExportSourceKey(nullptr, nullptr), "EXP ");
}

}  // namespace
