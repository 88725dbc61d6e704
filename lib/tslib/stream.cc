#include "tslib/stream.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr std::size_t kFirstSize = 1000;

bool is_socket(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
}

}  // namespace

int stream_print_new_text(char** out, const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    const int r = stream_vprint_new_text(out, fmt, args);
    va_end(args);
    return r;
}

int stream_vprint_new_text(char** out, const char* fmt, va_list args) {
    *out = nullptr;
    std::size_t size = kFirstSize;
    for (;;) {
        auto* buf = static_cast<char*>(std::malloc(size));
        if (buf == nullptr) {
            errno = ENOMEM;
            return -1;
        }
        va_list copy;
        va_copy(copy, args);
        const int len = std::vsnprintf(buf, size, fmt, copy);
        va_end(copy);
        if (len < 0) {
            const int saved = errno != 0 ? errno : EINVAL;
            std::free(buf);
            errno = saved;
            return -1;
        }
        if (static_cast<std::size_t>(len) < size) {
            *out = buf;
            return len;
        }
        std::free(buf);
        size = static_cast<std::size_t>(len) + 1;
    }
}

int stream_fd_close(int fd) {
    return close(fd);
}

ssize_t stream_fd_read(int fd, void* buf, std::size_t len) {
    const bool sock = is_socket(fd);
    for (;;) {
        const ssize_t n = sock ? recv(fd, buf, len, 0) : read(fd, buf, len);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (sock && errno == ECONNRESET) return 0;
        return -1;
    }
}

ssize_t stream_fd_write(int fd, const void* buf, std::size_t len) {
    const bool sock = is_socket(fd);
    for (;;) {
        const ssize_t n = sock ? send(fd, buf, len, MSG_NOSIGNAL) : write(fd, buf, len);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        return -1;
    }
}

int stream_fd_truncate(int fd, off_t length) {
    for (;;) {
        if (ftruncate(fd, length) == 0) return 0;
        if (errno != EINTR) return -1;
    }
}
