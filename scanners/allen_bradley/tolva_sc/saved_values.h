#pragma once
// Saved output values (and the reference values of AI and CI): one pair of files per device
// and kind in the folder QVR_SAVED_VALUES, "<ConfigName>_<kind>.bin" with 16 bytes per
// channel (the tag's first 12 characters, NUL-terminated when shorter, empty for a disabled
// channel; then the 4-byte value as the data module holds it, little-endian) and
// "<ConfigName>_<kind>.tag" with the whole tag (15 bytes) per channel.
//
// Values are the module's 4-byte words: the f32 bits for analog kinds, the status word for
// digital kinds (bit 0 is the state).
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "qvr/records/channel_record.h"

namespace tolva {

inline constexpr size_t kSavedRecordSize = 16;
inline constexpr size_t kSavedTagPartSize = 12;
inline constexpr size_t kSavedTagRecordSize = 15;

// "ai", "di", "ao", "do", "ci"; empty outside 0-4.
std::string_view kind_word(int kind);

struct SavedValuesFiles {
    std::string bin;
    std::string tag;
};
// None (errno set) when the folder is not known or the kind is outside 0-4.
std::optional<SavedValuesFiles> saved_values_files(std::string_view config_name, int kind);

// Writes the first min(values, records) channels into both files, each file with one write
// and without cutting what lies after them. 15, 0 for no channels, -1 with errno.
int saved_values_write(std::string_view config_name, int kind, std::span<const uint32_t> values,
                       std::span<const qvr::ChannelRecord> records);
int saved_values_write(std::string_view config_name, int kind, std::span<const float> values,
                       std::span<const qvr::ChannelRecord> records);

// Restores values from the files, by position or by tag (case-insensitive, to the first
// enabled channel of the tag when the channel at the record's position has another one).
// Digital kinds take bit 0 of the saved word only. Nothing changes unless the whole read
// succeeds: a missing or cut file (one that ends inside a record) leaves every value as it
// was. Files written before channels were added hold fewer records than there are channels:
// their records are restored and the channels after them keep their values. The size of the last
// record read (4 by position, 15 or 16 by tag), 0 for no channels, -1 with errno.
int saved_values_read(std::string_view config_name, int kind, bool by_tag, std::span<uint32_t> values,
                      std::span<const qvr::ChannelRecord> records);
int saved_values_read(std::string_view config_name, int kind, bool by_tag, std::span<float> values,
                      std::span<const qvr::ChannelRecord> records);

// The save of a kind's changed outputs: writes when `changed` is set and clears it only when
// the write succeeded, so a failed save is tried again at the next save time. 0 when there
// was nothing to save, else the write's result.
int save_changed_values(bool& changed, std::string_view config_name, int kind,
                        std::span<const uint32_t> values, std::span<const qvr::ChannelRecord> records);
int save_changed_values(bool& changed, std::string_view config_name, int kind, std::span<const float> values,
                        std::span<const qvr::ChannelRecord> records);

}  // namespace tolva
