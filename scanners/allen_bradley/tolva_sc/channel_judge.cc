#include "tolva_sc/channel_judge.h"

#include <cmath>

#include "qvr/util/num.h"
#include "tolva_sc/kind_handlers.h"

namespace tolva {

using qvr::AnalogFlag;
using qvr::DigitalFlag;
namespace sb = status_bit;

namespace {

uint32_t with(uint32_t word, uint32_t bits, bool on) {
    return on ? (word | bits) : (word & ~bits);
}

void carry_over(bool output, StatusWords words) {
    uint32_t& to = output ? words.published : words.working;
    const uint32_t from = output ? words.working : words.published;
    to = (to & ~sb::kCarried) | (from & sb::kCarried);
}

// The alarm stands: 0x800, the side, and 0x2 as it was published.
uint32_t alarm_on(uint32_t w, uint32_t m, bool high) {
    w = with(w | sb::kAlarm, sb::kAlarmHigh, high);
    return with(w, sb::kNoDelay, (m & sb::kNoDelay) != 0);
}

uint32_t alarm_off(uint32_t w) {
    return w & ~(sb::kAlarm | sb::kNoDelay);
}

struct AlarmCause {
    int priority;
    int delay;
    bool drive_common;
};

// The alarm notices of both layouts: the end of the old alarm, then the new one.
void alarm_notices(int index, uint32_t& w, uint32_t m, const AlarmCause& cause, float value, NoticeSink& notices) {
    const uint32_t diff = w ^ m;
    const bool changed = (diff & sb::kAlarm) != 0 ||
                         ((w & sb::kAlarm) != 0 && (diff & (sb::kAlarmHigh | sb::kFailed)) != 0);
    if (!changed) return;
    if ((m & sb::kAlarm) != 0) notices.post_event(index, m, &value);
    if ((w & sb::kAlarm) != 0) {
        w = with(w, sb::kNoDelay, cause.delay == 0);
        const bool failed = (w & sb::kFailed) != 0;
        notices.post_alarm(index, w, cause.drive_common, cause.priority, cause.delay, failed ? nullptr : &value);
        if (cause.delay == 0) w |= sb::kPosted;
    }
}

void event_notices(int index, uint32_t w, uint32_t m, bool initial, bool event_enabled, NoticeSink& notices) {
    if (!initial && !event_enabled) return;
    const uint32_t diff = w ^ m;
    const bool changed = (diff & sb::kEvent) != 0 || ((w & sb::kEvent) != 0 && (diff & sb::kEventHigh) != 0);
    if (!changed) return;
    if ((m & sb::kEvent) != 0) notices.trigger_down(index);
    if ((w & sb::kEvent) != 0) notices.trigger_up(index);
}

// ---- Digital channels ----

uint32_t with_digital_alarm(const qvr::ChannelFlags& f, uint32_t w, uint32_t m) {
    const bool failed = (w & sb::kFailed) != 0;
    const bool state = (w & sb::kState) != 0;
    if (f.test(DigitalFlag::AlarmEnable) && !failed && state == f.test(DigitalFlag::AlarmState))
        return alarm_on(w, m, state);
    if (f.test(DigitalFlag::Enable) && f.test(DigitalFlag::ErrorAlarmEnable) && failed)
        return alarm_on(w, m, false);
    return alarm_off(w);
}

uint32_t with_digital_event(const qvr::ChannelFlags& f, uint32_t w) {
    const bool state = (w & sb::kState) != 0;
    w &= ~sb::kEvent;
    if (f.test(DigitalFlag::EventEnable) && (w & sb::kFailed) == 0 &&
        state == f.test(DigitalFlag::EventState))
        w = with(w | sb::kEvent, sb::kEventHigh, state);
    return w;
}

AlarmCause digital_alarm_cause(const qvr::ChannelRecord& r, bool failed) {
    const qvr::ChannelFlags& f = r.head.Flags;
    const qvr::DigitalChannel& d = r.digital;
    if (failed) return {d.ErrorAlarmPriority, d.ErrorAlarmDelay, f.test(DigitalFlag::ErrorAlarmDriveCommon)};
    return {d.AlarmPriority, d.AlarmDelay, f.test(DigitalFlag::AlarmDriveCommon)};
}

// ---- Analog channels ----

// Scaling (inputs) and reference (AI only) applied to a good reading. A reading that is, or
// becomes, no number fails the channel rather than be published as good.
uint32_t settle_reading(const qvr::ChannelRecord& r, const AnalogJudge& how, uint32_t w, float& v) {
    if ((w & sb::kFailed) != 0) return w;
    if (!std::isfinite(v)) return w | sb::kFailed;
    const qvr::ChannelFlags& f = r.head.Flags;
    if (f.test(AnalogFlag::ScalingEnable) && how.kind != kind::kAO)
        v = static_cast<float>(
            num_AddChecked(num_MultiplyChecked(v, r.analog.Gain), static_cast<double>(r.analog.Offset)));
    if (how.kind == kind::kAI && f.test(AnalogFlag::ReferenceEnable))
        v = static_cast<float>(num_SubtractChecked(v, how.reference));
    // A gain, offset or reference that is not a number (a damaged file) makes none of it.
    return std::isfinite(v) ? w : w | sb::kFailed;
}

// Bit 0x1 and a level trigger when a good reading moved by the set amount from the last
// significant value; the first good reading becomes that value.
uint32_t with_significant_change(int index, const qvr::ChannelRecord& r, uint32_t w, AnalogReading reading,
                                 NoticeSink& notices) {
    const bool failed = (w & sb::kFailed) != 0;
    const bool none_yet = is_no_significant_value(reading.last_significant);
    if (!r.head.Flags.test(AnalogFlag::SigChangeEnable) || failed || none_yet) {
        if (!failed && none_yet) reading.last_significant = reading.value;
        return w & ~sb::kState;
    }
    const bool significant =
        std::fabs(reading.value - reading.last_significant) >= std::fabs(r.analog.SigChangeValue);
    if (significant) {
        notices.trigger_level(index);
        reading.last_significant = reading.value;
    }
    return with(w, sb::kState, significant);
}

// What the limit rules read once the reading is settled.
struct SettledAnalog {
    const qvr::ChannelFlags& flags;
    const qvr::AnalogChannel& limits;
    uint32_t published;
    float value;
    bool failed;

