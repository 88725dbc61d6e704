#include "host/host.h"

#include <cerrno>

#include "platform/last_error.h"
#include "platform/mailslot.h"
#include "platform/named_mutex.h"
#include "platform/shm_object.h"
#include "qvr/util/rt.h"
#include "qvr/ipc/shm.h"

namespace sim_host {
namespace {

constexpr std::string_view kGlobal = "Global\\";
constexpr std::string_view kMutexSuffix = ".mut";

}  // namespace

void* create_section(const std::string& name, uint32_t data_size) {
    void* section = shm_CreateSection(name.c_str(), data_size);
    if (section == nullptr) return nullptr;
    // The library creates a mutex only with a data module; for a plain section the host does.
    auto mutex = platform::NamedMutex::create(std::string(kGlobal) + shm_MutexName(name.c_str()),
                                              rt_GetOpenSecurityAttributes()->object_mode);
    if (!mutex) return nullptr;
    return section;
}

void* create_module(const std::string& name, uint32_t data_length) {
    return shm_CreateDataModule(name.c_str(), data_length);
}

ObjectList list_objects() {
    ObjectList list;
    for (const auto& object : platform::shm_object_list()) {
        std::string_view name(object);
        if (name.starts_with(kGlobal) && name.substr(kGlobal.size()).starts_with(kGlobal) &&
            name.ends_with(kMutexSuffix)) {
            list.mutexes.emplace_back(name.substr(2 * kGlobal.size()));
        } else if (name.starts_with(kGlobal)) {
            list.sections.emplace_back(name.substr(kGlobal.size()));
        } else {
            list.others.emplace_back(name);
        }
    }
    return list;
}

int write_and_signal(const std::string& name, uint32_t offset, std::string_view bytes) {
    void* section = shm_OpenSection(name.c_str());
    if (section == nullptr) return -1;
    if (shm_Lock(section) != 0) return -1;
    const int rc = shm_WriteData(section, bytes.data(), static_cast<uint32_t>(bytes.size()), offset);
    if (rc == 0) shm_SignalWaiters(section, 0);
    const int error = errno;
    shm_Unlock(section);
    if (rc != 0) return platform::fail(error);
    return 0;
}

std::optional<Removed> remove_all() {
    Removed removed;
    removed.objects = platform::shm_object_remove_prefixed();
    if (removed.objects < 0) return std::nullopt;
    removed.mailslots = platform::mailslot_remove_prefixed();
    if (removed.mailslots < 0) return std::nullopt;
    return removed;
}

}  // namespace sim_host
