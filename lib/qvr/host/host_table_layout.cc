#include "qvr/host/host_table_layout.h"

#include <algorithm>

#include "qvr/host/host_tables.h"
#include "qvr/ipc/section_layout.h"

namespace qvr {

size_t data_area_end(std::span<const std::byte> mapping) {
    if (mapping.size() < kSectionDataOffset) return 0;
    const uint64_t end = kSectionDataOffset + static_cast<uint64_t>(load_u32(mapping, kOffDataLength));
    return static_cast<size_t>(std::min<uint64_t>(end, mapping.size()));
}

uint32_t table_count_field(std::span<const std::byte> mapping) {
    if (data_area_end(mapping) < kTableRecordsOffset) return 0;
    return load_u32(mapping, kTableCountOffset);
}

uint32_t table_record_count(std::span<const std::byte> mapping, size_t record_size) {
    const size_t end = data_area_end(mapping);
    if (end < kTableRecordsOffset || record_size == 0) return 0;
    const uint64_t fits = (end - kTableRecordsOffset) / record_size;
    return static_cast<uint32_t>(std::min<uint64_t>(fits, table_count_field(mapping)));
}

std::optional<size_t> table_record_offset(std::span<const std::byte> mapping, size_t record_size,
                                          uint32_t index) {
    if (index >= table_record_count(mapping, record_size)) return std::nullopt;
    return kTableRecordsOffset + static_cast<size_t>(index) * record_size;
}

std::optional<LayoutFault> table_fault(std::span<const std::byte> mapping, size_t record_size) {
    if (const auto fault = module_header_fault(mapping)) return fault;
    const uint64_t data_length = load_u32(mapping, kOffDataLength);
    if (data_length < kTableRecordsOffset - kTableCountOffset) return LayoutFault::kDataLength;
    const uint64_t records = uint64_t{load_u32(mapping, kTableCountOffset)} * record_size;
    if (kTableRecordsOffset - kTableCountOffset + records > data_length) return LayoutFault::kRecordCount;
    return std::nullopt;
}

std::optional<size_t> stats_code_offset(std::span<const std::byte> mapping, uint32_t index) {
    const uint32_t count = table_count_field(mapping);
    if (index >= count) return std::nullopt;
    // The host lays the code array out whole or not at all: a data area short of the whole
    // array (4 + count x 790 bytes) has no codes, not some.
    const uint64_t array = kTableRecordsOffset + static_cast<uint64_t>(count) * kDeviceRecordSize;
    if (array + static_cast<uint64_t>(count) * kStatsCodeSize > data_area_end(mapping)) return std::nullopt;
    return static_cast<size_t>(array + uint64_t{index} * kStatsCodeSize);
}

std::optional<ErrorTableLayout> error_table_layout(std::span<const std::byte> mapping) {
    const size_t end = data_area_end(mapping);
    if (end < kTableRecordsOffset) return std::nullopt;
    const uint32_t length = load_u32(mapping, kOffDataLength);
    const uint32_t count = load_u32(mapping, kTableCountOffset);
    ErrorTableLayout t;
    t.long_form = static_cast<uint64_t>(count) * kShortErrorEntrySize != length;
    if (t.long_form) {
        t.first = kTableRecordsOffset + ((length - 4) / kErrorEntryPairSize) * kShortErrorEntrySize;
        t.entry_size = kLongErrorEntrySize;
        t.name_offset = kLongEntryNameOffset;
        t.name_size = kLongEntryNameSize;
        t.text_offset = kLongEntryTextOffset;
        t.text_size = kLongEntryTextSize;
    } else {
        t.first = kTableRecordsOffset;
        t.entry_size = kShortErrorEntrySize;
        t.name_offset = kShortEntryNameOffset;
        t.name_size = kShortEntryNameSize;
        t.text_offset = kShortEntryTextOffset;
        t.text_size = kShortEntryTextSize;
    }
    const uint64_t fits = end > t.first ? (end - t.first) / t.entry_size : 0;
    t.entries = static_cast<uint32_t>(std::min<uint64_t>(fits, count));
    return t;
}

std::optional<LayoutFault> error_table_fault(std::span<const std::byte> mapping) {
    if (const auto fault = module_header_fault(mapping)) return fault;
    const auto t = error_table_layout(mapping);
    if (!t) return LayoutFault::kDataLength;
    // The short form's last entry is cut by the count field by design (see above).
    if (t->long_form && t->entries < load_u32(mapping, kTableCountOffset)) return LayoutFault::kRecordCount;
    return std::nullopt;
}

}  // namespace qvr
