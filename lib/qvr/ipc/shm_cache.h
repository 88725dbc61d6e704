#pragma once
// The per-process cache of mapped sections. Entries never move and are never removed, so a
// pointer to one stays valid for the life of the process; lookups take a process-local lock.
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/named_mutex.h"
#include "platform/shm_object.h"

namespace qvr::shm_cache {

struct Entry {
    std::string name;  // without "Global\"
    std::byte* base = nullptr;
    size_t size = 0;
};

// The lock under which sections are opened and created, so one name is mapped once.
std::unique_lock<std::mutex> lock_for_open();

// Lookups (take the cache lock themselves).
const Entry* find_by_name(std::string_view name);
const Entry* find_by_base(const void* base);

// Keeps `mapping` for the life of the process under `name` (a later entry of the same name
// replaces it for lookups by name). `mutex` may be empty; it is opened on first use then.
const Entry* add(std::string_view name, platform::ShmMapping mapping,
                 std::optional<platform::NamedMutex> mutex);

// The section's mutex, opened on first use. Null with errno set when it cannot be opened.
const platform::NamedMutex* mutex_for(const Entry& entry);

// "Global\<name>": the object name of a section or, applied twice, of its mutex.
std::string global_name(std::string_view name);

}  // namespace qvr::shm_cache
