// Waiter slots, one-shot signal requests and the pending count of data modules.
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "platform/last_error.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"
#include "qvr/ipc/slot_internal.h"

namespace {

uint32_t own_pid() {
    static const uint32_t pid = static_cast<uint32_t>(getpid());
    return pid;
}

// Holds a section's lock for one operation; `bytes` is the whole mapping.
class SectionLock {
  public:
    explicit SectionLock(void* section) : section_(section) {
        if (shm_Lock(section) == 0) {
            locked_ = true;
            bytes_ = qvr::section_bytes(section);
        }
    }
    ~SectionLock() { unlock(); }
    SectionLock(const SectionLock&) = delete;
    SectionLock& operator=(const SectionLock&) = delete;

    bool locked() const { return locked_; }
    std::span<std::byte> bytes() const { return bytes_; }
    // Keeps the reason of a failure that is being returned.
    void unlock() {
        if (!locked_) return;
        const int saved_errno = errno;
        const int saved_last_error = platform::last_error();
        shm_Unlock(section_);
        platform::set_last_error(saved_last_error);
        errno = saved_errno;
        locked_ = false;
    }

  private:
    void* section_;
    bool locked_ = false;
    std::span<std::byte> bytes_;
};

void decrement_pending(std::span<std::byte> bytes) {
    const uint16_t pending = qvr::load_u16(bytes, qvr::kOffPending);
    if (pending != 0) qvr::store_u16(bytes, qvr::kOffPending, static_cast<uint16_t>(pending - 1));
}

int signal(void* section, int n, bool skip_own) {
    if (n < 0 || n > qvr::kWaiterSlotCount) return platform::fail(platform::kErrorBadNetName);
    SectionLock lock(section);
    if (!lock.locked()) return -1;
    std::vector<qvr::CodeToSend> codes;
    // A section whose header describes no areas inside its mapping has nobody to wake.
    if (const auto areas = qvr::signal_areas(lock.bytes())) {
        qvr::signal_entries(lock.bytes(), *areas, n, skip_own ? std::optional(own_pid()) : std::nullopt,
                            codes);
    }
    decrement_pending(lock.bytes());
    // Sent once the lock is released, after the state they announce, so a watcher that does
    // not read (each costs up to the send time-out) holds up no writer of the section. In
    // the order collected, so each process gets its codes in order; delivery is best effort.
    lock.unlock();
    for (const auto& c : codes) {
        if (c.pid != 0) slot_SendCode(c.pid, c.code);
    }
    return 0;
}

}  // namespace

int shm_SignalWaiters(void* section, int slot) {
    return signal(section, slot, false);
}

int shm_SignalOthers(void* section, int slot) {
    return signal(section, slot, true);
}

int shm_QueueRequest(void* section, uint32_t code) {
    if (code > 0xFFFF) return platform::fail(platform::kErrorInvalidParameter);
    SectionLock lock(section);
    if (!lock.locked()) return -1;
    const auto areas = qvr::signal_areas(lock.bytes());
    if (!areas) return platform::fail(platform::kErrorBadNetName);
    if (!qvr::requests_can_hold(*areas, own_pid())) return platform::fail(EOVERFLOW);
    if (!qvr::queue_request(lock.bytes(), *areas, own_pid(), static_cast<uint16_t>(code)))
        return platform::fail(ENOSPC);
    return 0;
}

int shm_CancelRequest(void* section) {
    SectionLock lock(section);
    if (!lock.locked()) return -1;
    const auto areas = qvr::signal_areas(lock.bytes());
    if (!areas) return platform::fail(platform::kErrorBadNetName);
    if (!qvr::cancel_request(lock.bytes(), *areas, own_pid())) return platform::fail(ENOENT);
    return 0;
}

int shm_ResetWaiters(void* section, int slot) {
    if (slot < 0 || slot > qvr::kWaiterSlotCount) return platform::fail(platform::kErrorBadNetName);
    SectionLock lock(section);
    if (!lock.locked()) return -1;
    const auto areas = qvr::signal_areas(lock.bytes());
    if (!areas) return platform::fail(platform::kErrorBadNetName);
    if (slot != 0 && !qvr::waiters_can_hold(*areas, own_pid())) return platform::fail(EOVERFLOW);
    const int64_t previous = qvr::reset_waiters(lock.bytes(), *areas, slot, own_pid());
    if (previous < 0) return platform::fail(platform::kErrorBadNetName);
    decrement_pending(lock.bytes());
    return static_cast<int>(previous);
}

int shm_WaitSignal(void* section, int slot) {
    if (slot < 1 || slot > qvr::kWaiterSlotCount) return platform::fail(platform::kErrorBadNetName);
    // Only a code on the process slot ends the wait.
    qvr::slot_internal::CodeWait wait;
    if (!wait.admitted()) return platform::fail(wait.refusal());
    int rc = 0;
    int error = 0;
    {
        SectionLock lock(section);
        if (!lock.locked()) return -1;
        const auto areas = qvr::signal_areas(lock.bytes());
        if (!areas) return platform::fail(platform::kErrorBadNetName);
        if (!qvr::waiters_can_hold(*areas, own_pid())) return platform::fail(EOVERFLOW);
        const auto claim = qvr::claim_waiter(lock.bytes(), *areas, slot, own_pid());
        if (!claim || *claim == qvr::ClaimResult::kTakenByOther)
            return platform::fail(platform::kErrorBadNetName);
        if (*claim == qvr::ClaimResult::kSignalled) return 0;
        // Started while the lock is held, so a signal sent once it is released cannot be
        // missed; a code held back until commands are released still ends the wait.
        wait.start_from_now();
        lock.unlock();
        rc = wait.wait(0, qvr::slot_internal::held_handles());
        error = errno;
        // Left before the relock: a thread closing the slot may hold this section's lock.
        wait.leave();
    }
    SectionLock relock(section);
    if (relock.locked()) {
        if (const auto now = qvr::signal_areas(relock.bytes()))
            qvr::clear_waiting(relock.bytes(), *now, slot, own_pid());
    }
    if (rc != 0) return platform::fail(error);
    return 0;
}

int shm_WaitIfPending(void* section, int slot) {
    bool pending = false;
    {
        SectionLock lock(section);
        if (!lock.locked()) return -1;
        pending = qvr::load_u16(lock.bytes(), qvr::kOffPending) != 0;
    }
    return pending ? shm_WaitSignal(section, slot) : 0;
}
