// Treats the input as a host table or module image written by another process and runs the
// readers over it, touching every byte they hand out, so a read outside the image is caught.
// The image is read twice: in memory by the layout helpers, then as the data area of one of
// the host's real mapped sections (the other sections hold a small well-formed host) by the
// public table, module and status-entry functions. Bytes of a mapping past its data length
// (a data module's head excepted) are poisoned, so any access beyond what the header claims
// is caught as well as one beyond the mapping; a failure must be -1 or null with a documented
// reason.
// Input: one byte of reader selection (bit 0: table or module helpers; bits 1-3: the mapped
// section the image goes to), one byte of index, then the image.
#include <sanitizer/asan_interface.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_temp_folder.h"
#include "platform/ipc_names.h"
#include "platform/last_error.h"
#include "platform/shm_object.h"
#include "qvr/records/channel_record.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/host/device_modules.h"
#include "qvr/testing/sink_testing.h"
#include "qvr/util/fixed_text.h"
#include "qvr/host/host_table_layout.h"
#include "qvr/host/host_tables.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/diag/sink.h"
#include "qvr/host/status_text.h"

namespace {

volatile uint8_t g_sink;

void touch(const std::vector<std::byte>& image, size_t offset, size_t length) {
    for (size_t i = 0; i < length; ++i)
        g_sink = static_cast<uint8_t>(g_sink + static_cast<uint8_t>(image.at(offset + i)));
}

void tables(const std::vector<std::byte>& image, uint32_t index) {
    for (size_t size : {qvr::kDeviceRecordSize, qvr::kProcessRecordSize, qvr::kLoggerRecordSize}) {
        const uint32_t count = qvr::table_record_count(image, size);
        for (uint32_t i : {0u, index, count > 0 ? count - 1 : 0u, count})
            if (const auto offset = qvr::table_record_offset(image, size, i)) touch(image, *offset, size);
    }
    for (uint32_t i : {0u, index, qvr::table_count_field(image)})
        if (const auto offset = qvr::stats_code_offset(image, i)) touch(image, *offset, qvr::kStatsCodeSize);
    // A table that is trusted as a whole holds every record its count claims.
    for (size_t size : {qvr::kDeviceRecordSize, qvr::kProcessRecordSize, qvr::kLoggerRecordSize})
        if (!qvr::table_fault(image, size)) touch(image, qvr::kTableRecordsOffset, qvr::table_count_field(image) * size);
    if (!qvr::error_table_fault(image)) {
        const auto t = qvr::error_table_layout(image);
        if (!t || (t->long_form && t->entries != qvr::table_count_field(image))) __builtin_trap();
    }
    if (const auto t = qvr::error_table_layout(image)) {
        for (uint32_t i = 0; i < t->entries; ++i) {
            const size_t entry = t->first + i * t->entry_size;
            touch(image, entry, 1);
            touch(image, entry + t->name_offset, t->name_size);
            touch(image, entry + t->text_offset, t->text_size);
        }
    }
}

void modules(const std::vector<std::byte>& image, uint32_t index) {
    for (bool records : {false, true}) {
        const auto m = qvr::data_module_layout(image, records);
        if (!m) continue;
        touch(image, m->status_words, 4u * m->channel_count);
        if (m->values) touch(image, *m->values, 4u * m->channel_count);
        if (m->value_records) touch(image, *m->value_records, qvr::kValueRecordSize * m->channel_count);
    }
    // A module that is trusted as a whole holds every channel its header claims.
    for (bool analog : {false, true}) {
        if (qvr::data_module_fault(image, analog)) continue;
        const auto m = qvr::data_module_layout(image, false);
        if (!m || (analog && !m->values)) __builtin_trap();
        touch(image, m->status_words, size_t{m->bytes_per_channel} * m->channel_count);
    }
    if (qvr::module_head_writable(image)) touch(image, qvr::kModuleErrorOffset, 6);
    if (!qvr::conf_module_fault(image, index)) touch(image, qvr::kConfRecordsOffset, index * qvr::kChannelRecordSize);
    touch(image, qvr::kConfRecordsOffset, qvr::conf_record_count(image) * qvr::kChannelRecordSize);
    // An event module read for a channel count taken from the image itself.
    const uint32_t count =
        image.size() > 133 ? static_cast<uint8_t>(image[132]) | static_cast<uint8_t>(image[133]) << 8 : index;
    for (uint32_t bitmap = 0; bitmap < 4; ++bitmap)
        for (uint32_t channel : {0u, index, count > 0 ? count - 1 : 0u, count})
            (void)qvr::event_bit(image, count, bitmap, channel);
}

// ---- The image as a real mapped section ------------------------------------------------

// Data bytes of every section: larger than any image the fuzzer keeps, a multiple of 8 so
// the poisoned tail of the data area ends on a shadow granule.
constexpr uint32_t kCapacity = 16384;
constexpr const char* kFuzzCode = "FZ";

enum Target { kDevices, kProcesses, kLoggers, kErrors, kData, kConf, kEvent, kTargetCount };
constexpr std::array<const char*, kTargetCount> kSectionNames{
    qvr::kDeviceTableName, qvr::kProcessTableName, qvr::kLoggerTableName, qvr::kErrorTableName, "dm_FZ",
    "dm_FZ_conf",          "dm_FZ_event"};

constexpr std::string_view kIpcLead = "qvrfuzz.";
constexpr int kBaseChannels = 8;
constexpr uint32_t kBaseErrorEntries = 8;

struct Host {
    std::array<std::span<std::byte>, kTargetCount> sections;
    std::filesystem::path runtime;
};

// Fuzz processes that crashed during set-up leave their objects and folders behind.
void remove_leftovers() {
    const auto pid_of = [](std::string_view name) -> pid_t {
        if (!name.starts_with(kIpcLead)) return 0;
        name.remove_prefix(kIpcLead.size());
        pid_t pid = 0;
        std::from_chars(name.data(), name.data() + name.size(), pid);
        return pid;
    };
    std::error_code ec;
    for (const char* folder : {platform::kShmFolder, "/tmp"}) {
        for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
            const pid_t pid = pid_of(entry.path().filename().string());
            if (pid > 0 && pid != getpid() && ::kill(pid, 0) == -1 && errno == ESRCH)
                std::filesystem::remove_all(entry.path(), ec);
        }
    }
}

