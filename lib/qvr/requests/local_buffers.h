#pragma once
// Caller buffers named in the local logged-data requests ("6S".."8S"). The request text
// carries a handle, never an address: a caller registers each buffer for the length of its
// request, and the local data server resolves the handle and writes within its capacity only.
#include <cstddef>
#include <cstdint>
#include <optional>

namespace qvr::local_buffers {

struct Buffer {
    void* address = nullptr;
    std::size_t capacity = 0;  // bytes
};

// Registers {address, capacity} until destroyed. A null address registers nothing (handle 0).
class Registration {
  public:
    Registration(void* address, std::size_t capacity);
    ~Registration();
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;
    std::int64_t handle() const { return handle_; }

  private:
    std::int64_t handle_ = 0;
};

// The buffer of a live handle; nullopt for 0, an unknown or an ended one.
std::optional<Buffer> resolve(std::int64_t handle);
// Buffers registered now (for tests: every request must have ended its registrations).
std::size_t live_count();

}  // namespace qvr::local_buffers
