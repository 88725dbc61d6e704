#pragma once
// Inside the XML layer: the document store behind the handles, the per-thread status and
// the helpers every operation shares. Not for callers of xml.h.
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <cstdarg>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "qvr/xml/xml.h"

namespace qvr::xml {

// The children of one element looked up by one attribute, as far as they have been
// scanned: the first child (in document order) for each value seen. Searching a table for
// channel 1, 2, 3 ... so scans it once instead of once per channel.
struct AttributeIndex {
    xmlNodePtr parent = nullptr;  // null: no index
    std::string element;
    std::string attribute;
    bool numeric = false;
    xmlNodePtr scanned = nullptr;  // the last child looked at; null: none yet
    bool complete = false;         // every child looked at
    std::unordered_map<double, xmlNodePtr> numbers;
    std::unordered_map<std::string, xmlNodePtr> texts;
};

// One parsed or built tree. Handles share it, so it lives while any of its nodes is held.
struct DocStore {
    xmlDocPtr doc = nullptr;
    // Nodes that were created or taken out of the tree: the document does not free them.
    std::unordered_set<xmlNodePtr> loose;
    AttributeIndex index;

    // Every change of a node's children, name or attributes passes here first.
    void touched(xmlNodePtr node) {
        if (index.parent != nullptr && (node == index.parent || node->parent == index.parent))
            index.parent = nullptr;
    }

    explicit DocStore(xmlDocPtr d) : doc(d) {}
    DocStore(const DocStore&) = delete;
    DocStore& operator=(const DocStore&) = delete;
    ~DocStore();
};

// Makes the library ready (once per process) and installs nothing global.
void ensure_library();

// The node's handle (one per node, shared by every caller that asks for it), with one more
// reference. Null for a null node.
XmlNode* handle_for(const std::shared_ptr<DocStore>& store, xmlNodePtr node);
xmlNodePtr node_of(const XmlNode* handle);
const std::shared_ptr<DocStore>& store_of(const XmlNode* handle);
const std::shared_ptr<DocStore>& store_of(const XmlDocument* doc);
// Adopts a new tree for the document (loading); the old one lives on while held.
void replace_store(XmlDocument* doc, xmlDocPtr tree);

// Status of the calling thread.
bool failed();
void set_failure(int status, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Runs an operation under the layer's rules: nothing when the status has failed already,
// the empty result when memory runs out.
template <class Result, class Body>
Result guarded(Result empty, Body&& body) {
    if (failed()) return empty;
    try {
        return body();
    } catch (const std::bad_alloc&) {
        set_failure(kXmlStatusOutOfMemory, "out of memory");
        return empty;
    }
}

// Links `node` (which belongs to no tree) as the last child of `parent`, or before
// `reference`. Text nodes are never merged, so a node's handle always stays its own.
void link_last(DocStore& store, xmlNodePtr parent, xmlNodePtr node);
void link_before(DocStore& store, xmlNodePtr reference, xmlNodePtr node);
// Takes the node out of its tree and records it as loose.
void unlink_loose(DocStore& store, xmlNodePtr node);
// Takes the node out and frees it unless a handle still holds it.
void discard_node(DocStore& store, xmlNodePtr node);
// True when `node` is `ancestor` or lies below it.
bool is_within(xmlNodePtr node, xmlNodePtr ancestor);
// Gives names written as "p:name" (elements and attributes) the namespace declared for p
// where they now sit, and unprefixed elements the default namespace in scope.
void resolve_names(xmlDocPtr doc, xmlNodePtr subtree);

// Local name and prefix of a node (the literal "p:name" of an unresolved one split).
std::string_view local_name(xmlNodePtr node);
std::string_view split_local(std::string_view qname);
std::string_view split_prefix(std::string_view qname);

// Windows-1252 <-> UTF-8 at the boundary of the layer.
bool to_utf8(std::string_view text, std::string& out);
std::string from_utf8(const xmlChar* text);
char* allocated_from_utf8(const xmlChar* text);
// False when the bytes hold a control character XML does not allow (other than TAB, LF, CR).
bool valid_xml_chars(std::string_view bytes);
// A valid XML name (with one optional prefix), as UTF-8.
bool valid_qname(std::string_view utf8);
// A record-text name converted to UTF-8, when it is a valid XML name.
inline bool converted_name(const char* name, std::string& utf8) {
    return name != nullptr && to_utf8(name, utf8) && valid_qname(utf8);
}
// A text argument as the failure messages show it.
inline const char* shown(const char* text) {
    return text != nullptr ? text : "(null)";
}

inline const xmlChar* xc(const std::string& s) {
    return reinterpret_cast<const xmlChar*>(s.c_str());
}
inline const char* cc(const xmlChar* s) {
    return reinterpret_cast<const char*>(s);
}

// While alive, the calling thread's parser messages go to this object instead of stderr:
// it keeps the first error (or, without one, the first warning).
class ErrorCapture {
  public:
    ErrorCapture();
    ~ErrorCapture();
    ErrorCapture(const ErrorCapture&) = delete;
    ErrorCapture& operator=(const ErrorCapture&) = delete;

    bool any() const { return code_ != 0; }
    int code() const { return code_; }
    // "line %d: <the parser's text>", without its trailing newline.
    const std::string& text() const { return text_; }
    void record(int code, int level, int line, const char* message);

  private:
    xmlStructuredErrorFunc saved_structured_;
    void* saved_structured_context_;
    xmlGenericErrorFunc saved_generic_;
    void* saved_generic_context_;
    int code_ = 0;
    int level_ = 0;
    std::string text_;
};

// Loads a document from bytes (the file's name for the messages). 0, -1.
int load_bytes(XmlDocument* doc, std::string_view bytes, const char* name);

}  // namespace qvr::xml
