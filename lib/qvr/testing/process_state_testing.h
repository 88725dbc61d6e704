#pragma once
// For tests only: puts back what this library reads or opens once per process, so that the
// next test case in the same process starts as the first case of a new process does.
namespace qvr::testing {

// All of the below, in an order that forgets users of a cache before the cache itself.
void reset_process_state();

// The user's number format (read once: the user's settings are taken at program start).
void forget_user_number_locale();
// The host's tables and the module cache that indexes them.
void forget_host_tables();
void forget_module_cache();
// Sections mapped so far: the next open maps the object anew. Mappings stay (pointers to
// them stay valid), only their names are forgotten.
void forget_section_names();
// The controller library probe, the write-filter state and the extension XML answer.
void forget_write_filter();
void forget_extension_answers();
// This thread's alarm and derived-value senders and its open batch.
void forget_notice_senders();
// This thread's XML status, subject and error text.
void forget_xml_status();

}  // namespace qvr::testing
