#pragma once
// Advisory locks of byte ranges that belong to an open file description (OFD locks), not to
// the process: a classic fcntl lock would vanish as soon as any other descriptor of the same
// file closes in this process. A writer marks the end of its data by locking one byte; readers
// probe the range they are about to read and back off while another description holds it.
// Results are 0 / -1 with the reason set by platform::fail.
#include <cstdint>

namespace platform {

// Takes an exclusive lock of the byte at `offset` for the description behind `fd`, without
// waiting. -1 with ERROR_LOCK_VIOLATION (33) when another description holds it; taking it
// again through the same description succeeds.
int lock_byte(int fd, std::uint64_t offset);
// Gives the byte at `offset` free again (0 also when it was not locked).
int unlock_byte(int fd, std::uint64_t offset);

// 0 when no other open file description holds an exclusive lock (the kind lock_byte takes)
// that overlaps `length` bytes from `offset` ("locked by someone else"); -1 with
// ERROR_LOCK_VIOLATION (33) when one does. A length of 0 probes nothing and succeeds. Locks
// of `fd`'s own description never count.
int probe_range(int fd, std::uint64_t offset, std::uint64_t length);

// Owns the lock of one byte: given free on destruction or by unlock().
class ByteLock {
  public:
    ByteLock() noexcept = default;
    ByteLock(ByteLock&& other) noexcept;
    ByteLock& operator=(ByteLock&& other) noexcept;
    ByteLock(const ByteLock&) = delete;
    ByteLock& operator=(const ByteLock&) = delete;
    ~ByteLock() { unlock(); }

    // Locks the byte at `offset` of `fd` (which must outlive the lock), giving up the one
    // held before only when the new one is taken. 0 / -1 as lock_byte.
    int lock(int fd, std::uint64_t offset);
    // Gives the byte free; 0 when nothing was held.
    int unlock() noexcept;

    bool held() const noexcept { return fd_ >= 0; }
    std::uint64_t offset() const noexcept { return offset_; }

  private:
    int fd_ = -1;
    std::uint64_t offset_ = 0;
};

}  // namespace platform