void poison(std::byte* begin, size_t size) {
    if (size > 0) ASAN_POISON_MEMORY_REGION(begin, size);
}

const Host& host() {
    static const Host h = [] {
        qvr::set_sink_capture([](const qvr::SinkEntry&) {});
        remove_leftovers();
        const std::string lead = std::string(kIpcLead) + std::to_string(getpid()) + ".";
        setenv("QUORVANE_IPC_PREFIX", lead.c_str(), 1);
        const std::string runtime = fuzz_support::process_folder("/tmp/" + lead + "XXXXXX");
        setenv("QUORVANE_RUNTIME_DIR", runtime.c_str(), 1);

        Host made;
        made.runtime = runtime;
        const long page = sysconf(_SC_PAGESIZE);
        for (int i = 0; i < kTargetCount; ++i) {
            void* section = shm_CreateDataModule(kSectionNames[i], kCapacity);
            if (section == nullptr) __builtin_trap();
            made.sections[i] = qvr::section_bytes(section);
            // The rest of the mapping's last page is no part of the section.
            const size_t size = made.sections[i].size();
            const size_t rounded = (size + page - 1) / page * page;
            poison(made.sections[i].data() + size, rounded - size);
        }
        // The mappings and mutexes stay open for the life of the process (the library caches
        // them by name); the names go now, so nothing is left behind whatever ends the process.
        if (platform::shm_object_remove_prefixed() < 0) __builtin_trap();
        return made;
    }();
    return h;
}

template <typename Record>
Record* record_in(std::span<std::byte> section, size_t index) {
    return reinterpret_cast<Record*>(section.data() + qvr::kTableRecordsOffset + index * sizeof(Record));
}

