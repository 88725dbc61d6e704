// What arrives on a pipe comes from a peer: read it as a reply (the client's frame reader,
// with a capacity from the input) and as a request (the server's reader), from a socket
// that holds exactly the input and is then closed.
// Input: two bytes of capacity (little-endian), then the stream.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/last_error.h"
#include "platform/pipe_socket.h"

namespace {

constexpr size_t kStreamMax = 64 * 1024;  // what one socket buffer surely holds

// A connected socket whose peer wrote `stream` and closed.
int socket_holding(const uint8_t* stream, size_t size) {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv) != 0) __builtin_trap();
    if (platform::pipe_write_all(sv[1], std::as_bytes(std::span(stream, size)), platform::Deadline::after_ms(1000)) !=
        0)
        __builtin_trap();
    close(sv[1]);
    return sv[0];
}

bool known_failure(int error) {
    return error == platform::kErrorBrokenPipe || error == platform::kErrorMoreData;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t capacity = data[0] | static_cast<size_t>(data[1]) << 8;
    const uint8_t* stream = data + 2;
    const size_t length = std::min(size - 2, kStreamMax);

    int fd = socket_holding(stream, length);
    std::vector<std::byte> reply(capacity);
    for (;;) {  // every message the stream holds, as a client reading replies
        size_t received = 0;
        const int rc = platform::pipe_read_frame(fd, reply, received, platform::Deadline::after_ms(1000));
        if (received > capacity) __builtin_trap();
        if (rc != 0) {
            if (!known_failure(platform::last_error())) __builtin_trap();
            break;
        }
    }
    close(fd);

    fd = socket_holding(stream, length);
    std::vector<std::byte> request;
    for (;;) {
        const int rc = platform::pipe_read_request(fd, static_cast<uint32_t>(capacity), request,
                                                   platform::Deadline::after_ms(1000));
        if (request.size() > capacity) __builtin_trap();
        if (rc != 0) {
            if (!known_failure(platform::last_error())) __builtin_trap();
            break;
        }
    }
    close(fd);
    return 0;
}
