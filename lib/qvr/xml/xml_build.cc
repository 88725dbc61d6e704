// Building and changing trees: elements, attributes, texts, comments, instructions.
#include <libxml/tree.h>

#include <cstring>
#include <string>
#include <string_view>

#include "platform/ascii_text.h"
#include "qvr/xml/xml.h"
#include "qvr/xml/xml_internal.h"

using namespace qvr::xml;

namespace {

// A child that may sit under an element.
bool content_node(xmlNodePtr n) {
    switch (n->type) {
        case XML_ELEMENT_NODE:
        case XML_TEXT_NODE:
        case XML_CDATA_SECTION_NODE:
        case XML_COMMENT_NODE:
        case XML_PI_NODE:
        case XML_ENTITY_REF_NODE:
            return true;
        default:
            return false;
    }
}

// Whether `node` may be put under `parent` of the same document: no cycles, nothing but
// elements may hold content, and a document holds one element.
bool may_link(const DocStore& store, xmlNodePtr node, xmlNodePtr parent) {
    if (node->doc != store.doc || !content_node(node)) return false;
    if (is_within(parent, node)) return false;
    if (parent->type == XML_ELEMENT_NODE) return true;
    if (parent->type != XML_DOCUMENT_NODE) return false;
    if (node->type == XML_COMMENT_NODE || node->type == XML_PI_NODE) return true;
    if (node->type != XML_ELEMENT_NODE) return false;
    xmlNodePtr root = xmlDocGetRootElement(store.doc);
    return root == nullptr || root == node;
}

// Moves a node that may still sit in the tree to its new place.
void place_last(DocStore& store, xmlNodePtr parent, xmlNodePtr node) {
    if (node->parent != nullptr) {
        store.touched(node);
        xmlUnlinkNode(node);
    }
    link_last(store, parent, node);
    store.loose.erase(node);
    resolve_names(store.doc, node);
}

void place_before(DocStore& store, xmlNodePtr reference, xmlNodePtr node) {
    if (node->parent != nullptr) {
        store.touched(node);
        xmlUnlinkNode(node);
    }
    link_before(store, reference, node);
    store.loose.erase(node);
    resolve_names(store.doc, node);
}

// A text node for a record text, or the substitute when the text is not valid XML.
xmlNodePtr new_text(xmlDocPtr doc, const char* text) {
    std::string utf8;
    if (text == nullptr) text = "";
    if (!valid_xml_chars(text) || !to_utf8(text, utf8)) utf8 = kXmlIllegalCharacters;
    return xmlNewDocText(doc, xc(utf8));
}

XmlNode* create_element(XmlDocument* doc, const char* name) {
    const auto& store = store_of(doc);
    std::string utf8;
    if (!converted_name(name, utf8)) {
        set_failure(kXmlStatusInvalidArgument, "xml_CreateElement('%s') failed 0x%x", shown(name),
                    kXmlStatusInvalidArgument);
        return nullptr;
    }
    xmlNodePtr n = xmlNewDocNode(store->doc, nullptr, xc(utf8), nullptr);
    if (n == nullptr) {
        set_failure(kXmlStatusOutOfMemory, "xml_CreateElement('%s') failed 0x%x", name,
                    kXmlStatusOutOfMemory);
        return nullptr;
    }
    store->loose.insert(n);
    return handle_for(store, n);
}

bool same_store(const XmlDocument* doc, const XmlNode* node) {
    return store_of(doc) == store_of(node);
}

// A namespace declaration on `element` (prefix empty: the default one), set or changed.
bool declare_namespace(xmlNodePtr element, std::string_view prefix, const std::string& href) {
    for (xmlNsPtr ns = element->nsDef; ns != nullptr; ns = ns->next) {
        bool same = prefix.empty() ? ns->prefix == nullptr
                                   : ns->prefix != nullptr && prefix == std::string_view(cc(ns->prefix));
        if (!same) continue;
        xmlChar* copy = xmlStrdup(xc(href));
        if (copy == nullptr) return false;
        xmlFree(const_cast<xmlChar*>(ns->href));
        ns->href = copy;
        return true;
    }
    std::string p(prefix);
    return xmlNewNs(element, xc(href), prefix.empty() ? nullptr : xc(p)) != nullptr;
}

// Text allowed in a comment: no "--", no '-' at the end.
bool valid_comment(std::string_view utf8) {
    return utf8.find("--") == std::string_view::npos && (utf8.empty() || utf8.back() != '-');
}

// Reads the pseudo-attributes of an XML declaration into the document.
bool apply_declaration(xmlDocPtr doc, std::string_view data) {
    std::string version = "1.0";
    std::string encoding;
    int standalone = -1;
    size_t i = 0;
    auto skip_blanks = [&] {
        while (i < data.size() && (data[i] == ' ' || data[i] == '\t' || data[i] == '\r' || data[i] == '\n'))
            ++i;
    };
    bool seen_version = false;
    for (skip_blanks(); i < data.size(); skip_blanks()) {
        size_t eq = data.find('=', i);
        if (eq == std::string_view::npos) return false;
        std::string_view key = data.substr(i, eq - i);
        while (!key.empty() && (key.back() == ' ' || key.back() == '\t')) key.remove_suffix(1);
        i = eq + 1;
        skip_blanks();
        if (i >= data.size() || (data[i] != '\'' && data[i] != '"')) return false;
        char quote = data[i++];
        size_t end = data.find(quote, i);
        if (end == std::string_view::npos) return false;
        std::string_view value = data.substr(i, end - i);
        i = end + 1;
        if (key == "version" && !seen_version && (value == "1.0" || value == "1.1")) {
            version = value;
            seen_version = true;
        } else if (key == "encoding" && !value.empty()) {
            encoding = value;
        } else if (key == "standalone" && (value == "yes" || value == "no")) {
            standalone = value == "yes" ? 1 : 0;
        } else {
            return false;
        }
    }
    xmlChar* v = xmlStrdup(xc(version));
    xmlChar* e = encoding.empty() ? nullptr : xmlStrdup(xc(encoding));
    if (v == nullptr || (!encoding.empty() && e == nullptr)) {
        xmlFree(v);
        xmlFree(e);
        return false;
    }
    xmlFree(const_cast<xmlChar*>(doc->version));
    xmlFree(const_cast<xmlChar*>(doc->encoding));
    doc->version = v;
    doc->encoding = e;
    doc->standalone = standalone;
    return true;
}

}  // namespace