// A small, well-formed host: the processor SYSER (module FZ), one device, one logger and an
// empty short-form error table; FZ a digital module whose channels name the status entries.
uint32_t write_baseline(Target target, std::span<std::byte> s) {
    switch (target) {
        case kDevices: {
            qvr::store_u32(s, qvr::kTableCountOffset, 1);
            DeviceRecord* d = record_in<DeviceRecord>(s, 0);
            std::memcpy(d->TypeName, "TOLVA", 5);
            std::memcpy(d->DeviceName, "Line 1", 6);
            d->DeviceNumber = 1;
            std::memcpy(d->KindCodes, "D1D2", 4);
            d->Attached = 1;
            d->ProcessId = static_cast<uint32_t>(getpid());
            std::memcpy(s.data() + qvr::kTableRecordsOffset + qvr::kDeviceRecordSize, "S1", 2);
            return 4 + qvr::kDeviceTableBytesPerDevice;
        }
        case kProcesses: {
            qvr::store_u32(s, qvr::kTableCountOffset, 2);
            ProcessRecord* p = record_in<ProcessRecord>(s, 0);
            std::memcpy(p->ProcName, "SYSER", 5);
            std::memcpy(p->ProcText, "System errors", 13);
            std::memcpy(p->ProcCode, kFuzzCode, 2);
            p->ProcEnabled = 1;
            p->ProcPid = getpid();
            p = record_in<ProcessRecord>(s, 1);
            std::memcpy(p->ProcName, "CALC", 4);
            std::memcpy(p->ProcCode, "CA", 2);
            p->RunsProcess = 1;
            return 4 + 2 * qvr::kProcessRecordSize;
        }
        case kLoggers: {
            qvr::store_u32(s, qvr::kTableCountOffset, 1);
            LoggerRecord* l = record_in<LoggerRecord>(s, 0);
            std::memcpy(l->LoggerType, "stand", 5);
            l->LoggerEnabled = 1;
            std::memcpy(l->LoggerLabel, "Main log", 8);
            return 4 + qvr::kLoggerRecordSize;
        }
        case kErrors:
            qvr::store_u32(s, qvr::kTableCountOffset, kBaseErrorEntries);
            return kBaseErrorEntries * qvr::kShortErrorEntrySize;
        case kData:
            std::memcpy(s.data() + qvr::kModuleCodeOffset, kFuzzCode, 2);
            qvr::store_u16(s, qvr::kBytesPerChannelOffset, qvr::kDigitalBytesPerChannel);
            qvr::store_u16(s, qvr::kChannelCountOffset, kBaseChannels);
            return qvr::kDataModuleHeadSize + kBaseChannels * qvr::kDigitalBytesPerChannel;
        case kConf:
            for (int i = 0; i < kBaseChannels; ++i) {
                auto* r = reinterpret_cast<qvr::ChannelRecord*>(s.data() + qvr::kConfRecordsOffset +
                                                                i * qvr::kChannelRecordSize);
                r->head.Type = qvr::ChannelKind::DI;
                chanrec_SetDescription(r, i == 0 ? "Line 1" : i == 1 ? "Main log" : "Spare");
            }
            return kBaseChannels * qvr::kChannelRecordSize;
        case kEvent:
            return 3 * qvr::event_bitmap_size(kBaseChannels);
        case kTargetCount:
            break;
    }
    return 0;
}

// Rewrites every section: the image's data area and data length into the target, the
// baseline into the others; poisons each data area past its data length.
void lay_out(const Host& h, Target target, std::span<const std::byte> image) {
    for (int i = 0; i < kTargetCount; ++i) {
        const std::span<std::byte> s = h.sections[i];
        std::byte* data = s.data() + qvr::kSectionDataOffset;
        ASAN_UNPOISON_MEMORY_REGION(data, kCapacity);
        std::memset(data, 0, kCapacity);
        uint32_t length = 0;
        if (i == target) {
            if (image.size() >= qvr::kOffDataLength + 4) length = qvr::load_u32(image, qvr::kOffDataLength);
            if (image.size() > qvr::kSectionDataOffset) {
                const auto bytes = image.subspan(qvr::kSectionDataOffset);
                std::memcpy(data, bytes.data(), std::min<size_t>(bytes.size(), kCapacity));
            }
        } else {
            length = write_baseline(static_cast<Target>(i), s);
        }
        qvr::store_u32(s, qvr::kOffDataLength, length);
        // A data module's head fields are read by position, whatever the data length says.
        const uint32_t readable = std::max<uint32_t>(length, i == kData ? qvr::kDataModuleHeadSize : 0);
        if (readable < kCapacity) poison(data + readable, kCapacity - readable);
    }
}

