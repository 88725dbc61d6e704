// Loading a range of channels from the XML table or the binary table.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/last_error.h"
#include "qvr/config/cfg_channel_internal.h"
#include "qvr/config/cfg_channel_tables.h"
#include "qvr/config/cfg_device_config.h"
#include "qvr/config/cfg_file_io.h"
#include "qvr/config/cfg_switches.h"
#include "qvr/config/cfg_xml_fields.h"

namespace qvr::cfg {
namespace {

void set_status(const char* format, auto... args) {
    char message[256];
    std::snprintf(message, sizeof message, format, args...);
    xml_SetStatus(kXmlStatusFailed, message);
}

// "AI", "AO" and "CI" are analog; "DI" and any other text digital.
bool digital_type_text(const char* text) {
    return std::strcmp(text, "AI") != 0 && std::strcmp(text, "AO") != 0 && std::strcmp(text, "CI") != 0;
}

class XmlTableReader {
  public:
    XmlTableReader(const Extension& e, int kind, std::span<std::uint8_t> extra, bool strict)
        : e_(e),
          kind_(kind),
          extra_(extra),
          strict_(strict),
          extra_entries_(extra.data() != nullptr && e.entry("Ex_Get_Channel_Extra_Size") != nullptr &&
                         e.entry("Ex_Get_Channel_Extra_Type") != nullptr) {}

    // One channel into `record`; false when the load fails (status set).
    bool read(XmlNode* channel, int index, ChannelRecord& record) {
        record = ChannelRecord{};
        // Without its Type a channel is of the table's kind (a zero Type would read as AI).
        record.head.Type = static_cast<ChannelKind>(kind_);
        bool digital = is_digital(record.head.Type);
        if (channel != nullptr) {
            if (XmlNodeRef type(xml_FindByName(channel, "Type")); type) {
                XmlText text(xml_getText(type.get()));
                digital = text && digital_type_text(text.get());
            }
            const std::unique_ptr<ChannelLayout> layout = e_.channel_layout(kind_, index, record, digital);
            FoundFieldList found;
            if (!read_leaves(channel, &layout->type(), leaves_.of(*layout, record), record.bytes, found,
                             {" <%s> %s", strict_}))
                return false;
            e_.decorate_channel_hw(kind_, index, record);
            if (strict_) {
                if (cfg_ValidateChannel(found.c_str(), &record) != 0) return false;
                std::string message;
                if (e_.validate_chan(found, record, message) == -1) {
                    xml_SetStatus(kXmlStatusFailed, message.c_str());
                    return false;
                }
            }
        }
        return !extra_entries_ || read_extra(channel, index, record);
    }

  private:
    bool read_extra(XmlNode* channel, int index, const ChannelRecord& record) {
        std::span<std::uint8_t> share = extra_.subspan(used_);
        ExtType type = e_.channel_extra_type(kind_, index, record);
        if (type && channel != nullptr) {
            auto* own = static_cast<std::uint8_t*>(e_.channel_extra_struct(kind_));
            // Converted apart from the caller's buffer: the description may be larger than
            // the bytes left.
            std::vector<std::uint8_t> scratch;
            std::uint8_t* side = own;
            if (side == nullptr) {
                scratch.assign(type->size, 0);
                std::copy_n(share.begin(), std::min(share.size(), scratch.size()), scratch.begin());
                side = scratch.data();
            } else {
                // Leaves the XML lacks must not keep the previous channel's values.
                std::memset(side, 0, type->size);
            }
            FoundFieldList found;
            if (!read_leaves(channel, type.get(), leaf_names(type.get(), side), side, found,
                             {"<%s>  %s", strict_}))
                return false;
            if (own == nullptr)
                std::copy_n(scratch.begin(), std::min(share.size(), scratch.size()), share.begin());
            e_.decorate_channel_extra(kind_, index, record, share);
            std::string message;
            if (strict_ && e_.validate_chan_extra(found, record, share, message) == -1) {
                xml_SetStatus(kXmlStatusFailed, message.c_str());
                return false;
            }
        } else {
            // A missing channel's share is still the plug-in's to fill, from an empty XML side.
            auto* own = static_cast<std::uint8_t*>(e_.channel_extra_struct(kind_));
            if (type && own != nullptr) std::memset(own, 0, type->size);
            e_.decorate_channel_extra(kind_, index, record, share);
        }
        const std::optional<std::int32_t> size = channel_extra_answer(e_, kind_, index, record, share.data());
        if (!size) return true;
        if (*size < 0 || static_cast<std::size_t>(*size) > share.size()) {
            if (!strict_) {
                extra_entries_ = false;
                return true;
            }
            set_status("Extra data of %d bytes does not fit in the %zu bytes left", *size, share.size());
            return false;
        }
        used_ += static_cast<std::size_t>(*size);
        return true;
    }

