// The three schema writers: device configuration, channel table, logger configuration.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/file_paths.h"
#include "platform/last_error.h"
#include "platform/remote_path.h"
#include "qvr/records/config_header.h"
#include "qvr/schema/schema.h"
#include "qvr/diag/sink.h"
#include "qvr/util/util.h"

namespace qvr {
namespace {

XmlNodeRef add(XmlDocument* doc, const char* name, XmlNode* parent) {
    return XmlNodeRef(xml_AddChildElement(doc, name, parent));
}

XmlNodeRef add_named(XmlDocument* doc, const char* element, const char* name, XmlNode* parent) {
    XmlNodeRef e = add(doc, element, parent);
    xml_CreateAndAddAttributeNode(doc, "name", name, e.get());
    return e;
}

XmlNodeRef sequence(XmlDocument* doc, XmlNode* parent, const char* min_occurs, const char* max_occurs) {
    XmlNodeRef s = add(doc, "xs:sequence", parent);
    xml_CreateAndAddAttributeNode(doc, "minOccurs", min_occurs, s.get());
    xml_CreateAndAddAttributeNode(doc, "maxOccurs", max_occurs, s.get());
    return s;
}

int report_failure() {
    sink_Report(".", 1, xml_GetErrorText());
    return platform::fail(platform::kErrorXmlParse);
}

// The folder "SCHEMA" beside the configuration folder, made when missing; empty (with the
// status set) for a path that names no folder inside another.
std::string schema_folder(const char* directory) {
    std::string dir = directory != nullptr ? directory : "";
    for (char& c : dir)
        if (c == '\\') c = '/';
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    size_t slash = dir.rfind('/');
    if (slash == std::string::npos) {
        xml_SetStatus(kXmlStatusInvalidArgument, "Invalid Pathname");
        return {};
    }
    std::string folder = dir.substr(0, slash) + "/SCHEMA";
    std::string local;
    if (platform::path_to_open(folder, local) != 0 || (util_MakeDirectory(local.c_str()) != 0 && errno != EEXIST)) {
        xml_SetStatus(static_cast<int>(kXmlStatusOsBase | static_cast<unsigned>(errno)), "Invalid Pathname");
        return {};
    }
    return folder;
}

// A new schema document whose target namespace is also bound to `prefix`.
XmlNodeRef start_schema(XmlDocument* doc, const std::string& prefix, const std::string& target) {
    xml_CreateAndAddPINode(doc, "xml", "version='1.0' encoding='UTF-8' standalone='yes'");
    xml_CreateAndAddCommentNode(doc, kXmlCreatedComment);
    XmlNodeRef root(xml_CreateElement(doc, "xs:schema"));
    xml_AppendChildToParent(root.get(), doc);
    xml_CreateAndAddAttributeNode(doc, "xmlns:xs", kXmlSchemaNamespace, root.get());
    xml_CreateAndAddAttributeNode(doc, "xmlns:xsi", kXmlSchemaInstanceNamespace, root.get());
    xml_CreateAndAddAttributeNode(doc, ("xmlns:" + prefix).c_str(), target.c_str(), root.get());
    xml_CreateAndAddAttributeNode(doc, "targetNamespace", target.c_str(), root.get());
    // The files put every element in their default namespace: local elements must be
    // qualified, or the schema validates none of them.
    xml_CreateAndAddAttributeNode(doc, "elementFormDefault", "qualified", root.get());
    return root;
}

int finish_schema(XmlDocument* doc, XmlNode* root, const std::string& path) {
    xml_IndentTree(doc, root, 0);
    // Every device of a type writes this file; each save is whole and the last one stays,
    // as all of them write the same schema.
    xml_SaveFile(doc, path.c_str());
    return xml_GetStatus() < 0 ? report_failure() : 0;
}

// Root > complex type > sequence (1..max) > item > complex type > sequence: the sequence
// that takes the item's fields.
XmlNodeRef record_list(XmlDocument* doc, XmlNode* root, const char* list, const char* item, const char* max) {
    XmlNodeRef outer = add_named(doc, "xs:element", list, root);
    XmlNodeRef outer_type = add(doc, "xs:complexType", outer.get());
    XmlNodeRef items = sequence(doc, outer_type.get(), "1", max);
    XmlNodeRef element = add_named(doc, "xs:element", item, items.get());
    XmlNodeRef type = add(doc, "xs:complexType", element.get());
    return add(doc, "xs:sequence", type.get());
}

// A part of a record that a file may lack as a whole: a save writes only the parts it is
// given, and readers ask only for the parts they want.
XmlNodeRef optional_part(XmlDocument* doc, XmlNode* parent) {
    XmlNodeRef s = add(doc, "xs:sequence", parent);
    xml_CreateAndAddAttributeNode(doc, "minOccurs", "0", s.get());
    return s;
}

std::span<const std::uint8_t> bytes(const void* data, int32_t size) {
    if (data == nullptr || size <= 0) return {};
    return {static_cast<const std::uint8_t*>(data), static_cast<std::size_t>(size)};
}

// A channel of the wanted layout from the table, or a default one of that layout.
int channel_of_layout(const ChannelRecord* records, int count, bool digital, ChannelKind default_kind,
                      ChannelRecord& out) {
    for (int i = 0; records != nullptr && i < count; ++i) {
        if (is_digital(records[i].head.Type) == digital) {
            out = records[i];
            return i;
        }
    }
    out = ChannelRecord{};
    out.head.Type = default_kind;
    return 0;
}

// Bytes a structure's fields reach (at least its size).
std::size_t fields_extent(const StructsType* type) {
    std::size_t extent = type->size;
    if (type->tclass != StructsTypeClass::kStructure) return extent;
    for (const auto* f = static_cast<const StructsField*>(type->args[0].v); f != nullptr && f->name != nullptr; ++f)
        extent = std::max<std::size_t>(extent, std::size_t{f->offset} + f->size);
    return extent;
}

}  // namespace

int write_config_schema(const Extension& extension, const char* directory, const void* record, int32_t size,
                        const void* extra, int32_t extra_size) {
    XmlDocumentRef doc(xml_NewDocument());
    if (!doc) return report_failure();
    xml_SetOperation("Creating Schema");
    std::string folder = schema_folder(directory);
    if (folder.empty()) return report_failure();
    std::string prefix = device_prefix5(directory);
    std::string target = std::string(kXmlNamespaceBase) + "/" + prefix;
    XmlNodeRef root = start_schema(doc.get(), prefix, target);
    XmlNodeRef fields = record_list(doc.get(), root.get(), "Configs", "Config", "2");
    // Each header setting is saved on its own; the record and the extra record each whole.
    for (int i = 0; i < kConfigHeaderFieldCount; ++i)
        write_schema_fields(doc.get(), optional_part(doc.get(), fields.get()).get(), &ConfigHeaderType, i,
                            i + 1, nullptr);
    if (ExtType type = extension.config_type(bytes(record, size)))
        write_schema_fields(doc.get(), optional_part(doc.get(), fields.get()).get(), type.get(), 0, 0,
                            nullptr);
    if (ExtType type = extension.config_extra_type(bytes(record, size), bytes(extra, extra_size)))
        write_schema_fields(doc.get(), optional_part(doc.get(), fields.get()).get(), type.get(), 0, 0,
                            nullptr);
    return finish_schema(doc.get(), root.get(), folder + "/" + prefix + ".xsd");
}

int write_channel_schema(const Extension& extension, const char* directory, int kind,
                         const ChannelRecord* records, int first, int count) {
    XmlDocumentRef doc(xml_NewDocument());
    if (!doc) return report_failure();
    xml_SetOperation("Creating Schema");
    std::string folder = schema_folder(directory);
    if (folder.empty()) return report_failure();
    const std::string word = channel_kind_word(kind);
    const std::string name = device_prefix5(directory) + "_" + word;
    const std::string target = std::string(kXmlNamespaceBase) + "/" + name;
    XmlNodeRef root = start_schema(doc.get(), name, target);

    struct Group {
        bool digital;
        char letter;
    };
    const bool own_digital = is_digital(static_cast<ChannelKind>(kind & 0xFF));
    std::vector<Group> groups{{own_digital, word[0]}};
    if (kind == static_cast<int>(ChannelKind::AI) && extension.mixed_channel_type())
        groups.push_back({true, 'd'});

    std::unique_ptr<ChannelLayout> own_layout;
    ChannelRecord own_record{};
    for (const Group& g : groups) {
        ChannelRecord record;
        ChannelKind default_kind =
            g.digital == own_digital ? static_cast<ChannelKind>(kind) : ChannelKind::DI;
        int index = first + channel_of_layout(records, count, g.digital, default_kind, record);
        std::unique_ptr<ChannelLayout> layout = extension.channel_layout(kind, index, record, g.digital);
        XmlNodeRef group =
            add_named(doc.get(), "xs:group", (std::string("Channel_") + g.letter).c_str(), root.get());
        XmlNodeRef fields = add(doc.get(), "xs:sequence", group.get());
        // The fields after the common head (Enable .. EventEnable).
        write_schema_fields(doc.get(), fields.get(), &layout->type(), 9, 0, record.bytes);
        if (!own_layout) {
            own_layout = std::move(layout);
            own_record = record;
        }
    }

    XmlNodeRef outer = add_named(doc.get(), "xs:element", "Channels", root.get());
    XmlNodeRef outer_type = add(doc.get(), "xs:complexType", outer.get());
    // Every device of the type shares this schema, whatever number of channels a save had.
    XmlNodeRef items = sequence(doc.get(), outer_type.get(), "1", "unbounded");
    XmlNodeRef channel = add_named(doc.get(), "xs:element", "Channel", items.get());
    XmlNodeRef channel_type = add(doc.get(), "xs:complexType", channel.get());
    XmlNodeRef fields = add(doc.get(), "xs:sequence", channel_type.get());
    write_schema_fields(doc.get(), fields.get(), &own_layout->type(), 0, 9, own_record.bytes);
    // One layout per channel: a choice when the table holds both.
    XmlNodeRef layouts = add(doc.get(), groups.size() > 1 ? "xs:choice" : "xs:sequence", fields.get());
    for (const Group& g : groups) {
        XmlNodeRef ref = add(doc.get(), "xs:group", layouts.get());
        xml_CreateAndAddAttributeNode(doc.get(), "ref", (name + ":Channel_" + g.letter).c_str(), ref.get());
    }
    const ChannelRecord& sample = records != nullptr && count > 0 ? records[0] : own_record;
    // Saves without extra data write none.
    if (ExtType extra = extension.channel_extra_type(kind, first, sample))
        write_schema_fields(doc.get(), optional_part(doc.get(), fields.get()).get(), extra.get(), 0, 0,
                            nullptr);
    XmlNodeRef id = add_named(doc.get(), "xs:attribute", "id", channel_type.get());
    xml_CreateAndAddAttributeNode(doc.get(), "type", "xs:integer", id.get());
    xml_CreateAndAddAttributeNode(doc.get(), "use", "required", id.get());
    return finish_schema(doc.get(), root.get(), folder + "/" + name + ".xsd");
}

}  // namespace qvr

