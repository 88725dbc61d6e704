// The channel writers: one worker for the range and the rules of one digital or analog
// output channel.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "platform/host_identity.h"
#include "platform/last_error.h"
#include "qvr/host/alarm.h"
#include "qvr/host/alarm_internal.h"
#include "qvr/host/chan.h"
#include "qvr/records/channel_record.h"
#include "qvr/host/device_module_layout.h"
#include "qvr/host/device_modules.h"
#include "qvr/host/module_index_internal.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"

namespace {

using qvr::AnalogFlag;
using qvr::ChannelRecord;
using qvr::DigitalFlag;

std::atomic<bool> g_digital_signal_others{false};
std::atomic<bool> g_analog_signal_others{false};

constexpr uint32_t kFailed = qvr::kStatusFailed;
constexpr uint32_t kAlarm = qvr::kStatusAlarmActive;
constexpr uint32_t kHigh = qvr::kStatusAlarmHigh;
constexpr uint32_t kNoDelay = qvr::kStatusNoDelay;
constexpr uint32_t kPosted = qvr::kStatusPostedNoDelay;
constexpr uint32_t kEvent = qvr::kStatusEventActive;
constexpr uint32_t kEventHigh = qvr::kStatusEventHigh;
constexpr uint32_t kWarning = qvr::kStatusWarningActive;
constexpr uint32_t kWarningHigh = qvr::kStatusWarningHigh;

uint32_t with(uint32_t word, uint32_t bits, bool on) {
    return on ? (word | bits) : (word & ~bits);
}

struct Names {
    const char* computer;
    const char* user;
};

// The notices of one write, posted in its batch (a failed send traces itself). When no
// batch could begin the rules still run (values and status words must stay right), and the
// notices are kept for the module's next batch that begins; they are counted here and
// traced once.
struct Notices {
    Names names;
    char code[2] = {0, 0};
    bool batch = false;
    int kept = 0;

    void alarm(int index, uint32_t w, bool drive_common, int priority, int delay, float value) {
        if (batch) {
            alarm_PostAlarmAs(index, w, drive_common ? 1 : 0, priority, delay, names.computer, names.user,
                              &value);
            return;
        }
        qvr::alarm_state::KeptNotice n = keeping(qvr::alarm_state::KeptKind::kAlarm, index, w, value);
        n.flag = drive_common ? 1 : 0;
        n.priority = priority;
        n.delay = delay;
        keep(std::move(n));
    }
    void event(int index, uint32_t s, float value) {
        if (batch) {
            alarm_PostEventAs(index, s, names.computer, names.user, &value);
            return;
        }
        keep(keeping(qvr::alarm_state::KeptKind::kEvent, index, s, value));
    }
    void warning(int index, uint32_t w, int priority, float value) {
        if (batch) {
            alarm_PostWarningAs(index, w, priority, names.computer, names.user, &value);
            return;
        }
        qvr::alarm_state::KeptNotice n = keeping(qvr::alarm_state::KeptKind::kWarning, index, w, value);
        n.priority = priority;
        keep(std::move(n));
    }
    void warning_event(int index, uint32_t s, float value) {
        if (batch) {
            alarm_PostWarningEventAs(index, s, names.computer, names.user, &value);
            return;
        }
        keep(keeping(qvr::alarm_state::KeptKind::kWarningEvent, index, s, value));
    }
    void trigger(qvr::alarm_state::KeptKind kind, int index) {
        using qvr::alarm_state::KeptKind;
        if (batch) {
            if (kind == KeptKind::kTriggerUp) alarm_LoggerTriggerUp(index);
            if (kind == KeptKind::kTriggerDown) alarm_LoggerTriggerDown(index);
            if (kind == KeptKind::kTriggerLevel) alarm_LoggerTriggerLevel(index);
            return;
        }
        qvr::alarm_state::KeptNotice n;
        std::memcpy(n.code, code, 2);
        n.kind = kind;
        n.index = index;
        keep(std::move(n));
    }

