#pragma once
// Inside the channel table store.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "qvr/config/cfg_device_config_internal.h"
#include "qvr/records/channel_record.h"
#include "qvr/ext/ext.h"
#include "qvr/xml/xml.h"

namespace qvr::cfg {

inline constexpr std::size_t kTableHeaderSize = 8;
// Bytes of old extra data read for the audit of a calculation device, per channel.
inline constexpr std::size_t kCalcExtraPerChannel = 2048;

// Arguments of one request; false with errno 0 (invalid argument).
bool valid_channel_request(const char* dir, int kind, int first, int count, std::int32_t extra_size,
                           const char* extra_file);

// Where channel `first` starts in the binary table.
inline std::uint64_t table_offset(int first) {
    return kTableHeaderSize + static_cast<std::uint64_t>(first) * kChannelRecordSize;
}

// `extra` with a null data pointer: no extra data wanted. `strict` as for the device
// settings: false reads the old state for the audit (missing channels, elements and files
// are empty; nothing is validated or reported).
LoadOutcome load_channels(const Extension& extension, const std::string& dir, int kind,
                          ChannelRecord* records, int first, int count, std::span<std::uint8_t> extra,
                          const char* extra_file, bool strict);
// The binary table and extra file only, whatever the switches say; what they lack reads as
// zero. The number of whole records the table held for the range, or -1 (errno).
int load_channels_binary(const std::string& dir, int kind, ChannelRecord* records, int first, int count,
                         std::span<std::uint8_t> extra, const char* extra_file);
int write_channel_xml(const Extension& extension, const std::string& dir, int kind,
                      const ChannelRecord* records, int first, int count, std::span<const std::uint8_t> extra,
                      bool update);

// The plug-in's own answer for the size of a channel's extra data (not cut to the bytes
// left); nullopt without the entry.
std::optional<std::int32_t> channel_extra_answer(const Extension& extension, int kind, int index,
                                                 const ChannelRecord& record, const void* share);

// The Channel elements of a table by their id, read once: the first of each number.
class ChannelIndex {
  public:
    explicit ChannelIndex(XmlNode* root);
    XmlNode* find(int id) const;
    void add(int id, XmlNodeRef node);

  private:
    std::unordered_map<long long, XmlNodeRef> nodes_;
};

// Leaf names of the channel layouts met in one operation, listed once each.
class LayoutLeaves {
  public:
    const std::vector<std::string>& of(const ChannelLayout& layout, const ChannelRecord& record);

  private:
    std::map<const StructsType*, std::vector<std::string>> by_hardware_[2];
};

}  // namespace qvr::cfg
