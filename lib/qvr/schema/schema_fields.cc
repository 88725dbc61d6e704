// Schema elements of the leaves of a typed description: one simple type per leaf, chosen
// by the leaf type's family name.

#include <cstdio>
#include <string>
#include <vector>

#include "platform/ascii_text.h"
#include "qvr/schema/schema.h"
#include "tslib/typed_mem.h"

namespace {

constexpr const char* kLeafNames = "schema leaf names";

bool is(const char* name, const char* family) {
    return name != nullptr && platform::equal_ignoring_case(name, family);
}

qvr::XmlNodeRef add(XmlDocument* doc, const char* name, XmlNode* parent) {
    return qvr::XmlNodeRef(xml_AddChildElement(doc, name, parent));
}

qvr::XmlNodeRef restriction(XmlDocument* doc, XmlNode* simple, const char* base) {
    qvr::XmlNodeRef r = add(doc, "xs:restriction", simple);
    xml_CreateAndAddAttributeNode(doc, "base", base, r.get());
    return r;
}

void facet(XmlDocument* doc, XmlNode* restriction, const char* name, const char* value) {
    qvr::XmlNodeRef f = add(doc, name, restriction);
    xml_CreateAndAddAttributeNode(doc, "value", value, f.get());
}

void max_length(XmlDocument* doc, XmlNode* restriction, unsigned long length) {
    facet(doc, restriction, "xs:maxLength", std::to_string(length).c_str());
}

void enumerations(XmlDocument* doc, XmlNode* simple, const StructsId* ids) {
    qvr::XmlNodeRef r = restriction(doc, simple, "xs:string");
    for (const StructsId* id = ids; id != nullptr && id->id != nullptr; ++id)
        facet(doc, r.get(), "xs:enumeration", id->id);
}

// The words a Boolean type writes, false first.
void boolean_words(XmlDocument* doc, XmlNode* simple, std::intptr_t pair) {
    static constexpr const char* kWords[][2] = {
        {"False", "True"}, {"No", "Yes"}, {"Off", "On"}, {"Disabled", "Enabled"}, {"0", "1"},
    };
    const auto& words = pair >= 0 && pair < 5 ? kWords[pair] : kWords[kStructsBoolOnOff];
    qvr::XmlNodeRef r = restriction(doc, simple, "xs:string");
    facet(doc, r.get(), "xs:enumeration", words[0]);
    facet(doc, r.get(), "xs:enumeration", words[1]);
}

const char* integer_base(std::intptr_t code, bool is_signed) {
    static constexpr const char* kSigned[] = {"xs:byte", "xs:short", "xs:int", "xs:long"};
    static constexpr const char* kUnsigned[] = {"xs:unsignedByte", "xs:unsignedShort", "xs:unsignedInt",
                                                "xs:unsignedLong"};
    if (code < 0 || code > 7) return nullptr;
    return is_signed ? kSigned[code % 4] : kUnsigned[code % 4];
}

void simple_content(XmlDocument* doc, XmlNode* simple, const StructsType* type) {
    const char* name = type->name;
    if (is(name, "id")) {
        enumerations(doc, simple, static_cast<const StructsId*>(type->args[0].v));
    } else if (is(name, "bitfield")) {
        enumerations(doc, simple, static_cast<const StructsId*>(type->args[2].v));
    } else if (is(name, "boolean")) {
        boolean_words(doc, simple, type->args[1].i);
    } else if (is(name, "chanconfignstring") || is(name, "fixedstring") || is(name, "linktagnstring")) {
        max_length(doc, restriction(doc, simple, "xs:string").get(), type->size);
    } else if (is(name, "fixeddata")) {
        max_length(doc, restriction(doc, simple, "xs:string").get(), 2ul * type->size);
    } else if (is(name, "time")) {
        max_length(doc, restriction(doc, simple, "xs:string").get(), 19);
    } else if (is(name, "stime")) {
        max_length(doc, restriction(doc, simple, "xs:string").get(), 9);
    } else if (is(name, "int") || is(name, "uint")) {
        const char* base = integer_base(type->args[0].i, is(name, "int"));
        restriction(doc, simple, base != nullptr ? base : "xs:string");
    } else if (is(name, "float") || is(name, "double")) {
        restriction(doc, simple, is(name, "double") || type->args[0].i == 1 ? "xs:double" : "xs:float");
    } else {
        // "var" and every other family: any text. An empty simple type would make the
        // schema itself invalid.
        restriction(doc, simple, "xs:string");
    }
}

struct LeafNames {
    char** names = nullptr;
    int count = 0;
    ~LeafNames() {
        for (int i = 0; i < count; ++i) typed_mem_release(kLeafNames, names[i]);
        if (names != nullptr) typed_mem_release(kLeafNames, names);
    }
};

// A default instance of the type, released with it.
class Scratch {
  public:
    explicit Scratch(const StructsType* type) : type_(type), bytes_(type->size) {
        ok_ = type->init == nullptr || type->init(type, bytes_.data()) == 0;
    }
    ~Scratch() {
        if (ok_ && type_->uninit != nullptr) type_->uninit(type_, bytes_.data());
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    bool ok() const { return ok_; }
    void* data() { return bytes_.data(); }

  private:
    const StructsType* type_;
    std::vector<std::uint8_t> bytes_;
    bool ok_;
};

}  // namespace

namespace qvr {

const char* channel_kind_word(int kind) {
    static constexpr const char* kWords[] = {"ai", "di", "ao", "do", "ci", "dc", "dc"};
    return kind >= 0 && kind < 7 ? kWords[kind] : "dc";
}

int write_schema_fields(XmlDocument* doc, XmlNode* parent, const StructsType* type, int first, int end,
                        const void* data) {
    if (xml_GetStatus() < 0) return xml_GetStatus();
    if (doc == nullptr || parent == nullptr || type == nullptr) {
        xml_SetStatus(kXmlStatusInvalidArgument, "cfg_WriteSchemaFields() failed");
        return xml_GetStatus();
    }
    std::unique_ptr<Scratch> scratch;
    if (data == nullptr) {
        if (type->size > Extension::kMaxBlock) {
            xml_SetStatus(kXmlStatusInvalidArgument, "description too large for a schema");
            return xml_GetStatus();
        }
        scratch = std::make_unique<Scratch>(type);
        if (!scratch->ok()) {
            xml_SetStatus(kXmlStatusFailed, "no default value of the description");
            return xml_GetStatus();
        }
        data = scratch->data();
    }
    LeafNames leaves;
    leaves.count = structs_list_leaf_names(type, data, &leaves.names, kLeafNames);
    if (leaves.count < 0) {
        leaves.count = 0;
        xml_SetStatus(kXmlStatusFailed, "the leaves of the description cannot be listed");
        return xml_GetStatus();
    }
    int last = end > 0 && end < leaves.count ? end : leaves.count;
    for (int i = first < 0 ? 0 : first; i < last; ++i) {
        const char* leaf = leaves.names[i];
        void* at = const_cast<void*>(data);
        const StructsType* leaf_type = structs_find_field(type, leaf, &at, 0);
        XmlNodeRef element = add(doc, "xs:element", parent);
        xml_CreateAndAddAttributeNode(doc, "name", leaf, element.get());
        XmlNodeRef simple = add(doc, "xs:simpleType", element.get());
        if (leaf_type == nullptr) {
            xml_SetStatus(kXmlStatusFailed, "no description of the leaf");
        } else if (simple) {
            simple_content(doc, simple.get(), leaf_type);
        }
        if (xml_GetStatus() < 0) {
            char message[256];
            std::snprintf(message, sizeof message, "<%s> %s", leaf, xml_GetMessage());
            xml_SetStatus(xml_GetStatus(), message);
            return xml_GetStatus();
        }
    }
    return xml_GetStatus();
}

}  // namespace qvr

int cfg_WriteSchemaFields(XmlDocument* doc, XmlNode* parent, const StructsType* type, int first, int end) {
    return qvr::write_schema_fields(doc, parent, type, first, end, nullptr);
}
