// The status state of this process's logger and its publication into the "logst" modules.
// Lock order: the state's mutex, the configuration module, the error table, the data
// module; the channel writers run with only the state's mutex held.
#include "log_stores/status_channels/logger_status.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>

#include "log_stores/log_location.h"
#include "log_stores/status_channels/status_table.h"
#include "log_stores/status_channels/status_testing.h"
#include "platform/ascii_text.h"
#include "qvr/host/chan.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/host/device_modules.h"
#include "qvr/host/host_table_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/time/timestamp.h"
#include "qvr/util/fixed_text.h"

namespace {

using log_stores::status::set_state_text;
using log_stores::status::state_text;

// Indexes into the 12 digital words and the 20 analog values.
constexpr int digital_index(int channel) {
    return channel - 1;
}
constexpr int analog_index(int channel) {
    return channel - kStatusDigitalChannels - 1;
}

struct Counters {
    std::atomic<uint64_t> writes{0};
    std::atomic<uint64_t> bytes_written{0};
    std::atomic<uint64_t> reads{0};
    std::atomic<uint64_t> bytes_read{0};
    // Local wall-clock seconds of the last write, and its tick with bit 32 set (0: none).
    std::atomic<int32_t> last_write_local{0};
    std::atomic<uint64_t> last_write_tick{0};

    void clear_counts() {
        writes = 0;
        bytes_written = 0;
        reads = 0;
        bytes_read = 0;
    }
};

struct State {
    bool initialised = false;
    int logger_number = 0;
    const LoggerRecord* logger = nullptr;
    std::string code;
    void* data = nullptr;
    void* conf = nullptr;
    qvr::ChannelRecord* block = nullptr;
    int first_channel = 0;  // module channel of block channel 1
    bool has_error_entry = false;
    uint32_t error_entry = 0;
    uint32_t digital[kStatusDigitalChannels]{};
    float analog[kStatusAnalogChannels]{};
    int32_t expiry = 0;
    bool first_publish = true;
};

std::mutex g_mutex;
State g_state;
Counters g_counters;
std::atomic<bool> g_tick_fixed{false};
std::atomic<uint32_t> g_fixed_tick{0};

std::string label_of(const LoggerRecord* logger) {
    return logger != nullptr ? std::string(qvr::field_text(logger->LoggerLabel)) : std::string{};
}

void set_date_time(int channel, int32_t seconds) {
    if (channel < kStatusDateLastWrite || channel >= kStatusChannelsPerLogger) return;
    const StatusDateTime shown = status_DateTimeValues(seconds);
    g_state.analog[analog_index(channel)] = shown.date;
    g_state.analog[analog_index(channel) + 1] = shown.time;
}

void stamp_config_time(void* data) {
    TimeStamp now{};
    rt_GetLocalStamp(&now);
    shm_WriteData(data, &now, sizeof now, static_cast<uint32_t>(qvr::kConfigTimeOffset - qvr::kSectionDataOffset));
}

// The logger's long status entry (type 4, named by its label): found again when another
// process moved it.
struct ErrorTableView {
    void* section = nullptr;
    std::span<std::byte> bytes;
    qvr::ErrorTableLayout layout;

