#pragma once
// Byte layout of a device's or processor's three modules, a wire format between processes:
// the data module "dm_XX" (status words and values), the configuration module "dm_XX_conf"
// (ChannelRecords) and the event module "dm_XX_event" (trigger bitmaps). The readers bound
// every count and offset by the header's data length and the mapping.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "qvr/ipc/section_layout.h"

namespace qvr {

// Data module fields, from the section start.
inline constexpr size_t kModuleCodeOffset = 128;
inline constexpr size_t kBytesPerChannelOffset = 130;
inline constexpr size_t kChannelCountOffset = 132;
inline constexpr size_t kModuleErrorOffset = 134;
inline constexpr size_t kScanTimeOffset = 136;
inline constexpr size_t kConfigTimeOffset = 140;
inline constexpr size_t kStatusWordsOffset = 148;
// Data bytes of a module before its status words.
inline constexpr uint32_t kDataModuleHeadSize = 20;
inline constexpr uint16_t kDigitalBytesPerChannel = 4;
inline constexpr uint16_t kAnalogBytesPerChannel = 8;
// A value record: u32 kind word (4 after a write; its first u16 13 for a failed channel),
// the f32 value at bytes 8-11.
inline constexpr size_t kValueRecordSize = 264;
inline constexpr size_t kValueRecordValueOffset = 8;
inline constexpr uint32_t kValueRecordWritten = 4;
inline constexpr uint16_t kValueRecordFailed = 13;

inline constexpr size_t kConfRecordsOffset = 128;

// Status word bits.
inline constexpr uint32_t kStatusState = 0x1;      // digital state / analog significant change
inline constexpr uint32_t kStatusNoDelay = 0x2;    // alarm posted without delay, kept while it stands
inline constexpr uint32_t kStatusAlarmHigh = 0x4;  // analog high-side alarm / digital alarm state
inline constexpr uint32_t kStatusEventActive = 0x8;
inline constexpr uint32_t kStatusEventHigh = 0x10;      // analog high-side event / digital event state
inline constexpr uint32_t kStatusFailed = 0x20;         // failed or disabled
inline constexpr uint32_t kStatusPostedNoDelay = 0x40;  // set when an alarm is posted without delay
inline constexpr uint32_t kStatusAnalog = 0x80;
inline constexpr uint32_t kStatusWarningHigh = 0x200;
inline constexpr uint32_t kStatusWarningActive = 0x400;
inline constexpr uint32_t kStatusAlarmActive = 0x800;

struct DataModuleLayout {
    char code[2];
    uint16_t bytes_per_channel = 0;
    uint16_t channel_count = 0;
    size_t status_words = kStatusWordsOffset;
    std::optional<size_t> values;         // f32 per channel, in 8-byte modules
    std::optional<size_t> value_records;  // 264 bytes per channel
};

// The layout of a data module whose head and status words lie inside its data area; nullopt
// otherwise. Value records exist when `has_value_records` (a processor that says so) or when
// the data length holds (bytes per channel + 264) x count + 20 bytes, and only when they lie
// inside the data area.
std::optional<DataModuleLayout> data_module_layout(std::span<const std::byte> mapping,
                                                   bool has_value_records);

// Whether a module of a channel kind can be used as its header describes it: the section
// header (module_header_fault), a data length that holds the 20-byte head, 4 or 8 bytes per
// channel (8 where the kind keeps values), and the channel count's bytes inside the data.
// nullopt when it can; its layout is then data_module_layout's, with values for `analog`.
std::optional<LayoutFault> data_module_fault(std::span<const std::byte> mapping, bool analog);
// Whether a configuration module holds the records of `channel_count` channels.
std::optional<LayoutFault> conf_module_fault(std::span<const std::byte> mapping, uint32_t channel_count);
// Whether the error field and scan time of a data module can be written: only when the
// fields that place them are sound (the section header, and a data length that holds the
// head), whatever else is wrong with the module.
bool module_head_writable(std::span<const std::byte> mapping);

// The module's error field is 16 bits wide: a 32-bit failure code keeps its low 16 bits
// there (the whole code goes to the status text and errno).
inline void store_module_error(std::span<std::byte> mapping, uint32_t code) {
    if (mapping.size() >= kModuleErrorOffset + 2) store_u16(mapping, kModuleErrorOffset, static_cast<uint16_t>(code));
}

// ChannelRecords that lie wholly inside a configuration module's data area.
uint32_t conf_record_count(std::span<const std::byte> mapping);

// Bytes of one event bitmap: one bit per channel, rounded up to whole bytes.
inline constexpr size_t event_bitmap_size(uint32_t channel_count) {
    return (static_cast<size_t>(channel_count) + 7) / 8;
}
// Bit of channel `index` (0-based) in bitmap `bitmap` (0: derived inputs, 1 + i: logger i)
// of an event module for `channel_count` channels; nullopt when it lies outside the data
// area. Channel n is bit 0x80 >> (n mod 8) of byte n / 8.
std::optional<bool> event_bit(std::span<const std::byte> mapping, uint32_t channel_count, uint32_t bitmap,
                              uint32_t index);

}  // namespace qvr
