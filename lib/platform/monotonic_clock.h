#pragma once
// The clock for budgets and time-outs: CLOCK_MONOTONIC, never the wall clock.
#include <cstdint>

namespace platform {

int64_t monotonic_ns() noexcept;
int64_t monotonic_us() noexcept;
int64_t monotonic_ms() noexcept;

// A point in monotonic time after which a wait gives up; "forever" never expires.
class Deadline {
  public:
    static Deadline after_ms(int64_t ms) noexcept;
    static Deadline forever() noexcept { return Deadline(-1); }

    bool is_forever() const noexcept { return at_ns_ < 0; }
    bool expired() const noexcept;
    // Milliseconds left, rounded up so a wait never ends early; -1 for forever, 0 when expired.
    int remaining_ms() const noexcept;

  private:
    explicit Deadline(int64_t at_ns) noexcept : at_ns_(at_ns) {}
    int64_t at_ns_;  // monotonic nanoseconds of expiry, -1 for forever
};

}  // namespace platform
