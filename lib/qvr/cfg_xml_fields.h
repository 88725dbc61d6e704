#pragma once
// Records as XML elements, one element per leaf field of their typed description, for the
// configuration stores.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "qvr/ext.h"
#include "qvr/xml.h"
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
};
// Reads every leaf that `parent` holds as an element into `data` (laid out as `type`) and
// adds its name to `found`. False when a strict conversion failed (status set).
bool read_leaves(XmlNode* parent, const StructsType* type, const std::vector<std::string>& leaves, void* data,
                 FoundFieldList& found, const LeafReading& how);
// Writes every leaf of `data` as an element of `parent`: in place of a child of the same
// name when `replace` is set, else appended. False when the status failed.
bool write_leaves(XmlDocument* doc, XmlNode* parent, const StructsType* type,
                  const std::vector<std::string>& leaves, const void* data, bool replace);

// A fresh configuration document: the declaration, the comment and the root element with
// its namespace attributes ("<base>/<word>", schema "../SCHEMA/<word>.xsd").
XmlNodeRef start_document(XmlDocument* doc, const char* root_name, const std::string& namespace_word);

// Reports the thread's XML status text to the message sink; errno 1465; -1.
int report_xml_failure();

// A copy of `bytes` at least `size` bytes long (zero-padded), so a description of that size
// can be read over it.
std::vector<std::uint8_t> padded(std::vector<std::uint8_t> bytes, std::size_t size);

}  // namespace qvr::cfg
