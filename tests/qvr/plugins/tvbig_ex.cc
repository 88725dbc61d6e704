// Test plug-in (XML on) whose descriptions are larger than the blocks callers hand over: a
// configuration description of 1,024 bytes with a password field, an extra description of 64
// bytes, hardware descriptions that fill the rest of the record (first channel) or one byte
// more (later channels), and channel extra sizes that do not fit the bytes left (by the
// channel's tag: "NEG" -4, "HUGE" 4,096).
#include <cstddef>
#include <cstring>

#include "qvr/ext/ex_interface.h"
#include "test_plugin_records.h"

using namespace test_plugin;

namespace {

struct BigConfig {
    std::uint32_t Head;
    char Password[16];
    std::uint8_t Middle[1000];
    std::uint32_t Tail;
};
static_assert(sizeof(BigConfig) == 1024 && offsetof(BigConfig, Tail) == 1020);

struct BigExtra {
    std::uint32_t Spare;
    std::uint8_t Middle[56];
    std::uint32_t Far;
};
static_assert(sizeof(BigExtra) == 64 && offsetof(BigExtra, Far) == 60);

constexpr StructsType kPassword16 = structs_fixedstring_type(16);
constexpr StructsField kBigConfigFields[] = {
    structs_field("Head", structs_type_uint32, offsetof(BigConfig, Head)),
    structs_field("Password", kPassword16, offsetof(BigConfig, Password)),
    structs_field("Tail", structs_type_uint32, offsetof(BigConfig, Tail)),
    structs_field_end(),
};
constexpr StructsType kBigConfigType = structs_struct_type(sizeof(BigConfig), kBigConfigFields);

constexpr StructsField kBigExtraFields[] = {
    structs_field("Spare", structs_type_uint32, offsetof(BigExtra, Spare)),
    structs_field("Far", structs_type_uint32, offsetof(BigExtra, Far)),
    structs_field_end(),
};
constexpr StructsType kBigExtraType = structs_struct_type(sizeof(BigExtra), kBigExtraFields);

// From the hardware part to the record's end, and one byte past it.
constexpr StructsType kAnalogHwToEnd = structs_fixeddata_type(216 - kAnalogHwOffset);
constexpr StructsType kAnalogHwPastEnd = structs_fixeddata_type(216 - kAnalogHwOffset + 1);
constexpr StructsType kDigitalHwToEnd = structs_fixeddata_type(216 - kDigitalHwOffset);
constexpr StructsType kDigitalHwPastEnd = structs_fixeddata_type(216 - kDigitalHwOffset + 1);

bool tagged(const void* record, const char* tag) {
    return record != nullptr && std::strncmp(static_cast<const char*>(record), tag, 8) == 0;
}

}  // namespace

extern "C" {

void Ex_DoXml(void) {}

const StructsType* Ex_Get_Config_Type(const void*, int32_t) {
    return &kBigConfigType;
}

const StructsType* Ex_Get_Config_Extra_Type(const void*, int32_t, const void*, int32_t) {
    return &kBigExtraType;
}

// By index: loads ask before the channel's other fields are read.
const StructsType* Ex_Get_Channel_Hw_Type(int32_t, int32_t index, const void* record) {
    if (record == nullptr) return nullptr;
    const bool digital = (static_cast<const std::uint8_t*>(record)[kTypeOffset] & 1u) != 0;
    if (index == 0) return digital ? &kDigitalHwToEnd : &kAnalogHwToEnd;
    return digital ? &kDigitalHwPastEnd : &kAnalogHwPastEnd;
}

const StructsType* Ex_Get_Channel_Extra_Type(int32_t, int32_t, const void*) {
    return &kChannelExtraType;
}

int32_t Ex_Get_Channel_Extra_Size(int32_t, int32_t, const void* record, const void*) {
    if (tagged(record, "NEG")) return -4;
    if (tagged(record, "HUGE")) return 4096;
    return sizeof(ChannelExtra);
}

}  // extern "C"
