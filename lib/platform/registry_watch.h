#pragma once
// Change notification for one key and everything below it. The hive's folder is watched
// (it may not exist yet: then the nearest folder above it is watched until it appears), and
// a change counts only when the key's contents really differ from what was last seen.
#include <chrono>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/registry_store.h"

namespace platform {

class RegistryWatch {
  public:
    RegistryWatch() = default;
    ~RegistryWatch();
    RegistryWatch(RegistryWatch&& other) noexcept;
    RegistryWatch& operator=(RegistryWatch&& other) noexcept;
    RegistryWatch(const RegistryWatch&) = delete;
    RegistryWatch& operator=(const RegistryWatch&) = delete;

    // Starts watching `path` in `hive`; the key need not exist. Returns 0, 87 for a bad path,
    // or another registry error code.
    static int start(RegistryHive hive, std::string_view path, RegistryWatch& watch);

    bool active() const { return fd_ >= 0; }
    // Becomes readable when the hive's folder changes; call changed() then.
    int fd() const { return fd_; }
    // True once after the key's contents changed since the start or the last true answer.
    // Never waits: costs one read of the watch when nothing happened.
    bool changed();
    // Waits up to `timeout` for changed() to become true.
    bool wait(std::chrono::milliseconds timeout);
    void stop();

  private:
    bool drain_events();
    void arm();
    std::string current_contents() const;

    int fd_ = -1;
    int watch_ = -1;
    std::filesystem::path watched_;  // the hive's folder, or the nearest existing one above it
    RegistryHive hive_ = RegistryHive::machine;
    std::string path_;
    std::string file_name_;
    std::string contents_;
};

}  // namespace platform
