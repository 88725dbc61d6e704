#pragma once
// When the scanner saves its output values: on a grid of SaveRate milliseconds, checked at
// every wake-up of the command loop. All arithmetic is in 64 bits, so long periods and
// clocks set back or forward cannot overflow it or make it loop.
#include <cstdint>
#include <optional>

#include "qvr/time/timestamp.h"

namespace tolva {

// The next instant of a grid of `period_ms` anchored at `anchor`, after `now`: now plus what
// is left of the current period (a whole period when now lies on the grid or before the
// anchor). The period 0 (or less) gives `now`.
TimeStamp next_grid_instant(const TimeStamp& now, const TimeStamp& anchor, int32_t period_ms);

// now - then in milliseconds.
int64_t stamp_difference_ms(const TimeStamp& now, const TimeStamp& then);

class SaveTimer {
  public:
    // The grid starts at `now`: the first save lies a period later.
    void start(const TimeStamp& now, int32_t period_ms);

    struct Step {
        bool save = false;     // save the outputs now
        bool wait = false;     // then wait for a command ...
        uint32_t wait_ms = 0;  // ... at most this long (0: no time-out)
    };
    // What the loop does at a wake-up with no request pending. A due save moves the next
    // save time on: by whole periods while the clock kept its pace, else a period from now.
    // A period of 0 or less saves at every wake-up and then waits for the next command.
    Step step(const TimeStamp& now);

    const TimeStamp& next() const { return next_; }
    int32_t period_ms() const { return period_; }

  private:
    TimeStamp next_{};
    int32_t period_ = 0;
};

}  // namespace tolva
