#pragma once
// Records of the test device types: a small configuration record, its wider XML-side form,
// an extra record and per-channel extra data.
#include <cstddef>
#include <cstdint>

#include "tslib/structs.h"

namespace test_plugin {

struct Config {  // as stored
    std::uint16_t Station;
    std::uint16_t Mode;
    char Name[16];
    std::uint32_t Rate;
};
static_assert(sizeof(Config) == 24);

struct DecoratedConfig {  // as written to XML
    std::uint32_t Station;
    std::uint32_t Mode;
    char Name[16];
    std::uint32_t Rate;
};
static_assert(sizeof(DecoratedConfig) == 28);

struct ConfigExtra {
    std::uint32_t Spare;
    char Note[12];
};

struct AnalogHw {
    std::uint8_t Station;
    char Address[8];
    std::uint16_t Words;
};

struct DigitalHw {
    std::uint8_t Station;
    char Address[8];
    std::uint8_t Bit;
};

struct ChannelExtra {
    float Scale;
    std::uint16_t Code;
};
static_assert(sizeof(ChannelExtra) == 8);

inline constexpr StructsId kModeIds[] = {{"Auto", 0, 0}, {"Manual", 1, 0}, {nullptr, 0, 0}};
inline constexpr StructsType kModeType = structs_id_type(4, kModeIds);
inline constexpr StructsType kName16 = structs_fixedstring_type(16);
inline constexpr StructsType kNote12 = structs_fixedstring_type(12);
inline constexpr StructsType kAddress8 = structs_fixedstring_type(8);

inline constexpr StructsField kDecoratedConfigFields[] = {
    structs_field("Station", structs_type_uint32, offsetof(DecoratedConfig, Station)),
    structs_field("Mode", kModeType, offsetof(DecoratedConfig, Mode)),
    structs_field("Name", kName16, offsetof(DecoratedConfig, Name)),
    structs_field("Rate", structs_type_uint32, offsetof(DecoratedConfig, Rate)),
    structs_field_end(),
};
inline constexpr StructsType kDecoratedConfigType =
    structs_struct_type(sizeof(DecoratedConfig), kDecoratedConfigFields);

inline constexpr StructsField kConfigExtraFields[] = {
    structs_field("Spare", structs_type_uint32, offsetof(ConfigExtra, Spare)),
    structs_field("Note", kNote12, offsetof(ConfigExtra, Note)),
    structs_field_end(),
};
inline constexpr StructsType kConfigExtraType = structs_struct_type(sizeof(ConfigExtra), kConfigExtraFields);

inline constexpr StructsField kAnalogHwFields[] = {
    structs_field("Station", structs_type_uint8, offsetof(AnalogHw, Station)),
    structs_field("Address", kAddress8, offsetof(AnalogHw, Address)),
    structs_field("Words", structs_type_uint16, offsetof(AnalogHw, Words)),
    structs_field_end(),
};
inline constexpr StructsType kAnalogHwType = structs_struct_type(sizeof(AnalogHw), kAnalogHwFields);

inline constexpr StructsField kDigitalHwFields[] = {
    structs_field("Station", structs_type_uint8, offsetof(DigitalHw, Station)),
    structs_field("Address", kAddress8, offsetof(DigitalHw, Address)),
    structs_field("Bit", structs_type_uint8, offsetof(DigitalHw, Bit)),
    structs_field_end(),
};
inline constexpr StructsType kDigitalHwType = structs_struct_type(sizeof(DigitalHw), kDigitalHwFields);

inline constexpr StructsField kChannelExtraFields[] = {
    structs_field("Scale", structs_type_float, offsetof(ChannelExtra, Scale)),
    structs_field("Code", structs_type_uint16, offsetof(ChannelExtra, Code)),
    structs_field_end(),
};
inline constexpr StructsType kChannelExtraType =
    structs_struct_type(sizeof(ChannelExtra), kChannelExtraFields);
// The same extra data with its first field named like a field of the analog channel layout.
inline constexpr StructsField kLayoutNamedChannelExtraFields[] = {
    structs_field("Gain", structs_type_float, offsetof(ChannelExtra, Scale)),
    structs_field("Code", structs_type_uint16, offsetof(ChannelExtra, Code)),
    structs_field_end(),
};
inline constexpr StructsType kLayoutNamedChannelExtraType =
    structs_struct_type(sizeof(ChannelExtra), kLayoutNamedChannelExtraFields);

// Offsets in the 216-byte channel record.
inline constexpr std::size_t kTypeOffset = 24;
inline constexpr std::size_t kAnalogHwOffset = 188;
inline constexpr std::size_t kDigitalHwOffset = 192;

// The arguments the last Ex_ValidateChanWithConfig call received (full plug-in).
struct SevenArgs {
    void* args[7];
};

}  // namespace test_plugin
