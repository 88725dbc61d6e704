#include "platform/pipe_socket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "platform/ipc_names.h"
#include "platform/last_error.h"
#include "platform/socket_io.h"

namespace platform {
namespace {

constexpr std::string_view kPipeFolder = "\\pipe\\";

bool machine_character(char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
}

bool make_address(const std::string& path, sockaddr_un& address) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.data(), path.size());
    return true;
}

int stream_socket() {
    return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

void put_u32(std::byte* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<std::byte>((value >> (8 * i)) & 0xFFu);
}

uint32_t get_u32(const std::byte* in) {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(in[i]) << (8 * i);
    return value;
}

}  // namespace

int pipe_address(std::string_view pipe_name, PipeAddress& address) {
    if (!pipe_name.starts_with("\\\\")) return fail(kErrorBadNetPath);
    const std::string_view rest = pipe_name.substr(2);
    const size_t end = rest.find('\\');
    if (end == std::string_view::npos || end == 0 || end > kPipeMachineNameMax) return fail(kErrorBadNetPath);
    std::string machine(rest.substr(0, end));
    for (char& c : machine) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (!machine_character(c)) return fail(kErrorBadNetPath);
    }
    if (machine == "..") return fail(kErrorBadNetPath);
    const std::string_view tail = rest.substr(end);
    if (!tail.starts_with(kPipeFolder) || tail.size() == kPipeFolder.size()) return fail(kErrorBadNetPath);
    for (char c : tail)
        if (c == '/' || c == '\0') return fail(kErrorBadNetPath);
    address.this_machine = machine == ".";
    address.path = mailslot_file(machine + std::string(tail));
    sockaddr_un probe;
    if (!make_address(address.path, probe)) return fail(kErrorFilenameTooLong);
    return 0;
}

int pipe_write_all(int fd, std::span<const std::byte> bytes, const Deadline& deadline) {
    return socket_write_all(fd, bytes, deadline, kErrorBrokenPipe);
}

int pipe_read_all(int fd, std::span<std::byte> bytes, const Deadline& deadline, size_t* got) {
    return socket_read_all(fd, bytes, deadline, kErrorBrokenPipe, got);
}

