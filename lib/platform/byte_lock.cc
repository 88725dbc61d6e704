#include "platform/byte_lock.h"

#include <fcntl.h>

#include <cerrno>
#include <limits>
#include <utility>

#include "platform/last_error.h"

namespace platform {
namespace {

constexpr std::uint64_t kMaxOffset = static_cast<std::uint64_t>(std::numeric_limits<off_t>::max());

bool range_fits(std::uint64_t offset, std::uint64_t length) {
    return offset <= kMaxOffset && length <= kMaxOffset - offset;
}

struct flock range_of(short type, std::uint64_t offset, std::uint64_t length) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = static_cast<off_t>(offset);
    range.l_len = static_cast<off_t>(length);
    range.l_pid = 0;  // OFD requests must carry 0
    return range;
}

int set_lock(int fd, short type, std::uint64_t offset) {
    if (fd < 0) return fail(EBADF);
    if (!range_fits(offset, 1)) return fail(kErrorInvalidParameter);
    struct flock range = range_of(type, offset, 1);
    for (;;) {
        if (fcntl(fd, F_OFD_SETLK, &range) == 0) return 0;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EACCES) return fail(kErrorLockViolation);
        return fail_from_errno();
    }
}

}  // namespace

int lock_byte(int fd, std::uint64_t offset) { return set_lock(fd, F_WRLCK, offset); }

int unlock_byte(int fd, std::uint64_t offset) { return set_lock(fd, F_UNLCK, offset); }

int probe_range(int fd, std::uint64_t offset, std::uint64_t length) {
    if (fd < 0) return fail(EBADF);
    if (length == 0) return 0;
    if (!range_fits(offset, length)) return fail(kErrorInvalidParameter);
    // A read lock conflicts with any write lock of another description, which is what the
    // writer holds; F_OFD_GETLK ignores the caller's own description.
    struct flock range = range_of(F_RDLCK, offset, length);
    for (;;) {
        if (fcntl(fd, F_OFD_GETLK, &range) == 0) break;
        if (errno != EINTR) return fail_from_errno();
    }
    if (range.l_type != F_UNLCK) return fail(kErrorLockViolation);
    return 0;
}

ByteLock::ByteLock(ByteLock&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), offset_(std::exchange(other.offset_, 0)) {}

ByteLock& ByteLock::operator=(ByteLock&& other) noexcept {
    if (this != &other) {
        unlock();
        fd_ = std::exchange(other.fd_, -1);
        offset_ = std::exchange(other.offset_, 0);
    }
    return *this;
}

int ByteLock::lock(int fd, std::uint64_t offset) {
    if (held() && fd == fd_ && offset == offset_) return 0;
    if (lock_byte(fd, offset) != 0) return -1;
    if (held()) {
        const int saved = errno;
        unlock();
        errno = saved;
    }
    fd_ = fd;
    offset_ = offset;
    return 0;
}

int ByteLock::unlock() noexcept {
    if (!held()) return 0;
    const int fd = std::exchange(fd_, -1);
    const std::uint64_t offset = std::exchange(offset_, 0);
    return unlock_byte(fd, offset);
}

}  // namespace platform
