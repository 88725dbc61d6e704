#pragma once
// Exclusive flocks that processes and threads take in turn. Polling a lock alone is unfair:
// a process that takes it again the moment it gives it free finds it free every time, and a
// waiter that looks every few milliseconds never does, until its wait runs out while others
// are served. So takers first pass a turn, the exclusive flock of a folder beside the lock,
// which they hold only until they hold the lock: while a waiter holds the turn, nobody else
// can take the lock before it. The lock alone is what excludes; the turn only sets the order.
#include <string>

#include "platform/monotonic_clock.h"
#include "platform/unique_fd.h"

namespace platform {

// Takes an exclusive flock of `fd`, polling until `deadline`. 0, or -1 with the reason set
// by platform::fail (kErrorTimeout, 1460, when the wait ran out).
int wait_for_flock(int fd, const Deadline& deadline);

// The turn at a lock, held from take() until the lock is held (release() or destruction).
class LockTurn {
  public:
    // Waits for the turn of `folder` until `deadline`, but no longer than a few seconds:
    // a turn that is not had by then (its folder held for long by a lock of another kind,
    // or by this very thread) is given up, and so is one whose folder cannot be opened. The
    // caller then polls the lock without a turn; it never fails for want of one.
    static LockTurn take(const std::string& folder, const Deadline& deadline);

    bool held() const noexcept { return fd_.valid(); }
    void release() noexcept { fd_.reset(); }

  private:
    UniqueFd fd_;
};

}  // namespace platform
