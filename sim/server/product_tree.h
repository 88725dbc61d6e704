#pragma once
// A server's product tree in a folder of its own: each folder key (QVR_CURRENT_CONFIG,
// QVR_LOGGED_DATA, QVR_BIN ...) mapped to a folder under one root, for the file and
// configuration handlers of the stand-in.
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sim_server {

class ProductTree {
  public:
    // The keys every tree has.
    static const std::vector<std::string>& standard_keys();

    // Creates the root (when missing) and a folder for each standard key: the key without
    // "QVR_" under the root ("CURRENT_CONFIG", "LOGGED_DATA", "BIN" ...).
    explicit ProductTree(std::string root);

    const std::string& root() const { return root_; }
    // The folder of `key`, empty when the tree has none.
    std::string folder(std::string_view key) const;
    // Maps `key` to `relative` under the root (created).
    void map(std::string_view key, std::string_view relative);
    // `path` with every symbolic link resolved, when that lies under the root; else empty. A
    // part that does not exist yet is taken as it is; a link that leads nowhere is refused,
    // since creating through it could land anywhere.
    std::string inside(const std::string& path) const;
    // "KEY=folder" for each key, for a child's environment.
    std::vector<std::string> environment() const;

  private:
    std::string root_;
    std::map<std::string, std::string> folders_;
};

}  // namespace sim_server
