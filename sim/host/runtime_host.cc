// The host's tables and modules.
#include "host/runtime_host.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "host/host.h"
#include "platform/ascii_text.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/util/fixed_text.h"
#include "qvr/host/host_table_layout.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"
#include "qvr/util/util.h"

namespace sim_host {
namespace {

using qvr::load_u32;
using qvr::store_u16;
using qvr::store_u32;

qvr::ChannelRecord make_channel(qvr::ChannelKind kind, const std::string& tag,
                                const std::string& description) {
    qvr::ChannelRecord r{};
    r.head.Type = kind;
    r.head.Flags.set(qvr::flag_bit_number(0), true);  // Enable
    chanrec_SetTag(&r, tag.c_str());
    chanrec_SetDescription(&r, description.c_str());
    return r;
}

std::mutex g_codes_mutex;
std::condition_variable g_codes_changed;
std::vector<uint32_t> g_codes;

int record_code(uint32_t code) {
    {
        std::lock_guard lock(g_codes_mutex);
        g_codes.push_back(code);
    }
    g_codes_changed.notify_all();
    return 0;
}

TimeStamp now_stamp() {
    TimeStamp t{};
    rt_GetLocalStamp(&t);
    return t;
}

}  // namespace

qvr::ChannelRecord analog_output(const std::string& tag, const std::string& description) {
    return make_channel(qvr::ChannelKind::AO, tag, description);
}
qvr::ChannelRecord analog_input(const std::string& tag, const std::string& description) {
    return make_channel(qvr::ChannelKind::AI, tag, description);
}
qvr::ChannelRecord digital_output(const std::string& tag, const std::string& description) {
    return make_channel(qvr::ChannelKind::DO, tag, description);
}
qvr::ChannelRecord digital_input(const std::string& tag, const std::string& description) {
    return make_channel(qvr::ChannelKind::DI, tag, description);
}

std::vector<uint32_t> slot_codes(size_t at_least, std::chrono::milliseconds timeout) {
    std::unique_lock lock(g_codes_mutex);
    g_codes_changed.wait_for(lock, timeout, [&] { return g_codes.size() >= at_least; });
    return g_codes;
}

void clear_slot_codes() {
    std::lock_guard lock(g_codes_mutex);
    g_codes.clear();
}

RuntimeHost::RuntimeHost(TableOptions options) : options_(options) {
    if (options_.receive) {
        slot_Open(record_code);
        alarms_ = std::make_unique<AlarmInbox>();
        derived_ = std::make_unique<DerivedInbox>();
    }
    create_tables();
    // Devices an earlier host of this prefix added, with their code array.
    const auto devices = bytes(qvr::kDeviceTableName);
    devices_ = std::min(load_u32(devices, qvr::kTableCountOffset), options_.device_capacity);
    for (uint32_t i = 0; i < devices_; ++i) {
        const auto offset = qvr::stats_code_offset(devices, i);
        device_stats_codes_.emplace_back(
            offset ? qvr::field_text(reinterpret_cast<const char*>(devices.data() + *offset), 2) : "");
    }
    if (options_.standard_processes && load_u32(bytes(qvr::kProcessTableName), qvr::kTableCountOffset) == 0)
        add_standard_processes();
}

RuntimeHost::~RuntimeHost() {
    alarms_.reset();
    derived_.reset();
    if (options_.receive) slot_Close();
    if (own_tree_ && tree_) {
        std::error_code ignored;
        std::filesystem::remove_all(tree_->root, ignored);
    }
}

std::span<std::byte> RuntimeHost::bytes(const std::string& section) {
    return qvr::section_bytes(shm_OpenSection(section.c_str()));
}

void RuntimeHost::create_tables() {
    const auto& o = options_;
    create_module(qvr::kDeviceTableName,
                  4 + o.device_capacity * static_cast<uint32_t>(qvr::kDeviceTableBytesPerDevice));
    create_module(qvr::kProcessTableName,
                  4 + o.process_capacity * static_cast<uint32_t>(qvr::kProcessRecordSize));
    create_module(qvr::kLoggerTableName,
                  4 + o.logger_capacity * static_cast<uint32_t>(qvr::kLoggerRecordSize));
    const uint32_t errors_length =
        o.short_error_table ? o.error_entries * static_cast<uint32_t>(qvr::kShortErrorEntrySize)
                            : 4 + o.error_entries * static_cast<uint32_t>(qvr::kErrorEntryPairSize);
    create_module(qvr::kErrorTableName, errors_length);
    if (load_u32(bytes(qvr::kErrorTableName), qvr::kTableCountOffset) == 0)
        store_u32(bytes(qvr::kErrorTableName), qvr::kTableCountOffset, o.error_entries);
}

void RuntimeHost::add_standard_processes() {
    ProcessSpec syser{"SYSER", "SYSTEM ERRORS", "SY"};
    for (uint32_t i = 0; i < options_.syser_channels; ++i)
        syser.channels.push_back(digital_output("SYS" + std::to_string(i + 1)));
    add_process(syser);
    add_process({"ALARM", "ALARM PROCESSOR", "", true, true, false, static_cast<int32_t>(getpid())});
    add_process({"DERIVED", "DERIVED VALUES", "", true, true, false, static_cast<int32_t>(getpid())});
    // One processor of each processing class: "modb" names and programs without a process
    // of their own leave the rules to the writer; a program of its own does them itself.
    ProcessSpec modbus{"MODBUS", "MODBUS SLAVE", "MB", true, true, false, static_cast<int32_t>(getpid())};
    for (int i = 0; i < 8; ++i) modbus.channels.push_back(digital_output("MB" + std::to_string(i + 1)));
    add_process(modbus);
    ProcessSpec calc{"CALC1", "CALCULATOR 1", "C1", true, true, false, static_cast<int32_t>(getpid()), true};
    for (int i = 0; i < 4; ++i) calc.channels.push_back(analog_output("C" + std::to_string(i + 1)));
    add_process(calc);
    ProcessSpec user{"USERA", "USER ANALOG", "UA", false, true, true, 0, true};
    for (int i = 0; i < 4; ++i) user.channels.push_back(analog_output("UA" + std::to_string(i + 1)));
    add_process(user);
}

bool RuntimeHost::create_modules(const std::string& code, std::span<const qvr::ChannelRecord> records,
                                 bool analog, bool value_records, TimeStamp configured, bool event_module) {
    const auto count = static_cast<uint32_t>(records.size());
    const uint16_t per_channel = analog ? qvr::kAnalogBytesPerChannel : qvr::kDigitalBytesPerChannel;
    const uint32_t data_length = qvr::kDataModuleHeadSize + count * per_channel +
                                 (value_records ? count * static_cast<uint32_t>(qvr::kValueRecordSize) : 0);
    void* data = create_module("dm_" + code, data_length);
    void* conf =
        create_module("dm_" + code + "_conf", count * static_cast<uint32_t>(qvr::kChannelRecordSize));
    const auto bitmaps = 1 + options_.logger_capacity;
    void* event = event_module ? create_module("dm_" + code + "_event",
                                               bitmaps * static_cast<uint32_t>(qvr::event_bitmap_size(count)))
                               : nullptr;
    if (data == nullptr || conf == nullptr || (event_module && event == nullptr)) return false;
    const auto d = qvr::section_bytes(data);
    std::memcpy(d.data() + qvr::kModuleCodeOffset, code.data(), std::min<size_t>(2, code.size()));
    store_u16(d, qvr::kBytesPerChannelOffset, per_channel);
    store_u16(d, qvr::kChannelCountOffset, static_cast<uint16_t>(count));
    std::memcpy(d.data() + qvr::kConfigTimeOffset, &configured, sizeof configured);
    const auto c = qvr::section_bytes(conf);
    if (!records.empty())
        std::memcpy(c.data() + qvr::kConfRecordsOffset, records.data(), records.size_bytes());
    return true;
}

int RuntimeHost::add_process(const ProcessSpec& spec) {
    auto t = bytes(qvr::kProcessTableName);
    const uint32_t count = load_u32(t, qvr::kTableCountOffset);
    if (count >= options_.process_capacity) return -1;
    if (!spec.code.empty() && !create_modules(spec.code, spec.channels, spec.analog, spec.has_value_records,
                                              now_stamp(), spec.event_module))
        return -1;
    ProcessRecord r{};
    qvr::set_field_text(r.ProcName, sizeof r.ProcName, spec.name);
    qvr::set_field_text(r.ProcText, sizeof r.ProcText, spec.text.empty() ? spec.name : spec.text);
    std::memcpy(r.ProcCode, spec.code.data(), std::min<size_t>(2, spec.code.size()));
    r.RunsProcess = spec.runs_process ? 1 : 0;
    r.ProcEnabled = spec.enabled ? 1 : 0;
    r.HasValueRecords = spec.has_value_records ? 1 : 0;
    r.ProcPid = spec.pid;
    void* table = shm_OpenSection(qvr::kProcessTableName);
    shm_Lock(table);
    std::memcpy(t.data() + qvr::kTableRecordsOffset + count * qvr::kProcessRecordSize, &r, sizeof r);
    store_u32(t, qvr::kTableCountOffset, count + 1);
    shm_Unlock(table);
    return static_cast<int>(count);
}

int RuntimeHost::add_logger(const LoggerSpec& spec) {
    auto t = bytes(qvr::kLoggerTableName);
    const uint32_t count = load_u32(t, qvr::kTableCountOffset);
    if (count >= options_.logger_capacity) return -1;
    LoggerRecord r{};
    std::memcpy(r.LoggerType, spec.type.data(), std::min<size_t>(5, spec.type.size()));
    r.LoggerEnabled = spec.enabled ? 1 : 0;
    r.LoggerPid = spec.pid != 0 ? spec.pid : static_cast<uint32_t>(getpid());
    r.LoggerRunNumber = spec.run_number;
    qvr::set_field_text(r.LoggerLabel, sizeof r.LoggerLabel, spec.label);
    std::memcpy(t.data() + qvr::kTableRecordsOffset + count * qvr::kLoggerRecordSize, &r, sizeof r);
    store_u32(t, qvr::kTableCountOffset, count + 1);
    return static_cast<int>(count + 1);
}

int RuntimeHost::add_device(const DeviceSpec& spec) {
    if (devices_ >= options_.device_capacity) return -1;
    const auto folder = config_tree().current_config() / spec.config_name;
    std::filesystem::create_directories(folder);
    {
        if (!write_device_config(folder, spec.config)) return -1;
        const char autosave[6] = {};
        FILE* f = std::fopen((folder / "saveconfig").c_str(), "wb");
        if (f == nullptr) return -1;
        std::fwrite(autosave, 1, sizeof autosave, f);
        std::fclose(f);
    }
    for (size_t k = 0; k < spec.codes.size(); ++k) {
        if (spec.codes[k].empty()) continue;
        const auto kind = static_cast<qvr::ChannelKind>(k);
        TimeStamp written = now_stamp();
        std::vector<qvr::ChannelRecord> records = spec.channels[k];
        if (spec.from_channel_files[k]) {
            auto loaded = read_channel_file(folder, kind, &written);
            if (!loaded) return -1;
            records = std::move(*loaded);
        } else {
            write_channel_file(folder, kind, records, written);
        }
        if (!create_modules(spec.codes[k], records, !qvr::is_digital(kind), spec.value_records, written,
                            spec.event_modules))
            return -1;
    }
    if (!spec.stats_code.empty() &&
        !create_modules(spec.stats_code, spec.stats_channels, true, false, now_stamp()))
        return -1;

    DeviceRecord r{};
    qvr::set_field_text(r.TypeName, sizeof r.TypeName, spec.type_name);
    qvr::set_field_text(r.DeviceName, sizeof r.DeviceName, spec.name);
    r.DeviceNumber = spec.number;
    qvr::set_field_text(r.ConfigName, sizeof r.ConfigName, spec.config_name);
    for (size_t k = 0; k < spec.codes.size(); ++k)
        std::memcpy(r.KindCodes + 2 * k, spec.codes[k].data(), std::min<size_t>(2, spec.codes[k].size()));
    std::memcpy(r.DeviceConfig, spec.config.data(), spec.config.size());

    auto t = bytes(qvr::kDeviceTableName);
    void* table = shm_OpenSection(qvr::kDeviceTableName);
    shm_Lock(table);
    const uint32_t index = devices_++;
    std::memcpy(t.data() + qvr::kTableRecordsOffset + index * qvr::kDeviceRecordSize, &r, sizeof r);
    device_stats_codes_.push_back(spec.stats_code);
    // The code array follows the last record, so it moves as the table grows.
    const size_t codes = qvr::kTableRecordsOffset + devices_ * qvr::kDeviceRecordSize;
    for (uint32_t i = 0; i < devices_; ++i) {
        char code[2] = {0, 0};
        std::memcpy(code, device_stats_codes_[i].data(), std::min<size_t>(2, device_stats_codes_[i].size()));
        std::memcpy(t.data() + codes + 2 * i, code, 2);
    }
    store_u32(t, qvr::kTableCountOffset, devices_);
    shm_Unlock(table);
    return static_cast<int>(index);
}

bool RuntimeHost::set_derived_input(const std::string& code, int channel, bool on) {
    return set_logger_channel(code, 0, channel, on);
}

bool RuntimeHost::set_logger_channel(const std::string& code, int logger, int channel, bool on) {
    const auto d = bytes("dm_" + code);
    const auto e = bytes("dm_" + code + "_event");
    const auto layout = qvr::data_module_layout(d, false);
    if (!layout || channel < 1 || channel > layout->channel_count || logger < 0) return false;
    const size_t byte = qvr::kSectionDataOffset +
                        static_cast<size_t>(logger) * qvr::event_bitmap_size(layout->channel_count) +
                        static_cast<size_t>(channel - 1) / 8;
    if (byte >= qvr::data_area_end(e)) return false;
    auto* bitmap = reinterpret_cast<uint8_t*>(e.data() + byte - static_cast<size_t>(channel - 1) / 8);
    if (on)
        util_BitSet(bitmap, static_cast<uint32_t>(channel - 1));
    else
        util_BitClear(bitmap, static_cast<uint32_t>(channel - 1));
    return true;
}

DeviceRecord* RuntimeHost::device(int index) {
    const auto t = bytes(qvr::kDeviceTableName);
    const auto offset = qvr::table_record_offset(t, qvr::kDeviceRecordSize, static_cast<uint32_t>(index));
    return offset ? reinterpret_cast<DeviceRecord*>(t.data() + *offset) : nullptr;
}

ProcessRecord* RuntimeHost::process(const std::string& name) {
    const auto t = bytes(qvr::kProcessTableName);
    for (uint32_t i = 0; i < qvr::table_record_count(t, qvr::kProcessRecordSize); ++i) {
        auto* r = reinterpret_cast<ProcessRecord*>(t.data() + qvr::kTableRecordsOffset +
                                                   i * qvr::kProcessRecordSize);
        if (platform::equal_ignoring_case(qvr::field_text(r->ProcName), name)) return r;
    }
    return nullptr;
}

LoggerRecord* RuntimeHost::logger(int index) {
    const auto t = bytes(qvr::kLoggerTableName);
    const auto offset = qvr::table_record_offset(t, qvr::kLoggerRecordSize, static_cast<uint32_t>(index - 1));
    return offset ? reinterpret_cast<LoggerRecord*>(t.data() + *offset) : nullptr;
}

bool RuntimeHost::move_process_last_raw(const std::string& name) {
    ProcessRecord* r = process(name);
    if (r == nullptr) return false;
    const auto t = bytes(qvr::kProcessTableName);
    auto* first = reinterpret_cast<std::byte*>(r);
    auto* end = t.data() + qvr::kTableRecordsOffset +
                qvr::table_record_count(t, qvr::kProcessRecordSize) * qvr::kProcessRecordSize;
    std::rotate(first, first + qvr::kProcessRecordSize, end);
    return true;
}

uint32_t RuntimeHost::status_word(const std::string& code, int channel) {
    const auto d = bytes("dm_" + code);
    return load_u32(d, qvr::kStatusWordsOffset + 4 * static_cast<size_t>(channel - 1));
}

void RuntimeHost::set_status_word(const std::string& code, int channel, uint32_t word) {
    store_u32(bytes("dm_" + code), qvr::kStatusWordsOffset + 4 * static_cast<size_t>(channel - 1), word);
}

float RuntimeHost::value(const std::string& code, int channel) {
    const auto d = bytes("dm_" + code);
    const auto layout = qvr::data_module_layout(d, false);
    float v = 0;
    if (layout && layout->values)
        std::memcpy(&v, d.data() + *layout->values + 4 * static_cast<size_t>(channel - 1), 4);
    return v;
}

void RuntimeHost::set_value(const std::string& code, int channel, float value) {
    const auto d = bytes("dm_" + code);
    const auto layout = qvr::data_module_layout(d, false);
    if (layout && layout->values)
        std::memcpy(d.data() + *layout->values + 4 * static_cast<size_t>(channel - 1), &value, 4);
}

qvr::ChannelRecord* RuntimeHost::channel_record(const std::string& code, int channel) {
    const auto c = bytes("dm_" + code + "_conf");
    if (channel < 1 || static_cast<uint32_t>(channel) > qvr::conf_record_count(c)) return nullptr;
    return reinterpret_cast<qvr::ChannelRecord*>(c.data() + qvr::kConfRecordsOffset +
                                                 static_cast<size_t>(channel - 1) * qvr::kChannelRecordSize);
}

std::vector<RuntimeHost::StatusEntry> RuntimeHost::status_entries() {
    std::vector<StatusEntry> out;
    const auto t = bytes(qvr::kErrorTableName);
    const auto layout = qvr::error_table_layout(t);
    if (!layout) return out;
    for (uint32_t i = 0; i < layout->entries; ++i) {
        const auto* e = reinterpret_cast<const char*>(t.data() + layout->first + i * layout->entry_size);
        const auto name = qvr::field_text(e + layout->name_offset, layout->name_size);
        if (name.empty()) continue;
        out.push_back({static_cast<uint8_t>(e[0]), std::string(name),
                       std::string(qvr::field_text(e + layout->text_offset, layout->text_size))});
    }
    return out;
}

}  // namespace sim_host
