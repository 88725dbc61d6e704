#include "qvr/config/cfg_xml_fields.h"

#include <algorithm>
#include <cstdio>

#include "platform/last_error.h"
#include "qvr/schema/schema.h"
#include "qvr/diag/sink.h"
#include "tslib/typed_mem.h"

namespace qvr::cfg {
namespace {

constexpr const char* kLeafMemory = "cfg leaf";
constexpr std::size_t kConversionMessageMax = 256;

struct LeafText {
    char* text = nullptr;
    ~LeafText() {
        if (text != nullptr) typed_mem_release(kLeafMemory, text);
    }
};

}  // namespace

std::vector<std::string> leaf_names(const StructsType* type, const void* data) {
    std::vector<std::string> names;
    if (type == nullptr) return names;
    char** list = nullptr;
    const int count = structs_list_leaf_names(type, data, &list, kLeafMemory);
    for (int i = 0; i < count; ++i) {
        names.emplace_back(list[i]);
        typed_mem_release(kLeafMemory, list[i]);
    }
    if (list != nullptr) typed_mem_release(kLeafMemory, list);
    return names;
}

bool read_leaves(XmlNode* parent, const StructsType* type, const std::vector<std::string>& leaves, void* data,
                 FoundFieldList& found, const LeafReading& how) {
    for (const std::string& name : leaves) {
        if (xml_GetStatus() < 0) return false;
        XmlNodeRef element(xml_FindByName(parent, name.c_str()));
        if (!element) continue;
        XmlText text(xml_getText(element.get()));
        if (!text) return false;
        char ebuf[kConversionMessageMax] = {};
        if (structs_set_field_text(type, name.c_str(), text.get(), data, ebuf, sizeof ebuf) != 0) {
            if (!how.strict) continue;
            char message[2 * kConversionMessageMax];
            std::snprintf(message, sizeof message, how.failure_format, name.c_str(), ebuf);
            xml_SetStatus(kXmlStatusFailed, message);
            return false;
        }
        found.add(name);
        if (how.remove_read) xml_RemoveChild(parent, element.get());
    }
    return xml_GetStatus() >= 0;
}

void place_after(XmlNode* parent, XmlNode* node, XmlNode* after) {
    XmlNodeRef next(after != nullptr ? xml_NextSibling(after) : xml_FirstChild(parent));
    if (next.get() == node) return;
    if (next) {
        xml_InsertBefore(node, next.get());
    } else {
        xml_AppendChildToParent(node, parent);
    }
}

XmlNodeRef place_of_part(XmlNode* parent, const std::vector<std::string>& leaves) {
    XmlNodeRef before;
    for (XmlNodeRef child{xml_FirstChild(parent)}; child;) {
        const XmlText name(xml_getName(child.get()));
        if (name && std::find(leaves.begin(), leaves.end(), name.get()) != leaves.end()) return before;
        XmlNodeRef next{xml_NextSibling(child.get())};
        before = std::move(child);
        child = std::move(next);
    }
    return before;
}

bool write_leaves(XmlDocument* doc, XmlNode* parent, const StructsType* type,
                  const std::vector<std::string>& leaves, const void* data, LeafPlace& place) {
    for (const std::string& name : leaves) {
        if (xml_GetStatus() < 0) return false;
        LeafText text{structs_get_field_text(type, name.c_str(), data, kLeafMemory)};
        if (text.text == nullptr) {
            char message[kConversionMessageMax];
            std::snprintf(message, sizeof message, "<%s> cannot be written as text", name.c_str());
            xml_SetStatus(kXmlStatusFailed, message);
            return false;
        }
        XmlNodeRef element(place.replace ? xml_ReplaceOrAppendChild(doc, name.c_str(), parent)
                                         : xml_AddChildElement(doc, name.c_str(), parent));
        if (!element) return false;
        if (place.replace) place_after(parent, element.get(), place.after.get());
        if (text.text[0] != '\0') xml_CreateAndAddTextNode(doc, text.text, element.get());
        place.after = std::move(element);
    }
    return xml_GetStatus() >= 0;
}

XmlNodeRef start_document(XmlDocument* doc, const char* root_name, const std::string& namespace_word) {
    xml_CreateAndAddPINode(doc, "xml", "version='1.0' encoding='UTF-8'");
    xml_CreateAndAddCommentNode(doc, kXmlCreatedComment);
    XmlNodeRef root(xml_CreateElement(doc, root_name));
    xml_AppendChildToParent(root.get(), doc);
    const std::string space = std::string(kXmlNamespaceBase) + "/" + namespace_word;
    xml_CreateAndAddAttributeNode(doc, "xmlns:xsi", kXmlSchemaInstanceNamespace, root.get());
    xml_CreateAndAddAttributeNode(doc, "xmlns", space.c_str(), root.get());
    const std::string location = space + " ../SCHEMA/" + namespace_word + ".xsd";
    xml_CreateAndAddAttributeNode(doc, "xsi:schemaLocation", location.c_str(), root.get());
    return root;
}

int report_xml_failure() {
    sink_Report(".", 1, xml_GetErrorText());
    return platform::fail(platform::kErrorXmlParse);
}

std::vector<std::uint8_t> padded(std::vector<std::uint8_t> bytes, std::size_t size) {
    if (bytes.size() < size) bytes.resize(size, 0);
    return bytes;
}

}  // namespace qvr::cfg
