// Opening and creating shared sections.
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/last_error.h"
#include "platform/shm_object.h"
#include "qvr/util/rt.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/shm_cache.h"

namespace {

using qvr::shm_cache::global_name;

bool name_fits(const char* name) {
    return name != nullptr && std::strlen(name) <= qvr::kMaxSectionNameLength;
}

std::string mutex_object_name(const char* name) {
    return global_name(shm_MutexName(name));
}

// Creates the section object with its header (and the module fields when `data_length` is
// given) written before any other process can see it.
void* create_section(const char* name, uint32_t data_size, std::optional<uint32_t> data_length,
                     std::optional<platform::NamedMutex> mutex) {
    const size_t size = static_cast<size_t>(data_size) + qvr::kSectionExtraSize;
    auto mapping =
        platform::shm_object_create(global_name(name), size, rt_GetOpenSecurityAttributes()->object_mode,
                                    [&](std::span<std::byte> bytes) {
                                        qvr::fill_section_header(bytes, name, data_size);
                                        if (data_length) qvr::fill_data_module_fields(bytes, *data_length);
                                    });
    if (!mapping) {
        if (errno == EEXIST) platform::fail(platform::kErrorAlreadyExists);
        return nullptr;
    }
    return qvr::shm_cache::add(name, std::move(*mapping), std::move(mutex))->base;
}

void* open_locked(const char* name) {
    if (const auto* cached = qvr::shm_cache::find_by_name(name)) return cached->base;
    auto object = platform::ShmObject::open(global_name(name));
    if (!object) return nullptr;
    std::byte head[8];
    if (object->size() < sizeof head || !object->read_at(head, 0)) {
        platform::fail(platform::kErrorInvalidData);
        return nullptr;
    }
    // Map what the header claims only when the object really holds it.
    const auto wanted = qvr::section_mapping_size(head, object->size());
    if (!wanted) {
        platform::fail(platform::kErrorInvalidData);
        return nullptr;
    }
    auto mapping = object->map(*wanted);
    if (!mapping) return nullptr;
    return qvr::shm_cache::add(name, std::move(*mapping), std::nullopt)->base;
}

// An existing module is handed back only when it holds the data the caller asked for: a
// smaller one would be written past its end.
void* reuse_if_large_enough(void* existing, uint32_t data_length) {
    const auto bytes = qvr::section_bytes(existing);
    if (bytes.size() < qvr::kSectionDataOffset || qvr::load_u32(bytes, qvr::kOffDataLength) < data_length) {
        platform::fail(platform::kErrorAlreadyExists);
        return nullptr;
    }
    return existing;
}

}  // namespace

const char* shm_MutexName(const char* name) {
    thread_local std::string text;
    text = global_name(name != nullptr ? name : "") + ".mut";
    return text.c_str();
}

void* shm_OpenSection(const char* name) {
    if (!name_fits(name)) return nullptr;
    auto lock = qvr::shm_cache::lock_for_open();
    return open_locked(name);
}

void* shm_CreateSection(const char* name, uint32_t data_size) {
    if (!name_fits(name)) {
        platform::fail(platform::kErrorInvalidArgument);
        return nullptr;
    }
    // The lock fields at 108..127 must lie inside the mapping.
    if (static_cast<size_t>(data_size) + qvr::kSectionExtraSize < qvr::kSectionDataOffset) {
        platform::fail(platform::kErrorInvalidParameter);
        return nullptr;
    }
    auto lock = qvr::shm_cache::lock_for_open();
    return create_section(name, data_size, std::nullopt, std::nullopt);
}

void* shm_CreateDataModule(const char* name, uint32_t data_length) {
    if (!name_fits(name)) {
        platform::fail(platform::kErrorInvalidArgument);
        return nullptr;
    }
    const auto data_size = qvr::data_module_data_size(data_length);
    if (!data_size) {
        platform::fail(platform::kErrorInvalidParameter);
        return nullptr;
    }
    auto lock = qvr::shm_cache::lock_for_open();
    if (void* existing = open_locked(name)) return reuse_if_large_enough(existing, data_length);
    auto mutex =
        platform::NamedMutex::create(mutex_object_name(name), rt_GetOpenSecurityAttributes()->object_mode);
    if (!mutex) return nullptr;
    void* section = create_section(name, *data_size, data_length, std::move(mutex));
    if (section == nullptr && platform::last_error() == platform::kErrorAlreadyExists) {
        // Another creator won the race: its module is the one to use.
        void* existing = open_locked(name);
        return existing != nullptr ? reuse_if_large_enough(existing, data_length) : nullptr;
    }
    return section;
}

namespace qvr {

std::span<std::byte> section_bytes(const void* section) {
    const auto* entry = shm_cache::find_by_base(section);
    if (entry == nullptr) return {};
    return {entry->base, entry->size};
}

}  // namespace qvr
