#include "qvr/ipc/shm_cache.h"

#include <cerrno>
#include <deque>
#include <unordered_map>

#include "platform/last_error.h"
#include "qvr/testing/process_state_testing.h"

namespace qvr::shm_cache {
namespace {

struct Slot {
    Entry entry;
    std::optional<platform::NamedMutex> mutex;
};

struct Cache {
    std::mutex open_mutex;
    std::mutex mutex;
    std::deque<Slot> slots;  // a deque never moves its elements when it grows
    std::unordered_map<std::string, Slot*> by_name;
    std::unordered_map<const void*, Slot*> by_base;
};

Cache& cache() {
    static Cache c;
    return c;
}

}  // namespace

std::unique_lock<std::mutex> lock_for_open() {
    return std::unique_lock(cache().open_mutex);
}

const Entry* find_by_name(std::string_view name) {
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    auto it = c.by_name.find(std::string(name));
    return it == c.by_name.end() ? nullptr : &it->second->entry;
}

const Entry* find_by_base(const void* base) {
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    auto it = c.by_base.find(base);
    return it == c.by_base.end() ? nullptr : &it->second->entry;
}

const Entry* add(std::string_view name, platform::ShmMapping mapping,
                 std::optional<platform::NamedMutex> mutex) {
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    Slot& slot = c.slots.emplace_back();
    slot.entry.name = std::string(name);
    slot.entry.size = mapping.size();
    slot.entry.base = static_cast<std::byte*>(mapping.release());
    slot.mutex = std::move(mutex);
    c.by_name[slot.entry.name] = &slot;
    c.by_base[slot.entry.base] = &slot;
    return &slot.entry;
}

const platform::NamedMutex* mutex_for(const Entry& entry) {
    Cache& c = cache();
    std::lock_guard lock(c.mutex);
    auto it = c.by_base.find(entry.base);
    if (it == c.by_base.end()) {
        platform::fail(EINVAL);
        return nullptr;
    }
    Slot& slot = *it->second;
    if (!slot.mutex) {
        slot.mutex = platform::NamedMutex::open(global_name(global_name(entry.name) + ".mut"));
        if (!slot.mutex) return nullptr;
    }
    return &*slot.mutex;
}

}  // namespace qvr::shm_cache

void qvr::testing::forget_section_names() {
    qvr::shm_cache::Cache& c = qvr::shm_cache::cache();
    std::lock_guard open(c.open_mutex);
    std::lock_guard lock(c.mutex);
    c.by_name.clear();
}

namespace qvr::shm_cache {

std::string global_name(std::string_view name) {
    std::string result = "Global\\";
    result += name;
    return result;
}

}  // namespace qvr::shm_cache
