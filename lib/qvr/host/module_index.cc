// The module index space and the per-process cache of opened modules.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "qvr/host/device_modules.h"
#include "qvr/util/fixed_text.h"
#include "qvr/host/host_table_layout.h"
#include "qvr/host/host_tables.h"
#include "qvr/host/host_tables_internal.h"
#include "qvr/host/module_index_internal.h"
#include "qvr/testing/module_index_testing.h"
#include "qvr/testing/process_state_testing.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"

namespace qvr::module_index {
namespace {

enum Kind { kData = 0, kConf = 1, kEvent = 2 };
constexpr const char* kSuffixes[] = {"", "_conf", "_event"};

// A requested code: at most two characters, upper case; nullopt for an empty one.
struct Code {
    char c[2];
};
std::optional<Code> code_of(const char* text) {
    if (text == nullptr || text[0] == '\0') return std::nullopt;
    Code code{{platform::ascii_upper(text[0]), platform::ascii_upper(text[1])}};
    return code;
}

struct Entry {
    char code[2] = {0, 0};
    void* modules[3] = {nullptr, nullptr, nullptr};
};

struct Cache {
    std::mutex mutex;
    std::vector<Entry> entries;
};

Cache& cache() {
    static Cache c;
    return c;
}

std::atomic<bool> g_fail_allocation{false};

bool table_code_is(const char* field, const Code& code) {
    return field[0] != '\0' && code_equal(field, code.c);
}

std::optional<Found> search(const Code& code) {
    const uint32_t processes = process_count();
    for (uint32_t i = 0; i < processes; ++i) {
        const ProcessRecord* r = process_record(i);
        if (r != nullptr && table_code_is(r->ProcCode, code)) return Found{static_cast<int>(i), true, i, 0};
    }
    const auto devices = tables::open(tables::Table::kDevice);
    const uint32_t count = device_count();
    for (uint32_t d = 0; d < count; ++d) {
        const DeviceRecord* r = device_record(d);
        if (r == nullptr) continue;
        for (int slot = 0; slot <= kStatsSlot; ++slot) {
            const char* field = nullptr;
            if (slot < kKindCodeCount) {
                field = r->KindCodes + 2 * slot;
            } else if (const auto offset = stats_code_offset(devices.bytes, d)) {
                field = reinterpret_cast<const char*>(devices.bytes.data() + *offset);
            }
            if (field != nullptr && table_code_is(field, code)) {
                const int index = static_cast<int>(processes + kModulesPerDevice * d) + slot;
                return Found{index, false, d, slot};
            }
        }
    }
    return std::nullopt;
}

std::string module_name(const Code& code, Kind kind) {
    std::string name = "dm_";
    name.push_back(code.c[0]);
    if (code.c[1] != '\0') name.push_back(code.c[1]);
    return name + kSuffixes[kind];
}

// The cache entry of `index`, sized to the tables (grown when they grew) and emptied when it
// holds another code's modules. Null when it cannot be allocated. Called under the lock.
Entry* entry_for(Cache& c, int index, const Code& code) {
    const size_t wanted = std::max<size_t>(static_cast<size_t>(index) + 1,
                                           process_count() + size_t{kModulesPerDevice} * device_count());
    try {
        if (c.entries.size() < wanted && g_fail_allocation.exchange(false)) throw std::bad_alloc();
        if (c.entries.size() < wanted) c.entries.resize(wanted);
    } catch (const std::bad_alloc&) {
        platform::fail(platform::kErrorNotEnoughMemory);
        return nullptr;
    }
    Entry& e = c.entries[static_cast<size_t>(index)];
    if (std::memcmp(e.code, code.c, 2) != 0) e = Entry{{code.c[0], code.c[1]}, {}};
    return &e;
}

struct Opened {
    void* module = nullptr;
    std::optional<Found> found;
};

Opened open_module(const char* text, Kind kind) {
    const auto code = code_of(text);
    if (!code) {
        platform::fail(platform::kErrorInvalidArgument);
        return {};
    }
    Opened result;
    result.found = search(*code);
    if (!result.found) {
        result.module = shm_OpenSection(module_name(*code, kind).c_str());
        return result;
    }
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    Entry* e = entry_for(c, result.found->index, *code);
    if (e == nullptr) return {nullptr, result.found};
    if (e->modules[kind] == nullptr) e->modules[kind] = shm_OpenSection(module_name(*code, kind).c_str());
    result.module = e->modules[kind];
    return result;
}

int processing_of(const Found& f) {
    if (!f.processor) return f.slot == kStatsSlot ? 1 : 0;
    const ProcessRecord* r = process_record(f.record);
    if (r == nullptr) return -1;
    if (platform::prefix_equal_ignoring_case(field_text(r->ProcName), "modb", 4) &&
        field_text(r->ProcName).size() >= 4)
        return 1;
    return r->RunsProcess + 1;
}

int64_t owner_of(const Found& f) {
    if (f.processor) {
        const ProcessRecord* r = process_record(f.record);
        return r != nullptr ? r->ProcPid : 0;
    }
    const DeviceRecord* r = device_record(f.record);
    return r != nullptr ? r->ProcessId : 0;
}

int value_records_of(const Found& f) {
    if (!f.processor) return 0;
    const ProcessRecord* r = process_record(f.record);
    return r != nullptr ? r->HasValueRecords : 0;
}

}  // namespace

ModuleInfo info(const char* code) {
    const Opened o = open_module(code, kData);
    ModuleInfo m;
    m.data = o.module;
    if (o.module == nullptr) return m;
    m.found = o.found;
    if (o.found) {
        m.processing = processing_of(*o.found);
        m.owner = owner_of(*o.found);
        m.has_value_records = value_records_of(*o.found);
    }
    return m;
}

void fail_next_cache_allocation() {
    g_fail_allocation = true;
}

}  // namespace qvr::module_index