  private:
    qvr::alarm_state::KeptNotice keeping(qvr::alarm_state::KeptKind kind, int index, uint32_t status,
                                         float value) const {
        qvr::alarm_state::KeptNotice n;
        std::memcpy(n.code, code, 2);
        n.kind = kind;
        n.index = index;
        n.status = status;
        n.computer = names.computer != nullptr ? names.computer : "";
        n.user = names.user != nullptr ? names.user : "";
        n.value = value;
        return n;
    }
    void keep(qvr::alarm_state::KeptNotice n) {
        qvr::alarm_state::keep(std::move(n));
        ++kept;
    }
};

// One write's view of the module.
struct Module {
    void* data = nullptr;
    std::span<std::byte> bytes;
    qvr::DataModuleLayout layout;
    const ChannelRecord* records = nullptr;
    int processing = -1;
    int64_t owner = 0;
};

int open_module(const char* code, int first, int last, bool analog, Module& m) {
    const auto info = qvr::module_index::info(code);
    if (info.data == nullptr) return -1;
    if (!info.found || info.processing < 0) return platform::fail(ENOENT);
    m.data = info.data;
    m.processing = info.processing;
    m.owner = info.owner;
    m.bytes = qvr::section_bytes(info.data);
    const auto layout = qvr::data_module_layout(m.bytes, info.has_value_records != 0);
    if (!layout) return platform::fail(platform::kErrorBadNetName);
    m.layout = *layout;
    if (analog && (m.layout.bytes_per_channel != qvr::kAnalogBytesPerChannel || !m.layout.values))
        return platform::fail(platform::kErrorInvalidParameter);
    if (first <= 0 || last <= 0 || first > m.layout.channel_count || last > m.layout.channel_count)
        return platform::fail(platform::kErrorBadNetName);
    void* conf = shm_OpenDeviceConf(code);
    if (conf == nullptr) return -1;
    // Every channel of the range needs its record.
    const auto conf_bytes = qvr::section_bytes(conf);
    if (qvr::conf_record_count(conf_bytes) < static_cast<uint32_t>(std::max(first, last)))
        return platform::fail(platform::kErrorBadNetName);
    m.records = reinterpret_cast<const ChannelRecord*>(conf_bytes.data() + qvr::kConfRecordsOffset);
    return 0;
}

uint32_t status_word(const Module& m, int n) {
    return qvr::load_u32(m.bytes, m.layout.status_words + 4 * static_cast<size_t>(n - 1));
}
void store_status(const Module& m, int n, uint32_t word) {
    qvr::store_u32(m.bytes, m.layout.status_words + 4 * static_cast<size_t>(n - 1), word);
}
float stored_value(const Module& m, int n) {
    float v;
    std::memcpy(&v, m.bytes.data() + *m.layout.values + 4 * static_cast<size_t>(n - 1), sizeof v);
    return v;
}
void store_value(const Module& m, int n, float v) {
    std::memcpy(m.bytes.data() + *m.layout.values + 4 * static_cast<size_t>(n - 1), &v, sizeof v);
    if (m.layout.value_records) {
        const size_t record = *m.layout.value_records + qvr::kValueRecordSize * static_cast<size_t>(n - 1);
        qvr::store_u32(m.bytes, record, qvr::kValueRecordWritten);
        std::memcpy(m.bytes.data() + record + qvr::kValueRecordValueOffset, &v, sizeof v);
    }
}

// Logger triggers when the event bit or, while it stands, its side changed.
void event_triggers(int index, uint32_t w, uint32_t s, Notices& notices) {
    if (((w ^ s) & kEvent) != 0 || ((w & s & kEvent) != 0 && ((w ^ s) & kEventHigh) != 0)) {
        if ((s & kEvent) != 0) notices.trigger(qvr::alarm_state::KeptKind::kTriggerDown, index);
        if ((w & kEvent) != 0) notices.trigger(qvr::alarm_state::KeptKind::kTriggerUp, index);
    }
}

bool alarm_changed(uint32_t w, uint32_t s) {
    return ((w ^ s) & kAlarm) != 0 || ((w & s & kAlarm) != 0 && ((w ^ s) & kHigh) != 0);
}

// Posts the alarm of `w` (with the no-delay bits) or the end of the alarm of `s`.
uint32_t post_alarm_change(int index, uint32_t w, uint32_t s, bool drive_common, int priority, int delay,
                           Notices& notices, float value) {
    if ((w & kAlarm) != 0) {
        w = with(w, kNoDelay, delay == 0);
        notices.alarm(index, w, drive_common, priority, delay, value);
        if (delay == 0) w |= kPosted;
    } else {
        notices.event(index, s, value);
    }
    return w;
}

void digital_channel(const Module& m, int n, uint32_t v, bool all, Notices& notices) {
    const ChannelRecord& r = m.records[n - 1];
    if (r.head.Type != qvr::ChannelKind::DO) return;
    const qvr::ChannelFlags& f = r.head.Flags;
    const bool enable = f.test(DigitalFlag::Enable);
    const uint32_t s = status_word(m, n);
    const bool state = (v & 1) != 0;
    if (!(all || !enable || (s & kFailed) != 0 || ((v ^ s) & 1) != 0)) return;
    if (m.processing != 1 || (!all && (s & kFailed) != 0)) {
        store_status(m, n, with(s, qvr::kStatusState, state));
        return;
    }
    const int index = n - 1;
    uint32_t w = with(s & ~(qvr::kStatusAnalog | kFailed), kFailed, !enable);
    if (enable && f.test(DigitalFlag::AlarmEnable) && state == f.test(DigitalFlag::AlarmState)) {
        w = with(w | kAlarm, kHigh, state);
        w = (w & ~kNoDelay) | (s & kNoDelay);
    } else {
        w &= ~(kAlarm | qvr::kStatusAnalog | kNoDelay);
    }
    if (alarm_changed(w, s))
        w = post_alarm_change(index, w, s, f.test(DigitalFlag::AlarmDriveCommon), r.digital.AlarmPriority,
                              r.digital.AlarmDelay, notices, state ? 1.0f : 0.0f);
    if (enable && f.test(DigitalFlag::EventEnable) && state == f.test(DigitalFlag::EventState))
        w = with(w | kEvent, kEventHigh, state);
    else
        w &= ~kEvent;
    event_triggers(index, w, s, notices);
    store_status(m, n, with(w, qvr::kStatusState, state));
}

uint32_t analog_warning(const qvr::AnalogChannel& a, const qvr::ChannelFlags& f, uint32_t w, uint32_t s,
                        float v) {
    const bool high_on = f.test(AnalogFlag::HighWarningEnable);
    const bool low_on = f.test(AnalogFlag::LowWarningEnable);
    if (!f.test(AnalogFlag::Enable) || (!high_on && !low_on)) return w & ~kWarning;
    const bool high =
        (high_on && f.test(AnalogFlag::HighAlarmEnable) && v >= a.HighWarningLimit) ||
        (f.test(AnalogFlag::HighAlarmDeadbandEnable) && (s & kWarning) != 0 && (s & kWarningHigh) != 0 &&
         v >= a.HighWarningLimit - (a.HighAlarmLimit - a.HighAlarmDeadband));
    if (high) return w | kWarning | kWarningHigh;
    const bool low =
        (low_on && f.test(AnalogFlag::LowAlarmEnable) && v <= a.LowWarningLimit) ||
        (f.test(AnalogFlag::LowAlarmDeadbandEnable) && (s & kWarning) != 0 && (s & kWarningHigh) == 0 &&
         v <= a.LowWarningLimit + (a.LowAlarmDeadband - a.LowAlarmLimit));
    if (low) return (w | kWarning) & ~kWarningHigh;
    return w & ~kWarning;
}

uint32_t analog_alarm(const qvr::AnalogChannel& a, const qvr::ChannelFlags& f, uint32_t w, uint32_t s,
                      float v) {
    const bool high_on = f.test(AnalogFlag::HighAlarmEnable);
    const bool low_on = f.test(AnalogFlag::LowAlarmEnable);
    if (!f.test(AnalogFlag::Enable) || (!high_on && !low_on)) return w & ~(kAlarm | kPosted | kNoDelay);
    if (high_on &&
        (v >= a.HighAlarmLimit || (f.test(AnalogFlag::HighAlarmDeadbandEnable) &&
                                   (s & (kAlarm | kHigh)) == (kAlarm | kHigh) && v >= a.HighAlarmDeadband)))
        return ((w | kAlarm | kHigh) & ~kNoDelay) | (s & kNoDelay);
    w &= ~(kAlarm | kNoDelay);
    if (low_on && (v <= a.LowAlarmLimit || (f.test(AnalogFlag::LowAlarmDeadbandEnable) && (s & kAlarm) != 0 &&
                                            (s & kHigh) == 0 && v <= a.LowAlarmDeadband)))
        return ((w | kAlarm) & ~(kHigh | kNoDelay)) | (s & kNoDelay);
    return w;
}

void analog_channel(const Module& m, int n, float v, bool all, Notices& notices) {
    const ChannelRecord& r = m.records[n - 1];
    if (r.head.Type != qvr::ChannelKind::AO) return;
    const qvr::AnalogChannel& a = r.analog;
    const qvr::ChannelFlags& f = r.head.Flags;
    const bool enable = f.test(AnalogFlag::Enable);
    const uint32_t s = status_word(m, n);
    const float stored = stored_value(m, n);
    if (!(all || !enable || (s & kFailed) != 0 || v != stored)) return;
    if (m.processing == 1 && (all || (s & kFailed) == 0)) {
        const int index = n - 1;
        uint32_t w = with(s | qvr::kStatusAnalog, kFailed, !enable);
        if (!enable || (s & kFailed) != 0 || !f.test(AnalogFlag::SigChangeEnable)) {
            w &= ~qvr::kStatusState;
        } else {
            const bool significant = std::fabs(v - stored) >= std::fabs(a.SigChangeValue);
            w = with(w, qvr::kStatusState, significant);
            if (significant) notices.trigger(qvr::alarm_state::KeptKind::kTriggerLevel, index);
        }

        w = analog_warning(a, f, w, s, v);
        if ((w & kWarning) != 0 && ((s & kWarning) == 0 || ((w ^ s) & kWarningHigh) != 0)) {
            const int priority = (w & kWarningHigh) != 0 ? a.HighAlarmPriority : a.LowAlarmPriority;
            notices.warning(index, w, priority, v);
        } else if ((w & kWarning) == 0 && (s & kWarning) != 0) {
            notices.warning_event(index, s, v);
        }

        w = analog_alarm(a, f, w, s, v);
        if (alarm_changed(w, s)) {
            // The settings of the side the alarm stands on (its 0x4 bit), so an alarm held by
            // its deadband keeps its own side's delay, priority and drive-common option.
            const bool high = (w & kHigh) != 0;
            w = post_alarm_change(
                index, w, s,
                f.test(high ? AnalogFlag::HighAlarmDriveCommon : AnalogFlag::LowAlarmDriveCommon),
                high ? a.HighAlarmPriority : a.LowAlarmPriority, high ? a.HighAlarmDelay : a.LowAlarmDelay,
                notices, v);
        }

        if (enable && f.test(AnalogFlag::EventEnable)) {
            if (v >= a.HighEventLimit)
                w |= kEvent | kEventHigh;
            else if (v > a.LowEventLimit)
                w &= ~kEvent;
            else
                w = (w | kEvent) & ~kEventHigh;
        } else {
            w &= ~kEvent;
        }
        event_triggers(index, w, s, notices);
        store_status(m, n, w);
    }
    store_value(m, n, v);
}

struct Request {
    const char* code;
    int first;
    int last;
    bool all;
    bool lock;
    Names names;
};

template <typename Value, typename Channel>
int write(const Request& rq, const Value* values, bool analog, bool signal_others, Channel channel) {
    Module m;
    if (open_module(rq.code, rq.first, rq.last, analog, m) != 0) return -1;
    if (values == nullptr) return platform::fail(platform::kErrorInvalidArgument);
    if (rq.lock && shm_Lock(m.data) != 0) return -1;
    Notices notices{rq.names};
    std::memcpy(notices.code, m.layout.code, 2);
    int batch_error = 0;
    if (m.processing == 1) {
        shm_MarkPending(m.data);
        notices.batch = alarm_BeginBatch(m.bytes.data() + qvr::kSectionDataOffset) == 0;
        batch_error = errno;
    }
    for (int n = rq.first; n <= rq.last; ++n) channel(m, n, values[n - rq.first], rq.all, notices);
    if (m.processing == 1) {
        if (notices.batch) alarm_EndBatch();
        if (signal_others)
            shm_SignalOthers(m.data, 0);
        else
            shm_SignalWaiters(m.data, 0);
    } else if (m.owner > 0) {
        slot_SendCode(static_cast<uint32_t>(m.owner), kSlotCodeOutputsWritten);
    }
    if (rq.lock) shm_Unlock(m.data);
    // The values are stored, so the write stands; the delay of its notices is traced and its
    // reason left as the last error.
    if (notices.kept != 0) {
        char what[96];
        std::snprintf(what, sizeof what,
                      "%d notice(s) of a write to %.2s without a batch, kept for its next batch",
                      notices.kept, m.layout.code);
        qvr::alarm_state::trace_lost(what, batch_error);
    }
    return 0;
}

Names own_names() {
    return {platform::computer_name().c_str(), platform::user_name().c_str()};
}

int digital(const Request& rq, const uint32_t* values) {
    return write(rq, values, false, g_digital_signal_others.load(), digital_channel);
}
int analog(const Request& rq, const float* values) {
    return write(rq, values, true, g_analog_signal_others.load(), analog_channel);
}

}  // namespace

