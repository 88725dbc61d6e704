// The logger status channels "LS" 1..56 of the handler: those of a "resub" logger of this
// location copied from the host's "logst" modules, else built from the current run.
#include <bit>
#include <cstring>
#include <ctime>
#include <exception>
#include <string>
#include <string_view>

#include "log_stores/db_store/db_store.h"
#include "log_stores/local_server/local_data_server.h"
#include "log_stores/log_factory.h"
#include "log_stores/run_file/run_file_format.h"
#include "log_stores/run_file/run_name.h"
#include "log_stores/run_file_collection/run_stamp.h"
#include "log_stores/status_channels/logger_status.h"
#include "log_stores/status_channels/status_table.h"
#include "platform/ascii_text.h"
#include "qvr/diag/sink.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/host/device_modules.h"
#include "qvr/host/host_tables.h"
#include "qvr/ipc/shm.h"
#include "qvr/util/fixed_text.h"

namespace log_stores::local {
namespace {

constexpr int kDigitalStatusChannels = 12;
constexpr std::uint32_t kStatusPeriodMs = kCurrentRunsPeriodMs;

std::uint32_t float_bits(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

// The last component of a folder path ('/' or '\'), trailing separators ignored.
std::string_view last_component(std::string_view path) {
    while (!path.empty() && (path.back() == '/' || path.back() == '\\')) path.remove_suffix(1);
    const std::size_t at = path.find_last_of("/\\");
    return at == std::string_view::npos ? path : path.substr(at + 1);
}

// Line `index` (from 0) of a CR LF text, or "" when it has fewer.
std::string_view line_of(std::string_view text, int index) {
    for (int i = 0; i < index; ++i) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) return {};
        text.remove_prefix(end + 1);
    }
    std::string_view line = text.substr(0, text.find('\n'));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

// The LoggerRecord index (1-based) of a "resub" logger labelled `label`, or 0.
int resub_logger(std::string_view label) {
    if (label.empty() || shm_OpenLoggerTable() != 0) return 0;
    const auto count = static_cast<int>(qvr::logger_count());
    for (int n = 1; n <= count; ++n) {
        const LoggerRecord* logger = shm_LoggerByIndex(n);
        if (logger == nullptr) continue;
        if (!platform::equal_ignoring_case(std::string_view(logger->LoggerType, sizeof logger->LoggerType),
                                           "resub"))
            continue;
        if (platform::equal_ignoring_case(qvr::field_text(logger->LoggerLabel), label)) return n;
    }
    return 0;
}

class StatusBuilder {
  public:
    explicit StatusBuilder(LocalDataServer& server) : s_(server) {}

    void clear() {
        for (int ch = 1; ch <= kStatusChannelCount; ++ch) {
            std::uint32_t flags = kFlagNoValue;
            if (ch > kDigitalStatusChannels && ch <= kPublishedStatusChannels) flags |= kFlagHasValue;
            s_.status_flags_[ch - 1] = flags;
            s_.status_values_[ch - 1] = 0;
        }
    }
    void state(int ch, bool on) {
        s_.status_flags_[ch - 1] = on ? kFlagDigitalState : 0;
        s_.status_values_[ch - 1] = 0;
    }
    void value(int ch, float v) {
        s_.status_flags_[ch - 1] = kFlagHasValue;
        s_.status_values_[ch - 1] = float_bits(v);
    }
    // A text channel shows its text whatever its state.
    void text(int ch, std::string_view text, bool on = false) {
        qvr::DigitalChannel& d = s_.status_configs_[ch - 1].digital;
        status::set_state_text(d.HighStateText, text);
        status::set_state_text(d.LowStateText, text);
        state(ch, on);
    }
    // Date (yymmdd) at `ch` and time (hhmmss) at the next, from UTC seconds.
    void date_time(int ch, std::int32_t seconds) {
        const StatusDateTime shown = status_DateTimeValues(seconds);
        value(ch, shown.date);
        value(ch + 1, shown.time);
    }

