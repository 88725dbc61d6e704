#pragma once
// Manual-reset events on eventfd: set stays set until reset, and the descriptor is pollable,
// so an event can sit in a wait list beside sockets and other descriptors.
#include <optional>
#include <span>

namespace platform {

class Event {
  public:
    // A new event, set or clear; nullopt with errno set when no descriptor is left.
    static std::optional<Event> create(bool initially_set);

    Event() = default;
    ~Event();
    Event(Event&& other) noexcept;
    Event& operator=(Event&& other) noexcept;
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    bool valid() const { return fd_ >= 0; }
    // The pollable descriptor: readable while the event is set.
    int fd() const { return fd_; }

    void set() const;
    void reset() const;
    bool is_set() const;
    // Waits until set or `timeout_ms` passed (-1 = no time-out). true when set.
    bool wait(int timeout_ms) const;

  private:
    explicit Event(int fd) : fd_(fd) {}
    int fd_ = -1;
};

// Waits until one of `fds` is readable (or hung up), at most `timeout_ms` (-1 = no time-out).
// The index of the first ready descriptor; -1 with errno ETIMEDOUT on time-out, or -1 with
// errno set on failure. Interrupted waits go on with the time that is left.
int wait_any_readable(std::span<const int> fds, int timeout_ms);

}  // namespace platform