XmlNode* xml_CreateElement(XmlDocument* doc, const char* name) {
    if (doc == nullptr) return nullptr;
    return guarded<XmlNode*>(nullptr, [&] { return create_element(doc, name); });
}

int xml_AppendChildToParent(XmlNode* child, XmlNode* parent) {
    if (child == nullptr || parent == nullptr) return -1;
    return guarded(-1, [&] {
        DocStore& store = *store_of(child);
        xmlNodePtr c = node_of(child);
        xmlNodePtr p = node_of(parent);
        if (store_of(parent).get() != &store || !may_link(store, c, p)) {
            set_failure(kXmlStatusFailed, "xml_AppendChildToParent() failed 0x%x", kXmlStatusFailed);
            return -1;
        }
        place_last(store, p, c);
        return 0;
    });
}

int xml_AppendChildToParent(XmlNode* child, XmlDocument* doc) {
    if (child == nullptr || doc == nullptr) return -1;
    return guarded(-1, [&] {
        DocStore& store = *store_of(doc);
        xmlNodePtr c = node_of(child);
        xmlNodePtr p = reinterpret_cast<xmlNodePtr>(store.doc);
        if (!same_store(doc, child) || !may_link(store, c, p)) {
            set_failure(kXmlStatusFailed, "xml_AppendChildToParent() failed 0x%x", kXmlStatusFailed);
            return -1;
        }
        place_last(store, p, c);
        return 0;
    });
}

XmlNode* xml_AddChildElement(XmlDocument* doc, const char* name, XmlNode* parent) {
    if (doc == nullptr || parent == nullptr) return nullptr;
    return guarded<XmlNode*>(nullptr, [&]() -> XmlNode* {
        XmlNode* element = create_element(doc, name);
        if (element == nullptr) return nullptr;
        if (xml_AppendChildToParent(element, parent) != 0) {
            xml_ReleaseNode(element);
            return nullptr;
        }
        return element;
    });
}

XmlNode* xml_ReplaceOrAppendChild(XmlDocument* doc, const char* name, XmlNode* parent) {
    if (doc == nullptr || parent == nullptr) return nullptr;
    return guarded<XmlNode*>(nullptr, [&]() -> XmlNode* {
        XmlNode* element = create_element(doc, name);
        if (element == nullptr) return nullptr;
        DocStore& store = *store_of(doc);
        xmlNodePtr p = node_of(parent);
        xmlNodePtr e = node_of(element);
        if (!same_store(doc, parent) || !may_link(store, e, p)) {
            set_failure(kXmlStatusFailed, "xml_AppendChildToParent() failed 0x%x", kXmlStatusFailed);
            xml_ReleaseNode(element);
            return nullptr;
        }
        std::string_view wanted = split_local(cc(e->name));
        xmlNodePtr old = nullptr;
        for (xmlNodePtr c = p->children; c != nullptr && old == nullptr; c = c->next)
            if (c->type == XML_ELEMENT_NODE && local_name(c) == wanted) old = c;
        if (old != nullptr) {
            place_before(store, old, e);
            discard_node(store, old);
        } else {
            place_last(store, p, e);
        }
        return element;
    });
}

