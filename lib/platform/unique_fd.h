#pragma once
// Sole owner of one open descriptor: closed when the owner goes, moved but never copied.
#include <utility>

namespace platform {

class UniqueFd {
  public:
    UniqueFd() noexcept = default;
    explicit UniqueFd(int fd) noexcept : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        if (this != &other) reset(std::exchange(other.fd_, -1));
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() { reset(); }

    int get() const noexcept { return fd_; }
    bool valid() const noexcept { return fd_ >= 0; }
    explicit operator bool() const noexcept { return valid(); }

    // Gives the descriptor up without closing it.
    int release() noexcept { return std::exchange(fd_, -1); }
    // Closes the one held (errno kept) and takes `fd`.
    void reset(int fd = -1) noexcept;
    // Closes now and returns the result of close, for writers that must see a late
    // write-back failure. 0 when nothing was held.
    int close() noexcept;

  private:
    int fd_ = -1;
};

}  // namespace platform