void qvr::testing::forget_module_cache() {
    module_index::Cache& c = module_index::cache();
    std::lock_guard lock(c.mutex);
    c.entries.clear();
    module_index::g_fail_allocation = false;
}

namespace qvr::module_index {

void move_entry_last(uint32_t from, uint32_t count) {
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    if (from >= count || count > c.entries.size()) return;
    std::rotate(c.entries.begin() + from, c.entries.begin() + from + 1, c.entries.begin() + count);
}

}  // namespace qvr::module_index

using qvr::module_index::info;

int shm_FindDeviceIndex(const char* code) {
    const auto o = qvr::module_index::info(code);
    if (o.data == nullptr) return -1;
    if (!o.found) return platform::fail(ENOENT);
    return o.found->index;
}

void* shm_OpenDeviceData(const char* code) {
    return info(code).data;
}

void* shm_OpenDeviceConf(const char* code) {
    return qvr::module_index::open_module(code, qvr::module_index::kConf).module;
}

void* shm_OpenDeviceEvent(const char* code) {
    return qvr::module_index::open_module(code, qvr::module_index::kEvent).module;
}

void* shm_DataArea(const char* code) {
    void* data = shm_OpenDeviceData(code);
    return data != nullptr ? static_cast<std::byte*>(data) + qvr::kSectionDataOffset : nullptr;
}

uint32_t* shm_StatusWords(const char* code) {
    void* data = shm_OpenDeviceData(code);
    if (data == nullptr) return nullptr;
    if (qvr::data_area_end(qvr::section_bytes(data)) < qvr::kStatusWordsOffset) {
        platform::fail(platform::kErrorBadNetName);
        return nullptr;
    }
    return reinterpret_cast<uint32_t*>(static_cast<std::byte*>(data) + qvr::kStatusWordsOffset);
}

qvr::ChannelRecord* shm_ConfRecords(void* data_module) {
    const auto bytes = qvr::section_bytes(data_module);
    if (bytes.size() < qvr::kModuleCodeOffset + 2) {
        platform::fail(platform::kErrorInvalidArgument);
        return nullptr;
    }
    char code[3] = {static_cast<char>(bytes[qvr::kModuleCodeOffset]),
                    static_cast<char>(bytes[qvr::kModuleCodeOffset + 1]), '\0'};
    void* conf = shm_OpenDeviceConf(code);
    if (conf == nullptr) return nullptr;
    if (qvr::conf_record_count(qvr::section_bytes(conf)) == 0) {
        platform::fail(platform::kErrorBadNetName);
        return nullptr;
    }
    return reinterpret_cast<qvr::ChannelRecord*>(static_cast<std::byte*>(conf) + qvr::kConfRecordsOffset);
}

int64_t shm_ModuleOwnerPid(const char* code) {
    const auto o = info(code);
    if (o.data == nullptr) return -1;
    return o.found ? o.owner : 0;
}

const char* shm_ModuleText(const char* code) {
    thread_local char text[26];
    const auto o = info(code);
    if (o.data == nullptr) return nullptr;
    std::string_view name;
    if (o.found && o.found->processor) {
        if (const ProcessRecord* r = qvr::process_record(o.found->record))
            name = qvr::field_text(r->ProcText);
    } else if (o.found) {
        if (const DeviceRecord* r = qvr::device_record(o.found->record))
            name = qvr::field_text(r->DeviceName);
    }
    qvr::set_field_text(text, sizeof text, name);
    return text;
}

int shm_ModuleProcessing(const char* code) {
    const auto o = info(code);
    if (o.data == nullptr) return -1;
    if (!o.found) return platform::fail(ENOENT);
    return o.processing;
}

int shm_ModuleHasValueRecords(const char* code) {
    const auto o = info(code);
    if (o.data == nullptr) return -1;
    return o.has_value_records;
}
