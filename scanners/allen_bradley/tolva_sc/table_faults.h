#pragma once
// Host tables and modules the scanner cannot use. Each is reported by the section's name and
// the reason (the device's status text, the trace and standard error), never dropped in
// silence; and a kind whose modules cannot be used is still answered at its turn in every
// scan, so nobody waiting on its data module waits for good.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "qvr/ipc/section_layout.h"

namespace tolva {

// A section the scanner needs and cannot use.
struct TableFault {
    std::string section;  // "dm_A1_conf"
    std::string text;     // "CAN'T OPEN dm_A1_conf -0002", "BAD dm_A1 CHANNEL COUNT"
    int error = 0;        // the open's error number, or 13 for a layout that cannot be trusted
};

// "dm_" + the code in upper case + the suffix, as the host names a code's modules.
std::string module_section_name(std::string_view code, std::string_view suffix = {});
// A section that did not open (the text carries the error number as "%04d" of its low 12
// bits; none is a missing section), and one whose layout cannot be trusted.
TableFault open_fault(std::string section, int error);
TableFault layout_fault(std::string section, qvr::LayoutFault fault);

// The device table and the error table as this process opened them; nullopt when usable.
std::optional<TableFault> device_table_fault();
std::optional<TableFault> error_table_fault();

// A module of `code` opened and checked: the section (null when it did not open) and what
// makes it unusable, if anything.
struct CheckedModule {
    void* section = nullptr;
    std::optional<TableFault> fault;
};
// The data module, for a kind that keeps values (`analog`) or status words only.
CheckedModule open_data_module(std::string_view code, bool analog);
// The configuration module, for `channel_count` channels.
CheckedModule open_conf_module(std::string_view code, uint32_t channel_count);
// The event module, whose header alone is checked: its bitmaps are read within its data.
CheckedModule open_event_module(std::string_view code);

// Writes the fault's text to the trace and to standard error.
void trace_table_fault(const TableFault& fault);

// The data module of a kind that is not served.
struct UnservedModule {
    void* data = nullptr;  // null when its header cannot be trusted: nothing is written then
    bool head_writable = false;
    int error = 0;
};
// For the data module `data` (null when it did not open) of a kind not served for `error`.
UnservedModule unserved_module(void* data, int error);
// Under the module's lock: the error field takes the error and the scan time 0 (where they
// can be written safely), and the module's waiters and queued requests are signalled.
void answer_unserved(const UnservedModule& module);

}  // namespace tolva
