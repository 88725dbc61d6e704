// Documents, handles and the tree links of the XML layer.
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <memory>
#include <mutex>
#include <vector>

#include "qvr/xml/xml.h"
#include "qvr/xml/xml_internal.h"

struct XmlDocument {
    std::shared_ptr<qvr::xml::DocStore> store;
    int refs = 1;
};

struct XmlNode {
    xmlNodePtr node = nullptr;
    std::shared_ptr<qvr::xml::DocStore> store;
    int refs = 1;
};

namespace qvr::xml {
namespace {

// Visits `subtree` and every node below it, in document order, until `visit` returns false.
template <typename Visit>
bool visit_subtree(xmlNodePtr subtree, Visit visit) {
    for (xmlNodePtr n = subtree; n != nullptr;) {
        if (!visit(n)) return false;
        if (n->type == XML_ELEMENT_NODE && n->children != nullptr) {
            n = n->children;
            continue;
        }
        while (n != subtree && n->next == nullptr) n = n->parent;
        if (n == subtree) break;
        n = n->next;
    }
    return true;
}

bool holds_handle(xmlNodePtr subtree) {
    return !visit_subtree(subtree, [](xmlNodePtr n) { return n->_private == nullptr; });
}

void forget_loose(DocStore& store, xmlNodePtr subtree) {
    visit_subtree(subtree, [&store](xmlNodePtr n) {
        store.loose.erase(n);
        if (n == store.index.parent) store.index.parent = nullptr;
        return true;
    });
}

// Frees the loose tree that holds `node` once nobody holds any node of it.
void free_if_unheld(DocStore& store, xmlNodePtr node) {
    xmlNodePtr top = node;
    while (top->parent != nullptr) top = top->parent;
    if (top->type == XML_DOCUMENT_NODE || store.loose.count(top) == 0) return;
    if (holds_handle(top)) return;
    forget_loose(store, top);
    xmlFreeNode(top);
}

}  // namespace

DocStore::~DocStore() {
    std::vector<xmlNodePtr> roots;
    for (xmlNodePtr n : loose)
        if (n->parent == nullptr) roots.push_back(n);
    // Before the document: its name dictionary must outlive them.
    for (xmlNodePtr n : roots) xmlFreeNode(n);
    if (doc != nullptr) xmlFreeDoc(doc);
}

void ensure_library() {
    static std::once_flag once;
    std::call_once(once, [] { xmlInitParser(); });
}

XmlNode* handle_for(const std::shared_ptr<DocStore>& store, xmlNodePtr node) {
    if (node == nullptr) return nullptr;
    if (node->_private != nullptr) {
        XmlNode* h = static_cast<XmlNode*>(node->_private);
        ++h->refs;
        return h;
    }
    auto h = std::make_unique<XmlNode>();
    h->node = node;
    h->store = store;
    node->_private = h.get();
    return h.release();
}

xmlNodePtr node_of(const XmlNode* handle) {
    return handle != nullptr ? handle->node : nullptr;
}

const std::shared_ptr<DocStore>& store_of(const XmlNode* handle) {
    return handle->store;
}

const std::shared_ptr<DocStore>& store_of(const XmlDocument* doc) {
    return doc->store;
}

void replace_store(XmlDocument* doc, xmlDocPtr tree) {
    doc->store = std::make_shared<DocStore>(tree);
}

void link_last(DocStore& store, xmlNodePtr parent, xmlNodePtr node) {
    store.touched(parent);
    node->parent = parent;
    node->next = nullptr;
    node->prev = parent->last;
    if (parent->last != nullptr) {
        parent->last->next = node;
    } else {
        parent->children = node;
    }
    parent->last = node;
}

void link_before(DocStore& store, xmlNodePtr reference, xmlNodePtr node) {
    store.touched(reference);
    xmlNodePtr parent = reference->parent;
    node->parent = parent;
    node->next = reference;
    node->prev = reference->prev;
    if (reference->prev != nullptr) {
        reference->prev->next = node;
    } else if (parent != nullptr) {
        parent->children = node;
    }
    reference->prev = node;
}

void unlink_loose(DocStore& store, xmlNodePtr node) {
    store.touched(node);
    xmlUnlinkNode(node);
    store.loose.insert(node);
}

void discard_node(DocStore& store, xmlNodePtr node) {
    unlink_loose(store, node);
    free_if_unheld(store, node);
}

bool is_within(xmlNodePtr node, xmlNodePtr ancestor) {
    for (xmlNodePtr n = node; n != nullptr; n = n->parent)
        if (n == ancestor) return true;
    return false;
}

std::string_view split_local(std::string_view qname) {
    size_t colon = qname.find(':');
    return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

std::string_view split_prefix(std::string_view qname) {
    size_t colon = qname.find(':');
    return colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
}

std::string_view local_name(xmlNodePtr node) {
    if (node->name == nullptr) return {};
    std::string_view name(cc(node->name));
    return node->ns != nullptr ? name : split_local(name);
}

namespace {

// The namespace bound to `prefix` (empty: the default one) where `node` sits; null when
// none, or when the nearest declaration undeclares it.
xmlNsPtr in_scope(xmlDocPtr doc, xmlNodePtr node, std::string_view prefix) {
    std::string p(prefix);
    xmlNsPtr ns = xmlSearchNs(doc, node, prefix.empty() ? nullptr : xc(p));
    if (ns == nullptr || ns->href == nullptr || ns->href[0] == '\0') return nullptr;
    return ns;
}

void resolve_one(xmlDocPtr doc, xmlNodePtr element) {
    if (element->ns == nullptr && element->name != nullptr) {
        std::string_view name(cc(element->name));
        std::string_view prefix = split_prefix(name);
        if (xmlNsPtr ns = in_scope(doc, element, prefix)) {
            if (!prefix.empty()) {
                std::string local(split_local(name));
                xmlNodeSetName(element, xc(local));
            }
            element->ns = ns;
        }
    }
    for (xmlAttrPtr a = element->properties; a != nullptr; a = a->next) {
        if (a->ns != nullptr || a->name == nullptr) continue;
        std::string_view name(cc(a->name));
        std::string_view prefix = split_prefix(name);
        if (prefix.empty()) continue;
        if (xmlNsPtr ns = in_scope(doc, element, prefix)) {
            std::string local(split_local(name));
            xmlNodeSetName(reinterpret_cast<xmlNodePtr>(a), xc(local));
            a->ns = ns;
        }
    }
}

}  // namespace

void resolve_names(xmlDocPtr doc, xmlNodePtr subtree) {
    for (xmlNodePtr n = subtree; n != nullptr;) {
        if (n->type == XML_ELEMENT_NODE) resolve_one(doc, n);
        if (n->type == XML_ELEMENT_NODE && n->children != nullptr) {
            n = n->children;
            continue;
        }
        while (n != subtree && n->next == nullptr) n = n->parent;
        if (n == subtree) break;
        n = n->next;
    }
}

}  // namespace qvr::xml

using namespace qvr::xml;

XmlDocument* xml_NewDocument() {
    ensure_library();
    xml_ResetStatus();
    try {
        xmlDocPtr tree = xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0"));
        if (tree == nullptr) throw std::bad_alloc();
        auto doc = std::make_unique<XmlDocument>();
        try {
            doc->store = std::make_shared<DocStore>(tree);
        } catch (...) {
            xmlFreeDoc(tree);
            throw;
        }
        return doc.release();
    } catch (const std::bad_alloc&) {
        set_failure(kXmlStatusOutOfMemory, "xml_NewDocument() failed 0x%x", kXmlStatusOutOfMemory);
        return nullptr;
    }
}

void xml_ReleaseNode(XmlNode* node) {
    if (node == nullptr || --node->refs > 0) return;
    std::unique_ptr<XmlNode> owned(node);
    xmlNodePtr n = node->node;
    n->_private = nullptr;
    free_if_unheld(*node->store, n);
}

void xml_ReleaseNode(XmlDocument* doc) {
    if (doc == nullptr || --doc->refs > 0) return;
    std::unique_ptr<XmlDocument> owned(doc);
}

XmlNode* xml_GetRootElement(XmlDocument* doc) {
    if (doc == nullptr) return nullptr;
    return guarded<XmlNode*>(nullptr, [&]() -> XmlNode* {
        xmlNodePtr root = xmlDocGetRootElement(doc->store->doc);
        if (root == nullptr) {
            set_failure(kXmlStatusFailed, "No Root element found");
            return nullptr;
        }
        return handle_for(doc->store, root);
    });
}
