#include "platform/mailslot.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/ipc_names.h"
#include "platform/last_error.h"

namespace platform {
namespace {

bool make_address(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

int new_socket() {
    return socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

// A receiver that is gone looks like a missing slot to the sender.
int send_failure(int error) {
    if (error == ECONNREFUSED || error == ENOENT || error == ENOTCONN) return fail(ENOENT);
    if (error == EAGAIN || error == EWOULDBLOCK) return fail(ETIMEDOUT);
    return fail(error);
}

// Whether some process is bound to the socket file at `address`.
bool someone_listens(const sockaddr_un& address) {
    const int probe = new_socket();
    if (probe < 0) return false;
    const bool live = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(probe);
    return live;
}

}  // namespace

std::optional<MailslotReceiver> MailslotReceiver::create(std::string_view name) {
    if (ensure_runtime_dir() != 0) return std::nullopt;
    MailslotReceiver receiver;
    receiver.path_ = mailslot_file(name);
    sockaddr_un address;
    if (!make_address(receiver.path_, address)) {
        fail(ENAMETOOLONG);
        return std::nullopt;
    }
    struct stat st {};
    if (lstat(receiver.path_.c_str(), &st) == 0) {
        if (S_ISSOCK(st.st_mode) && someone_listens(address)) {
            fail(EEXIST);
            return std::nullopt;
        }
        unlink(receiver.path_.c_str());  // left behind by a receiver that ended without closing
    }
    receiver.fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (receiver.fd_ < 0) {
        fail_from_errno();
        return std::nullopt;
    }
    if (bind(receiver.fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        close(receiver.fd_);
        receiver.fd_ = -1;
        fail(error == EADDRINUSE ? EEXIST : error);
        return std::nullopt;
    }
    if (chmod(receiver.path_.c_str(), kMailslotFileMode) != 0 || stat(receiver.path_.c_str(), &st) != 0) {
        const int error = errno;
        receiver.close_and_unlink();
        fail(error);
        return std::nullopt;
    }
    receiver.inode_ = st.st_ino;
    return receiver;
}

MailslotReceiver::~MailslotReceiver() {
    close_and_unlink();
}

void MailslotReceiver::close_and_unlink() {
    if (fd_ < 0) return;
    struct stat st {};
    if (!path_.empty() && lstat(path_.c_str(), &st) == 0 && st.st_ino == inode_) unlink(path_.c_str());
    close(fd_);
    fd_ = -1;
}

MailslotReceiver::MailslotReceiver(MailslotReceiver&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)), inode_(other.inode_) {}

MailslotReceiver& MailslotReceiver::operator=(MailslotReceiver&& other) noexcept {
    if (this != &other) {
        close_and_unlink();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        inode_ = other.inode_;
    }
    return *this;
}

ssize_t MailslotReceiver::receive(std::span<std::byte> buffer) const {
    for (;;) {
        const ssize_t n = recv(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        return fail_from_errno();
    }
}

ssize_t MailslotReceiver::next_message_size() const {
    for (;;) {
        std::byte none[1];
        const ssize_t n = recv(fd_, none, 0, MSG_DONTWAIT | MSG_PEEK | MSG_TRUNC);
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        return fail_from_errno();
    }
}

std::optional<MailslotSender> MailslotSender::open(std::string_view name,
                                                   std::chrono::milliseconds send_timeout) {
    sockaddr_un address;
    if (!make_address(mailslot_file(name), address)) {
        fail(ENAMETOOLONG);
        return std::nullopt;
    }
    MailslotSender sender;
    sender.fd_ = new_socket();
    if (sender.fd_ < 0) {
        fail_from_errno();
        return std::nullopt;
    }
    const auto ms = send_timeout.count() > 0 ? send_timeout.count() : 1;
    timeval tv{static_cast<time_t>(ms / 1000), static_cast<suseconds_t>((ms % 1000) * 1000)};
    if (setsockopt(sender.fd_, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) != 0) {
        fail_from_errno();
        return std::nullopt;
    }
    if (connect(sender.fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        send_failure(errno);
        return std::nullopt;
    }
    return sender;
}

MailslotSender::~MailslotSender() {
    if (fd_ >= 0) close(fd_);
}

MailslotSender::MailslotSender(MailslotSender&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

MailslotSender& MailslotSender::operator=(MailslotSender&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

int MailslotSender::send(std::span<const std::byte> message) const {
    return mailslot_send_on(fd_, message);
}

int MailslotSender::release() {
    return std::exchange(fd_, -1);
}

namespace {

int send_with(int fd, std::span<const std::byte> message, int flags) {
    for (;;) {
        const ssize_t n = ::send(fd, message.data(), message.size(), MSG_NOSIGNAL | flags);
        if (n >= 0) {
            if (static_cast<size_t>(n) != message.size()) return fail(EIO);
            return 0;
        }
        if (errno == EINTR) continue;  // SO_SNDTIMEO starts again; still bounded per attempt
        return send_failure(errno);
    }
}

}  // namespace

int mailslot_send_on(int fd, std::span<const std::byte> message) {
    return send_with(fd, message, 0);
}

int mailslot_try_send_on(int fd, std::span<const std::byte> message) {
    return send_with(fd, message, MSG_DONTWAIT);
}

int mailslot_remove_prefixed() {
    const std::string& prefix = ipc_prefix();
    if (prefix.empty()) return fail(EPERM);
    DIR* dir = opendir(runtime_dir().c_str());
    if (dir == nullptr) return errno == ENOENT ? 0 : fail_from_errno();
    int removed = 0;
    while (const dirent* entry = readdir(dir)) {
        const std::string_view file(entry->d_name);
        if (!file.starts_with(prefix)) continue;
        const std::string path = runtime_dir() + "/" + std::string(file);
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && unlink(path.c_str()) == 0) ++removed;
    }
    closedir(dir);
    return removed;
}

}  // namespace platform
