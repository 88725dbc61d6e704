// The section lock and the locked copies of the data area.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "platform/debug_output.h"
#include "platform/last_error.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/shm_cache.h"

namespace {

int16_t own_owner_id() {
    static const int16_t id = qvr::owner_id_of(static_cast<uint32_t>(getpid()));
    return id;
}

// How deep this thread holds each section, so an unlock by a thread that does not hold the
// lock is refused before it can touch the owner fields of the thread that does.
thread_local std::unordered_map<const void*, int> t_depth;

// The cached section of a base address whose header carries the magic; null with error 0.
const qvr::shm_cache::Entry* checked_entry(void* section) {
    const auto* entry = section != nullptr ? qvr::shm_cache::find_by_base(section) : nullptr;
    if (entry == nullptr || entry->size < qvr::kSectionDataOffset ||
        qvr::load_u16({entry->base, entry->size}, qvr::kOffMagic) != qvr::kSectionMagic) {
        platform::fail(platform::kErrorInvalidArgument);
        return nullptr;
    }
    return entry;
}

int lock_mutex(const qvr::shm_cache::Entry& entry) {
    const platform::NamedMutex* mutex = qvr::shm_cache::mutex_for(entry);
    if (mutex == nullptr) return -1;
    const auto acquired = mutex->lock();
    if (!acquired) return -1;
    if (*acquired == platform::NamedMutex::Acquired::kOwnerDied) {
        char text[96];
        std::snprintf(text, sizeof text,
                      "shared section %s: lock holder ended while holding it; lock recovered\n",
                      entry.name.c_str());
        platform::debug_output(text);
        return 128;
    }
    return 0;
}

int unlock_mutex(const qvr::shm_cache::Entry& entry) {
    const platform::NamedMutex* mutex = qvr::shm_cache::mutex_for(entry);
    if (mutex == nullptr) return -1;
    return mutex->unlock();
}

// Checks the range against both the header's data length and the real mapping.
bool range_fits(const qvr::shm_cache::Entry& entry, uint32_t length, uint32_t offset) {
    const uint64_t end = static_cast<uint64_t>(offset) + length;
    const uint64_t data_length = qvr::load_u32({entry.base, entry.size}, qvr::kOffDataLength);
    return end <= data_length && qvr::kSectionDataOffset + end <= entry.size;
}

}  // namespace

int shm_LockMutex(void* section) {
    const auto* entry = checked_entry(section);
    if (entry == nullptr) return -1;
    return lock_mutex(*entry);
}

int shm_UnlockMutex(void* section) {
    const auto* entry = checked_entry(section);
    if (entry == nullptr) return -1;
    return unlock_mutex(*entry);
}

int shm_Lock(void* section) {
    const auto* entry = checked_entry(section);
    if (entry == nullptr) return -1;
    const int acquired = lock_mutex(*entry);
    if (acquired < 0) return -1;
    qvr::record_lock({entry->base, entry->size}, own_owner_id(), acquired == 128);
    ++t_depth[section];
    return 0;
}

int shm_Unlock(void* section) {
    const auto* entry = checked_entry(section);
    if (entry == nullptr) return -1;
    const platform::NamedMutex* mutex = qvr::shm_cache::mutex_for(*entry);
    if (mutex == nullptr) return -1;
    auto held = t_depth.find(section);
    if (held == t_depth.end()) return platform::fail(EPERM);
    if (--held->second == 0) t_depth.erase(held);
    qvr::record_unlock({entry->base, entry->size}, own_owner_id());
    return mutex->unlock();
}

int shm_ReadData(void* section, void* destination, uint32_t length, uint32_t offset) {
    if (destination == nullptr && length > 0) return platform::fail(platform::kErrorInvalidArgument);
    const auto* entry = checked_entry(section);
    if (entry == nullptr || shm_Lock(section) != 0) return -1;
    if (!range_fits(*entry, length, offset)) {
        shm_Unlock(section);
        return platform::fail(platform::kErrorBadNetName);
    }
    if (length > 0) std::memcpy(destination, entry->base + qvr::kSectionDataOffset + offset, length);
    shm_Unlock(section);
    return 0;
}

int shm_WriteData(void* section, const void* source, uint32_t length, uint32_t offset) {
    if (source == nullptr && length > 0) return platform::fail(platform::kErrorInvalidArgument);
    const auto* entry = checked_entry(section);
    if (entry == nullptr || shm_Lock(section) != 0) return -1;
    if (!range_fits(*entry, length, offset)) {
        shm_Unlock(section);
        return platform::fail(platform::kErrorBadNetName);
    }
    if (length > 0) std::memcpy(entry->base + qvr::kSectionDataOffset + offset, source, length);
    shm_Unlock(section);
    return 0;
}

int shm_MarkPending(void* section) {
    const auto* entry = checked_entry(section);
    if (entry == nullptr || shm_Lock(section) != 0) return -1;
    const std::span<std::byte> bytes{entry->base, entry->size};
    const uint16_t pending = qvr::load_u16(bytes, qvr::kOffPending);
    if (pending != UINT16_MAX) qvr::store_u16(bytes, qvr::kOffPending, static_cast<uint16_t>(pending + 1));
    shm_Unlock(section);
    return 0;
}
