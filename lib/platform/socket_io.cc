#include "platform/socket_io.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "platform/last_error.h"

namespace platform {
int socket_stream_failure(int error, int broken) {
    if (error == EPIPE || error == ECONNRESET || error == ENOTCONN) return fail(broken);
    return fail(error);
}

int socket_wait(int fd, short events, const Deadline& deadline) {
    for (;;) {
        if (!deadline.is_forever() && deadline.expired()) return fail(kErrorWsaTimedOut);
        pollfd p{fd, events, 0};
        const int n = poll(&p, 1, deadline.remaining_ms());
        if (n > 0) return 0;
        if (n == 0) return fail(kErrorWsaTimedOut);
        if (errno != EINTR) return fail_from_errno();
    }
}

int socket_write_all(int fd, std::span<const std::byte> bytes, const Deadline& deadline, int broken) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (socket_wait(fd, POLLOUT, deadline) != 0) return -1;
            continue;
        }
        return socket_stream_failure(n < 0 ? errno : EPIPE, broken);
    }
    return 0;
}

long socket_read_some(int fd, std::span<std::byte> bytes, const Deadline& deadline, int broken) {
    if (bytes.empty()) return 0;
    for (;;) {
        const ssize_t n = recv(fd, bytes.data(), bytes.size(), 0);
        if (n > 0) return n;
        if (n == 0) return fail(broken);
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return socket_stream_failure(errno, broken);
        if (socket_wait(fd, POLLIN, deadline) != 0) return -1;
    }
}

int socket_read_all(int fd, std::span<std::byte> bytes, const Deadline& deadline, int broken, size_t* got) {
    size_t done = 0;
    int rc = 0;
    while (done < bytes.size()) {
        const long n = socket_read_some(fd, bytes.subspan(done), deadline, broken);
        if (n < 0) {
            rc = -1;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (got != nullptr) *got = done;
    return rc;
}

}  // namespace platform
