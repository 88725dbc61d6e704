// The status entry of the calling process and its SYSER mirror channel.
#include "qvr/host/status_text.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "qvr/host/chan.h"
#include "qvr/records/channel_record.h"
#include "qvr/host/device_modules.h"
#include "qvr/util/fixed_text.h"
#include "qvr/host/host_table_layout.h"
#include "qvr/host/host_tables.h"
#include "qvr/host/host_tables_internal.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"

namespace {

constexpr const char* kSyserName = "SYSER";
constexpr size_t kShortNameKept = 24;
constexpr size_t kMirrorTextSize = 32;
constexpr size_t kTagLength = 15;

struct Mirror {
    std::string code;
    int channel = 0;  // 1-based
};

struct Entry {
    bool registered = false;
    int type = 0;
    std::string name;
    std::optional<Mirror> mirror;
};

std::mutex g_mutex;
Entry g_entry;

// Keeps the caller's error number whatever happens inside.
struct ErrorKeeper {
    int saved = platform::last_error();
    int saved_errno = errno;
    ~ErrorKeeper() {
        platform::set_last_error(saved);
        errno = saved_errno;
    }
};

struct Table {
    void* section = nullptr;
    std::span<std::byte> bytes;
    qvr::ErrorTableLayout layout;

    std::byte* entry(uint32_t i) const { return bytes.data() + layout.first + i * layout.entry_size; }
    std::string_view name(uint32_t i) const {
        return qvr::field_text(reinterpret_cast<const char*>(entry(i) + layout.name_offset),
                               layout.name_size);
    }
    char* text(uint32_t i) const { return reinterpret_cast<char*>(entry(i) + layout.text_offset); }
    std::string_view text_view(uint32_t i) const { return qvr::field_text(text(i), layout.text_size); }
    int type(uint32_t i) const { return static_cast<int>(*entry(i)); }
    size_t stored_text_size() const {
        return layout.long_form ? qvr::kLongStatusStored + 1 : layout.text_size;
    }
};

std::optional<Table> open_table() {
    const auto opened = qvr::tables::open(qvr::tables::Table::kError);
    if (opened.section == nullptr) return std::nullopt;
    const auto layout = qvr::error_table_layout(opened.bytes);
    if (!layout || layout->entries == 0) return std::nullopt;
    return Table{opened.section, opened.bytes, *layout};
}

std::string kept_name(const Table& t, std::string_view name) {
    return std::string(name.substr(0, t.layout.long_form ? t.layout.name_size - 1 : kShortNameKept));
}

// The entry of (type, name), under the table's lock.
std::optional<uint32_t> find_entry(const Table& t, int type, std::string_view name) {
    const std::string kept = kept_name(t, name);
    for (uint32_t i = 0; i < t.layout.entries; ++i)
        if (t.type(i) == type && platform::equal_ignoring_case(t.name(i), kept)) return i;
    return std::nullopt;
}

std::optional<uint32_t> take_entry(const Table& t, int type, std::string_view name) {
    if (auto found = find_entry(t, type, name)) {
        if (!t.layout.long_form)
            t.text(*found)[t.layout.text_size - 1] = '\0';
        else
            t.text(*found)[0] = '\0';
        return found;
    }
    std::optional<uint32_t> free;
    for (uint32_t i = 0; i < t.layout.entries; ++i) {
        if (!t.name(i).empty()) continue;
        free = i;
        if (t.layout.long_form) break;  // the short form takes the last free entry
    }
    if (!free) return std::nullopt;
    *t.entry(*free) = static_cast<std::byte>(type);
    qvr::set_field_text(reinterpret_cast<char*>(t.entry(*free) + t.layout.name_offset),
                        t.layout.long_form ? t.layout.name_size : kShortNameKept + 1, name);
    std::memset(t.text(*free), 0, t.layout.text_size);
    return free;
}

std::string mirror_name(int type, const std::string& name) {
    if (type == qvr::kStatusEntryLogger || type == qvr::kStatusEntryLoggerExport) {
        if (const LoggerRecord* r = shm_LoggerByIndex(shm_LoggerIndex(name.c_str()))) {
            const std::string kind(qvr::field_text(r->LoggerType));
            const std::string label(qvr::field_text(r->LoggerLabel));
            return type == qvr::kStatusEntryLogger ? qvr::logger_source_key(kind, label)
                                                   : qvr::export_source_key(kind, label);
        }
    }
    return name.substr(0, qvr::kSourceKeyMax);
}

struct Syser {
    std::string code;
    void* data = nullptr;
    void* conf = nullptr;
    uint32_t channels = 0;
    qvr::ChannelRecord* records = nullptr;
};

std::optional<Syser> open_syser() {
    const ProcessRecord* p = shm_FindProcess(kSyserName);
    if (p == nullptr || p->ProcCode[0] == '\0') return std::nullopt;
    Syser s;
    s.code = std::string(qvr::field_text(p->ProcCode, 2));
    s.data = shm_OpenDeviceData(s.code.c_str());
    s.conf = shm_OpenDeviceConf(s.code.c_str());
    if (s.data == nullptr || s.conf == nullptr) return std::nullopt;
    const auto layout = qvr::data_module_layout(qvr::section_bytes(s.data), false);
    if (!layout) return std::nullopt;
    const auto conf = qvr::section_bytes(s.conf);
    s.channels = std::min<uint32_t>(layout->channel_count, qvr::conf_record_count(conf));
    s.records = reinterpret_cast<qvr::ChannelRecord*>(conf.data() + qvr::kConfRecordsOffset);
    return s;
}

// The first SYSER channel whose texts name the mirror, under the module's lock.
int find_mirror_channel(const Syser& s, int type, const std::string& mirror, bool long_form) {
    const bool split = long_form && type == qvr::kStatusEntryLoggerExport && mirror.size() > kTagLength;
    for (uint32_t i = 0; i < s.channels; ++i) {
        const qvr::ChannelRecord& r = s.records[i];
        if (split) {
            if (platform::equal_ignoring_case(chanrec_GetTag(&r), mirror.substr(0, kTagLength)) &&
                platform::equal_ignoring_case(chanrec_GetDescription(&r), mirror.substr(kTagLength)))
                return static_cast<int>(i + 1);
        } else if (platform::equal_ignoring_case(chanrec_GetDescription(&r), mirror)) {
            return static_cast<int>(i + 1);
        }
    }
    return 0;
}

void set_stored_text(const Table& t, uint32_t i, std::string_view text) {
    qvr::set_field_text(t.text(i), std::min(t.layout.text_size, t.stored_text_size()), text);
}

// The current entry's index, found again under the lock (another process may have moved it).
std::optional<uint32_t> current_entry(const Table& t) {
    return find_entry(t, g_entry.type, g_entry.name);
}

void write_mirror(const std::string& text, uint32_t state) {
    if (!g_entry.mirror) return;
    const auto s = open_syser();
    if (!s || g_entry.mirror->channel > static_cast<int>(s->channels)) return;
    if (state != 0) {
        if (shm_Lock(s->conf) == 0) {
            qvr::DigitalChannel& d = s->records[g_entry.mirror->channel - 1].digital;
            const size_t n = std::min(text.size(), kMirrorTextSize);
            std::memset(d.HighStateText, 0, sizeof d.HighStateText);
            std::memset(d.AlarmText, 0, sizeof d.AlarmText);
            std::memcpy(d.HighStateText, text.data(), n);
            std::memcpy(d.AlarmText, text.data(), n);
            shm_SignalWaiters(s->conf, 0);
            shm_Unlock(s->conf);
        }
        TimeStamp now{};
        rt_GetLocalStamp(&now);
        if (shm_Lock(s->data) == 0) {
            std::memcpy(static_cast<std::byte*>(s->data) + qvr::kConfigTimeOffset, &now, sizeof now);
            shm_Unlock(s->data);
        }
    }
    const uint32_t value = state;
    const int channel = g_entry.mirror->channel;
    chan_SetDigitalValues(g_entry.mirror->code.c_str(), channel, channel, &value);
}

void clear_locked() {
    const auto t = open_table();
    if (t && shm_Lock(t->section) == 0) {
        const auto i = current_entry(*t);
        const bool had_text = i && !t->text_view(*i).empty();
        if (had_text) {
            t->text(*i)[0] = '\0';
            shm_SignalWaiters(t->section, 0);
        }
        shm_Unlock(t->section);
    }
    write_mirror({}, 0);
}

}  // namespace

