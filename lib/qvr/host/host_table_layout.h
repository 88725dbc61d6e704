#pragma once
// Where the records of a host table lie in a mapped section. Everything here works on the
// bytes of a mapping and bounds each count and offset it reads by the header's data length
// and by the mapping itself, so a table another process wrote wrongly is never read past.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "qvr/ipc/section_layout.h"

namespace qvr {

// End of the data area: 128 + the header's data length, at most the mapping's size. 0 for
// a mapping too small for the header.
size_t data_area_end(std::span<const std::byte> mapping);

// The count field of a table, and how many records of `record_size` bytes from 132 lie
// wholly inside the data area (at most the count).
uint32_t table_count_field(std::span<const std::byte> mapping);
uint32_t table_record_count(std::span<const std::byte> mapping, size_t record_size);
// Offset of record `index` (0-based) when it is one of those.
std::optional<size_t> table_record_offset(std::span<const std::byte> mapping, size_t record_size,
                                          uint32_t index);

// Whether a table of `record_size` records can be trusted as a whole: its section header
// (module_header_fault), and a count field whose records all lie inside the data area.
std::optional<LayoutFault> table_fault(std::span<const std::byte> mapping, size_t record_size);

// Offset of device `index`'s statistics code, when the whole code array after the last
// record lies inside the data area (its data length is at least 4 + count x 790).
std::optional<size_t> stats_code_offset(std::span<const std::byte> mapping, uint32_t index);

// The error table's form and entries. In the long form the count field gives the entries,
// and the long entries start at 132 + ((data length - 4) / 443) x 57. A data length of
// exactly count x 57 marks the short form. Only entries that lie wholly inside the data area
// are counted (the last short entry of a table sized count x 57 does not, since the count
// field takes 4 of its bytes, so it is left alone).
struct ErrorTableLayout {
    bool long_form = false;
    uint32_t entries = 0;  // usable entries
    size_t first = 0;      // offset of entry 0
    size_t entry_size = 0;
    size_t name_offset = 0;
    size_t name_size = 0;  // including the terminator
    size_t text_offset = 0;
    size_t text_size = 0;
};
std::optional<ErrorTableLayout> error_table_layout(std::span<const std::byte> mapping);
// Whether the error table can be trusted as a whole: its section header, and in the long form
// every entry of its count inside the data area.
std::optional<LayoutFault> error_table_fault(std::span<const std::byte> mapping);

}  // namespace qvr
