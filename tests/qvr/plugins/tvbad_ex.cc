// Test plug-in whose answers are wrong in every way a caller must survive: sizes beyond the
// caller's buffers, must-free flags on the caller's own buffer, negative sizes and offsets,
// error texts without an end, descriptions larger than the record they describe.
#include <cstdlib>
#include <cstring>

#include "qvr/ext/ex_interface.h"
#include "test_plugin_records.h"

using namespace test_plugin;

namespace {

// A description far larger than any hardware part.
inline constexpr StructsType kHugeHw = structs_fixeddata_type(100);
inline constexpr std::size_t kOversized = 2u << 20;

void* filled(std::size_t size, int byte) {
    void* block = std::malloc(size);
    std::memset(block, byte, size);
    return block;
}

void no_end(char* ebuf, int32_t emax) {
    if (ebuf != nullptr && emax > 0) std::memset(ebuf, 'x', static_cast<std::size_t>(emax));
}

}  // namespace

extern "C" {

void Ex_DoXml(void) {}

const StructsType* Ex_Get_Config_Type(const void*, int32_t) {
    return &kDecoratedConfigType;
}

int32_t Ex_Decorated_Config_Size(int32_t) {
    return -5;
}

void Ex_Decorate_Config(ExBuffer* xml_form, void*) {
    xml_form->data = filled(64, 0xAA);
    xml_form->size = 64;
    xml_form->mustFree = 1;
}

void Ex_Undecorate_Config(ExBuffer* config_copy) {
    config_copy->data = filled(kOversized, 0xAB);
    config_copy->size = static_cast<int32_t>(kOversized);
    config_copy->mustFree = 1;
}

int Ex_Validate_Device(ExFoundFieldList, const void*, char* ebuf, int32_t emax) {
    no_end(ebuf, emax);
    return -1;
}

int32_t Ex_Get_Config_Extra_FileOffset(const void*, int32_t) {
    return -1;
}

const StructsType* Ex_Get_Config_Extra_Type(const void*, int32_t, const void*, int32_t) {
    return &kConfigExtraType;
}

// Claims a size far beyond the block and asks to free the caller's own buffer.
void Ex_Decorate_Config_Extra(const void*, int32_t, ExBuffer* extra) {
    extra->size = 100000;
    extra->mustFree = 1;
}

void Ex_Undecorate_Config_Extra(const void*, int32_t, ExBuffer* extra_copy) {
    extra_copy->data = nullptr;
    extra_copy->size = -1;
    extra_copy->mustFree = 1;
}

int Ex_Validate_Device_Extra(ExFoundFieldList, const void*, const void*, int32_t, char* ebuf, int32_t emax) {
    no_end(ebuf, emax);
    return -1;
}

const StructsType* Ex_Get_Channel_Hw_Type(int32_t, int32_t, const void*) {
    return &kHugeHw;
}

void Ex_Decorate_Channel_Hw(int32_t, int32_t, ExBuffer* record) {
    record->data = filled(1000, 0xCD);
    record->size = 1000;
    record->mustFree = 1;
}

void Ex_Undecorate_Channel_Hw(int32_t, int32_t, ExBuffer* record_copy) {
    record_copy->size = 5000;
    record_copy->mustFree = 1;
}

int Ex_Validate_Chan(ExFoundFieldList, const void*, char*, int32_t) {
    return -1;
}

int Ex_Get_Mixed_Channel_Type(void) {
    return 7;
}

const StructsType* Ex_Get_Channel_Extra_Type(int32_t, int32_t, const void*) {
    return &kChannelExtraType;
}

int32_t Ex_Get_Channel_Extra_Size(int32_t, int32_t index, const void*, const void*) {
    return index % 2 == 0 ? (1 << 30) : -3;
}

void Ex_Decorate_Channel_Extra(int32_t, int32_t, const void*, ExBuffer* extra) {
    extra->data = filled(5000, 0xEE);
    extra->size = 5000;
    extra->mustFree = 1;
}

void Ex_Undecorate_Channel_Extra(int32_t, int32_t, const void*, ExBuffer* extra_copy) {
    extra_copy->data = filled(kOversized, 0xEF);
    extra_copy->size = static_cast<int32_t>(kOversized);
    extra_copy->mustFree = 1;
}

int Ex_Validate_Chan_Extra(ExFoundFieldList, const void*, const void*, int32_t, char*, int32_t) {
    return -2;
}

int Ex_ValidateChanWithConfig(void*, void*, void*, void*, void*, void*, void*, char* ebuf, int32_t emax) {
    no_end(ebuf, emax);
    return -1;
}

}  // extern "C"
