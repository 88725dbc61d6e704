#pragma once
// Mailslots as AF_UNIX datagram sockets in the runtime folder. Messages stay whole and in
// order; a send to a missing receiver fails at once with ENOENT; a sender waits at most its
// send time-out for a receiver that does not read (ETIMEDOUT then), so nobody blocks for ever
// while holding a lock.
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace platform {

inline constexpr std::chrono::milliseconds kMailslotSendTimeout{1000};
// Mode of a mailslot's socket file (writing to it is what sending needs).
inline constexpr mode_t kMailslotFileMode = 0660;

class MailslotReceiver {
  public:
    // Binds the mailslot `name` in the runtime folder (created when missing). A stale file
    // of that name (nobody bound to it) is removed first; a live one makes it fail with
    // EEXIST. nullopt with errno set on failure.
    static std::optional<MailslotReceiver> create(std::string_view name);

    MailslotReceiver() = default;
    ~MailslotReceiver();
    MailslotReceiver(MailslotReceiver&& other) noexcept;
    MailslotReceiver& operator=(MailslotReceiver&& other) noexcept;
    MailslotReceiver(const MailslotReceiver&) = delete;
    MailslotReceiver& operator=(const MailslotReceiver&) = delete;

    // Pollable, non-blocking descriptor.
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

    // Takes the next waiting message into `buffer` without waiting. Its full length (more
    // than the buffer when it was cut; the rest is gone), or -1 with errno EAGAIN when none
    // waits, or -1 with errno set on failure.
    ssize_t receive(std::span<std::byte> buffer) const;
    // Length of the next waiting message, or -1 with errno EAGAIN when none waits.
    ssize_t next_message_size() const;

  private:
    void close_and_unlink();

    int fd_ = -1;
    std::string path_;
    ino_t inode_ = 0;  // the file we bound, so we never unlink a successor's
};

// A write handle to someone else's mailslot.
class MailslotSender {
  public:
    // Connects to the existing mailslot `name`; nullopt with errno ENOENT when nobody
    // receives under that name.
    static std::optional<MailslotSender> open(std::string_view name,
                                              std::chrono::milliseconds send_timeout = kMailslotSendTimeout);

    MailslotSender() = default;
    ~MailslotSender();
    MailslotSender(MailslotSender&& other) noexcept;
    MailslotSender& operator=(MailslotSender&& other) noexcept;
    MailslotSender(const MailslotSender&) = delete;
    MailslotSender& operator=(const MailslotSender&) = delete;

    int fd() const { return fd_; }
    // Sends one message. 0, or -1 with errno ENOENT (receiver gone), ETIMEDOUT (receiver
    // does not read) or the socket's error.
    int send(std::span<const std::byte> message) const;
    // Gives up ownership of the descriptor (the caller closes it).
    int release();

  private:
    int fd_ = -1;
};

// Sends one message on a descriptor opened by MailslotSender (same results as send()).
int mailslot_send_on(int fd, std::span<const std::byte> message);
// The same without waiting: a receiver whose queue is full fails it at once with ETIMEDOUT.
int mailslot_try_send_on(int fd, std::span<const std::byte> message);

// Removes the socket files under this process's prefix in the runtime folder. Refused
// (-1, EPERM) when the prefix is empty. The number removed, or -1.
int mailslot_remove_prefixed();

}  // namespace platform
