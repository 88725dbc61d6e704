#include "qvr/host/device_module_layout.h"

#include <cstring>

#include "qvr/records/channel_record.h"
#include "qvr/host/host_table_layout.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/util/util.h"

namespace qvr {

std::optional<DataModuleLayout> data_module_layout(std::span<const std::byte> mapping,
                                                   bool has_value_records) {
    const size_t end = data_area_end(mapping);
    if (end < kStatusWordsOffset) return std::nullopt;
    DataModuleLayout m;
    std::memcpy(m.code, mapping.data() + kModuleCodeOffset, 2);
    m.bytes_per_channel = load_u16(mapping, kBytesPerChannelOffset);
    m.channel_count = load_u16(mapping, kChannelCountOffset);
    const uint64_t count = m.channel_count;
    if (kStatusWordsOffset + 4 * count > end) return std::nullopt;
    if (m.bytes_per_channel == kAnalogBytesPerChannel && kStatusWordsOffset + 8 * count <= end)
        m.values = kStatusWordsOffset + 4 * count;
    const uint64_t data_length = load_u32(mapping, kOffDataLength);
    const uint64_t per_channel = m.bytes_per_channel;
    const bool sized_for_records =
        data_length >= (per_channel + kValueRecordSize) * count + kDataModuleHeadSize;
    const uint64_t records = kStatusWordsOffset + per_channel * count;
    if ((has_value_records || sized_for_records) && per_channel >= 4 &&
        records + kValueRecordSize * count <= end)
        m.value_records = static_cast<size_t>(records);
    return m;
}

std::optional<LayoutFault> data_module_fault(std::span<const std::byte> mapping, bool analog) {
    if (const auto fault = module_header_fault(mapping)) return fault;
    const uint64_t data_length = load_u32(mapping, kOffDataLength);
    if (data_length < kDataModuleHeadSize) return LayoutFault::kDataLength;
    const uint16_t per_channel = load_u16(mapping, kBytesPerChannelOffset);
    if (per_channel != kAnalogBytesPerChannel && (analog || per_channel != kDigitalBytesPerChannel))
        return LayoutFault::kBytesPerValue;
    const uint64_t count = load_u16(mapping, kChannelCountOffset);
    if (kDataModuleHeadSize + per_channel * count > data_length) return LayoutFault::kChannelCount;
    return std::nullopt;
}

std::optional<LayoutFault> conf_module_fault(std::span<const std::byte> mapping, uint32_t channel_count) {
    if (const auto fault = module_header_fault(mapping)) return fault;
    if (uint64_t{channel_count} * kChannelRecordSize > load_u32(mapping, kOffDataLength))
        return LayoutFault::kDataLength;
    return std::nullopt;
}

bool module_head_writable(std::span<const std::byte> mapping) {
    return !module_header_fault(mapping) && load_u32(mapping, kOffDataLength) >= kDataModuleHeadSize;
}

uint32_t conf_record_count(std::span<const std::byte> mapping) {
    const size_t end = data_area_end(mapping);
    if (end < kConfRecordsOffset) return 0;
    return static_cast<uint32_t>((end - kConfRecordsOffset) / kChannelRecordSize);
}

std::optional<bool> event_bit(std::span<const std::byte> mapping, uint32_t channel_count, uint32_t bitmap,
                              uint32_t index) {
    if (index >= channel_count) return std::nullopt;
    const uint64_t start = kSectionDataOffset + uint64_t{bitmap} * event_bitmap_size(channel_count);
    if (start + index / 8 >= data_area_end(mapping)) return std::nullopt;
    return util_BitTest(reinterpret_cast<const uint8_t*>(mapping.data()) + start, index) != 0;
}

}  // namespace qvr