// Reads every byte of what a reader handed out: poisoned or unmapped bytes are caught.
void touch_bytes(const void* p, size_t length) {
    const auto* b = static_cast<const volatile uint8_t*>(p);
    for (size_t i = 0; i < length; ++i) g_sink = static_cast<uint8_t>(g_sink + b[i]);
}

// A record handed out must be one of the table's usable records.
void check_record(const void* record, std::span<const std::byte> table, size_t size) {
    const auto* p = static_cast<const std::byte*>(record);
    if (p < table.data() + qvr::kTableRecordsOffset) __builtin_trap();
    const size_t offset = static_cast<size_t>(p - table.data());
    if ((offset - qvr::kTableRecordsOffset) % size != 0) __builtin_trap();
    if ((offset - qvr::kTableRecordsOffset) / size >= qvr::table_record_count(table, size)) __builtin_trap();
    touch_bytes(record, size);
}

// A failure that must say why: the last error is one of `allowed`.
void expect_reason(std::initializer_list<int> allowed) {
    const int reason = platform::last_error();
    if (errno != reason) __builtin_trap();
    for (int a : allowed)
        if (reason == a) return;
    __builtin_trap();
}

void clear_reason() {
    platform::set_last_error(-1);
}

// A fixed-width field as a terminated name.
template <size_t N>
std::string name_of(const char (&field)[N]) {
    return std::string(qvr::field_text(field));
}

bool plain_code(std::string_view code) {
    for (char c : code)
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) return false;
    return true;
}

void table_readers(const Host& h, uint32_t index) {
    const auto devices = h.sections[kDevices];
    const auto processes = h.sections[kProcesses];
    const auto loggers = h.sections[kLoggers];
    if (shm_OpenDeviceTable() != 0 || shm_OpenProcessTable() != 0 || shm_OpenLoggerTable() != 0 ||
        shm_OpenErrorTable() != 0)
        __builtin_trap();
    if (qvr::device_count() != qvr::table_record_count(devices, qvr::kDeviceRecordSize)) __builtin_trap();
    if (qvr::process_count() != qvr::table_record_count(processes, qvr::kProcessRecordSize)) __builtin_trap();
    if (qvr::logger_count() != qvr::table_record_count(loggers, qvr::kLoggerRecordSize)) __builtin_trap();

    // Processes: by the name of a record in the table, and by names in no record.
    const uint32_t process_count = qvr::process_count();
    std::vector<std::string> names{"SYSER", "", "NOSUCHPROC"};
    if (process_count > 0)
        names.push_back(name_of(record_in<ProcessRecord>(processes, index % process_count)->ProcName));
    for (const std::string& name : names) {
        const ProcessRecord* p = shm_FindProcess(name.c_str());
        if (p != nullptr) check_record(p, processes, qvr::kProcessRecordSize);
    }
    if (process_count > 0) {
        const uint32_t k = index % process_count;
        const std::string own = name_of(record_in<ProcessRecord>(processes, k)->ProcName);
        if (!own.empty() && shm_FindProcess(own.c_str()) == nullptr) __builtin_trap();
    }

    // Loggers: every index around the count, and the label of a record.
    const uint32_t logger_count = qvr::logger_count();
    for (int n : {-1, 0, 1, static_cast<int>(index), static_cast<int>(logger_count),
                  static_cast<int>(logger_count) + 1}) {
        const LoggerRecord* l = shm_LoggerByIndex(n);
        if ((l != nullptr) != (n >= 1 && static_cast<uint32_t>(n) <= logger_count)) __builtin_trap();
        if (l != nullptr) check_record(l, loggers, qvr::kLoggerRecordSize);
    }
    if (logger_count > 0) {
        const uint32_t k = index % logger_count;
        const std::string label = name_of(record_in<LoggerRecord>(loggers, k)->LoggerLabel);
        const int found = shm_LoggerIndex(label.c_str());
        if (found < 1 || static_cast<uint32_t>(found) > k + 1) __builtin_trap();
    }
    if (shm_LoggerIndex(nullptr) != 0) __builtin_trap();

    // Devices: by a record's own type and number, and the statistics codes around the count.
    const uint32_t device_count = qvr::device_count();
    if (device_count > 0) {
        const uint32_t k = index % device_count;
        const DeviceRecord* own = record_in<DeviceRecord>(devices, k);
        const std::string type = name_of(own->TypeName);
        int found = -1;
        const DeviceRecord* d = shm_FindDevice(type.c_str(), own->DeviceNumber, &found);
        if (d == nullptr || found < 0 || static_cast<uint32_t>(found) > k) __builtin_trap();
        if (d != record_in<DeviceRecord>(devices, static_cast<size_t>(found))) __builtin_trap();
        check_record(d, devices, qvr::kDeviceRecordSize);
    }
    if (shm_FindDevice(nullptr, 1, nullptr) != nullptr) __builtin_trap();
    const uint32_t count_field = qvr::table_count_field(devices);
    for (uint32_t i : {0u, index, count_field > 0 ? count_field - 1 : 0u, count_field, 0x7FFFFFFFu}) {
        clear_reason();
        const char* code = shm_DeviceStatsCode(static_cast<int>(i));
        const auto offset = qvr::stats_code_offset(devices, i);
        if (code == nullptr) {
            if (offset) __builtin_trap();
            expect_reason({platform::kErrorBadNetName});
        } else {
            if (!offset || std::strlen(code) > 2) __builtin_trap();
            if (code[0] != '\0' && std::memcmp(code, devices.data() + *offset, std::strlen(code)) != 0)
                __builtin_trap();
        }
    }
    if (shm_DeviceStatsCode(-1) != nullptr) __builtin_trap();
    (void)shm_MoveProcessLast(names.back().c_str());
}

