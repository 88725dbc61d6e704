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

void carry_over(bool output, uint32_t& w, uint32_t& m) {
    if (output) {
        m = (m & ~sb::kCarried) | (w & sb::kCarried);
    } else {
        w = (w & ~sb::kCarried) | (m & sb::kCarried);
    }
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

bool finite(float v) {
    return std::isfinite(v);
}

}  // namespace

bool judge_digital(int index, const qvr::ChannelRecord& r, bool initial, bool output, uint32_t& w, uint32_t& m,
                   NoticeSink& notices) {
    const qvr::ChannelFlags& f = r.head.Flags;
    const qvr::DigitalChannel& d = r.digital;
    carry_over(output, w, m);
    if (!f.test(DigitalFlag::Enable)) {
        w |= sb::kFailed;
        if (!initial) return false;
    }
    w &= ~sb::kAnalog;

    const bool w_failed = (w & sb::kFailed) != 0;
    const bool m_failed = (m & sb::kFailed) != 0;
    if (!initial && !m_failed && !w_failed && ((w ^ m) & sb::kState) == 0) {
        w = m;
        return false;
    }
    // An initial scan goes on, so a channel that stays failed through an open is announced.
    if (!initial && m_failed && w_failed) {
        w = m;
        return false;
    }
    const bool changed = !w_failed || !m_failed;

    const bool state = (w & sb::kState) != 0;
    if (f.test(DigitalFlag::AlarmEnable) && !w_failed && state == f.test(DigitalFlag::AlarmState)) {
        w = alarm_on(w, m, state);
    } else if (f.test(DigitalFlag::Enable) && f.test(DigitalFlag::ErrorAlarmEnable) && w_failed) {
        w = alarm_on(w, m, false);
    } else {
        w = alarm_off(w);
    }

    w &= ~sb::kEvent;
    if (f.test(DigitalFlag::EventEnable) && !w_failed && state == f.test(DigitalFlag::EventState))
        w = with(w | sb::kEvent, sb::kEventHigh, state);

    const AlarmCause cause = w_failed ? AlarmCause{d.ErrorAlarmPriority, d.ErrorAlarmDelay,
                                                   f.test(DigitalFlag::ErrorAlarmDriveCommon)}
                                      : AlarmCause{d.AlarmPriority, d.AlarmDelay, f.test(DigitalFlag::AlarmDriveCommon)};
    alarm_notices(index, w, m, cause, state ? 1.0f : 0.0f, notices);
    event_notices(index, w, m, initial, f.test(DigitalFlag::EventEnable), notices);
    return changed;
}