int chan_SetDigitalValues(const char* code, int first, int last, const uint32_t* values) {
    return digital({code, first, last, false, true, own_names()}, values);
}
int chan_SetDigitalValuesAs(const char* code, int first, int last, const uint32_t* values,
                            const char* computer, const char* user) {
    return digital({code, first, last, false, true, {computer, user}}, values);
}
int chan_SetDigitalValuesAll(const char* code, int first, int last, const uint32_t* values) {
    return digital({code, first, last, true, true, own_names()}, values);
}
int chan_SetDigitalValuesLocked(const char* code, int first, int last, const uint32_t* values) {
    return digital({code, first, last, false, false, own_names()}, values);
}

int chan_SetAnalogValues(const char* code, int first, int last, const float* values) {
    return analog({code, first, last, false, true, own_names()}, values);
}
int chan_SetAnalogValuesAs(const char* code, int first, int last, const float* values, const char* computer,
                           const char* user) {
    return analog({code, first, last, false, true, {computer, user}}, values);
}
int chan_SetAnalogValuesAll(const char* code, int first, int last, const float* values) {
    return analog({code, first, last, true, true, own_names()}, values);
}
int chan_SetAnalogValuesLocked(const char* code, int first, int last, const float* values) {
    return analog({code, first, last, false, false, own_names()}, values);
}

void chan_SetDigitalSignalOthers(int flag) {
    g_digital_signal_others = flag != 0;
}
void chan_SetAnalogSignalOthers(int flag) {
    g_analog_signal_others = flag != 0;
}
