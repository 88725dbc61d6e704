#include "server/product_tree.h"

#include <filesystem>
#include <system_error>

namespace sim_server {

const std::vector<std::string>& ProductTree::standard_keys() {
    static const std::vector<std::string> keys = {
        "QVR_CURRENT_CONFIG", "QVR_LOGGED_DATA", "QVR_BIN",           "QVR_CONFIG",
        "QVR_REPLAY_OPTIONS", "QVR_EXPORTED_DATA", "QVR_EXPORTED_IMAGES", "QVR_LOG",
    };
    return keys;
}

ProductTree::ProductTree(std::string root) : root_(std::move(root)) {
    std::error_code ec;
    std::filesystem::create_directories(root_, ec);
    for (const std::string& key : standard_keys()) map(key, std::string_view(key).substr(4));
}

std::string ProductTree::folder(std::string_view key) const {
    const auto it = folders_.find(std::string(key));
    return it != folders_.end() ? it->second : std::string();
}

void ProductTree::map(std::string_view key, std::string_view relative) {
    const std::string path = root_ + "/" + std::string(relative);
    std::error_code ec;
    std::filesystem::create_directories(path, ec);
    folders_[std::string(key)] = path;
}

std::string ProductTree::inside(const std::string& path) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path root = fs::canonical(root_, ec);
    if (ec) return {};
    // The longest part that exists (a link counts, whether it leads anywhere or not) is
    // resolved by the system; what follows it cannot hold a link.
    fs::path existing = fs::path(path).lexically_normal();
    fs::path rest;
    while (existing.has_relative_path() && !fs::exists(fs::symlink_status(existing, ec))) {
        rest = rest.empty() ? existing.filename() : existing.filename() / rest;
        existing = existing.parent_path();
    }
    fs::path real = fs::canonical(existing, ec);
    if (ec) return {};
    if (!rest.empty()) real /= rest;
    auto at = real.begin();
    for (const fs::path& part : root) {
        if (at == real.end() || *at != part) return {};
        ++at;
    }
    return real.string();
}

std::vector<std::string> ProductTree::environment() const {
    std::vector<std::string> env;
    for (const auto& [key, path] : folders_) env.push_back(key + "=" + path);
    return env;
}

}  // namespace sim_server