// The module readers for `code`. A failure's reason is checked only for codes of plain
// characters: other bytes make names the shared-memory layer itself may refuse.
void module_readers(const Host& h, const std::string& code) {
    const bool plain = plain_code(code);
    const bool fz = code.size() == 2 && qvr::code_equal(code.c_str(), kFuzzCode);
    const uint32_t modules = qvr::process_count() + qvr::kModulesPerDevice * qvr::device_count();
    void* fz_data = h.sections[kData].data();
    void* fz_conf = h.sections[kConf].data();

    clear_reason();
    const int index = shm_FindDeviceIndex(code.c_str());
    if (index >= 0 && static_cast<uint32_t>(index) >= modules) __builtin_trap();
    if (index < 0 && plain) expect_reason({platform::kErrorInvalidArgument, ENOENT});
    if (index < -1) __builtin_trap();

    clear_reason();
    void* data = shm_OpenDeviceData(code.c_str());
    if (fz && data != fz_data) __builtin_trap();
    if (data == nullptr && plain) expect_reason({platform::kErrorInvalidArgument, ENOENT});
    void* conf = shm_OpenDeviceConf(code.c_str());
    if (fz && conf != fz_conf) __builtin_trap();
    void* event = shm_OpenDeviceEvent(code.c_str());
    if (fz && event != h.sections[kEvent].data()) __builtin_trap();

    void* area = shm_DataArea(code.c_str());
    if (area != (data != nullptr ? static_cast<std::byte*>(data) + qvr::kSectionDataOffset : nullptr))
        __builtin_trap();

    clear_reason();
    const uint32_t* words = shm_StatusWords(code.c_str());
    if (data != nullptr) {
        const auto layout = qvr::data_module_layout(qvr::section_bytes(data), false);
        if (words == nullptr) {
            expect_reason({platform::kErrorBadNetName});
        } else {
            if (reinterpret_cast<const std::byte*>(words) !=
                static_cast<std::byte*>(data) + qvr::kStatusWordsOffset)
                __builtin_trap();
            if (layout) touch_bytes(words, 4u * layout->channel_count);
        }
    } else if (words != nullptr) {
        __builtin_trap();
    }

    if (data != nullptr) {
        // The configuration module is the one of the code the data module holds.
        const auto data_bytes = qvr::section_bytes(data);
        const std::string own(
            qvr::field_text(reinterpret_cast<const char*>(data_bytes.data() + qvr::kModuleCodeOffset), 2));
        clear_reason();
        const qvr::ChannelRecord* records = shm_ConfRecords(data);
        if (records == nullptr) {
            if (plain_code(own))
                expect_reason({platform::kErrorBadNetName, ENOENT, platform::kErrorInvalidArgument});
        } else {
            void* own_conf = shm_OpenDeviceConf(own.c_str());
            const auto bytes = qvr::section_bytes(own_conf);
            if (reinterpret_cast<const std::byte*>(records) != bytes.data() + qvr::kConfRecordsOffset)
                __builtin_trap();
            if (qvr::conf_record_count(bytes) == 0) __builtin_trap();
            touch_bytes(records, qvr::conf_record_count(bytes) * qvr::kChannelRecordSize);
        }
    }

    if (data == nullptr && shm_ModuleOwnerPid(code.c_str()) != -1) __builtin_trap();
    const char* text = shm_ModuleText(code.c_str());
    if ((text == nullptr) != (data == nullptr)) __builtin_trap();
    if (text != nullptr && std::strlen(text) > 25) __builtin_trap();
    const int processing = shm_ModuleProcessing(code.c_str());
    if (processing < -1) __builtin_trap();
    const int records = shm_ModuleHasValueRecords(code.c_str());
    if (data == nullptr && records != -1) __builtin_trap();
}

