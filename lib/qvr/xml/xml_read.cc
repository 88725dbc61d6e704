// Finding and reading nodes: child walks that compare local names, so the default
// namespace of the files never hides an element.
#include <libxml/tree.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "qvr/xml/xml.h"
#include "qvr/xml/xml_internal.h"

using namespace qvr::xml;

namespace {

// The namespace name a prefix stands for where `node` sits; empty when it is not declared.
std::string_view namespace_of(xmlDocPtr doc, xmlNodePtr node, std::string_view prefix) {
    std::string p(prefix);
    xmlNsPtr ns = xmlSearchNs(doc, node, prefix.empty() ? nullptr : xc(p));
    return ns != nullptr && ns->href != nullptr ? std::string_view(cc(ns->href)) : std::string_view();
}

// Whether a node named (prefix, local) matches the wanted name, whose prefix is read where
// `scope` sits. Without a prefix only the local names count.
bool name_matches(xmlDocPtr doc, xmlNodePtr node, xmlNsPtr node_ns, std::string_view node_name,
                  std::string_view wanted, xmlNodePtr scope) {
    std::string_view local = node_ns != nullptr ? node_name : split_local(node_name);
    if (local != split_local(wanted)) return false;
    std::string_view wanted_prefix = split_prefix(wanted);
    if (wanted_prefix.empty()) return true;
    std::string_view wanted_ns = namespace_of(doc, scope, wanted_prefix);
    std::string_view have_prefix =
        node_ns != nullptr ? std::string_view(node_ns->prefix != nullptr ? cc(node_ns->prefix) : "")
                           : split_prefix(node_name);
    std::string_view have_ns = node_ns != nullptr && node_ns->href != nullptr
                                   ? std::string_view(cc(node_ns->href))
                                   : namespace_of(doc, node, have_prefix);
    if (!wanted_ns.empty() && !have_ns.empty()) return wanted_ns == have_ns;
    return wanted_prefix == have_prefix;
}

bool element_matches(xmlDocPtr doc, xmlNodePtr node, std::string_view wanted, xmlNodePtr scope) {
    return node->type == XML_ELEMENT_NODE && node->name != nullptr &&
           name_matches(doc, node, node->ns, cc(node->name), wanted, scope);
}

xmlAttrPtr find_attribute(xmlDocPtr doc, xmlNodePtr element, std::string_view wanted) {
    for (xmlAttrPtr a = element->properties; a != nullptr; a = a->next) {
        if (a->name == nullptr) continue;
        // An attribute without a prefix is in no namespace: the default one does not apply.
        if (split_prefix(wanted).empty() && a->ns != nullptr) continue;
        if (name_matches(doc, element, a->ns, cc(a->name), wanted, element)) return a;
    }
    return nullptr;
}

// The attribute's value as UTF-8.
std::string attribute_value(xmlDocPtr doc, xmlAttrPtr a) {
    xmlNodePtr c = a->children;
    if (c != nullptr && c->next == nullptr && c->type == XML_TEXT_NODE && c->content != nullptr)
        return cc(c->content);
    xmlChar* value = xmlNodeListGetString(doc, a->children, 1);
    std::string out = value != nullptr ? cc(value) : "";
    xmlFree(value);
    return out;
}

bool xml_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The number a text reads as, the way an XPath comparison with a number reads it: blanks
// around an optional '-' and digits with at most one '.'; NaN for anything else.
double xpath_number(std::string_view text) {
    while (!text.empty() && xml_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && xml_blank(text.back())) text.remove_suffix(1);
    std::string_view body = text;
    if (!body.empty() && body.front() == '-') body.remove_prefix(1);
    if (body.empty()) return NAN;
    bool digit = false;
    bool point = false;
    for (char c : body) {
        if (c >= '0' && c <= '9') {
            digit = true;
        } else if (c == '.' && !point) {
            point = true;
        } else {
            return NAN;
        }
    }
    if (!digit) return NAN;
    std::string copy(text);
    return std::strtod(copy.c_str(), nullptr);
}

// How the wanted value compares: as a number when it reads as one, as the text inside
// quotes when quoted, else as plain text.
struct WantedValue {
    bool numeric = false;
    double number = 0;
    std::string text;
};

WantedValue wanted_value(const std::string& utf8) {
    WantedValue w;
    double n = xpath_number(utf8);
    if (!std::isnan(n)) {
        w.numeric = true;
        w.number = n;
        return w;
    }
    if (utf8.size() >= 2 && (utf8.front() == '\'' || utf8.front() == '"') && utf8.back() == utf8.front()) {
        w.text = utf8.substr(1, utf8.size() - 2);
    } else {
        w.text = utf8;
    }
    return w;
}

// The first child `element` of `parent` whose `attribute` has the wanted value, through the
// store's index: children are looked at once, in order, while nothing changes under the
// parent, and the first child of each value is remembered.
xmlNodePtr indexed_search(DocStore& store, xmlNodePtr parent, const std::string& element,
                          const std::string& attribute, const WantedValue& wanted) {
    AttributeIndex& ix = store.index;
    if (ix.parent != parent || ix.element != element || ix.attribute != attribute ||
        ix.numeric != wanted.numeric) {
        ix.parent = parent;
        ix.element = element;
        ix.attribute = attribute;
        ix.numeric = wanted.numeric;
        ix.scanned = nullptr;
        ix.complete = false;
        ix.numbers.clear();
        ix.texts.clear();
    }
    if (wanted.numeric) {
        if (auto it = ix.numbers.find(wanted.number); it != ix.numbers.end()) return it->second;
    } else if (auto it = ix.texts.find(wanted.text); it != ix.texts.end()) {
        return it->second;
    }
    if (ix.complete) return nullptr;
    xmlDocPtr doc = store.doc;
    for (xmlNodePtr c = ix.scanned != nullptr ? ix.scanned->next : parent->children; c != nullptr;
         c = c->next) {
        ix.scanned = c;
        if (!element_matches(doc, c, element, parent)) continue;
        xmlAttrPtr found = find_attribute(doc, c, attribute);
        if (found == nullptr) continue;
        std::string value = attribute_value(doc, found);
        if (wanted.numeric) {
            double n = xpath_number(value);
            if (std::isnan(n)) continue;
            ix.numbers.emplace(n, c);
            if (n == wanted.number) return c;
        } else {
            ix.texts.emplace(value, c);
            if (value == wanted.text) return c;
        }
    }
    ix.complete = true;
    return nullptr;
}

XmlNode* sibling(XmlNode* node, bool next) {
    if (node == nullptr) return nullptr;
    return guarded<XmlNode*>(nullptr, [&] {
        xmlNodePtr n = node_of(node);
        return handle_for(store_of(node), next ? n->next : n->prev);
    });
}

XmlNode* child(XmlNode* node, bool first) {
    if (node == nullptr) return nullptr;
    return guarded<XmlNode*>(nullptr, [&]() -> XmlNode* {
        xmlNodePtr n = node_of(node);
        if (n->type != XML_ELEMENT_NODE) return nullptr;
        return handle_for(store_of(node), first ? n->children : n->last);
    });
}

XmlNode* document_child(XmlDocument* doc, bool first) {
    if (doc == nullptr) return nullptr;
    return guarded<XmlNode*>(nullptr, [&] {
        xmlDocPtr tree = store_of(doc)->doc;
        return handle_for(store_of(doc), first ? tree->children : tree->last);
    });
}

char* allocated_copy(const std::string& text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy == nullptr) throw std::bad_alloc();
    std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

std::string qualified_name(xmlNodePtr n) {
    switch (n->type) {
        case XML_TEXT_NODE:
            return "#text";
        case XML_CDATA_SECTION_NODE:
            return "#cdata-section";
        case XML_COMMENT_NODE:
            return "#comment";
        case XML_DOCUMENT_NODE:
            return "#document";
        default:
            break;
    }
    std::string name = n->name != nullptr ? cc(n->name) : "";
    if (n->type == XML_ELEMENT_NODE && n->ns != nullptr && n->ns->prefix != nullptr)
        name = std::string(cc(n->ns->prefix)) + ":" + name;
    return name;
}

}  // namespace

