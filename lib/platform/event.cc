#include "platform/event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/last_error.h"
#include "platform/monotonic_clock.h"

namespace platform {

std::optional<Event> Event::create(bool initially_set) {
    const int fd = eventfd(initially_set ? 1 : 0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (fd < 0) {
        fail_from_errno();
        return std::nullopt;
    }
    return Event(fd);
}

Event::~Event() {
    if (fd_ >= 0) close(fd_);
}

Event::Event(Event&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

Event& Event::operator=(Event&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void Event::set() const {
    const uint64_t one = 1;
    // A full counter (never reached in practice) still leaves the event set.
    [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
}

void Event::reset() const {
    uint64_t value = 0;
    [[maybe_unused]] ssize_t n = read(fd_, &value, sizeof value);
}

bool Event::is_set() const {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

bool Event::wait(int timeout_ms) const {
    const int fds[1] = {fd_};
    return wait_any_readable(fds, timeout_ms) == 0;
}

int wait_any_readable(std::span<const int> fds, int timeout_ms) {
    std::vector<pollfd> polls;
    polls.reserve(fds.size());
    for (int fd : fds) polls.push_back(pollfd{fd, POLLIN, 0});
    const Deadline deadline = timeout_ms < 0 ? Deadline::forever() : Deadline::after_ms(timeout_ms);
    for (;;) {
        const int n = poll(polls.data(), polls.size(), deadline.remaining_ms());
        if (n > 0) {
            for (size_t i = 0; i < polls.size(); ++i) {
                if ((polls[i].revents & POLLNVAL) != 0) return fail(EBADF);
                if (polls[i].revents != 0) return static_cast<int>(i);
            }
        }
        if (n == 0) {
            if (deadline.expired()) return fail(ETIMEDOUT);
            continue;  // poll rounds down; wait out the rest
        }
        if (n < 0 && errno != EINTR) return fail_from_errno();
    }
}

}  // namespace platform
