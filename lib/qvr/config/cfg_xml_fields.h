#pragma once
// Records as XML elements, one element per leaf field of their typed description, for the
// configuration stores.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "qvr/ext/ext.h"
#include "qvr/xml/xml.h"
#include "tslib/structs.h"

namespace qvr::cfg {

// Dotted names of the type's leaves (empty when they cannot be listed).
std::vector<std::string> leaf_names(const StructsType* type, const void* data);

// How a failed leaf conversion shows in the status: a printf format of name and message.
// With `strict` false (reading the old state for the audit) a leaf that fails is left as it
// was and reading goes on.
struct LeafReading {
    const char* failure_format;
    bool strict;
    // Each element read is taken out of the document, so that the next leaf, usually the
    // next element, is found at once.
    bool remove_read = false;
};
// Reads every leaf that `parent` holds as an element into `data` (laid out as `type`) and
// adds its name to `found`. False when a strict conversion failed (status set).
bool read_leaves(XmlNode* parent, const StructsType* type, const std::vector<std::string>& leaves, void* data,
                 FoundFieldList& found, const LeafReading& how);
// Where write_leaves puts the elements it writes. With `replace` (an element that may
// already hold them) each takes the place of a child of the same name and is then moved
// behind `after` (first in the parent while `after` is null): the files' schemas fix the
// order of the elements, so a part written into an existing element goes to its place, not
// to the end. Without, they are appended. `after` then holds the last one written.
struct LeafPlace {
    bool replace = false;
    XmlNodeRef after;
};
// Writes every leaf of `data` as an element of `parent` at `place`. False when the status
// failed.
bool write_leaves(XmlDocument* doc, XmlNode* parent, const StructsType* type,
                  const std::vector<std::string>& leaves, const void* data, LeafPlace& place);
// Moves `node`, a child of `parent`, behind `after` (first when null).
void place_after(XmlNode* parent, XmlNode* node, XmlNode* after);
// Where a part (these leaves) goes in `parent` when nothing was written before it: behind
// the child before its first element there, else behind the last child.
XmlNodeRef place_of_part(XmlNode* parent, const std::vector<std::string>& leaves);

// A fresh configuration document: the declaration, the comment and the root element with
// its namespace attributes ("<base>/<word>", schema "../SCHEMA/<word>.xsd").
XmlNodeRef start_document(XmlDocument* doc, const char* root_name, const std::string& namespace_word);

// Reports the thread's XML status text to the message sink; errno 1465; -1.
int report_xml_failure();

// A copy of `bytes` at least `size` bytes long (zero-padded), so a description of that size
// can be read over it.
std::vector<std::uint8_t> padded(std::vector<std::uint8_t> bytes, std::size_t size);

}  // namespace qvr::cfg
