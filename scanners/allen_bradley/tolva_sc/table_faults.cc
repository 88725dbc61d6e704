#include "tolva_sc/table_faults.h"

#include <cerrno>
#include <cstdio>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "qvr/diag/trace.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/host/device_modules.h"
#include "qvr/host/host_table_layout.h"
#include "qvr/host/host_tables.h"
#include "qvr/ipc/shm.h"

namespace tolva {
namespace {

std::optional<TableFault> table_fault_of(void* section, std::string name,
                                         const std::optional<qvr::LayoutFault>& fault) {
    if (section == nullptr) return open_fault(std::move(name), errno);
    if (fault) return layout_fault(std::move(name), *fault);
    return std::nullopt;
}

template <typename Open, typename Check>
CheckedModule checked(std::string name, Open open, Check check) {
    errno = 0;
    CheckedModule m{open(), std::nullopt};
    m.fault = table_fault_of(m.section, std::move(name),
                             m.section != nullptr ? check(qvr::section_bytes(m.section)) : std::nullopt);
    return m;
}

}  // namespace

std::string module_section_name(std::string_view code, std::string_view suffix) {
    std::string name = "dm_";
    for (char c : code.substr(0, 2)) name.push_back(platform::ascii_upper(c));
    name += suffix;
    return name;
}

TableFault open_fault(std::string section, int error) {
    if (error == 0) error = ENOENT;
    char number[8];
    std::snprintf(number, sizeof number, "%04d", error & 0xFFF);
    std::string text = "CAN'T OPEN " + section + " -" + number;
    return {std::move(section), std::move(text), error};
}

TableFault layout_fault(std::string section, qvr::LayoutFault fault) {
    std::string text = "BAD " + section + " " + std::string(qvr::layout_fault_text(fault));
    return {std::move(section), std::move(text), platform::kErrorInvalidData};
}

std::optional<TableFault> device_table_fault() {
    return checked(qvr::kDeviceTableName, qvr::device_table, [](std::span<const std::byte> bytes) {
               return qvr::table_fault(bytes, qvr::kDeviceRecordSize);
           }).fault;
}

std::optional<TableFault> error_table_fault() {
    return checked(qvr::kErrorTableName, qvr::error_table, [](std::span<const std::byte> bytes) {
               return qvr::error_table_fault(bytes);
           }).fault;
}

CheckedModule open_data_module(std::string_view code, bool analog) {
    const std::string text(code);
    return checked(
        module_section_name(code), [&] { return shm_OpenDeviceData(text.c_str()); },
        [&](std::span<const std::byte> bytes) { return qvr::data_module_fault(bytes, analog); });
}

CheckedModule open_conf_module(std::string_view code, uint32_t channel_count) {
    const std::string text(code);
    return checked(
        module_section_name(code, "_conf"), [&] { return shm_OpenDeviceConf(text.c_str()); },
        [&](std::span<const std::byte> bytes) { return qvr::conf_module_fault(bytes, channel_count); });
}

CheckedModule open_event_module(std::string_view code) {
    const std::string text(code);
    return checked(
        module_section_name(code, "_event"), [&] { return shm_OpenDeviceEvent(text.c_str()); },
        [](std::span<const std::byte> bytes) { return qvr::module_header_fault(bytes); });
}

void trace_table_fault(const TableFault& fault) {
    const std::string line = fault.text + "\n";
    trace_Write(line.c_str());
    std::fputs(("tolva_sc: " + line).c_str(), stderr);
}

UnservedModule unserved_module(void* data, int error) {
    UnservedModule m;
    m.error = error;
    if (data == nullptr) return m;
    const auto bytes = qvr::section_bytes(data);
    if (qvr::module_header_fault(bytes)) return m;
    m.data = data;
    m.head_writable = qvr::module_head_writable(bytes);
    return m;
}

void answer_unserved(const UnservedModule& module) {
    if (module.data == nullptr || shm_Lock(module.data) != 0) return;
    const auto bytes = qvr::section_bytes(module.data);
    if (module.head_writable) {
        qvr::store_module_error(bytes, static_cast<uint32_t>(module.error));
        qvr::store_u32(bytes, qvr::kScanTimeOffset, 0);
    }
    shm_SignalWaiters(module.data, 0);
    shm_Unlock(module.data);
}

}  // namespace tolva