    std::string_view name(uint32_t i) const {
        return qvr::field_text(reinterpret_cast<const char*>(entry(i) + layout.name_offset), layout.name_size);
    }
    std::string_view text(uint32_t i) const {
        return qvr::field_text(reinterpret_cast<const char*>(entry(i) + layout.text_offset), layout.text_size);
    }
    int type(uint32_t i) const { return static_cast<int>(*entry(i)); }
    const std::byte* entry(uint32_t i) const { return bytes.data() + layout.first + i * layout.entry_size; }
};

std::optional<ErrorTableView> error_table_view() {
    if (shm_OpenErrorTable() != 0) return std::nullopt;
    ErrorTableView v;
    v.section = qvr::error_table();
    v.bytes = qvr::section_bytes(v.section);
    const auto layout = qvr::error_table_layout(v.bytes);
    if (!layout || !layout->long_form) return std::nullopt;
    v.layout = *layout;
    return v;
}

bool is_logger_entry(const ErrorTableView& v, uint32_t i, std::string_view label) {
    return i < v.layout.entries && v.type(i) == qvr::kStatusEntryLogger &&
           platform::equal_ignoring_case(v.name(i), label);
}

std::optional<uint32_t> find_error_entry(const ErrorTableView& v, std::string_view label) {
    for (uint32_t i = 0; i < v.layout.entries; ++i)
        if (is_logger_entry(v, i, label)) return i;
    return std::nullopt;
}

// The entry's text (empty when there is none); nullopt when the logger has no entry.
std::optional<std::string> error_text() {
    if (!g_state.has_error_entry) return std::nullopt;
    const auto v = error_table_view();
    if (!v || shm_Lock(v->section) != 0) return std::nullopt;
    const std::string label = label_of(g_state.logger);
    std::optional<uint32_t> at = g_state.error_entry;
    if (!is_logger_entry(*v, *at, label)) at = find_error_entry(*v, label);
    std::optional<std::string> text;
    if (at) {
        g_state.error_entry = *at;
        text = std::string(v->text(*at));
    }
    shm_Unlock(v->section);
    return text;
}

uint32_t reset_request_word() {
    uint32_t* words = shm_StatusWords(g_state.code.c_str());
    if (words == nullptr) return 0;
    // An operator sets the request from another process.
    return std::atomic_ref<uint32_t>(words[g_state.first_channel + kStatusResetCounts - 2]).load();
}

uint32_t tick_now() {
    if (g_tick_fixed.load()) return g_fixed_tick.load();
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

void publish_locked() {
    State& s = g_state;
    if (!s.initialised) return;
    const std::optional<std::string> error = error_text();
    if (shm_Lock(s.conf) != 0) return;
    qvr::ChannelRecord* block = s.block;

    s.digital[digital_index(kStatusStatus)] = s.logger->LoggerEnabled & 1u;
    s.digital[digital_index(kStatusError)] = error && !error->empty() ? 1u : 0u;
    s.analog[analog_index(kStatusRealTimeNumber)] = static_cast<float>(s.logger->LoggerRunNumber);
    if ((reset_request_word() & qvr::kStatusState) != 0) {
        g_counters.clear_counts();
        s.digital[digital_index(kStatusStatus)] = 0;
    }

    bool texts_changed = false;
    if (error && !error->empty()) {
        auto& high = block[kStatusError - 1].digital.HighStateText;
        const std::string_view shown = std::string_view(*error).substr(0, log_stores::status::kStateTextSize);
        if (!platform::equal_ignoring_case(shown, state_text(high))) {
            set_state_text(high, shown);
            texts_changed = true;
        }
    }
    s.digital[digital_index(kStatusActivity)] = 1;
    auto& activity = block[kStatusActivity - 1].digital.HighStateText;
    const std::string_view activity_text = status_ActivityText(s.logger->LoggerActivity);
    if (!platform::equal_ignoring_case(activity_text, state_text(activity))) {
        set_state_text(activity, activity_text);
        texts_changed = true;
    }
    if (texts_changed) stamp_config_time(s.data);

    // Each counter is read once, so a write noted meanwhile counts in the next publish.
    s.analog[analog_index(kStatusWriteCount)] = static_cast<float>(g_counters.writes.load());
    s.analog[analog_index(kStatusBytesWritten)] = static_cast<float>(g_counters.bytes_written.load());
    s.analog[analog_index(kStatusReadCount)] = static_cast<float>(g_counters.reads.load());
    s.analog[analog_index(kStatusBytesRead)] = static_cast<float>(g_counters.bytes_read.load());
    const uint64_t last_tick = g_counters.last_write_tick.load();
    if (last_tick != 0) {
        set_date_time(kStatusDateLastWrite, g_counters.last_write_local.load());
        s.analog[analog_index(kStatusSecondsSinceWrite)] =
            static_cast<float>(status_TickDiff(static_cast<uint32_t>(last_tick), tick_now()) / 1000u);
    } else {
        s.analog[analog_index(kStatusSecondsSinceWrite)] = 0;
    }
    if (s.expiry != 0) {
        const int64_t now = static_cast<int64_t>(std::time(nullptr));
        const int64_t expiry = static_cast<int64_t>(static_cast<uint32_t>(s.expiry));
        s.analog[analog_index(kStatusHoursToExpiry)] = static_cast<float>(static_cast<double>(expiry - now) / 3600.0);
    } else {
        s.analog[analog_index(kStatusHoursToExpiry)] = 0;
    }
    shm_Unlock(s.conf);

    uint32_t words[kStatusDigitalChannels];
    std::copy(std::begin(s.digital), std::end(s.digital), words);
    words[digital_index(kStatusResetCounts)] = 0;  // ends a reset request
    const char* code = s.code.c_str();
    const int first = s.first_channel;
    const int last_digital = first + kStatusDigitalChannels - 1;
    const int last = first + kStatusChannelsPerLogger - 1;
    if (s.first_publish) {
        chan_SetDigitalValuesAll(code, first, last_digital, words);
        chan_SetAnalogValuesAll(code, last_digital + 1, last, s.analog);
        s.first_publish = false;
    } else {
        chan_SetDigitalValues(code, first, last_digital, words);
        chan_SetAnalogValues(code, last_digital + 1, last, s.analog);
    }
}

// The block's texts under the configuration module's lock, then a publish.
void set_location_locked(const char* location, const char* path, const char* prefix) {
    State& s = g_state;
    if (!s.initialised || shm_Lock(s.conf) != 0) return;
    const bool file = log_stores::GetLocationKind(location) == log_stores::LocationKind::File;
    auto set_both = [&](int channel, std::string_view text) {
        qvr::DigitalChannel& d = s.block[channel - 1].digital;
        set_state_text(d.HighStateText, text);
        set_state_text(d.LowStateText, text);
    };
    if (file) {
        for (int i = 0; i < 6; ++i) {
            const char* piece = status_PathPiece(path != nullptr ? path : "", i);
            if (piece != nullptr) set_both(kStatusDirectory1 + i, piece);
        }
    } else {
        set_both(kStatusDirectory1, label_of(s.logger));
    }
    if (prefix != nullptr && prefix[0] != '\0') set_both(kStatusPrefix, prefix);
    s.digital[digital_index(kStatusType)] = file ? 0u : 1u;
    stamp_config_time(s.data);
    shm_SignalWaiters(s.conf, 0);
    shm_Unlock(s.conf);
    publish_locked();
}

void set_log(int number_channel, uint32_t number, int32_t seconds) {
    std::lock_guard lock(g_mutex);
    if (!g_state.initialised) return;
    if (number != 0) g_state.analog[analog_index(number_channel)] = static_cast<float>(number);
    if (seconds != 0) set_date_time(number_channel + 1, seconds);
    publish_locked();
}

}  // namespace

void status_Init(int logger_number, const LoggerRecord* logger) {
    if (logger_number < 1 || logger == nullptr) return;
    std::lock_guard lock(g_mutex);
    State& s = g_state;
    s.initialised = false;
    const ProcessRecord* process = shm_FindProcess(kLoggerStatusProcess);
    if (process == nullptr || process->ProcCode[0] == '\0') return;
    const std::string code(qvr::field_text(process->ProcCode, 2));
    void* data = shm_OpenDeviceData(code.c_str());
    if (data == nullptr) return;
    const auto layout = qvr::data_module_layout(qvr::section_bytes(data), false);
    const int64_t needed = int64_t{kStatusChannelsPerLogger} * logger_number;
    if (!layout || layout->bytes_per_channel != qvr::kAnalogBytesPerChannel || layout->channel_count < needed)
        return;
    void* conf = shm_OpenDeviceConf(code.c_str());
    if (conf == nullptr || qvr::conf_record_count(qvr::section_bytes(conf)) < needed) return;
    qvr::ChannelRecord* records = shm_ConfRecords(data);
    if (records == nullptr || shm_Lock(conf) != 0) return;
    const int first = kStatusChannelsPerLogger * (logger_number - 1) + 1;
    qvr::ChannelRecord* block = records + (first - 1);
    status_FillRecords(logger_number, status_ChannelCount(logger->LoggerType), block);
    stamp_config_time(data);
    shm_SignalWaiters(conf, 0);
    shm_Unlock(conf);

    s.logger_number = logger_number;
    s.logger = logger;
    s.code = code;
    s.data = data;
    s.conf = conf;
    s.block = block;
    s.first_channel = first;
    s.has_error_entry = false;
    if (const auto v = error_table_view(); v && shm_Lock(v->section) == 0) {
        if (const auto at = find_error_entry(*v, label_of(logger))) {
            s.has_error_entry = true;
            s.error_entry = *at;
        }
        shm_Unlock(v->section);
    }
    s.initialised = true;
    publish_locked();
}

void status_Stop() {
    std::lock_guard lock(g_mutex);
    if (!g_state.initialised) return;
    g_counters.last_write_tick = 0;
    publish_locked();
    g_state.initialised = false;
}

void status_SetLocation(const char* location, const char* path, const char* prefix) {
    std::lock_guard lock(g_mutex);
    set_location_locked(location, path, prefix);
}

void status_SetRealTime(uint32_t number, int32_t seconds) {
    set_log(kStatusRealTimeNumber, number, seconds);
}
void status_SetLag(uint32_t number, int32_t seconds) {
    set_log(kStatusLagNumber, number, seconds);
}
void status_SetHistorical(uint32_t number, int32_t seconds) {
    set_log(kStatusHistoricalNumber, number, seconds);
}

void status_SetExpiry(int32_t seconds) {
    std::lock_guard lock(g_mutex);
    if (!g_state.initialised) return;
    set_date_time(kStatusExpiryDate, seconds);
    g_state.expiry = seconds;
    publish_locked();
}

void status_SetIncomplete(uint32_t count) {
    std::lock_guard lock(g_mutex);
    if (!g_state.initialised) return;
    g_state.analog[analog_index(kStatusIncomplete)] = static_cast<float>(count);
    publish_locked();
}

void status_ResetCounters() {
    std::lock_guard lock(g_mutex);
    if (!g_state.initialised) return;
    g_counters.clear_counts();
    publish_locked();
}

void status_NoteWrite(uint32_t bytes) {
    g_counters.writes.fetch_add(1);
    g_counters.bytes_written.fetch_add(bytes);
    TimeStamp now{};
    rt_GetLocalStamp(&now);
    g_counters.last_write_local = now.seconds;
    g_counters.last_write_tick = (uint64_t{1} << 32) | status_TickCount();
}

void status_NoteRead(uint32_t bytes) {
    g_counters.reads.fetch_add(1);
    g_counters.bytes_read.fetch_add(bytes);
}

void status_Publish() {
    std::lock_guard lock(g_mutex);
    publish_locked();
}

StatusDateTime status_DateTimeValues(int32_t seconds) {
    if (seconds == 0) return {};
    const std::tm t = time_GmTime(seconds);
    return {static_cast<float>((t.tm_year % 100) * 10000 + (t.tm_mon + 1) * 100 + t.tm_mday),
            static_cast<float>(t.tm_hour * 10000 + t.tm_min * 100 + t.tm_sec)};
}

void status_SetDateTime(int channel, int32_t seconds) {
    std::lock_guard lock(g_mutex);
    set_date_time(channel, seconds);
}

uint32_t status_TickDiff(uint32_t then, uint32_t now) {
    return now >= then ? now - then : now - then - 1;
}

uint32_t status_TickCount() {
    return tick_now();
}

namespace log_stores::status_testing {

void reset() {
    std::lock_guard lock(g_mutex);
    g_state = State{};
    g_counters.clear_counts();
    g_counters.last_write_local = 0;
    g_counters.last_write_tick = 0;
    g_tick_fixed = false;
    g_fixed_tick = 0;
}

void set_tick(std::optional<uint32_t> tick) {
    g_fixed_tick = tick.value_or(0);
    g_tick_fixed = tick.has_value();
}

}  // namespace log_stores::status_testing
