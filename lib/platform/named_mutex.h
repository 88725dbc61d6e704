#pragma once
// A named mutex shared between processes: a small shared-memory object holding a
// process-shared, robust, recursive pthread mutex. A holder that dies leaves the mutex
// to the next locker, who is told so and makes it consistent.
#include <pthread.h>
#include <sys/types.h>

#include <optional>
#include <string_view>

#include "platform/shm_object.h"

namespace platform {

class NamedMutex {
  public:
    enum class Acquired { kNormally, kOwnerDied };

    // Opens the mutex object `name`, creating it (not owned) when it does not exist.
    static std::optional<NamedMutex> create(std::string_view name, mode_t mode);
    // Opens an existing mutex object; nullopt with errno ENOENT when there is none.
    static std::optional<NamedMutex> open(std::string_view name);

    NamedMutex() = default;
    NamedMutex(NamedMutex&&) noexcept = default;
    NamedMutex& operator=(NamedMutex&&) noexcept = default;

    // Blocks until this thread holds the mutex (recursively). kOwnerDied when the previous
    // holder ended while holding it; the mutex has been made consistent then. nullopt with
    // errno set on failure.
    std::optional<Acquired> lock() const;
    // 0, or -1 with errno set (EPERM when this thread does not hold it).
    int unlock() const;

    bool valid() const { return mapping_.base() != nullptr; }

  private:
    explicit NamedMutex(ShmMapping mapping) : mapping_(std::move(mapping)) {}
    pthread_mutex_t* handle() const { return static_cast<pthread_mutex_t*>(mapping_.base()); }

    ShmMapping mapping_;
};

}  // namespace platform