void shm_RegisterStatusEntry(int type, const char* name) {
    ErrorKeeper keep;
    std::lock_guard lock(g_mutex);
    const std::string given = name != nullptr ? name : "";
    g_entry = Entry{true, type, given, std::nullopt};
    const auto t = open_table();
    if (!t || shm_Lock(t->section) != 0) return;
    const auto i = take_entry(*t, type, g_entry.name);
    shm_Unlock(t->section);
    if (!i) return;
    g_entry.name = kept_name(*t, g_entry.name);

    // Linked after the table's lock is released: the SYSER modules have locks of their own.
    const auto s = open_syser();
    if (!s) return;
    const std::string mirror = mirror_name(type, given);
    std::string state_text;
    if (shm_Lock(s->conf) != 0) return;
    const int channel = find_mirror_channel(*s, type, mirror, t->layout.long_form);
    if (channel > 0) {
        const uint32_t* words = shm_StatusWords(s->code.c_str());
        if (words != nullptr && (words[channel - 1] & qvr::kStatusState) != 0) {
            // The field is 32 bytes and need not be terminated.
            state_text = std::string(qvr::field_text(s->records[channel - 1].digital.HighStateText));
        }
    }
    shm_Unlock(s->conf);
    if (channel == 0) return;
    g_entry.mirror = Mirror{s->code, channel};
    if (state_text.empty() || shm_Lock(t->section) != 0) return;
    if (const auto again = current_entry(*t)) set_stored_text(*t, *again, state_text);
    shm_Unlock(t->section);
}

void shm_SetStatusText(const char* format, ...) {
    ErrorKeeper keep;
    char text[qvr::kLongStatusFormatSize] = {};
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }
    std::lock_guard lock(g_mutex);
    if (!g_entry.registered) return;
    if (text[0] == '\0') {
        clear_locked();
        return;
    }
    const auto t = open_table();
    if (!t) return;
    std::string wanted(text);
    wanted.resize(std::min(wanted.size(), t->stored_text_size() - 1));
    if (shm_Lock(t->section) != 0) return;
    const auto i = current_entry(*t);
    const bool changed = i && !platform::equal_ignoring_case(t->text_view(*i), wanted);
    if (changed) {
        set_stored_text(*t, *i, wanted);
        shm_SignalWaiters(t->section, 0);
    }
    shm_Unlock(t->section);
    if (changed) write_mirror(wanted, 1);
}

void shm_ClearStatusText() {
    ErrorKeeper keep;
    std::lock_guard lock(g_mutex);
    if (g_entry.registered) clear_locked();
}