XmlNode* xml_FindByName(XmlNode* parent, const char* name) {
    if (parent == nullptr) return nullptr;
    return guarded<XmlNode*>(nullptr, [&]() -> XmlNode* {
        std::string wanted;
        if (!converted_name(name, wanted)) {
            set_failure(kXmlStatusInvalidArgument, "xml_FindByName('%s') failed 0x%x", shown(name),
                        kXmlStatusInvalidArgument);
            return nullptr;
        }
        xmlNodePtr p = node_of(parent);
        if (p->type != XML_ELEMENT_NODE) return nullptr;
        xmlDocPtr doc = store_of(parent)->doc;
        for (xmlNodePtr c = p->children; c != nullptr; c = c->next)
            if (element_matches(doc, c, wanted, p)) return handle_for(store_of(parent), c);
        return nullptr;
    });
}

XmlNode* xml_FindByAttribute(XmlNode* parent, const char* element, const char* attribute, const char* value) {
    if (parent == nullptr) return nullptr;
    return guarded<XmlNode*>(nullptr, [&]() -> XmlNode* {
        std::string e;
        std::string a;
        std::string v;
        if (!converted_name(element, e) || !converted_name(attribute, a) || value == nullptr ||
            !to_utf8(value, v)) {
            std::string path =
                std::string(shown(element)) + "[@" + shown(attribute) + "=" + shown(value) + "]";
            set_failure(kXmlStatusInvalidArgument, "xml_FindByAttribute('%s') failed 0x%x", path.c_str(),
                        kXmlStatusInvalidArgument);
            return nullptr;
        }
        xmlNodePtr p = node_of(parent);
        if (p->type != XML_ELEMENT_NODE) return nullptr;
        xmlNodePtr found = indexed_search(*store_of(parent), p, e, a, wanted_value(v));
        return handle_for(store_of(parent), found);
    });
}

