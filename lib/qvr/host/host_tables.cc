// Opening the host's tables and finding records in them.
#include "qvr/host/host_tables.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "qvr/util/fixed_text.h"
#include "qvr/host/host_table_layout.h"
#include "qvr/host/host_tables_internal.h"
#include "qvr/host/module_index_internal.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/testing/process_state_testing.h"
#include "qvr/util/util.h"

namespace qvr::tables {
namespace {

constexpr std::array<const char*, 4> kNames{kDeviceTableName, kProcessTableName, kLoggerTableName,
                                            kErrorTableName};

struct State {
    std::mutex mutex;
    std::array<Opened, 4> opened;
};

State& state() {
    static State s;
    return s;
}

}  // namespace

Opened open(Table which) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    Opened& o = s.opened[static_cast<size_t>(which)];
    if (o.section == nullptr) {
        void* section = shm_OpenSection(kNames[static_cast<size_t>(which)]);
        if (section == nullptr) return {};
        o = {section, section_bytes(section)};
    }
    return o;
}

}  // namespace qvr::tables

void qvr::testing::forget_host_tables() {
    tables::State& s = tables::state();
    std::lock_guard lock(s.mutex);
    s.opened = {};
}

namespace qvr {
namespace {

using tables::Table;

template <typename Record>
Record* record_at(Table which, size_t size, uint32_t index) {
    const auto t = tables::open(which);
    if (t.section == nullptr) return nullptr;
    const auto offset = table_record_offset(t.bytes, size, index);
    if (!offset) return nullptr;
    return reinterpret_cast<Record*>(t.bytes.data() + *offset);
}

uint32_t count_of(Table which, size_t size) {
    const auto t = tables::open(which);
    return t.section != nullptr ? table_record_count(t.bytes, size) : 0;
}

int open_result(Table which) {
    return tables::open(which).section != nullptr ? 0 : -1;
}

}  // namespace

void* device_table() {
    return tables::open(Table::kDevice).section;
}
void* process_table() {
    return tables::open(Table::kProcess).section;
}
void* logger_table() {
    return tables::open(Table::kLogger).section;
}
void* error_table() {
    return tables::open(Table::kError).section;
}

uint32_t device_count() {
    return count_of(Table::kDevice, kDeviceRecordSize);
}
uint32_t process_count() {
    return count_of(Table::kProcess, kProcessRecordSize);
}
uint32_t logger_count() {
    return count_of(Table::kLogger, kLoggerRecordSize);
}

DeviceRecord* device_record(uint32_t index) {
    return record_at<DeviceRecord>(Table::kDevice, kDeviceRecordSize, index);
}
ProcessRecord* process_record(uint32_t index) {
    return record_at<ProcessRecord>(Table::kProcess, kProcessRecordSize, index);
}

}  // namespace qvr

int shm_OpenDeviceTable() {
    return qvr::open_result(qvr::Table::kDevice);
}
int shm_OpenProcessTable() {
    return qvr::open_result(qvr::Table::kProcess);
}
int shm_OpenLoggerTable() {
    return qvr::open_result(qvr::Table::kLogger);
}
int shm_OpenErrorTable() {
    return qvr::open_result(qvr::Table::kError);
}

namespace {

// The record index of process `name` by the two-pass rule, or -1.
int find_process_index(const char* name) {
    if (name == nullptr || name[0] == '\0') return -1;
    char copy[9] = {};
    std::strncpy(copy, name, 8);
    const std::string wanted = util_ToUpper(copy, 8);
    const uint32_t count = qvr::process_count();
    for (uint32_t i = 0; i < count; ++i) {
        const ProcessRecord* r = qvr::process_record(i);
        if (r != nullptr && platform::equal_ignoring_case(qvr::field_text(r->ProcName), wanted))
            return static_cast<int>(i);
    }
    for (uint32_t i = 0; i < count; ++i) {
        const ProcessRecord* r = qvr::process_record(i);
        if (r != nullptr && platform::prefix_equal_ignoring_case(qvr::field_text(r->ProcName), wanted, 5))
            return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

ProcessRecord* shm_FindProcess(const char* name) {
    const int index = find_process_index(name);
    return index >= 0 ? qvr::process_record(static_cast<uint32_t>(index)) : nullptr;
}

int shm_MoveProcessLast(const char* name) {
    void* table = qvr::process_table();
    if (table == nullptr) return -1;
    // Other processes rewrite records of this table under its lock too.
    if (shm_Lock(table) != 0) return -1;
    const int found = find_process_index(name);
    const uint32_t count = qvr::process_count();
    if (found < 0) {
        shm_Unlock(table);
        return platform::fail(ENOENT);
    }
    auto* first = reinterpret_cast<std::byte*>(qvr::process_record(static_cast<uint32_t>(found)));
    auto* end = reinterpret_cast<std::byte*>(qvr::process_record(count - 1)) + qvr::kProcessRecordSize;
    std::rotate(first, first + qvr::kProcessRecordSize, end);
    qvr::module_index::move_entry_last(static_cast<uint32_t>(found), count);
    shm_Unlock(table);
    return 0;
}

LoggerRecord* shm_LoggerByIndex(int n) {
    if (n < 1) return nullptr;
    return qvr::record_at<LoggerRecord>(qvr::Table::kLogger, qvr::kLoggerRecordSize,
                                        static_cast<uint32_t>(n - 1));
}

int shm_LoggerIndex(const char* name) {
    if (name == nullptr) return 0;
    const uint32_t count = qvr::logger_count();
    for (uint32_t i = 0; i < count; ++i) {
        const LoggerRecord* r = shm_LoggerByIndex(static_cast<int>(i + 1));
        if (r != nullptr && platform::equal_ignoring_case(qvr::field_text(r->LoggerLabel), name))
            return static_cast<int>(i + 1);
    }
    return 0;
}

DeviceRecord* shm_FindDevice(const char* type_name, uint16_t number, int* index) {
    if (type_name == nullptr) return nullptr;
    const uint32_t count = qvr::device_count();
    for (uint32_t i = 0; i < count; ++i) {
        DeviceRecord* r = qvr::device_record(i);
        if (r == nullptr || r->DeviceNumber != number) continue;
        if (!platform::prefix_equal_ignoring_case(qvr::field_text(r->TypeName), type_name, 5)) continue;
        if (index != nullptr) *index = static_cast<int>(i);
        return r;
    }
    return nullptr;
}

const char* shm_DeviceStatsCode(int index) {
    thread_local char code[3];
    const auto t = qvr::tables::open(qvr::Table::kDevice);
    if (t.section == nullptr) return nullptr;
    const auto offset =
        index >= 0 ? qvr::stats_code_offset(t.bytes, static_cast<uint32_t>(index)) : std::nullopt;
    if (!offset) {
        platform::fail(platform::kErrorBadNetName);
        return nullptr;
    }
    std::memcpy(code, t.bytes.data() + *offset, 2);
    code[2] = '\0';
    if (code[0] == '\0') code[1] = '\0';
    return code;
}
