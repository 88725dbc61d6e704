// The plug-in's entry points: its record descriptions for the configuration store, and the
// address form written to the channel files and the audit trail. Every other entry point is
// left out on purpose, so the store takes its default path for it (binary files only).
#include <cstdint>
#include <span>

#include "qvr/ext/ex_interface.h"
#include "tolva_ex/record_types.h"
#include "tolva_ex/records.h"

extern "C" {

const StructsType* Ex_Get_Config_Type(const void* /*config*/, std::int32_t /*size*/) {
    return &tolva::DeviceConfigRecordType;
}

void Ex_Undecorate_Config_Extra(const void* /*config*/, std::int32_t /*size*/, ExBuffer* /*extra_copy*/) {}

// The record's own kind byte picks the layout, since a table may hold both layouts.
void Ex_Undecorate_Channel_Hw(std::int32_t /*kind*/, std::int32_t /*index*/, ExBuffer* record_copy) {
    if (record_copy == nullptr || record_copy->data == nullptr || record_copy->size < 0 ||
        static_cast<std::size_t>(record_copy->size) < tolva::kChannelRecordSize) {
        return;
    }
    tolva::undecorate_channel_record(
        std::span(static_cast<std::uint8_t*>(record_copy->data), tolva::kChannelRecordSize));
}

const StructsType* Ex_Get_Channel_Hw_Type(std::int32_t /*kind*/, std::int32_t /*index*/, const void* /*record*/) {
    return &tolva::ChannelHwRecordType;
}

}  // extern "C"
