#include "platform/remote_path.h"

#include <vector>

#include "platform/last_error.h"
#include "platform/registry_key.h"

namespace platform {

bool is_remote_path(std::string_view path) {
    return path.starts_with("\\\\");
}

int map_remote_path(std::string_view path, std::string& local) {
    if (!is_remote_path(path)) {
        local.assign(path);
        return 0;
    }
    std::vector<std::string_view> parts;
    std::string_view rest = path.substr(2);
    while (!rest.empty()) {
        const size_t end = rest.find_first_of("\\/");
        const std::string_view part = rest.substr(0, end);
        if (part == "..") return fail(kErrorInvalidParameter);
        if (!part.empty() && part != ".") parts.push_back(part);
        if (end == std::string_view::npos) break;
        rest = rest.substr(end + 1);
    }
    if (parts.empty() || path[2] == '\\' || path[2] == '/') return fail(kErrorBadNetPath);
    RegistryKey key;
    std::string folder;
    if (RegistryKey::open(RegistryHive::machine, kRemoteMachinesKey, kKeyQueryValue, key) != 0 ||
        key.query_string(parts.front(), folder) != 0 || folder.empty())
        return fail(kErrorBadNetPath);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    local = folder;
    for (size_t i = 1; i < parts.size(); ++i) {
        if (local.empty() || local.back() != '/') local += '/';
        local.append(parts[i]);
    }
    return 0;
}

int path_to_open(std::string_view path, std::string& local) {
    const auto separator = [](char c) { return c == '\\' || c == '/'; };
    if (path.size() < 2 || !separator(path[0]) || !separator(path[1])) {
        local.assign(path);
        return 0;
    }
    return map_remote_path(std::string("\\\\").append(path.substr(2)), local);
}

}  // namespace platform
