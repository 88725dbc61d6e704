#pragma once
// Warnings of the configuration stores when the XML switches contradict each other: traced
// once per process each.
#include <string>

namespace qvr::cfg {

// A save writes XML only: warns when loads do not read XML (ReadXML OFF).
void warn_if_xml_only_unread(const char* dir);
// A load or save of the binary form where WriteXML is BIN: warns when ReadXML is ON and the
// XML file `xml_path` exists (loads read it, saves leave it behind).
void warn_if_stale_xml(const char* dir, const std::string& xml_path);

}  // namespace qvr::cfg