    const Extension& e_;
    int kind_;
    std::span<std::uint8_t> extra_;
    bool strict_;
    bool extra_entries_;
    std::size_t used_ = 0;
    LayoutLeaves leaves_;
};

LoadOutcome load_xml(const Extension& e, const std::string& path, int kind, ChannelRecord* records, int first,
                     int count, std::span<std::uint8_t> extra, bool strict) {
    xml_SetSubject(last_component(parent_folder(path)).c_str());
    LoadOutcome outcome = LoadOutcome::loaded;
    const XmlDocumentRef doc = load_document(path, strict, outcome);
    if (!doc) return outcome;
    XmlNodeRef root(xml_GetRootElement(doc.get()));
    if (!root) {
        xml_SetStatus(kXmlStatusFailed, "Root Element <Channels> not found");
        if (!strict) return LoadOutcome::loaded;
        report_xml_failure();
        return LoadOutcome::failed;
    }
    std::fill(extra.begin(), extra.end(), std::uint8_t{0});
    // Channels are looked up in one pass over the table and read where they are: removing
    // each after reading would only make every later lookup start again.
    const ChannelIndex index(root.get());
    XmlTableReader reader(e, kind, extra, strict);
    for (int i = 0; i < count && xml_GetStatus() >= 0; ++i) {
        const int number = first + i + 1;
        char operation[64];
        std::snprintf(operation, sizeof operation, "%s Channel #%d", cfg_ChannelKindName(kind), number);
        xml_SetOperation(operation);
        XmlNode* channel = index.find(number);
        if (channel == nullptr && i == 0 && strict) {
            set_status("Channel id=%d Not Found", number);
            break;
        }
        ChannelRecord record;
        if (!reader.read(channel, first + i, record)) break;
        if (records != nullptr) records[i] = record;
    }
    if (xml_GetStatus() >= 0 || !strict) return LoadOutcome::loaded;
    report_xml_failure();
    return LoadOutcome::failed;
}

LoadOutcome load_binary(const std::string& dir, int kind, ChannelRecord* records, int first, int count,
                        std::span<std::uint8_t> extra, const char* extra_file, bool strict) {
    if (records != nullptr) {
        std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(records),
                                      static_cast<std::size_t>(count) * kChannelRecordSize);
        const ssize_t n = read_at(existing_file(dir, cfg_ChannelKindName(kind)), table_offset(first), bytes);
        if (n < 0 && (strict || errno != ENOENT)) return LoadOutcome::failed;
        // A table with fewer channels than asked: the rest reads as zero, but the load fails.
        if (n >= 0 && static_cast<std::size_t>(n) < bytes.size() && strict) {
            platform::fail(platform::kErrorHandleEof);
            return LoadOutcome::failed;
        }
    }
    if (extra.data() != nullptr && extra_file != nullptr) {
        // An extra file that is not there holds zeros.
        if (read_at(existing_file(dir, extra_file), 0, extra) < 0 && errno != ENOENT)
            return LoadOutcome::failed;
    }
    return LoadOutcome::loaded;
}

}  // namespace

int load_channels_binary(const std::string& dir, int kind, ChannelRecord* records, int first, int count,
                         std::span<std::uint8_t> extra, const char* extra_file) {
    std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(records),
                                  static_cast<std::size_t>(count) * kChannelRecordSize);
    ssize_t n = read_at(existing_file(dir, cfg_ChannelKindName(kind)), table_offset(first), bytes);
    if (n < 0 && errno != ENOENT) return -1;
    if (n < 0) n = 0;
    if (load_binary(dir, kind, nullptr, first, count, extra, extra_file, false) != LoadOutcome::loaded) return -1;
    return static_cast<int>(static_cast<std::size_t>(n) / kChannelRecordSize);
}

LoadOutcome load_channels(const Extension& e, const std::string& dir, int kind, ChannelRecord* records,
                          int first, int count, std::span<std::uint8_t> extra, const char* extra_file,
                          bool strict) {
    xml_ResetStatus();
    const std::string xml_path = existing_file(dir, std::string(cfg_ChannelKindName(kind)) + ".xml");
    if (e.has_xml() && cfg_IsReadXmlOn(dir.c_str()) == 1 && file_exists(xml_path)) {
        warn_if_stale_xml(dir.c_str(), xml_path);
        return load_xml(e, xml_path, kind, records, first, count, extra, strict);
    }
    return load_binary(dir, kind, records, first, count, extra, extra_file, strict);
}

}  // namespace qvr::cfg

int cfg_LoadChannels(const char* dir, int kind, qvr::ChannelRecord* records, int first, int count,
                     void* extra, int32_t extra_size, const char* extra_file) {
    using namespace qvr::cfg;
    if (!valid_channel_request(dir, kind, first, count, extra_size, extra_file)) return -1;
    const std::string folder = resolved_folder(dir);
    if (folder.empty()) return -1;
    const qvr::Extension extension = qvr::Extension::load(folder);
    std::span<std::uint8_t> extra_bytes(static_cast<std::uint8_t*>(extra),
                                        extra != nullptr ? static_cast<std::size_t>(extra_size) : 0);
    return load_channels(extension, folder, kind, records, first, count, extra_bytes, extra_file, true) ==
                   LoadOutcome::loaded
               ? 0
               : -1;
}

int cfg_LoadChannelsFromCwd(int kind, qvr::ChannelRecord* records, int first, int count) {
    const std::string here = qvr::cfg::current_folder();
    if (here.empty()) return -1;
    return cfg_LoadChannels(here.c_str(), kind, records, first, count, nullptr, 0, nullptr);
}