XmlNode* xml_FirstChild(XmlNode* node) {
    return child(node, true);
}
XmlNode* xml_LastChild(XmlNode* node) {
    return child(node, false);
}
XmlNode* xml_FirstChild(XmlDocument* doc) {
    return document_child(doc, true);
}
XmlNode* xml_LastChild(XmlDocument* doc) {
    return document_child(doc, false);
}
XmlNode* xml_NextSibling(XmlNode* node) {
    return sibling(node, true);
}
XmlNode* xml_PreviousSibling(XmlNode* node) {
    return sibling(node, false);
}

char* xml_getName(XmlNode* node) {
    if (node == nullptr) return nullptr;
    return guarded<char*>(nullptr, [&] {
        std::string name = qualified_name(node_of(node));
        return allocated_from_utf8(xc(name));
    });
}

char* xml_getText(XmlNode* node) {
    if (node == nullptr) return nullptr;
    return guarded<char*>(nullptr, [&] {
        xmlNodePtr n = node_of(node);
        if (n->type == XML_TEXT_NODE || n->type == XML_CDATA_SECTION_NODE || n->type == XML_COMMENT_NODE)
            return allocated_from_utf8(n->content);
        if (n->type == XML_ELEMENT_NODE)
            for (xmlNodePtr c = n->children; c != nullptr; c = c->next)
                if (c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE)
                    return allocated_from_utf8(c->content);
        return allocated_copy("");
    });
}

char* xml_getAttribute(XmlNode* element, const char* name) {
    if (element == nullptr) return nullptr;
    return guarded<char*>(nullptr, [&]() -> char* {
        std::string wanted;
        if (!converted_name(name, wanted)) {
            set_failure(kXmlStatusInvalidArgument, "xml_getAttribute('%s') failed 0x%x", shown(name),
                        kXmlStatusInvalidArgument);
            return nullptr;
        }
        xmlNodePtr e = node_of(element);
        if (e->type != XML_ELEMENT_NODE) return nullptr;
        xmlDocPtr doc = store_of(element)->doc;
        xmlAttrPtr a = find_attribute(doc, e, wanted);
        if (a == nullptr) return nullptr;
        std::string value = attribute_value(doc, a);
        return allocated_from_utf8(xc(value));
    });
}

int xml_IterateChan(XmlNode* element, XmlNameText* pairs, int capacity) {
    if (element == nullptr || pairs == nullptr || capacity < 0) return -1;
    return guarded(-1, [&] {
        xmlNodePtr e = node_of(element);
        int filled = 0;
        auto release = [&] {
            for (int i = 0; i < filled; ++i) {
                std::free(pairs[i].name);
                std::free(pairs[i].text);
                pairs[i] = XmlNameText{nullptr, nullptr};
            }
        };
        try {
            for (xmlNodePtr c = e->type == XML_ELEMENT_NODE ? e->children : nullptr; c != nullptr;
                 c = c->next) {
                if (c->type != XML_ELEMENT_NODE) {
                    release();
                    return -1;
                }
                if (filled == capacity) continue;
                XmlNode* h = handle_for(store_of(element), c);
                pairs[filled].name = xml_getName(h);
                pairs[filled].text = xml_getText(h);
                xml_ReleaseNode(h);
                ++filled;
            }
        } catch (...) {
            release();
            throw;
        }
        return filled;
    });
}
