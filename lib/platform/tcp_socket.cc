#include "platform/tcp_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/last_error.h"
#include "platform/socket_io.h"

namespace platform {
int tcp_resolve_ipv4(std::string_view host, in_addr& address) {
    if (host.empty()) return fail(kErrorInvalidParameter);
    const std::string name = host == "." ? std::string("localhost") : std::string(host);
    if (inet_pton(AF_INET, name.c_str(), &address) == 1) return 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        if (found != nullptr) freeaddrinfo(found);
        return fail(kErrorWsaHostNotFound);
    }
    address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return 0;
}

std::optional<uint16_t> tcp_service_port(std::string_view service) {
    if (service.empty()) return std::nullopt;
    const std::string name(service);
    servent entry{};
    servent* result = nullptr;
    char buffer[1024];
    if (getservbyname_r(name.c_str(), "tcp", &entry, buffer, sizeof buffer, &result) != 0 || result == nullptr)
        return std::nullopt;
    return ntohs(static_cast<uint16_t>(result->s_port));
}

int tcp_wait(int fd, short events, const Deadline& deadline) { return socket_wait(fd, events, deadline); }

UniqueFd tcp_connect(const in_addr& address, uint16_t port, const Deadline& deadline) {
    UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
        fail_from_errno();
        return {};
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr = address;
    if (connect(fd.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) return fd;
    if (errno != EINPROGRESS && errno != EINTR) {
        fail_from_errno();
        return {};
    }
    if (tcp_wait(fd.get(), POLLOUT, deadline) != 0) return {};
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        fail_from_errno();
        return {};
    }
    if (error != 0) {
        fail(error);
        return {};
    }
    return fd;
}

long tcp_send_some(int fd, std::span<const std::byte> bytes) noexcept {
    return send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

int tcp_write_all(int fd, std::span<const std::byte> bytes, const Deadline& deadline) {
    return socket_write_all(fd, bytes, deadline, kErrorWsaConnReset);
}

long tcp_read_some(int fd, std::span<std::byte> bytes, const Deadline& deadline) {
    return socket_read_some(fd, bytes, deadline, kErrorWsaConnReset);
}

}  // namespace platform
