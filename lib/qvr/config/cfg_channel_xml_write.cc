// Writing a range of channels to the XML table.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/last_error.h"
#include "qvr/config/cfg_channel_internal.h"
#include "qvr/config/cfg_channel_tables.h"
#include "qvr/config/cfg_file_io.h"
#include "qvr/config/cfg_xml_fields.h"
#include "qvr/records/channel_record_types.h"
#include "qvr/util/rt.h"
#include "qvr/schema/schema.h"

namespace qvr::cfg {
namespace {

// Where `name` stands among the fields of a layout: its index, the hardware part (the last
// field) in any form included. nullopt when it is no field of that layout.
std::optional<std::size_t> field_index(std::span<const StructsField> fields, std::string_view name) {
    for (std::size_t i = 0; i < fields.size(); ++i)
        if (name == fields[i].name) return i;
    const std::string_view hardware = fields.back().name;
    if (name.size() > hardware.size() && name.starts_with(hardware) && name[hardware.size()] == '.')
        return fields.size() - 1;
    return std::nullopt;
}

// The fields of the other layout behind the last element written are what the channel held
// before in that layout: a channel holds one. They stand in the layout's order, so an
// element named like one of them that comes after a later field of it (extra data not
// written this time, an element a person added) is no part of the old layout and stays.
void drop_old_layout(XmlNode* channel, XmlNode* last_written, bool digital_now) {
    if (last_written == nullptr) return;
    const std::span<const StructsField> old_layout =
        digital_now ? std::span(kAnalogChannelFields, kAnalogChannelFieldCount)
                    : std::span(kDigitalChannelFields, kDigitalChannelFieldCount);
    const std::size_t hardware = old_layout.size() - 1;
    std::size_t next = 0;  // the first field the old layout may still hold
    for (XmlNodeRef node{xml_NextSibling(last_written)}; node;) {
        XmlNodeRef following{xml_NextSibling(node.get())};
        const XmlText name(xml_getName(node.get()));
        const std::optional<std::size_t> at = name ? field_index(old_layout, name.get()) : std::nullopt;
        if (at && *at >= next) {
            xml_RemoveChild(channel, node.get());
            // The hardware part may take several elements.
            next = *at == hardware ? hardware : *at + 1;
        }
        node = std::move(following);
    }
}

// The extra data of one channel as written: its share, or zeros when fewer bytes are left.
bool write_extra(const Extension& e, XmlDocument* doc, XmlNode* channel, int kind, int index,
                 const ChannelRecord& record, std::span<const std::uint8_t> left, std::size_t& used,
                 LeafPlace& place) {
    const std::optional<std::int32_t> size = channel_extra_answer(e, kind, index, record, left.data());
    if (!size) return true;
    if (*size < 0 || static_cast<std::size_t>(*size) > Extension::kMaxBlock) {
        char message[128];
        std::snprintf(message, sizeof message, "Extra data size %d refused", *size);
        xml_SetStatus(kXmlStatusFailed, message);
        return false;
    }
    const auto n = static_cast<std::size_t>(*size);
    std::vector<std::uint8_t> share(n, 0);
    if (left.size() >= n) std::copy_n(left.begin(), n, share.begin());
    if (const ExtType type = e.channel_extra_type(kind, index, record)) {
        std::vector<std::uint8_t> form =
            padded(e.undecorate_channel_extra(kind, index, record, share), type->size);
        if (!write_leaves(doc, channel, type.get(), leaf_names(type.get(), form.data()), form.data(), place))
            return false;
    }
    used += std::min(n, left.size());
    return true;
}

}  // namespace

int write_channel_xml(const Extension& e, const std::string& dir, int kind, const ChannelRecord* records,
                      int first, int count, std::span<const std::uint8_t> extra, bool update) {
    const std::string word = cfg_ChannelKindName(kind);
    const std::string path = existing_file(dir, word + ".xml");
    XmlDocumentRef doc(xml_NewDocument());
    xml_SetSubject(last_component(dir).c_str());
    if (!doc) return report_xml_failure();
    XmlNodeRef root;
    bool existing = false;
    if (update) {
        const int loaded = xml_LoadFile(doc.get(), path.c_str());
        if (loaded == 0) {
            root.reset(xml_GetRootElement(doc.get()));
            existing = true;
        } else if (loaded == 1) {
            xml_ResetStatus();
            doc.reset(xml_NewDocument());
        }
    }
    if (xml_GetStatus() < 0 || !doc) return report_xml_failure();
    if (!existing) root = start_document(doc.get(), "Channels", device_prefix5(dir) + "_" + word);

    ChannelIndex index(existing ? root.get() : nullptr);
    LayoutLeaves leaves;
    std::size_t used = 0;
    for (int i = 0; i < count && xml_GetStatus() >= 0; ++i) {
        const int at = first + i;
        char operation[64];
        std::snprintf(operation, sizeof operation, "%s Channel #%d", rt_KindDisplayName(kind), at + 1);
        xml_SetOperation(operation);
        const ChannelRecord& record = records[i];
        const bool digital = is_digital(record.head.Type);
        const std::unique_ptr<ChannelLayout> layout = e.channel_layout(kind, at, record, digital);
        const ChannelRecord written =
            layout->typed_hardware() ? e.undecorate_channel_hw(kind, at, record) : record;
        XmlNode* channel = index.find(at + 1);
        const bool replace = channel != nullptr;
        if (channel == nullptr) {
            XmlNodeRef created(xml_AddChildElement(doc.get(), "Channel", root.get()));
            xml_CreateAndAddAttributeNode(doc.get(), "id", std::to_string(at + 1).c_str(), created.get());
            channel = created.get();
            index.add(at + 1, std::move(created));
        }
        LeafPlace place{replace, nullptr};
        if (!write_leaves(doc.get(), channel, &layout->type(), leaves.of(*layout, written), written.bytes,
                          place))
            break;
        if (extra.data() != nullptr && !write_extra(e, doc.get(), channel, kind, at, record,
                                                    extra.subspan(std::min(used, extra.size())), used, place))
            break;
        if (replace) drop_old_layout(channel, place.after.get(), digital);
    }
    xml_IndentTree(doc.get(), root.get(), 0);
    xml_SaveFile(doc.get(), path.c_str());
    if (xml_GetStatus() < 0) return report_xml_failure();
    if (count > 1) write_channel_schema(e, dir.c_str(), kind, records, first, count);
    return 0;
}

}  // namespace qvr::cfg

int cfg_WriteChannelXml(const char* user, const char* dir, int kind, const qvr::ChannelRecord* records,
                        int first, int count, const void* extra, int32_t extra_size, int update) {
    (void)user;  // the XML table records no author
    using namespace qvr::cfg;
    if (!valid_channel_request(dir, kind, first, count, extra_size, nullptr)) return -1;
    if (records == nullptr && count > 0) return platform::fail(platform::kErrorInvalidArgument);
    const std::string folder = resolved_folder(dir);
    if (folder.empty()) return -1;
    const auto lock = FolderLock::acquire(folder);
    if (!lock) return -1;
    const qvr::Extension extension = qvr::Extension::load(folder);
    std::span<const std::uint8_t> extra_bytes(static_cast<const std::uint8_t*>(extra),
                                              extra != nullptr ? static_cast<std::size_t>(extra_size) : 0);
    xml_ResetStatus();
    return write_channel_xml(extension, folder, kind, records, first, count, extra_bytes, update != 0);
}
