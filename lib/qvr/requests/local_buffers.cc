// The registry of caller buffers of the local logged-data requests. Handles count up from a
// process-wide counter and are never reused, so a handle left in a forwarded or replayed
// request text can name no buffer once its request has ended.
#include "qvr/requests/local_buffers.h"

#include <mutex>
#include <unordered_map>

namespace qvr::local_buffers {

namespace {
struct Registry {
    std::mutex mutex;
    std::unordered_map<std::int64_t, Buffer> buffers;
    std::int64_t next = 1;
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
    handle_ = r.next++;
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