    bool on(AnalogFlag f) const { return flags.test(f); }
    // A warning limit counts only with its side's alarm.
    bool high_warning() const { return on(AnalogFlag::HighWarningEnable) && on(AnalogFlag::HighAlarmEnable); }
    bool low_warning() const { return on(AnalogFlag::LowWarningEnable) && on(AnalogFlag::LowAlarmEnable); }
};

// Steady channels are not judged again: failed before and now, or good with the value
// published before.
bool unchanged(const SettledAnalog& c, float published_value) {
    const bool was_failed = (c.published & sb::kFailed) != 0;
    if (was_failed && c.failed) return true;
    return !was_failed && !c.failed && c.value == published_value;
}

// A standing warning holds inside the alarm's deadband, measured from the warning limit.
uint32_t with_warning(const SettledAnalog& c, uint32_t w) {
    if (c.failed) return w & ~sb::kWarning;
    const qvr::AnalogChannel& a = c.limits;
    const float v = c.value;
    const bool warned = (c.published & sb::kWarning) != 0;
    const bool warned_high = (c.published & sb::kWarningHigh) != 0;
    const bool held_high = c.on(AnalogFlag::HighAlarmDeadbandEnable) && warned && warned_high &&
                           v >= a.HighWarningLimit - (a.HighAlarmLimit - a.HighAlarmDeadband);
    const bool held_low = c.on(AnalogFlag::LowAlarmDeadbandEnable) && warned && !warned_high &&
                          v <= a.LowWarningLimit + (a.LowAlarmDeadband - a.LowAlarmLimit);
    if ((c.high_warning() && v >= a.HighWarningLimit) || held_high)
        return w | sb::kWarning | sb::kWarningHigh;
    w &= ~sb::kWarning;
    if ((c.low_warning() && v <= a.LowWarningLimit) || held_low) w = (w | sb::kWarning) & ~sb::kWarningHigh;
    return w;
}

// The end of the old warning, then the new one, with the priority of its side's alarm. The
// initial scan announces them whatever changed.
void warning_notices(int index, const SettledAnalog& c, bool initial, uint32_t w, const float* value,
                     NoticeSink& notices) {
    const uint32_t m = c.published;
    const uint32_t diff = w ^ m;
    const bool changed =
        (diff & sb::kWarning) != 0 || ((w & sb::kWarning) != 0 && (diff & sb::kWarningHigh) != 0);
    if (!initial && !((c.high_warning() || c.low_warning()) && changed)) return;
    if ((m & sb::kWarning) != 0) notices.post_warning_event(index, m, value);
    if ((w & sb::kWarning) != 0) {
        const int priority =
            (w & sb::kWarningHigh) != 0 ? c.limits.HighAlarmPriority : c.limits.LowAlarmPriority;
        notices.post_warning(index, w, priority, c.failed ? nullptr : value);
    }
}

// The error alarm for a failed channel, else the high limit, else the low one; a standing
// alarm holds inside its deadband.
uint32_t with_analog_alarm(const SettledAnalog& c, uint32_t w) {
    const qvr::AnalogChannel& a = c.limits;
    const uint32_t m = c.published;
    const float v = c.value;
    if (c.failed)
        return c.on(AnalogFlag::Enable) && c.on(AnalogFlag::ErrorAlarmEnable) ? alarm_on(w, m, false)
                                                                              : alarm_off(w);
    if (c.on(AnalogFlag::HighAlarmEnable)) {
        const bool held = c.on(AnalogFlag::HighAlarmDeadbandEnable) &&
                          (m & (sb::kAlarm | sb::kAlarmHigh)) == (sb::kAlarm | sb::kAlarmHigh) &&
                          v >= a.HighAlarmDeadband;
        if (v >= a.HighAlarmLimit || held) return alarm_on(w, m, true);
    }
    if (c.on(AnalogFlag::LowAlarmEnable)) {
        const bool held = c.on(AnalogFlag::LowAlarmDeadbandEnable) && (m & sb::kAlarm) != 0 &&
                          (m & sb::kAlarmHigh) == 0 && v <= a.LowAlarmDeadband;
        return v <= a.LowAlarmLimit || held ? alarm_on(w, m, false) : alarm_off(w);
    }
    return alarm_off(w);
}

uint32_t with_analog_event(const SettledAnalog& c, uint32_t w) {
    w &= ~sb::kEvent;
    if (!c.on(AnalogFlag::EventEnable) || c.failed) return w;
    if (c.value >= c.limits.HighEventLimit) return w | sb::kEvent | sb::kEventHigh;
    if (c.value <= c.limits.LowEventLimit) return (w | sb::kEvent) & ~sb::kEventHigh;
    return w;
}

AlarmCause analog_alarm_cause(const SettledAnalog& c, uint32_t w) {
    const qvr::AnalogChannel& a = c.limits;
    if (c.failed) return {a.ErrorAlarmPriority, a.ErrorAlarmDelay, c.on(AnalogFlag::ErrorAlarmDriveCommon)};
    if ((w & sb::kAlarmHigh) != 0)
        return {a.HighAlarmPriority, a.HighAlarmDelay, c.on(AnalogFlag::HighAlarmDriveCommon)};
    return {a.LowAlarmPriority, a.LowAlarmDelay, c.on(AnalogFlag::LowAlarmDriveCommon)};
}

}  // namespace

bool judge_digital(int index, const qvr::ChannelRecord& r, bool initial, bool output, StatusWords words,
                   NoticeSink& notices) {
    uint32_t& w = words.working;
    const uint32_t& m = words.published;
    const qvr::ChannelFlags& f = r.head.Flags;
    carry_over(output, words);
    if (!f.test(DigitalFlag::Enable)) {
        w |= sb::kFailed;
        if (!initial) return false;
    }
    w &= ~sb::kAnalog;

    const bool w_failed = (w & sb::kFailed) != 0;
    const bool m_failed = (m & sb::kFailed) != 0;
    // A steady channel (good in the same state, or failed before and now) takes the published
    // word whole. An initial scan goes on, so a channel that stays failed through an open is
    // announced.
    const bool steady = (!m_failed && !w_failed && ((w ^ m) & sb::kState) == 0) || (m_failed && w_failed);
    if (!initial && steady) {
        w = m;
        return false;
    }

    w = with_digital_alarm(f, w, m);
    w = with_digital_event(f, w);
    alarm_notices(index, w, m, digital_alarm_cause(r, w_failed), (w & sb::kState) != 0 ? 1.0f : 0.0f,
                  notices);
    event_notices(index, w, m, initial, f.test(DigitalFlag::EventEnable), notices);
    return !w_failed || !m_failed;
}

bool judge_analog(int index, const qvr::ChannelRecord& r, const AnalogJudge& how, StatusWords words,
                  AnalogReading reading, NoticeSink& notices) {
    uint32_t& w = words.working;
    const qvr::ChannelFlags& f = r.head.Flags;
    carry_over(how.kind == kind::kAO, words);
    if (!f.test(AnalogFlag::Enable)) {
        w |= sb::kFailed;
        if (!how.initial) return false;
    }
    w |= sb::kAnalog;

    w = settle_reading(r, how, w, reading.value);
    w = with_significant_change(index, r, w, reading, notices);
    const SettledAnalog c{f, r.analog, words.published, reading.value, (w & sb::kFailed) != 0};
    if (!how.initial && unchanged(c, how.published)) return false;

    w = with_warning(c, w);
    warning_notices(index, c, how.initial, w, &reading.value, notices);
    w = with_analog_alarm(c, w);
    w = with_analog_event(c, w);
    alarm_notices(index, w, c.published, analog_alarm_cause(c, w), c.value, notices);
    event_notices(index, w, c.published, how.initial, f.test(AnalogFlag::EventEnable), notices);
    return !c.failed;
}

}  // namespace tolva
