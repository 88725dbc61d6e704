#include "tolva_sc/scanner_device.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <thread>

#include "platform/error_text.h"
#include "platform/host_identity.h"
#include "platform/last_error.h"
#include "platform/monotonic_clock.h"
#include "platform/serial_port_names.h"
#include "qvr/host/alarm.h"
#include "qvr/host/device_modules.h"
#include "qvr/util/fixed_text.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"
#include "qvr/host/status_text.h"
#include "qvr/time/timestamp.h"
#include "qvr/diag/sink.h"
#include "qvr/diag/trace.h"
#include "qvr/xml/xml.h"
#include "tolva_sc/comm_module_address.h"
#include "tolva_sc/saved_values.h"

namespace tolva {
namespace {

constexpr uint32_t kFailClear = 0x800 | 0x40 | 0x2;

TimeStamp now_stamp() {
    TimeStamp now{};
    rt_GetLocalStamp(&now);
    return now;
}

std::string kind_code(const DeviceRecord& device, int kind) {
    const char* c = device.KindCodes + 2 * kind;
    if (c[0] == '\0') return {};
    return c[1] == '\0' ? std::string(1, c[0]) : std::string(c, 2);
}

// The link, the command layer and the frame hand over lines without their end; the trace
// shows a line (and passes it to the debugger channel) only once it ends.
void trace_line(std::string_view line) {
    std::string text(line);
    text += '\n';
    trace_Write(text.c_str());
}

std::string current_folder() {
    std::error_code ec;
    const auto folder = std::filesystem::current_path(ec);
    return ec ? std::string("the current folder") : folder.string();
}

// "the serial port COM3 (/dev/pts/4)": the name the configuration holds and the device the
// machine's map gives it.
std::string port_text(CommSettings comm, int32_t device_number) {
    apply_port_defaults(comm, device_number);
    const std::string name(comm_port(comm));
    std::string device;
    const std::string where = platform::serial_device_path(name, device) == 0
                                  ? device
                                  : std::string("not mapped in ") + platform::kSerialPortsKey;
    return "the serial port \"" + name + "\" (" + where + ")";
}

// Errors that say the channel table names counter inputs, which this device cannot serve.
bool counter_inputs_refused(const DeviceKinds& kinds, int error) {
    return error == ENOTSUP && kinds[kind::kCI].open();
}

}  // namespace

std::string failure_text(std::string_view prefix, int error) {
    if (error == platform::kErrorXmlParse) {
        const char* xml = xml_GetErrorText();
        if (xml != nullptr && xml[0] != '\0') return xml;
    }
    char number[8];
    std::snprintf(number, sizeof number, "%04d", error & 0xFFF);
    return std::string(prefix) + number;
}

void report_failure(std::string_view prefix, int error) {
    const std::string text = failure_text(prefix, error);
    shm_SetStatusText("%s", text.c_str());
    trace_line(text);
    errno = error;
}

void report_failure(std::string_view prefix, int error, std::string_view detail) {
    report_failure(prefix, error);
    const std::string line = failure_text(prefix, error) + ": " + std::string(detail) + ": " +
                             platform::error_text(error);
    trace_line(line);
    std::fprintf(stderr, "tolva_sc: %s\n", line.c_str());
    sink_Report(".", 1, ("tolva_sc: " + line).c_str());
    errno = error;
}

ScannerDevice::ScannerDevice(DeviceRecord& device, int device_index, CommandState& commands,
                             ConfigFiles files)
    : device_(device),
      index_(device_index),
      commands_(commands),
      files_(std::move(files)),
      config_name_(qvr::field_text(device.ConfigName)),
      pccc_(
          messages_, [this] { return running(); },
          [name = config_name_] { return read_comm_module_address(name); }),
      // A station text that rotates away leaves a table that cannot be used in view.
      stations_(pccc_, {},
                [this](std::string_view text) {
                    if (text.empty())
                        show_table_fault();
                    else
                        shm_SetStatusText("%.*s", static_cast<int>(text.size()), text.data());
                }),
      handlers_(pccc_, stations_),
      engine_(
          kinds_,
          [this](int kind, std::span<const qvr::ChannelRecord> records, std::span<uint32_t> status,
                 std::span<float> values) { return handlers_.scan(kind, config_, records, status, values); },
          notices_,
          ScanHooks{[this] { return running(); },
                    [this] { handlers_.begin_scan(); },
                    [this] { stations_.rotate(); },
                    &device_,
                    {}}) {
    for (int k = 0; k < kKindCount; ++k) {
        kinds_[static_cast<size_t>(k)].kind = k;
        kinds_[static_cast<size_t>(k)].count = kKindChannelLimits[static_cast<size_t>(k)];
    }
    link_.set_trace(trace_line, [] { return trace_IsOn() != 0; });
    pccc_.set_trace(trace_line);
}

void ScannerDevice::store_config(const DeviceConfigRecord& config) {
    config_ = config;
    static_assert(sizeof config_ == sizeof device_.DeviceConfig);
    std::memcpy(device_.DeviceConfig, &config_, sizeof config_);
}

void ScannerDevice::setup_port_statistics() {
    const char* code = shm_DeviceStatsCode(index_);
    stats_fault_.reset();
    if (code == nullptr || code[0] == '\0') return;
    const CheckedModule data = open_data_module(code, true);
    stats_fault_ = data.fault;
    if (!stats_fault_) {
        const auto layout = qvr::data_module_layout(qvr::section_bytes(data.section), false);
        stats_fault_ = open_conf_module(code, layout->channel_count).fault;
    }
    if (stats_fault_) {
        trace_table_fault(*stats_fault_);
        return;
    }
    if (stats_.setup(device_, code) == 0) stats_.publish();
}

void ScannerDevice::note_kind_fault(const TableFault& fault) {
    kind_faults_.push_back(fault);
    trace_table_fault(fault);
}

void ScannerDevice::refuse_kind(KindModules& k, const TableFault& fault, void* data) {
    k.unserved = unserved_module(data, fault.error);
    note_kind_fault(fault);
}

const TableFault* ScannerDevice::table_fault() const {
    if (!kind_faults_.empty()) return &kind_faults_.front();
    return stats_fault_ ? &*stats_fault_ : nullptr;
}

void ScannerDevice::show_table_fault() {
    if (const TableFault* fault = table_fault())
        shm_SetStatusText("%s", fault->text.c_str());
    else
        shm_ClearStatusText();
}

bool ScannerDevice::open_kind_modules(KindModules& k) {
    k.code = kind_code(device_, k.kind);
    if (k.code.empty()) return false;
    const CheckedModule data = open_data_module(k.code, k.analog());
    if (data.fault) {
        refuse_kind(k, *data.fault, data.section);
        return false;
    }
    const auto bytes = qvr::section_bytes(data.section);
    const auto layout = qvr::data_module_layout(bytes, false);
    k.data = data.section;
    k.count = std::min(k.count, layout->channel_count);
    k.shared_status = {reinterpret_cast<uint32_t*>(bytes.data() + layout->status_words), k.count};
    if (k.analog()) k.shared_values = {reinterpret_cast<float*>(bytes.data() + *layout->values), k.count};
    k.value_records = layout->value_records ? bytes.data() + *layout->value_records : nullptr;
    return true;
}

int ScannerDevice::carve_private_arrays() {
    try {
        for (KindModules& k : kinds_) {
            if (!k.data_open()) continue;
            const size_t n = k.count;
            k.status.assign(n, 0);
            k.values.assign(k.analog() ? n : 0, 0.0f);
            k.last_significant.assign(k.analog() ? n : 0, no_significant_value());
            k.reference.assign(k.analog() && !k.output() ? n : 0, 0.0f);
        }
    } catch (const std::bad_alloc&) {
        return platform::fail(platform::kErrorNotEnoughMemory);
    }
    return 0;
}

void ScannerDevice::zero_unused_references(KindModules& k) {
    const size_t n = std::min(k.reference.size(), k.records.size());
    for (size_t i = 0; i < n; ++i) {
        const qvr::ChannelRecord& r = k.records[i];
        const bool kept = r.head.Flags.test(qvr::AnalogFlag::Enable) &&
                          (r.head.Type == qvr::ChannelKind::AI || r.head.Type == qvr::ChannelKind::CI) &&
                          r.head.Flags.test(qvr::AnalogFlag::ReferenceEnable);
        if (!kept) k.reference[i] = 0.0f;
    }
}

int ScannerDevice::load_kind(KindModules& k) {
    const CheckedModule conf = open_conf_module(k.code, k.count);
    if (conf.fault) {
        refuse_kind(k, *conf.fault, k.data);
        return 0;
    }
    // The records of the module opened by the kind's own code, as many as were checked.
    k.conf = conf.section;
    k.records = {reinterpret_cast<qvr::ChannelRecord*>(qvr::section_bytes(k.conf).data() + qvr::kConfRecordsOffset),
                 k.count};
    // Without its event module the kind is served, but its logger triggers are lost.
    if (const CheckedModule event = open_event_module(k.code); event.fault) note_kind_fault(*event.fault);
    if (reload_channels_if_changed(k.kind, k.data, k.conf, files_.load_channels) < 0) return -1;
    if (k.output() && autosave_.save_outputs != 0) {
        const bool by_tag = autosave_.save_by_tag != 0;
        shm_Lock(k.data);
        if (k.analog())
            saved_values_read(config_name_, k.kind, by_tag, k.shared_values, k.records);
        else
            saved_values_read(config_name_, k.kind, by_tag, k.shared_status, k.records);
        shm_Unlock(k.data);
    }
    if (!k.reference.empty()) {
        saved_values_read(config_name_, k.kind, false, std::span<float>(k.reference), k.records);
        zero_unused_references(k);
    }
    return 0;
}

int ScannerDevice::setup_link() {
    CommSettings comm = config_.Comm;
    if (link_.setup(comm, device_.DeviceNumber) != 0) return -1;
    DeviceConfigRecord config = config_;
    config.Comm = comm;
    store_config(config);
    counted_ = link_.counters();
    return 0;
}

int ScannerDevice::initialise() {
    DeviceConfigRecord config{};
    if (files_.load_device_config(config) != 0) {
        const int error = errno;
        report_failure("CAN'T READ CONFIGURATION -", error,
                       std::string(qvr::field_text(device_.DeviceName)) + ": the device configuration in " +
                           current_folder());
        return -1;
    }
    store_config(config);

    AutosaveSettings autosave;
    if (files_.load_autosave(autosave) != 0) autosave.save_outputs = 0;
    autosave_ = autosave;
    if (autosave_.save_outputs != 0) save_timer_.start(now_stamp(), autosave_.save_rate_ms);

    for (KindModules& k : kinds_) open_kind_modules(k);

    if (setup_link() != 0) {
        const int error = errno;
        report_failure("CAN'T LOAD PATH DESCS -", error,
                       std::string(qvr::field_text(device_.DeviceName)) + ": " +
                           port_text(config_.Comm, device_.DeviceNumber));
        fatal_ = error;
        return -1;
    }
    if (carve_private_arrays() != 0) {
        report_failure("CAN'T GET MEMORY -", errno);
        return -1;
    }
    for (KindModules& k : kinds_) {
        if (!k.data_open()) continue;
        if (load_kind(k) != 0) {
            report_failure("CAN'T READ CONFIGURATION -", errno);
            return -1;
        }
    }
    notices_.set_names(platform::computer_name().substr(0, qvr::kAlarmComputerSize - 1),
                       platform::user_name().substr(0, 256));
    show_table_fault();
    return 0;
}

void ScannerDevice::fail_all_channels(int code) {
    device_.LastScanMs = 0;
    for (KindModules& k : kinds_) {
        if (!k.data_open()) {
            if (k.unserved) answer_unserved(*k.unserved);
            continue;
        }
        const auto bytes = qvr::section_bytes(k.data);
        shm_Lock(k.data);
        const bool batch = alarm_BeginBatch(bytes.data() + qvr::kSectionDataOffset) == 0;
        // A kind that is not served keeps the reason it is not.
        qvr::store_module_error(bytes, static_cast<uint32_t>(k.unserved ? k.unserved->error : code));
        qvr::store_u32(bytes, qvr::kScanTimeOffset, 0);
        for (size_t i = 0; i < k.shared_status.size(); ++i) {
            k.shared_status[i] = (k.shared_status[i] | status_bit::kFailed) & ~kFailClear;
            if (k.value_records != nullptr) {
                const uint16_t failed = qvr::kValueRecordFailed;
                std::memcpy(k.value_records + i * qvr::kValueRecordSize, &failed, sizeof failed);
            }
        }
        const size_t n = std::min(k.status.size(), k.shared_status.size());
        std::copy_n(k.shared_status.begin(), n, k.status.begin());
        if (batch) alarm_EndBatch();
        shm_SignalWaiters(k.data, 0);
        shm_Unlock(k.data);
    }
    errno = code;
}

int ScannerDevice::init_handlers() {
    int result = 0;
    int error = 0;
    for (KindModules& k : kinds_) {
        if (!k.open()) continue;
        if (handlers_.init(k.kind, config_, k.records) != 0) {
            if (result == 0) error = errno;
            result = -1;
        }
    }
    errno = error;
    return result;
}

void ScannerDevice::wait_ms(uint32_t ms) {
    if (slot_Wait(ms) == 0) return;
    // Without a slot nothing would end the wait: block for the time asked, or a moment.
    std::this_thread::sleep_for(std::chrono::milliseconds(ms != 0 ? ms : 100));
}

void ScannerDevice::open_with_retry(int failure_code) {
    set_busy();
    while (running()) {
        fail_all_channels(failure_code);
        int result = link_.is_open() ? 0 : setup_link();
        if (result == 0) {
            handlers_.reprobe_stations();
            result = init_handlers();
        }
        if (result == 0) result = scan(true);
        if (result == 0) break;
        const int error = errno;
        if (counter_inputs_refused(kinds_, error)) {
            shm_SetStatusText("%s", kCounterInputsText);
            trace_line(kCounterInputsText);
        } else {
            report_failure("CAN'T INITIALISE DEVICE -", error);
        }
        // Commands still arrive meanwhile; only a stop cuts the pause short, so a stream of
        // codes cannot turn the retry into a storm of probes.
        const int64_t until = platform::monotonic_ms() + kOpenRetryMs;
        for (int64_t now = platform::monotonic_ms(); running() && now < until; now = platform::monotonic_ms())
            wait_ms(static_cast<uint32_t>(until - now));
    }
    stations_.rebuild_text_list();
    publish_next_due();
    show_table_fault();
}

int ScannerDevice::scan(bool initial) {
    const int result = engine_.scan(initial);
    const int error = errno;
    if (const AlarmNotices::Refused lost = notices_.take_refused(); lost.count != 0) {
        char text[128];
        std::snprintf(text, sizeof text, "%d notice(s) of the scan not delivered (error %d: %s)", lost.count,
                      lost.error, std::strerror(lost.error));
        trace_line(text);
    }
    const LinkCounters now = link_.counters();
    stats_.add_link_counts(now - counted_);
    counted_ = now;
    stats_.publish();
    if (link_.port_failed()) {
        trace_line("serial port failed: closed, to be opened again");
        link_.close();
        return platform::fail(EIO);
    }
    errno = error;
    return result;
}

void ScannerDevice::set_busy() {
    void* table = qvr::device_table();
    shm_Lock(table);
    device_.Busy = 1;
    shm_Unlock(table);
}

void ScannerDevice::publish_next_due() {
    const TimeStamp now = now_stamp();
    void* table = qvr::device_table();
    shm_Lock(table);
    commands_.scan_requests = 0;
    device_.NextDue = *time_NextPeriodBoundary(&now, config_.ScanRate);
    device_.Busy = 0;
    shm_Unlock(table);
}

int ScannerDevice::reconfigure() {
    set_busy();
    DeviceConfigRecord config{};
    if (files_.load_device_config(config) != 0) {
        const int error = errno;
        report_failure("CAN'T READ CONFIGURATION -", error);
        fatal_ = error;
        return -1;
    }
    // The link keeps its port; the host sees the settings as the link uses them.
    apply_port_defaults(config.Comm, device_.DeviceNumber);
    apply_link_defaults(config.Comm);
    store_config(config);
    setup_port_statistics();

    handlers_.reprobe_stations();
    int sum = 0;
    int error = 0;
    for (KindModules& k : kinds_) {
        if (!running()) break;
        if (!k.open()) continue;
        const int reloaded = reload_channels_if_changed(k.kind, k.data, k.conf, files_.load_channels);
        if (reloaded < 0) {
            error = errno;
            report_failure("CAN'T READ CONFIGURATION -", error);
            fatal_ = error;
            return -1;
        }
        if (reloaded > 0 && !k.reference.empty()) zero_unused_references(k);
        // Every kind: ReadFirst and ReadBack take effect even when no table changed.
        if (handlers_.init(k.kind, config_, k.records) != 0) {
            if (sum == 0) error = errno;
            sum -= 1;
        }
    }
    if (sum != 0) return platform::fail(error);
    stations_.rebuild_text_list();
    if (scan(true) != 0) return -1;
    publish_next_due();
    return 0;
}

int ScannerDevice::initialise_values() {
    set_busy();
    engine_.recompute_references(config_name_);
    if (scan(false) != 0) return -1;
    publish_next_due();
    return 0;
}

int ScannerDevice::reset_counters() {
    if (!kinds_[kind::kCI].open()) return 0;
    set_busy();
    handlers_.reset_counters();
    if (scan(false) != 0) return -1;
    publish_next_due();
    return 0;
}

void ScannerDevice::save_outputs() {
    for (const int kind : {kind::kAO, kind::kDO}) {
        KindModules& k = kinds_[static_cast<size_t>(kind)];
        if (!k.open() || !k.changed_since_save) continue;
        if (k.analog()) {
            shm_Lock(k.data);
            const std::vector<float> values(k.shared_values.begin(), k.shared_values.end());
            shm_Unlock(k.data);
            save_changed_values(k.changed_since_save, config_name_, kind, values, k.records);
        } else {
            shm_Lock(k.data);
            const std::vector<uint32_t> words(k.shared_status.begin(), k.shared_status.end());
            shm_Unlock(k.data);
            save_changed_values(k.changed_since_save, config_name_, kind, words, k.records);
        }
    }
}

bool ScannerDevice::after_failure(std::string_view prefix, int error) {
    if (fatal_) return false;
    if (!running()) return false;
    if (counter_inputs_refused(kinds_, error)) {
        shm_SetStatusText("%s", kCounterInputsText);
    } else {
        report_failure(prefix, error);
    }
    open_with_retry(error);
    return running() && !fatal_;
}

bool ScannerDevice::round() {
    if (!running() || fatal_) return false;
    slot_HoldCommands(1);
    if (commands_.reconfigure.exchange(false)) {
        slot_HoldCommands(0);
        if (reconfigure() != 0) return after_failure("CAN'T RECONFIGURE DEVICE -", errno);
    } else if (commands_.initialise_values.exchange(false)) {
        slot_HoldCommands(0);
        if (initialise_values() != 0) return after_failure("CAN'T INITIALISE VALUES - ", errno);
    } else if (commands_.reset_counters.exchange(false)) {
        slot_HoldCommands(0);
        if (reset_counters() != 0) return after_failure("CAN'T RESET COUNTERS -", errno);
    } else if (commands_.scan_requests.load() > 0) {
        --commands_.scan_requests;
        slot_HoldCommands(0);
        if (scan(false) != 0) return after_failure("CAN'T SCAN DEVICE -", errno);
        // While scan requests keep coming faster than scans end, the loop never gets to the
        // idle branch below: a save that fell due is made between scans, so changed outputs
        // are not left unsaved for as long as the overload lasts.
        if (autosave_.save_outputs != 0 && commands_.scan_requests.load() > 0 &&
            save_timer_.step(now_stamp()).save)
            save_outputs();
    } else if (autosave_.save_outputs == 0) {
        wait_ms(0);
    } else {
        const SaveTimer::Step step = save_timer_.step(now_stamp());
        if (step.save) save_outputs();
        if (step.wait)
            wait_ms(step.wait_ms);
        else
            slot_HoldCommands(0);
    }
    return running() && !fatal_;
}

void ScannerDevice::run() {
    while (round()) {
    }
}

int ScannerDevice::exit_path(int code) {
    save_outputs();
    fail_all_channels(code);
    link_.close();
    device_.Attached = 0;
    stats_.shutdown();
    for (KindModules& k : kinds_) {
        k.status = {};
        k.values = {};
        k.last_significant = {};
        k.reference = {};
    }
    return code;
}

}  // namespace tolva
