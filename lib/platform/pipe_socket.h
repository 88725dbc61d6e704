#pragma once
// The server pipe as an AF_UNIX stream socket in the runtime folder (docs/pipe_protocol.md).
// A pipe name "\\machine\pipe\quorvane" lives in the file "<prefix>machine\pipe\quorvane"
// ("." for this machine; another machine's socket is provided by whatever forwards to it).
// One transfer is one request message and one reply message; each message, both ways, is a
// u32 little-endian length followed by that many bytes. Every wait is bounded by a deadline.
//
// Error numbers (they reach callers of the server link): 2 no socket of this machine or
// connection refused; 53 a bad pipe name, or another machine without its socket; 5
// permission refused; 109 the peer closed before the whole message arrived; 206 a socket
// path too long; 234 a message longer than the receiver's capacity (nothing copied); 10060
// a time-out.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/monotonic_clock.h"

namespace platform {

inline constexpr int kErrorFilenameTooLong = 206;
inline constexpr size_t kPipeFrameHeader = 4;
inline constexpr size_t kPipeMachineNameMax = 63;
// Mode of a pipe's socket file (connecting needs write access).
inline constexpr unsigned kPipeFileMode = 0660;

// Where the pipe `pipe_name` ("\\machine\pipe\name") lives: the socket file path and
// whether it is this machine's. 0, or -1 with 53 (bad name) or 206 (path too long); the
// file system is not touched.
struct PipeAddress {
    std::string path;
    bool this_machine = false;
};
int pipe_address(std::string_view pipe_name, PipeAddress& address);

// Complete writes and reads on a non-blocking stream socket, bounded by `deadline`: short
// transfers are continued, EINTR retried. 0, or -1 with 10060 (time-out), 109 (peer closed
// or reset) or the socket's error. `got` receives the bytes read even on failure.
int pipe_write_all(int fd, std::span<const std::byte> bytes, const Deadline& deadline);
int pipe_read_all(int fd, std::span<std::byte> bytes, const Deadline& deadline, size_t* got = nullptr);

// One message: the length prefix and the bytes, in one send where the socket takes it.
int pipe_write_frame(int fd, std::span<const std::byte> message, const Deadline& deadline);
// Reads one message into `buffer`; `received` is its length. A message longer than the
// buffer fails with 234 before any of its bytes are read (the stream is then out of step
// and must be closed).
int pipe_read_frame(int fd, std::span<std::byte> buffer, size_t& received, const Deadline& deadline);

// The server's read of one request: a message of any length up to `max_length` into
// `message` (resized to it). A longer one fails with 234 before its bytes are read.
int pipe_read_request(int fd, uint32_t max_length, std::vector<std::byte>& message, const Deadline& deadline);

// Ends both directions of a connection at once: its peer sees the end, and a thread of
// this process that waits on it wakes up. The descriptor stays open.
void pipe_shutdown(int fd);

// The client's end of one pipe connection.
class PipeConnection {
  public:
    // Connects to the pipe, waiting at most until `deadline` for a listener whose queue is
    // full. nullopt with the error number set (2, 5, 53, 206, 10060 ...).
    static std::optional<PipeConnection> connect(std::string_view pipe_name, const Deadline& deadline);

    PipeConnection() = default;
    ~PipeConnection();
    PipeConnection(PipeConnection&& other) noexcept;
    PipeConnection& operator=(PipeConnection&& other) noexcept;
    PipeConnection(const PipeConnection&) = delete;
    PipeConnection& operator=(const PipeConnection&) = delete;

    int fd() const { return fd_; }
    // True when the server has closed its end (it stopped or restarted) or the stream holds
    // bytes nobody asked for: the connection can carry no more transfers. Does not wait.
    bool peer_gone() const;
    // One request out, one reply in (at most reply.size() bytes). 0, or -1 with the error
    // number; after a failure the connection is out of step and must be closed.
    int transact(std::span<const std::byte> request, std::span<std::byte> reply, size_t& received,
                 const Deadline& deadline) const;

  private:
    int fd_ = -1;
};

// The server's end: a listening socket bound to the pipe's file.
class PipeListener {
  public:
    // Binds the pipe `pipe_name` (runtime folder created when missing). A stale file of
    // that name is removed first; a live listener makes it fail with EEXIST.
    static std::optional<PipeListener> create(std::string_view pipe_name, int backlog = 16);

    PipeListener() = default;
    ~PipeListener();
    PipeListener(PipeListener&& other) noexcept;
    PipeListener& operator=(PipeListener&& other) noexcept;
    PipeListener(const PipeListener&) = delete;
    PipeListener& operator=(const PipeListener&) = delete;

    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // The next connection (a non-blocking descriptor the caller owns), waiting at most
    // `timeout_ms`; -1 with ETIMEDOUT when none came.
    int accept(int timeout_ms) const;
    // Closes the socket and removes its file (when it is still ours).
    void close();

  private:
    int fd_ = -1;
    std::string path_;
    uint64_t inode_ = 0;
};

}  // namespace platform
