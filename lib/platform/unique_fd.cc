#include "platform/unique_fd.h"

#include <unistd.h>

#include <cerrno>

namespace platform {

void UniqueFd::reset(int fd) noexcept {
    if (fd_ >= 0 && fd_ != fd) {
        const int saved = errno;
        ::close(fd_);
        errno = saved;
    }
    fd_ = fd;
}

int UniqueFd::close() noexcept {
    if (fd_ < 0) return 0;
    // Linux frees the descriptor even when close reports an error: never retry it.
    return ::close(std::exchange(fd_, -1));
}

}  // namespace platform
