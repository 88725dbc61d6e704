// Test plug-in that exports every entry point, XML support included, each with a visible
// effect the tests can check.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qvr/ext/ex_interface.h"
#include "test_plugin_records.h"

using namespace test_plugin;

namespace {

bool digital_record(const void* record) {
    return record != nullptr && (static_cast<const std::uint8_t*>(record)[kTypeOffset] & 1u) != 0;
}

// The address text of the record's hardware part, by its layout.
char* address_of(std::uint8_t* record) {
    std::size_t at = digital_record(record) ? kDigitalHwOffset + offsetof(DigitalHw, Address)
                                            : kAnalogHwOffset + offsetof(AnalogHw, Address);
    return reinterpret_cast<char*>(record + at);
}

void change_case(char* text, std::size_t size, bool upper) {
    for (std::size_t i = 0; i < size && text[i] != '\0'; ++i)
        text[i] = static_cast<char>(upper ? std::toupper(static_cast<unsigned char>(text[i]))
                                          : std::tolower(static_cast<unsigned char>(text[i])));
}

bool whole_record(const ExBuffer* b) {
    return b != nullptr && b->data != nullptr && b->size >= 216;
}

ChannelExtra g_extra_struct;
SevenArgs g_last_args;

}  // namespace

extern "C" {

void Ex_DoXml(void) {}

const StructsType* Ex_Get_Config_Type(const void*, int32_t) {
    return &kDecoratedConfigType;
}

int32_t Ex_Decorated_Config_Size(int32_t) {
    return sizeof(DecoratedConfig);
}

void Ex_Decorate_Config(ExBuffer* xml_form, void* config) {
    if (xml_form == nullptr || xml_form->size < static_cast<int32_t>(sizeof(DecoratedConfig))) return;
    DecoratedConfig d;
    std::memcpy(&d, xml_form->data, sizeof d);
    Config c{};
    c.Station = static_cast<std::uint16_t>(d.Station);
    c.Mode = static_cast<std::uint16_t>(d.Mode);
    std::memcpy(c.Name, d.Name, sizeof c.Name);
    c.Rate = d.Rate;
    std::memcpy(config, &c, sizeof c);
}

void Ex_Undecorate_Config(ExBuffer* config_copy) {
    if (config_copy == nullptr || config_copy->size < static_cast<int32_t>(sizeof(Config))) return;
    Config c;
    std::memcpy(&c, config_copy->data, sizeof c);
    auto* d = static_cast<DecoratedConfig*>(std::calloc(1, sizeof(DecoratedConfig)));
    d->Station = c.Station;
    d->Mode = c.Mode;
    std::memcpy(d->Name, c.Name, sizeof d->Name);
    d->Rate = c.Rate;
    config_copy->data = d;
    config_copy->size = sizeof *d;
    config_copy->mustFree = 1;
}

int Ex_Validate_Device(ExFoundFieldList found, const void*, char* ebuf, int32_t emax) {
    if (std::strstr(found, ",Rate,") != nullptr) return 0;
    std::snprintf(ebuf, static_cast<std::size_t>(emax), "Rate Required");
    return -1;
}

const char* Ex_Get_Config_Extra_FileName(void) {
    return "tvall.extra";
}

int32_t Ex_Get_Config_Extra_FileOffset(const void*, int32_t) {
    return 16;
}

const StructsType* Ex_Get_Config_Extra_Type(const void*, int32_t, const void*, int32_t) {
    return &kConfigExtraType;
}

void Ex_Decorate_Config_Extra(const void*, int32_t, ExBuffer* extra) {
    if (extra == nullptr || extra->size < static_cast<int32_t>(sizeof(ConfigExtra))) return;
    static_cast<ConfigExtra*>(extra->data)->Spare *= 2;
}

void Ex_Undecorate_Config_Extra(const void*, int32_t, ExBuffer* extra_copy) {
    if (extra_copy == nullptr || extra_copy->size < static_cast<int32_t>(sizeof(ConfigExtra))) return;
    static_cast<ConfigExtra*>(extra_copy->data)->Spare /= 2;
}

int Ex_Validate_Device_Extra(ExFoundFieldList, const void*, const void* extra, int32_t size, char* ebuf,
                             int32_t emax) {
    if (size >= static_cast<int32_t>(sizeof(ConfigExtra)) &&
        std::strncmp(static_cast<const ConfigExtra*>(extra)->Note, "bad", 12) == 0) {
        std::snprintf(ebuf, static_cast<std::size_t>(emax), "Note bad refused");
        return -1;
    }
    return 0;
}

void Ex_Get_Config_Port(const void*, int32_t text_max, char* text) {
    std::snprintf(text, static_cast<std::size_t>(text_max) + 1, "COM1");
}

const StructsType* Ex_Get_Channel_Hw_Type(int32_t, int32_t, const void* record) {
    return digital_record(record) ? &kDigitalHwType : &kAnalogHwType;
}

void Ex_Decorate_Channel_Hw(int32_t, int32_t, ExBuffer* record) {
    if (whole_record(record)) change_case(address_of(static_cast<std::uint8_t*>(record->data)), 8, true);
}

void Ex_Undecorate_Channel_Hw(int32_t, int32_t, ExBuffer* record_copy) {
    if (whole_record(record_copy))
        change_case(address_of(static_cast<std::uint8_t*>(record_copy->data)), 8, false);
}

int Ex_Validate_Chan(ExFoundFieldList, const void* record, char* ebuf, int32_t emax) {
    if (std::strncmp(static_cast<const char*>(record), "BAD", 8) != 0) return 0;
    std::snprintf(ebuf, static_cast<std::size_t>(emax), "tag BAD refused");
    return -1;
}

int Ex_Get_Mixed_Channel_Type(void) {
    return 1;
}

const char* Ex_Get_Channel_Extra_FileName(void) {
    return "tvall.chx";
}

int32_t Ex_Get_Channel_Extra_FileOffset(void) {
    return 0;
}

// With TVALL_EXTRA_NAMED_LIKE_LAYOUT set the extra data names its first field "Gain".
const StructsType* Ex_Get_Channel_Extra_Type(int32_t, int32_t, const void*) {
    if (std::getenv("TVALL_EXTRA_NAMED_LIKE_LAYOUT") != nullptr) return &kLayoutNamedChannelExtraType;
    return &kChannelExtraType;
}

int32_t Ex_Get_Channel_Extra_Size(int32_t, int32_t, const void*, const void*) {
    return sizeof(ChannelExtra);
}

void* Ex_Get_Channel_Extra_Struct(int32_t) {
    return &g_extra_struct;
}

// Turns the XML side (its own structure, which the loader filled) into the stored form and
// hands that back as a block of its own.
void Ex_Decorate_Channel_Extra(int32_t, int32_t, const void*, ExBuffer* extra) {
    if (extra == nullptr || extra->size < static_cast<int32_t>(sizeof(ChannelExtra))) return;
    auto* copy = static_cast<ChannelExtra*>(std::malloc(sizeof(ChannelExtra)));
    std::memcpy(copy, &g_extra_struct, sizeof *copy);
    copy->Code = static_cast<std::uint16_t>(copy->Code + 1000);
    extra->data = copy;
    extra->size = sizeof *copy;
    extra->mustFree = 1;
}

void Ex_Undecorate_Channel_Extra(int32_t, int32_t, const void*, ExBuffer* extra_copy) {
    if (extra_copy == nullptr || extra_copy->size < static_cast<int32_t>(sizeof(ChannelExtra))) return;
    auto* e = static_cast<ChannelExtra*>(extra_copy->data);
    e->Code = static_cast<std::uint16_t>(e->Code - 1000);
}

int Ex_Validate_Chan_Extra(ExFoundFieldList, const void*, const void*, int32_t bytes_left, char* ebuf,
                           int32_t emax) {
    if (bytes_left >= static_cast<int32_t>(sizeof(ChannelExtra))) return 0;
    std::snprintf(ebuf, static_cast<std::size_t>(emax), "extra data short");
    return -1;
}

int Ex_ValidateChanWithConfig(void* arg1, void* arg2, void* arg3, void* arg4, void* arg5, void* arg6,
                              void* arg7, char* ebuf, int32_t emax) {
    g_last_args = SevenArgs{{arg1, arg2, arg3, arg4, arg5, arg6, arg7}};
    if (arg1 == nullptr || *static_cast<int*>(arg1) != 7) return 0;
    std::snprintf(ebuf, static_cast<std::size_t>(emax), "channel 7 clashes with the configuration");
    return -1;
}

// For the tests: what the last Ex_ValidateChanWithConfig received.
__attribute__((visibility("default"))) const SevenArgs* tvall_last_args(void) {
    return &g_last_args;
}

}  // extern "C"