int pipe_write_frame(int fd, std::span<const std::byte> message, const Deadline& deadline) {
    if (message.size() > UINT32_MAX) return fail(kErrorInvalidParameter);
    std::array<std::byte, kPipeFrameHeader> header;
    put_u32(header.data(), static_cast<uint32_t>(message.size()));
    // Header and body in one send, so a small request is one segment on the socket.
    iovec parts[2] = {{header.data(), header.size()},
                      {const_cast<std::byte*>(message.data()), message.size()}};
    msghdr msg{};
    msg.msg_iov = parts;
    msg.msg_iovlen = 2;
    ssize_t n;
    do {
        n = sendmsg(fd, &msg, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    size_t sent = 0;
    if (n > 0) {
        sent = static_cast<size_t>(n);
    } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
        return socket_stream_failure(errno, kErrorBrokenPipe);
    }
    if (sent < header.size()) {
        if (pipe_write_all(fd, std::span(header).subspan(sent), deadline) != 0) return -1;
        sent = header.size();
    }
    return pipe_write_all(fd, message.subspan(sent - header.size()), deadline);
}

int pipe_read_frame(int fd, std::span<std::byte> buffer, size_t& received, const Deadline& deadline) {
    received = 0;
    std::array<std::byte, kPipeFrameHeader> header;
    if (pipe_read_all(fd, header, deadline) != 0) return -1;
    const uint32_t length = get_u32(header.data());
    if (length > buffer.size()) return fail(kErrorMoreData);
    size_t got = 0;
    const int rc = pipe_read_all(fd, buffer.first(length), deadline, &got);
    received = got;
    return rc;
}

int pipe_read_request(int fd, uint32_t max_length, std::vector<std::byte>& message, const Deadline& deadline) {
    message.clear();
    std::array<std::byte, kPipeFrameHeader> header;
    if (pipe_read_all(fd, header, deadline) != 0) return -1;
    const uint32_t length = get_u32(header.data());
    if (length > max_length) return fail(kErrorMoreData);
    message.resize(length);
    size_t got = 0;
    const int rc = pipe_read_all(fd, message, deadline, &got);
    message.resize(got);
    return rc;
}

void pipe_shutdown(int fd) {
    if (fd >= 0) shutdown(fd, SHUT_RDWR);
}

std::optional<PipeConnection> PipeConnection::connect(std::string_view pipe_name, const Deadline& deadline) {
    PipeAddress where;
    if (pipe_address(pipe_name, where) != 0) return std::nullopt;
    sockaddr_un address;
    make_address(where.path, address);
    PipeConnection connection;
    connection.fd_ = stream_socket();
    if (connection.fd_ < 0) {
        fail_from_errno();
        return std::nullopt;
    }
    for (;;) {
        if (::connect(connection.fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            return connection;
        const int error = errno;
        if (error == EINTR) continue;
        if (error == EAGAIN) {
            // The listener's queue is full: it is busy or hung, so wait a little, bounded.
            if (!deadline.is_forever() && deadline.expired()) {
                fail(kErrorWsaTimedOut);
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        if (error == ENOENT || error == ECONNREFUSED || error == ENOTDIR)
            fail(where.this_machine ? kErrorFileNotFound : kErrorBadNetPath);
        else if (error == EACCES || error == EPERM)
            fail(kErrorAccessDenied);
        else
            fail(error);
        return std::nullopt;
    }
}

PipeConnection::~PipeConnection() {
    if (fd_ >= 0) ::close(fd_);
}

PipeConnection::PipeConnection(PipeConnection&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

PipeConnection& PipeConnection::operator=(PipeConnection&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool PipeConnection::peer_gone() const {
    if (fd_ < 0) return true;
    pollfd p{fd_, static_cast<short>(POLLIN | POLLRDHUP), 0};
    int n;
    do {
        n = poll(&p, 1, 0);
    } while (n < 0 && errno == EINTR);
    return n != 0;  // readable between transfers means an end, a reset or stray bytes
}

int PipeConnection::transact(std::span<const std::byte> request, std::span<std::byte> reply, size_t& received,
                             const Deadline& deadline) const {
    received = 0;
    if (fd_ < 0) return fail(EBADF);
    if (pipe_write_frame(fd_, request, deadline) != 0) return -1;
    return pipe_read_frame(fd_, reply, received, deadline);
}

std::optional<PipeListener> PipeListener::create(std::string_view pipe_name, int backlog) {
    PipeAddress where;
    if (pipe_address(pipe_name, where) != 0) return std::nullopt;
    if (ensure_runtime_dir() != 0) return std::nullopt;
    sockaddr_un address;
    make_address(where.path, address);
    struct stat st {};
    if (lstat(where.path.c_str(), &st) == 0) {
        if (S_ISSOCK(st.st_mode)) {
            const int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const bool live =
                probe >= 0 && ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
            if (probe >= 0) ::close(probe);
            if (live) {
                fail(EEXIST);
                return std::nullopt;
            }
        }
        unlink(where.path.c_str());  // left by a server that ended without closing
    }
    PipeListener listener;
    listener.path_ = where.path;
    listener.fd_ = stream_socket();
    if (listener.fd_ < 0) {
        fail_from_errno();
        return std::nullopt;
    }
    if (bind(listener.fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int error = errno;
        ::close(listener.fd_);
        listener.fd_ = -1;
        fail(error == EADDRINUSE ? EEXIST : error);
        return std::nullopt;
    }
    if (chmod(listener.path_.c_str(), kPipeFileMode) != 0 || stat(listener.path_.c_str(), &st) != 0 ||
        listen(listener.fd_, backlog) != 0) {
        const int error = errno;
        listener.close();
        fail(error);
        return std::nullopt;
    }
    listener.inode_ = st.st_ino;
    return listener;
}

PipeListener::~PipeListener() {
    close();
}

PipeListener::PipeListener(PipeListener&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)), inode_(other.inode_) {}

PipeListener& PipeListener::operator=(PipeListener&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        path_ = std::move(other.path_);
        inode_ = other.inode_;
    }
    return *this;
}

void PipeListener::close() {
    if (fd_ < 0) return;
    struct stat st {};
    if (!path_.empty() && lstat(path_.c_str(), &st) == 0 && st.st_ino == inode_) unlink(path_.c_str());
    ::close(fd_);
    fd_ = -1;
}

int PipeListener::accept(int timeout_ms) const {
    if (fd_ < 0) return fail(EBADF);
    const Deadline deadline = timeout_ms < 0 ? Deadline::forever() : Deadline::after_ms(timeout_ms);
    for (;;) {
        const int fd = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd >= 0) return fd;
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return fail_from_errno();
        if (socket_wait(fd_, POLLIN, deadline) != 0) return fail(ETIMEDOUT);
    }
}

}  // namespace platform