namespace {

// The folder named as an absolute path, so that its name and parent are the folder's own
// ("." is the current folder); null stays null.
std::optional<std::string> absolute_folder(const char* directory) {
    std::string folder;
    if (directory == nullptr || platform::absolute_path(directory, folder) != 0) return std::nullopt;
    return folder;
}

const char* c_str_or_null(const std::optional<std::string>& text) {
    return text ? text->c_str() : nullptr;
}

}  // namespace

int cfg_WriteConfigSchema(const char* directory, const void* record, int32_t size, const void* extra,
                          int32_t extra_size) {
    const std::optional<std::string> folder = absolute_folder(directory);
    qvr::Extension extension = qvr::Extension::load(folder ? *folder : "");
    return qvr::write_config_schema(extension, c_str_or_null(folder), record, size, extra, extra_size);
}

int cfg_WriteChannelSchema(const char* /*user*/, const char* directory, int kind,
                           const qvr::ChannelRecord* records, int first, int count) {
    const std::optional<std::string> folder = absolute_folder(directory);
    qvr::Extension extension = qvr::Extension::load(folder ? *folder : "");
    return qvr::write_channel_schema(extension, c_str_or_null(folder), kind, records, first, count);
}

int cfg_WriteLoggerSchema(const char* directory, const char* kind_name, const StructsType* type,
                          const void* record, int32_t size) {
    using namespace qvr;
    XmlDocumentRef doc(xml_NewDocument());
    if (!doc) return report_failure();
    xml_SetSubject("Creating Schema - Logger Type");
    std::string kind = kind_name != nullptr ? kind_name : "";
    if (type == nullptr || kind.empty() || kind.find_first_of("/\\") != std::string::npos || kind[0] == '.') {
        xml_SetStatus(kXmlStatusInvalidArgument, "Invalid Pathname");
        return report_failure();
    }
    std::string folder = schema_folder(c_str_or_null(absolute_folder(directory)));
    if (folder.empty()) return report_failure();
    std::string target = std::string(kXmlNamespaceBase) + "/" + kind;
    XmlNodeRef root = start_schema(doc.get(), kind, target);
    XmlNodeRef fields = record_list(doc.get(), root.get(), "Loggers", "Logger", "2");
    // A logger description's fields may reach past its own size: the leaves are listed over
    // a record as large as they reach, never over a default instance of the description.
    const std::size_t extent = fields_extent(type);
    std::vector<std::uint8_t> zeroed;
    const void* data = record;
    if (record == nullptr || size < 0 || static_cast<std::size_t>(size) < extent) {
        zeroed.assign(extent, 0);
        if (record != nullptr && size > 0) std::memcpy(zeroed.data(), record, static_cast<std::size_t>(size));
        data = zeroed.data();
    }
    write_schema_fields(doc.get(), fields.get(), type, 0, 0, data);
    return finish_schema(doc.get(), root.get(), folder + "/" + kind + ".xsd");
}