void status_entry(uint32_t index, std::span<const std::byte> image) {
    std::vector<std::string> names{"Line 1", "Main log", "fuzz"};
    // A name as an entry of the image may hold it.
    if (image.size() > qvr::kTableRecordsOffset + 1) {
        const auto rest = image.subspan(qvr::kTableRecordsOffset + 1);
        const auto* text = reinterpret_cast<const char*>(rest.data());
        names.emplace_back(qvr::field_text(text, std::min<size_t>(rest.size(), qvr::kLongEntryNameSize)));
    }
    const int types[] = {qvr::kStatusEntryDevice, qvr::kStatusEntryProcessor, qvr::kStatusEntryLogger,
                         qvr::kStatusEntryLoggerExport};
    platform::set_last_error(4321);
    shm_RegisterStatusEntry(types[index % 4], names[(index / 4) % names.size()].c_str());
    shm_SetStatusText("status %u", index);
    shm_SetStatusText("%s", names.back().c_str());
    shm_ClearStatusText();
    // The caller's error number survives.
    if (platform::last_error() != 4321 || errno != 4321) __builtin_trap();
}

void mapped(uint8_t selection, uint32_t index, std::span<const std::byte> image) {
    const Host& h = host();
    const auto target = static_cast<Target>((selection >> 1) % kTargetCount);
    lay_out(h, target, image);
    table_readers(h, index);
    // Module codes: the fuzzed module's own, a table's codes and some in no table.
    std::vector<std::string> codes{kFuzzCode, "fz", "", "S1", "CA", "Q"};
    const auto take = [&codes](const char* field) { codes.emplace_back(qvr::field_text(field, 2)); };
    if (const uint32_t n = qvr::process_count()) take(qvr::process_record(index % n)->ProcCode);
    if (const uint32_t n = qvr::device_count()) {
        take(qvr::device_record(index % n)->KindCodes + 2 * (index % qvr::kKindCodeCount));
        if (const char* stats = shm_DeviceStatsCode(static_cast<int>(index % n))) codes.emplace_back(stats);
    }
    for (const std::string& code : codes) module_readers(h, code);
    lay_out(h, target, image);
    status_entry(index, image);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const uint32_t index = data[1];
    std::vector<std::byte> image(size - 2);
    if (!image.empty()) std::memcpy(image.data(), data + 2, image.size());
    if ((data[0] & 1) == 0)
        tables(image, index);
    else
        modules(image, index);
    mapped(data[0], index, image);
    return 0;
}