  private:
    LocalDataServer& s_;
};

// Copies the 32 channels logger n publishes in "logst". False when they cannot be read.
bool copy_published(LocalDataServer& s, int n) {
    const ProcessRecord* process = shm_FindProcess(kLoggerStatusProcess);
    if (process == nullptr || process->ProcCode[0] == '\0') return false;
    const std::string code(qvr::field_text(process->ProcCode, 2));
    void* data = shm_OpenDeviceData(code.c_str());
    void* conf = shm_OpenDeviceConf(code.c_str());
    if (data == nullptr || conf == nullptr) return false;
    const std::span<std::byte> bytes = qvr::section_bytes(data);
    const auto layout = qvr::data_module_layout(bytes, false);
    const std::int64_t first = std::int64_t{kPublishedStatusChannels} * (n - 1);  // 0-based module channel
    const std::int64_t needed = first + kPublishedStatusChannels;
    if (!layout || !layout->values || layout->channel_count < needed ||
        qvr::conf_record_count(qvr::section_bytes(conf)) < needed)
        return false;
    const qvr::ChannelRecord* records = shm_ConfRecords(data);
    if (records == nullptr) return false;

    if (shm_Lock(conf) != 0) return false;
    std::memcpy(s.status_configs_.data(), records + first,
                sizeof(qvr::ChannelRecord) * kPublishedStatusChannels);
    shm_Unlock(conf);
    if (shm_Lock(data) != 0) return false;
    for (int k = 0; k < kPublishedStatusChannels; ++k) {
        std::uint32_t word = 0;
        std::uint32_t value = 0;
        std::memcpy(&word, bytes.data() + layout->status_words + 4 * static_cast<std::size_t>(first + k), 4);
        std::memcpy(&value, bytes.data() + *layout->values + 4 * static_cast<std::size_t>(first + k), 4);
        s.status_flags_[k] = word;
        s.status_values_[k] = k < kDigitalStatusChannels ? 0 : value;
    }
    shm_Unlock(data);
    return true;
}

// The run name's prefix: a run file's name before its stamp, a database run's table prefix.
std::string run_prefix(const CurrentRun& run) {
    if (auto* db = dynamic_cast<CLogDbStore*>(run.store.get())) {
        char prefix[kDbNameCapacity] = {};
        db->GetTablePrefix(prefix, sizeof prefix);
        return prefix;
    }
    if (const auto stamp = read_run_stamp(run.name, run_file::kRunExtension))
        return run.name.substr(0, stamp->at);
    return {};
}

// "LoggerSeq=%08d" of a database run, or 0.
std::int32_t run_sequence(std::string_view name) {
    constexpr std::string_view kKey = "LoggerSeq=";
    if (!platform::starts_with_ignoring_case(name, kKey)) return 0;
    std::int64_t value = 0;
    for (const char c : name.substr(kKey.size())) {
        if (c < '0' || c > '9' || value > 100'000'000) return 0;
        value = value * 10 + (c - '0');
    }
    return static_cast<std::int32_t>(value);
}

// The 1-based place of `name` among the collection's runs sorted by name (letter case
// ignored), or 0.
std::int32_t run_place(CLogCollection& collection, const std::string& name) {
    std::size_t size = 0;
    if (collection.BeginRunList(&size) != 1) return 0;
    std::vector<char> buffer(std::max<std::size_t>(size, kLatestRunLocationSize) + 1, '\0');
    TimeStamp start{}, stop{};
    std::int32_t before = 0;
    bool listed = false;
    while (collection.GetNextRun(buffer.data(), &start, &stop) == 1) {
        const std::string_view run(buffer.data());
        if (platform::equal_ignoring_case(run, name))
            listed = true;
        else if (platform::ascii_lower_copy(run) < platform::ascii_lower_copy(name))
            ++before;
    }
    return listed ? before + 1 : 0;
}

}  // namespace

void LocalDataServer::UpdateLoggerStatus() {
    const std::uint64_t now = clock_();
    if (last_status_update_ && now >= *last_status_update_ && now - *last_status_update_ < kStatusPeriodMs)
        return;
    last_status_update_ = now;
    try {
        const std::string label = !collections_[0] ? std::string()
                                  : database_      ? collections_[0]->logger_name
                                                   : std::string(last_component(collections_[0]->folder));
        if (const int n = resub_logger(label); n > 0 && copy_published(*this, n)) return;

        // The logger's own channel records (a copy may have replaced them).
        status_FillRecords(1, kPublishedStatusChannels, status_configs_.data());
        StatusBuilder b(*this);
        b.clear();
        b.state(kStatusType, database_);
        CurrentRun* run = answering_run();
        if (run == nullptr) {
            b.text(kStatusActivity, "Not Started", true);
            return;
        }
        const bool has_record = run->last_readable >= 0 && !run->last_record.empty();
        const bool logging = run->header.stop.seconds == 0 || run->last_readable != run->record_count - 1;
        b.state(kStatusStatus, logging);
        for (int i = 0; i < 6; ++i) {
            const std::string_view line = line_of(run->header_text, i);
            b.text(kStatusDirectory1 + i, line.empty() ? "N/A" : line);
        }
        if (const std::string prefix = run_prefix(*run); !prefix.empty()) b.text(kStatusPrefix, prefix);
        b.text(kStatusActivity, logging ? "Logging" : "Finished", true);
        if (has_record) {
            const TimeStamp last = run_file::decode_record_head(run->last_record).time;
            b.date_time(kStatusDateLastWrite, last.seconds);
            const std::int64_t since = static_cast<std::int64_t>(std::time(nullptr)) - last.seconds;
            b.value(kStatusSecondsSinceWrite, static_cast<float>(since));
        }
        b.value(kStatusWriteCount, static_cast<float>(run->record_count));
        if (database_) {
            b.value(kStatusRealTimeNumber, static_cast<float>(run_sequence(run->name)));
        } else {
            if (status_place_run_ != run->name) {
                for (auto& c : collections_)
                    if (c && &c->current == run) status_place_ = run_place(*c->collection, run->name);
                status_place_run_ = run->name;
            }
            b.value(kStatusRealTimeNumber, static_cast<float>(status_place_));
        }
        b.date_time(kStatusRealTimeDate, run->header.start.seconds);
    } catch (...) {
        sink_Report(".", 1, "readmrf exception\r\n");
    }
}

}  // namespace log_stores::local
