#include "platform/stop_signals.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/last_error.h"

namespace platform {
namespace {

sigset_t stop_set() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    return set;
}

}  // namespace

StopSignals::~StopSignals() {
    stop();
}

int StopSignals::block() {
    const sigset_t set = stop_set();
    const int error = pthread_sigmask(SIG_BLOCK, &set, nullptr);
    return error == 0 ? 0 : fail(error);
}

int StopSignals::start(std::function<void(int)> on_stop) {
    stop();
    const sigset_t set = stop_set();
    signal_fd_ = signalfd(-1, &set, SFD_CLOEXEC);
    if (signal_fd_ < 0) return fail(errno);
    wake_fd_ = eventfd(0, EFD_CLOEXEC);
    if (wake_fd_ < 0) {
        const int error = errno;
        ::close(signal_fd_);
        signal_fd_ = -1;
        return fail(error);
    }
    on_stop_ = std::move(on_stop);
    thread_ = std::thread([this] { run(); });
    return 0;
}

void StopSignals::run() {
    while (true) {
        pollfd fds[2] = {{signal_fd_, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if ((fds[1].revents & POLLIN) != 0) return;
        if ((fds[0].revents & POLLIN) != 0) {
            signalfd_siginfo info{};
            if (read(signal_fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info) && on_stop_)
                on_stop_(static_cast<int>(info.ssi_signo));
        }
    }
}

void StopSignals::stop() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(wake_fd_, &one, sizeof one);
        thread_.join();
    }
    if (signal_fd_ >= 0) ::close(signal_fd_);
    if (wake_fd_ >= 0) ::close(wake_fd_);
    signal_fd_ = wake_fd_ = -1;
}

}  // namespace platform
