#include "platform/named_mutex.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "platform/last_error.h"

namespace platform {
namespace {

// The mutex sits at the start of its object; the rest of the page is unused.
constexpr size_t kObjectSize = 64;
static_assert(sizeof(pthread_mutex_t) <= kObjectSize);

bool init_mutex(std::span<std::byte> bytes) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0) return false;
    bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
              pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
              pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0;
    if (ok) {
        auto* mutex = new (bytes.data()) pthread_mutex_t;
        ok = pthread_mutex_init(mutex, &attr) == 0;
    }
    pthread_mutexattr_destroy(&attr);
    return ok;
}

}  // namespace

std::optional<NamedMutex> NamedMutex::create(std::string_view name, mode_t mode) {
    if (auto existing = open(name)) return existing;
    if (errno != ENOENT) return std::nullopt;
    bool initialised = false;
    auto mapping = shm_object_create(name, kObjectSize, mode,
                                     [&](std::span<std::byte> bytes) { initialised = init_mutex(bytes); });
    if (mapping) {
        if (!initialised) {
            // Never leave an unusable mutex under the name.
            shm_object_remove(name);
            fail(EINVAL);
            return std::nullopt;
        }
        return NamedMutex(std::move(*mapping));
    }
    if (errno == EEXIST) return open(name);  // another process created it meanwhile
    return std::nullopt;
}

std::optional<NamedMutex> NamedMutex::open(std::string_view name) {
    auto object = ShmObject::open(name);
    if (!object) return std::nullopt;
    if (object->size() < sizeof(pthread_mutex_t)) {
        fail(EINVAL);
        return std::nullopt;
    }
    auto mapping = object->map(sizeof(pthread_mutex_t));
    if (!mapping) return std::nullopt;
    return NamedMutex(std::move(*mapping));
}

std::optional<NamedMutex::Acquired> NamedMutex::lock() const {
    if (!valid()) {
        fail(EINVAL);
        return std::nullopt;
    }
    int rc = pthread_mutex_lock(handle());
    if (rc == 0) return Acquired::kNormally;
    if (rc == EOWNERDEAD) {
        rc = pthread_mutex_consistent(handle());
        if (rc == 0) return Acquired::kOwnerDied;
        pthread_mutex_unlock(handle());
    }
    fail(rc);
    return std::nullopt;
}

int NamedMutex::unlock() const {
    if (!valid()) return fail(EINVAL);
    const int rc = pthread_mutex_unlock(handle());
    if (rc != 0) return fail(rc);
    return 0;
}

}  // namespace platform
