#include "tolva_sc/save_timer.h"

#include <algorithm>

namespace tolva {
namespace {

int64_t stamp_ms(const TimeStamp& t) {
    return int64_t{t.seconds} * 1000 + t.milliseconds;
}

TimeStamp add_ms(TimeStamp t, int64_t ms) {
    const int64_t total = stamp_ms(t) + ms;
    const int64_t seconds = total >= 0 ? total / 1000 : -((-total + 999) / 1000);
    t.seconds = static_cast<int32_t>(seconds);
    t.milliseconds = static_cast<int16_t>(total - seconds * 1000);
    return t;
}

}  // namespace

int64_t stamp_difference_ms(const TimeStamp& now, const TimeStamp& then) {
    return stamp_ms(now) - stamp_ms(then);
}

TimeStamp next_grid_instant(const TimeStamp& now, const TimeStamp& anchor, int32_t period_ms) {
    if (period_ms <= 0) return now;
    const int64_t period = period_ms;
    const int64_t elapsed = std::max<int64_t>(0, stamp_difference_ms(now, anchor));
    return add_ms(now, period - elapsed % period);
}

void SaveTimer::start(const TimeStamp& now, int32_t period_ms) {
    period_ = period_ms;
    next_ = next_grid_instant(now, now, period_ms);
}

SaveTimer::Step SaveTimer::step(const TimeStamp& now) {
    if (period_ <= 0) return {true, true, 0};
    const int64_t period = period_;
    const int64_t d = stamp_difference_ms(now, next_);
    // Not due yet: wait for a command, but no longer than until the save is due.
    if (d < 0 && d >= -period) return {false, true, static_cast<uint32_t>(-d)};
    if (d < -period || d > 2 * period) {
        next_ = next_grid_instant(now, now, period_);
    } else {
        while (stamp_difference_ms(next_, now) <= 0) next_ = add_ms(next_, period);
    }
    return {true, false, 0};
}

}  // namespace tolva