int xml_CreateAndAddAttributeNode(XmlDocument* doc, const char* name, const char* value, XmlNode* element) {
    if (doc == nullptr || element == nullptr) return -1;
    return guarded(-1, [&] {
        std::string utf8_name;
        std::string utf8_value;
        if (name == nullptr || value == nullptr || !to_utf8(name, utf8_name) || !to_utf8(value, utf8_value)) {
            set_failure(kXmlStatusConversion, "BstrFromChar('%s') or VariantFromChar('%s') failed",
                        shown(name), shown(value));
            return -1;
        }
        auto refuse = [&](int status) {
            set_failure(status, "xml_CreateAndAddAttributeNode('%s','%s') failed 0x%x", name, value, status);
            return -1;
        };
        xmlNodePtr e = node_of(element);
        if (!same_store(doc, element) || e->type != XML_ELEMENT_NODE) return refuse(kXmlStatusFailed);
        if (!valid_qname(utf8_name) || !valid_xml_chars(value)) return refuse(kXmlStatusInvalidArgument);
        std::string_view prefix = split_prefix(utf8_name);
        std::string_view local = split_local(utf8_name);
        xmlDocPtr tree = store_of(doc)->doc;
        store_of(doc)->touched(e);
        if (utf8_name == "xmlns" || prefix == "xmlns") {
            std::string_view declared = prefix.empty() ? std::string_view() : local;
            if (declared == "xml" || declared == "xmlns" || (!declared.empty() && utf8_value.empty()))
                return refuse(kXmlStatusInvalidArgument);
            if (!declare_namespace(e, declared, utf8_value)) return refuse(kXmlStatusOutOfMemory);
            // A prefix may now stand for another namespace anywhere below.
            store_of(doc)->index.parent = nullptr;
            resolve_names(tree, e);
            return 0;
        }
        xmlAttrPtr a = nullptr;
        xmlNsPtr ns = nullptr;
        if (!prefix.empty()) {
            std::string p(prefix);
            ns = xmlSearchNs(tree, e, xc(p));
        }
        if (ns != nullptr) {
            std::string l(local);
            a = xmlSetNsProp(e, ns, xc(l), xc(utf8_value));
        } else {
            // Unbound prefix: kept as written until the element sits where it is declared.
            a = xmlSetNsProp(e, nullptr, xc(utf8_name), xc(utf8_value));
        }
        return a != nullptr ? 0 : refuse(kXmlStatusOutOfMemory);
    });
}

int xml_CreateAndAddTextNode(XmlDocument* doc, const char* text, XmlNode* parent) {
    if (doc == nullptr || parent == nullptr) return -1;
    return guarded(-1, [&] {
        xmlNodePtr p = node_of(parent);
        if (!same_store(doc, parent) || p->type != XML_ELEMENT_NODE) {
            set_failure(kXmlStatusFailed, "xml_CreateAndAddTextNode('%s') failed 0x%x", shown(text),
                        kXmlStatusFailed);
            return -1;
        }
        xmlNodePtr t = new_text(store_of(doc)->doc, text);
        if (t == nullptr) {
            set_failure(kXmlStatusOutOfMemory, "xml_CreateAndAddTextNode('%s') failed 0x%x", shown(text),
                        kXmlStatusOutOfMemory);
            return -1;
        }
        link_last(*store_of(doc), p, t);
        return 0;
    });
}

int xml_CreateAndAddCommentNode(XmlDocument* doc, const char* text) {
    if (doc == nullptr) return -1;
    return guarded(-1, [&] {
        std::string utf8;
        DocStore& store = *store_of(doc);
        xmlNodePtr c = nullptr;
        if (text != nullptr && valid_xml_chars(text) && to_utf8(text, utf8) && valid_comment(utf8))
            c = xmlNewDocComment(store.doc, xc(utf8));
        if (c == nullptr) {
            set_failure(kXmlStatusInvalidArgument, "xml_CreateAndAddCommentNode('%s') failed 0x%x",
                        shown(text), kXmlStatusInvalidArgument);
            return -1;
        }
        link_last(store, reinterpret_cast<xmlNodePtr>(store.doc), c);
        return 0;
    });
}

