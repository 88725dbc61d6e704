// Mailslots the host receives on, each drained by a thread of its own.
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "host/runtime_host.h"
#include "platform/mailslot.h"

namespace sim_host {

struct MailslotInbox::Receiver {
    std::optional<platform::MailslotReceiver> socket;
};

MailslotInbox::MailslotInbox(std::string name)
    : name_(std::move(name)),
      receiver_(std::make_unique<Receiver>()),
      wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    bind();
    thread_ = std::thread([this] { run(); });
}

MailslotInbox::~MailslotInbox() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    const uint64_t one = 1;
    [[maybe_unused]] auto n = write(wake_, &one, sizeof one);
    thread_.join();
    close(wake_);
}

void MailslotInbox::run() {
    for (;;) {
        pollfd fds[2] = {{wake_, POLLIN, 0}, {-1, POLLIN, 0}};
        {
            std::lock_guard lock(mutex_);
            if (stop_) return;
            if (unbind_) {
                receiver_->socket.reset();
                unbind_ = false;
            }
            if (!paused_ && receiver_->socket) fds[1].fd = receiver_->socket->fd();
            handled_ = requested_;
        }
        changed_.notify_all();
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if ((fds[0].revents & POLLIN) != 0) {
            uint64_t count;
            [[maybe_unused]] auto n = read(wake_, &count, sizeof count);
        }
        if (fds[1].fd < 0 || fds[1].revents == 0) continue;
        std::lock_guard lock(mutex_);
        // The socket may have been replaced while polling; read only the current one.
        if (paused_ || unbind_ || !receiver_->socket || receiver_->socket->fd() != fds[1].fd) continue;
        for (;;) {
            std::vector<std::byte> message(4096);
            const ssize_t n = receiver_->socket->receive(message);
            if (n < 0) break;
            message.resize(std::min<size_t>(static_cast<size_t>(n), message.size()));
            messages_.push_back(std::move(message));
        }
        changed_.notify_all();
    }
}

std::vector<std::vector<std::byte>> MailslotInbox::wait_for(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout, [&] { return messages_.size() >= count; });
    return messages_;
}

std::vector<std::vector<std::byte>> MailslotInbox::messages() {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<std::vector<std::byte>> MailslotInbox::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(messages_, {});
}

void MailslotInbox::clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

void MailslotInbox::sync(std::unique_lock<std::mutex>& lock) {
    const uint64_t wanted = ++requested_;
    const uint64_t one = 1;
    [[maybe_unused]] auto n = write(wake_, &one, sizeof one);
    if (thread_.joinable()) changed_.wait(lock, [&] { return handled_ >= wanted || stop_; });
}

void MailslotInbox::pause() {
    std::unique_lock lock(mutex_);
    paused_ = true;
    sync(lock);
}

void MailslotInbox::resume() {
    std::unique_lock lock(mutex_);
    paused_ = false;
    sync(lock);
}

void MailslotInbox::unbind() {
    std::unique_lock lock(mutex_);
    unbind_ = true;
    sync(lock);
}

void MailslotInbox::bind() {
    std::unique_lock lock(mutex_);
    if (receiver_->socket && !unbind_) return;
    if (unbind_) sync(lock);
    receiver_->socket = platform::MailslotReceiver::create(name_);
    sync(lock);
}

bool MailslotInbox::bound() const {
    std::lock_guard lock(mutex_);
    return receiver_->socket.has_value();
}

std::vector<qvr::AlarmMessage> AlarmInbox::alarms(size_t at_least, std::chrono::milliseconds timeout) {
    std::vector<qvr::AlarmMessage> out;
    for (const auto& m : wait_for(at_least, timeout))
        if (auto decoded = qvr::decode_alarm_message(m)) out.push_back(*decoded);
    return out;
}

std::vector<qvr::AlarmMessage> AlarmInbox::take_alarms() {
    std::vector<qvr::AlarmMessage> out;
    for (const auto& m : take())
        if (auto decoded = qvr::decode_alarm_message(m)) out.push_back(*decoded);
    return out;
}

std::vector<std::string> DerivedInbox::codes(size_t at_least, std::chrono::milliseconds timeout) {
    std::vector<std::string> out;
    for (const auto& m : wait_for(at_least, timeout))
        out.emplace_back(reinterpret_cast<const char*>(m.data()), m.size());
    return out;
}

}  // namespace sim_host
