#include "platform/monotonic_clock.h"

#include <time.h>

#include <algorithm>
#include <climits>

namespace platform {

int64_t monotonic_ns() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

int64_t monotonic_us() noexcept {
    return monotonic_ns() / 1000;
}

int64_t monotonic_ms() noexcept {
    return monotonic_ns() / 1'000'000;
}

Deadline Deadline::after_ms(int64_t ms) noexcept {
    return Deadline(monotonic_ns() + std::max<int64_t>(ms, 0) * 1'000'000);
}

bool Deadline::expired() const noexcept {
    return !is_forever() && monotonic_ns() >= at_ns_;
}

int Deadline::remaining_ms() const noexcept {
    if (is_forever()) return -1;
    const int64_t left_ns = at_ns_ - monotonic_ns();
    if (left_ns <= 0) return 0;
    return static_cast<int>(std::min<int64_t>((left_ns + 999'999) / 1'000'000, INT_MAX));
}

}  // namespace platform