int xml_CreateAndAddPINode(XmlDocument* doc, const char* target, const char* data) {
    if (doc == nullptr) return -1;
    return guarded(-1, [&] {
        std::string utf8_target;
        std::string utf8_data;
        if (target == nullptr || data == nullptr || !to_utf8(target, utf8_target) ||
            !to_utf8(data, utf8_data)) {
            set_failure(kXmlStatusConversion, "BstrFromChar('%s') or BstrFromChar('%s') failed",
                        shown(target), shown(data));
            return -1;
        }
        auto refuse = [&] {
            set_failure(kXmlStatusInvalidArgument, "xml_CreateAndAddPINode('%s','%s') failed 0x%x", target,
                        data, kXmlStatusInvalidArgument);
            return -1;
        };
        DocStore& store = *store_of(doc);
        // The declaration belongs to the document: a second one as a node makes the file
        // unreadable.
        if (utf8_target == "xml") return apply_declaration(store.doc, utf8_data) ? 0 : refuse();
        if (!valid_qname(utf8_target) || utf8_target.find(':') != std::string::npos ||
            platform::starts_with_ignoring_case(utf8_target, "xml") || !valid_xml_chars(data) ||
            utf8_data.find("?>") != std::string::npos)
            return refuse();
        xmlNodePtr pi = xmlNewDocPI(store.doc, xc(utf8_target), utf8_data.empty() ? nullptr : xc(utf8_data));
        if (pi == nullptr) return refuse();
        link_last(store, reinterpret_cast<xmlNodePtr>(store.doc), pi);
        return 0;
    });
}

int xml_CreateAndAddCDATANode(XmlDocument* doc, const char* text, XmlNode* parent) {
    if (doc == nullptr || parent == nullptr) return -1;
    return guarded(-1, [&] {
        std::string utf8;
        xmlNodePtr p = node_of(parent);
        xmlNodePtr c = nullptr;
        if (same_store(doc, parent) && p->type == XML_ELEMENT_NODE && text != nullptr &&
            valid_xml_chars(text) && to_utf8(text, utf8) && utf8.find("]]>") == std::string::npos)
            c = xmlNewCDataBlock(store_of(doc)->doc, xc(utf8), static_cast<int>(utf8.size()));
        if (c == nullptr) {
            set_failure(kXmlStatusInvalidArgument, "xml_CreateAndAddCDATANode('%s') failed 0x%x", shown(text),
                        kXmlStatusInvalidArgument);
            return -1;
        }
        link_last(*store_of(doc), p, c);
        return 0;
    });
}

int xml_InsertBefore(XmlNode* node, XmlNode* reference) {
    if (node == nullptr || reference == nullptr) return -1;
    return guarded(-1, [&] {
        DocStore& store = *store_of(node);
        xmlNodePtr n = node_of(node);
        xmlNodePtr r = node_of(reference);
        if (store_of(reference).get() != &store || n == r || r->parent == nullptr ||
            !may_link(store, n, r->parent)) {
            set_failure(kXmlStatusFailed, "xml_InsertBefore() failed 0x%x", kXmlStatusFailed);
            return -1;
        }
        place_before(store, r, n);
        return 0;
    });
}

int xml_InsertTextBefore(XmlDocument* doc, const char* text, XmlNode* reference) {
    if (doc == nullptr || reference == nullptr) return -1;
    return guarded(-1, [&] {
        xmlNodePtr r = node_of(reference);
        xmlNodePtr t = nullptr;
        if (same_store(doc, reference) && r->parent != nullptr && r->parent->type == XML_ELEMENT_NODE)
            t = new_text(store_of(doc)->doc, text);
        if (t == nullptr) {
            set_failure(kXmlStatusFailed, "xml_InsertBefore('%s') failed 0x%x", shown(text),
                        kXmlStatusFailed);
            return -1;
        }
        link_before(*store_of(doc), r, t);
        return 0;
    });
}

int xml_RemoveChild(XmlNode* parent, XmlNode* child) {
    if (parent == nullptr || child == nullptr) return -1;
    return guarded(-1, [&] {
        xmlNodePtr c = node_of(child);
        if (store_of(parent) != store_of(child) || c->parent != node_of(parent)) {
            set_failure(kXmlStatusInvalidArgument, "xml_RemoveChild() failed 0x%x",
                        kXmlStatusInvalidArgument);
            return -1;
        }
        unlink_loose(*store_of(child), c);
        return 0;
    });
}