bool judge_analog(int index, const qvr::ChannelRecord& r, const AnalogJudge& how, uint32_t& w, uint32_t& m,
                  float& v, float& last_significant, NoticeSink& notices) {
    const qvr::ChannelFlags& f = r.head.Flags;
    const qvr::AnalogChannel& a = r.analog;
    carry_over(how.kind == kind::kAO, w, m);
    if (!f.test(AnalogFlag::Enable)) {
        w |= sb::kFailed;
        if (!how.initial) return false;
    }
    w |= sb::kAnalog;

    if ((w & sb::kFailed) == 0 && !finite(v)) w |= sb::kFailed;
    if ((w & sb::kFailed) == 0) {
        if (f.test(AnalogFlag::ScalingEnable) && how.kind != kind::kAO)
            v = static_cast<float>(
                num_AddChecked(num_MultiplyChecked(v, a.Gain), static_cast<double>(a.Offset)));
        if (how.kind == kind::kAI && f.test(AnalogFlag::ReferenceEnable))
            v = static_cast<float>(num_SubtractChecked(v, how.reference));
        // A gain, offset or reference that is not a number (a damaged file) makes none of
        // the reading: the channel fails rather than publish it as good.
        if (!finite(v)) w |= sb::kFailed;
    }
    const bool failed = (w & sb::kFailed) != 0;

    // Significant change.
    if (!f.test(AnalogFlag::SigChangeEnable) || failed || is_no_significant_value(last_significant)) {
        w &= ~sb::kState;
        if (!failed && is_no_significant_value(last_significant)) last_significant = v;
    } else {
        const bool significant = std::fabs(v - last_significant) >= std::fabs(a.SigChangeValue);
        w = with(w, sb::kState, significant);
        if (significant) {
            notices.trigger_level(index);
            last_significant = v;
        }
    }

    const bool m_failed = (m & sb::kFailed) != 0;
    if (!how.initial) {
        if (m_failed && failed) return false;
        if (!m_failed && !failed && v == how.published) return false;
    }

    bool changed = false;
    const bool high_warning = f.test(AnalogFlag::HighWarningEnable) && f.test(AnalogFlag::HighAlarmEnable);
    const bool low_warning = f.test(AnalogFlag::LowWarningEnable) && f.test(AnalogFlag::LowAlarmEnable);
    if (failed) {
        w &= ~sb::kWarning;
    } else {
        changed = true;
        const bool held_high = f.test(AnalogFlag::HighAlarmDeadbandEnable) && (m & sb::kWarning) != 0 &&
                               (m & sb::kWarningHigh) != 0 &&
                               v >= a.HighWarningLimit - (a.HighAlarmLimit - a.HighAlarmDeadband);
        const bool held_low = f.test(AnalogFlag::LowAlarmDeadbandEnable) && (m & sb::kWarning) != 0 &&
                              (m & sb::kWarningHigh) == 0 &&
                              v <= a.LowWarningLimit + (a.LowAlarmDeadband - a.LowAlarmLimit);
        if ((high_warning && v >= a.HighWarningLimit) || held_high) {
            w |= sb::kWarning | sb::kWarningHigh;
        } else {
            w &= ~sb::kWarning;
            if ((low_warning && v <= a.LowWarningLimit) || held_low) w = (w | sb::kWarning) & ~sb::kWarningHigh;
        }
    }

    // Warning notices.
    const uint32_t diff = w ^ m;
    const bool warning_changed =
        (diff & sb::kWarning) != 0 || ((w & sb::kWarning) != 0 && (diff & sb::kWarningHigh) != 0);
    if (how.initial || ((high_warning || low_warning) && warning_changed)) {
        if ((m & sb::kWarning) != 0) notices.post_warning_event(index, m, &v);
        if ((w & sb::kWarning) != 0) {
            const int priority = (w & sb::kWarningHigh) != 0 ? a.HighAlarmPriority : a.LowAlarmPriority;
            notices.post_warning(index, w, priority, failed ? nullptr : &v);
        }
    }

    // Alarms.
    if (failed) {
        if (f.test(AnalogFlag::Enable) && f.test(AnalogFlag::ErrorAlarmEnable))
            w = alarm_on(w, m, false);
        else
            w = alarm_off(w);
    } else if (f.test(AnalogFlag::HighAlarmEnable) &&
               (v >= a.HighAlarmLimit || (f.test(AnalogFlag::HighAlarmDeadbandEnable) &&
                                          (m & (sb::kAlarm | sb::kAlarmHigh)) == (sb::kAlarm | sb::kAlarmHigh) &&
                                          v >= a.HighAlarmDeadband))) {
        w = alarm_on(w, m, true);
    } else if (f.test(AnalogFlag::LowAlarmEnable)) {
        const bool held = f.test(AnalogFlag::LowAlarmDeadbandEnable) && (m & sb::kAlarm) != 0 &&
                          (m & sb::kAlarmHigh) == 0 && v <= a.LowAlarmDeadband;
        w = (v <= a.LowAlarmLimit || held) ? alarm_on(w, m, false) : alarm_off(w);
    } else {
        w = alarm_off(w);
    }

    // Events.
    w &= ~sb::kEvent;
    if (f.test(AnalogFlag::EventEnable) && !failed) {
        if (v >= a.HighEventLimit)
            w |= sb::kEvent | sb::kEventHigh;
        else if (v <= a.LowEventLimit)
            w = (w | sb::kEvent) & ~sb::kEventHigh;
    }

    AlarmCause cause{a.LowAlarmPriority, a.LowAlarmDelay, f.test(AnalogFlag::LowAlarmDriveCommon)};
    if (failed)
        cause = {a.ErrorAlarmPriority, a.ErrorAlarmDelay, f.test(AnalogFlag::ErrorAlarmDriveCommon)};
    else if ((w & sb::kAlarmHigh) != 0)
        cause = {a.HighAlarmPriority, a.HighAlarmDelay, f.test(AnalogFlag::HighAlarmDriveCommon)};
    alarm_notices(index, w, m, cause, v, notices);
    event_notices(index, w, m, how.initial, f.test(AnalogFlag::EventEnable), notices);
    return changed;
}

}  // namespace tolva
