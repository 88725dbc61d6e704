#include "controller/interface_module.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <string>

#include "controller/module_link.h"
#include "platform/last_error.h"
#include "platform/monotonic_clock.h"

namespace sim_controller {

InterfaceModule::InterfaceModule(ModuleOptions options)
    : options_(options), shared_(std::make_shared<Shared>()) {
    shared_->log_limit = options.log_limit;
}

InterfaceModule::~InterfaceModule() {
    stop();
}

void InterfaceModule::add_station(uint8_t station, StationHandler handler) {
    std::lock_guard lock(shared_->mutex);
    shared_->stations[station] = std::make_shared<const StationHandler>(std::move(handler));
}

void InterfaceModule::remove_station(uint8_t station) {
    std::lock_guard lock(shared_->mutex);
    shared_->stations.erase(station);
}

void InterfaceModule::add_fault(uint64_t frame, FaultAction action) {
    std::lock_guard lock(shared_->mutex);
    shared_->faults.emplace(frame, std::move(action));
}

void InterfaceModule::set_random_faults(const RandomFaults& faults) {
    std::lock_guard lock(shared_->mutex);
    shared_->random = faults;
    ++shared_->random_version;
}

int InterfaceModule::start(int fd) {
    if (fd < 0) return platform::fail(EBADF);
    if (thread_.joinable()) {
        ::close(fd);
        return platform::fail(EBUSY);
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        const int error = errno;
        ::close(fd);
        return platform::fail(error);
    }
    wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd_ < 0) {
        const int error = errno;
        ::close(fd);
        return platform::fail(error);
    }
    {
        std::lock_guard lock(shared_->mutex);
        shared_->running = true;
    }
    thread_ = std::thread([this, fd] { run(fd); });
    return 0;
}

void InterfaceModule::stop() {
    if (!thread_.joinable()) return;
    const uint64_t one = 1;
    (void)!::write(wake_fd_, &one, sizeof one);
    thread_.join();
    ::close(wake_fd_);
    wake_fd_ = -1;
}

bool InterfaceModule::running() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->running;
}

std::vector<LogEntry> InterfaceModule::log() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->log;
}

void InterfaceModule::clear_log() {
    std::lock_guard lock(shared_->mutex);
    shared_->log.clear();
}

bool InterfaceModule::wait_for_log(const std::function<bool(const std::vector<LogEntry>&)>& done,
                                   std::chrono::milliseconds timeout) const {
    std::unique_lock lock(shared_->mutex);
    return shared_->changed.wait_for(lock, timeout, [&] {
        return done(shared_->log) || !shared_->running;
    }) && done(shared_->log);
}

void InterfaceModule::set_log_observer(std::function<void(const LogEntry&)> observer) {
    std::lock_guard lock(shared_->mutex);
    shared_->observer = std::move(observer);
}

LinkStats InterfaceModule::stats() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->stats;
}

void InterfaceModule::run(int fd) {
    ModuleLink link(options_, *shared_);
    std::array<uint8_t, 4096> buffer{};
    bool blocked = false;  // the last write found the line's buffer full
    std::string closed_why;
    while (closed_why.empty()) {
        int64_t now = platform::monotonic_ns();
        link.tick(now);
        if (link.close_requested()) {
            closed_why = "closed by the fault script";
            break;
        }
        blocked = false;
        while (true) {
            const std::span<const uint8_t> bytes = link.writable(now);
            if (bytes.empty()) break;
            const ssize_t n = ::write(fd, bytes.data(), bytes.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) {
                blocked = true;
                break;
            }
            if (n <= 0) {
                closed_why = std::string("write failed: ") + std::strerror(errno);
                break;
            }
            now = platform::monotonic_ns();
            link.wrote(static_cast<size_t>(n), now);
            link.tick(now);
        }
        if (!closed_why.empty()) break;

        const int64_t due = link.next_due();
        std::array<pollfd, 2> fds{{{fd, POLLIN, 0}, {wake_fd_, POLLIN, 0}}};
        if (blocked) fds[0].events |= POLLOUT;
        timespec wait{};
        timespec* timeout = nullptr;
        if (due >= 0) {
            const int64_t left = std::max<int64_t>(due - platform::monotonic_ns(), 0);
            wait.tv_sec = static_cast<time_t>(left / 1'000'000'000);
            wait.tv_nsec = static_cast<long>(left % 1'000'000'000);
            timeout = &wait;
        } else if (link.output_pending() && !blocked) {
            timeout = &wait;  // unpaced output waits for nothing
        }
        const int rc = ::ppoll(fds.data(), fds.size(), timeout, nullptr);
        if (rc < 0) {
            if (errno == EINTR) continue;
            closed_why = std::string("poll failed: ") + std::strerror(errno);
            break;
        }
        if (fds[1].revents != 0) break;
        if ((fds[0].revents & POLLIN) != 0) {
            while (true) {
                const ssize_t n = ::read(fd, buffer.data(), buffer.size());
                if (n > 0) {
                    link.bytes_read(std::span<const uint8_t>(buffer.data(), static_cast<size_t>(n)),
                                    platform::monotonic_ns());
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                if (n < 0 && errno == EAGAIN) break;
                closed_why = n == 0 ? "end of line" : std::string("read failed: ") + std::strerror(errno);
                break;
            }
        } else if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            closed_why = "line hung up";
        }
    }
    ::close(fd);
    link.line_closed(closed_why.empty() ? "stopped" : closed_why);
    {
        std::lock_guard lock(shared_->mutex);
        shared_->running = false;
    }
    shared_->changed.notify_all();
}

}  // namespace sim_controller
