#include "platform/ado/shared_connections.h"

#include <map>
#include <mutex>
#include <string>

#include "platform/ado/connection.h"

namespace ado {
namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::u16string, std::weak_ptr<Connection>> connections;
};

Registry& registry() {
    static Registry r;
    return r;
}

}  // namespace

std::shared_ptr<Connection> shared_connection(std::u16string_view connection_string, std::chrono::seconds timeout) {
    Registry& r = registry();
    const std::u16string key(connection_string);
    std::lock_guard guard(r.mutex);
    if (auto it = r.connections.find(key); it != r.connections.end()) {
        if (auto held = it->second.lock(); held && held->sound()) return held;
        r.connections.erase(it);
    }
    auto fresh = std::make_shared<Connection>();
    fresh->set_connection_timeout(timeout);
    fresh->set_command_timeout(timeout);
    fresh->open(connection_string);
    if (fresh->dialect().engine() == Engine::mariadb) r.connections[key] = fresh;
    return fresh;
}

std::size_t shared_connection_count() {
    Registry& r = registry();
    std::lock_guard guard(r.mutex);
    std::size_t n = 0;
    for (const auto& [key, weak] : r.connections) n += weak.expired() ? 0 : 1;
    return n;
}

}  // namespace ado
