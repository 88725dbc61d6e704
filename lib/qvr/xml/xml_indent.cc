// Tab indentation of a tree, so that people can read and edit the files.
#include <libxml/tree.h>

#include <string>
#include <vector>

#include "qvr/xml/xml.h"
#include "qvr/xml/xml_internal.h"

using namespace qvr::xml;

namespace {

bool blank_text(xmlNodePtr n) {
    if (n->type != XML_TEXT_NODE) return false;
    for (const xmlChar* c = n->content; c != nullptr && *c != 0; ++c)
        if (*c != ' ' && *c != '\t' && *c != '\r' && *c != '\n') return false;
    return true;
}

bool has_element_child(xmlNodePtr n) {
    for (xmlNodePtr c = n->children; c != nullptr; c = c->next)
        if (c->type == XML_ELEMENT_NODE) return true;
    return false;
}

xmlNodePtr layout_text(xmlDocPtr doc, int depth) {
    std::string text = "\n";
    text.append(static_cast<size_t>(depth), '\t');
    xmlNodePtr t = xmlNewDocText(doc, xc(text));
    if (t == nullptr) throw std::bad_alloc();
    return t;
}

void indent(DocStore& store, xmlNodePtr node, int depth) {
    if (!has_element_child(node)) return;
    // Layout text already there (an earlier indentation) is replaced, not added to.
    std::vector<xmlNodePtr> old;
    for (xmlNodePtr c = node->children; c != nullptr; c = c->next)
        if (blank_text(c)) old.push_back(c);
    for (xmlNodePtr c : old) discard_node(store, c);
    for (xmlNodePtr c = node->children; c != nullptr; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        link_before(store, c, layout_text(store.doc, depth + 1));
        indent(store, c, depth + 1);
    }
    link_last(store, node, layout_text(store.doc, depth));
}

}  // namespace

int xml_IndentTree(XmlDocument* doc, XmlNode* element, int depth) {
    if (doc == nullptr || element == nullptr) return -1;
    return guarded(-1, [&] {
        xmlNodePtr e = node_of(element);
        if (store_of(doc) != store_of(element) || e->type != XML_ELEMENT_NODE || depth < 0) {
            set_failure(kXmlStatusFailed, "xml_IndentTree() failed 0x%x", kXmlStatusFailed);
            return -1;
        }
        indent(*store_of(doc), e, depth);
        return 0;
    });
}
