// The local data server as the link layer's kind-3 transport. Links hold ids, never addresses:
// a handle that is not (or no longer) in the registry reaches no object.
#include "log_stores/local_server/local_backend.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "log_stores/local_server/local_backend_testing.h"
#include "log_stores/local_server/local_data_server.h"
#include "platform/last_error.h"
#include "qvr/link/link.h"
#include "qvr/link/link_backend.h"

namespace log_stores {
namespace {

using local::LocalDataServer;

constexpr std::chrono::milliseconds kCloseWait{1'000};

struct Registry {
    std::mutex lock;
    std::map<intptr_t, std::unique_ptr<LocalDataServer>> servers;
    intptr_t last_id = 0;
};

// Kept for the life of the process: a link may close at the very end.
Registry& registry() {
    static Registry* const r = std::make_unique<Registry>().release();
    return *r;
}

std::atomic<std::int64_t> g_close_wait_ms{kCloseWait.count()};

LocalDataServer* find(intptr_t handle) {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    const auto it = r.servers.find(handle);
    return it == r.servers.end() ? nullptr : it->second.get();
}

intptr_t local_open(const char* location) {
    try {
        auto server = std::make_unique<LocalDataServer>();
        if (server->Open(location) != 0) return 0;
        Registry& r = registry();
        std::lock_guard guard(r.lock);
        const intptr_t id = ++r.last_id;
        r.servers.emplace(id, std::move(server));
        return id;
    } catch (const std::bad_alloc&) {
        platform::set_last_error(platform::kErrorNotEnoughMemory);
    } catch (...) {
        platform::set_last_error(platform::kErrorInvalidData);
    }
    return 0;
}

int local_transfer(intptr_t handle, const void* request, uint32_t length, void* reply,
                   uint32_t* reply_length) {
    LocalDataServer* server = find(handle);
    if (server == nullptr || request == nullptr || reply == nullptr || reply_length == nullptr) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return 0;
    }
    try {
        if (server->HandleRequest(static_cast<const char*>(request), length, static_cast<char*>(reply),
                                  reply_length) == 1)
            return 1;
    } catch (const std::bad_alloc&) {
        platform::set_last_error(platform::kErrorNotEnoughMemory);
        *reply_length = 0;
        return 0;
    } catch (...) {
        platform::set_last_error(platform::kErrorInvalidData);
        *reply_length = 0;
        return 0;
    }
    // The handler had nothing to say: a failed exchange, named as such.
    *reply_length = 0;
    platform::set_last_error(kErrorNoResult);
    return 0;
}

void local_close(intptr_t handle) {
    std::unique_ptr<LocalDataServer> server;
    {
        Registry& r = registry();
        std::lock_guard guard(r.lock);
        const auto it = r.servers.find(handle);
        if (it == r.servers.end()) return;
        server = std::move(it->second);
        r.servers.erase(it);
    }
    server->Close();
    // The stores are closed; the object goes only after a grace period.
    if (const std::int64_t ms = g_close_wait_ms.load(); ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

const LinkLocalBackend kBackend{local_open, local_transfer, local_close};

}  // namespace

void RegisterLocalDataServer() {
    link_SetLocalDataBackend(&kBackend);
}

namespace local_testing {

void set_close_wait(std::chrono::milliseconds wait) {
    g_close_wait_ms.store(wait.count());
}
void reset_close_wait() {
    g_close_wait_ms.store(kCloseWait.count());
}

std::size_t live_servers() {
    Registry& r = registry();
    std::lock_guard guard(r.lock);
    return r.servers.size();
}

}  // namespace local_testing
}  // namespace log_stores
