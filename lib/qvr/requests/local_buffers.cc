// The registry of caller buffers of the local logged-data requests. A handle is a counter
// (so it is never reused: a handle left in a forwarded or replayed request text names no
// buffer once its request has ended) above random low bits (so a peer that forwards request
// text cannot name another caller's live buffer by counting).
#include "qvr/requests/local_buffers.h"

#include <mutex>
#include <random>
#include <unordered_map>

namespace qvr::local_buffers {

namespace {
constexpr int kRandomBits = 24;

struct Registry {
    std::mutex mutex;
    std::unordered_map<std::int64_t, Buffer> buffers;
    std::int64_t next = 1;
    std::mt19937_64 random{std::random_device{}()};
};
Registry& registry() {
    static Registry r;
    return r;
}
}  // namespace

Registration::Registration(void* address, std::size_t capacity) {
    if (address == nullptr) return;
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    const auto low = static_cast<std::int64_t>(r.random() & ((std::uint64_t{1} << kRandomBits) - 1));
    handle_ = (r.next++ << kRandomBits) | low;
    r.buffers.emplace(handle_, Buffer{address, capacity});
}

Registration::~Registration() {
    if (handle_ == 0) return;
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    r.buffers.erase(handle_);
}

std::optional<Buffer> resolve(std::int64_t handle) {
    if (handle == 0) return std::nullopt;
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    const auto it = r.buffers.find(handle);
    if (it == r.buffers.end()) return std::nullopt;
    return it->second;
}

std::size_t live_count() {
    Registry& r = registry();
    const std::lock_guard lock(r.mutex);
    return r.buffers.size();
}

}  // namespace qvr::local_buffers
