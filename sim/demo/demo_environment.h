#pragma once
// The demo's own world: a fresh IPC prefix and a temporary folder holding the runtime
// folder (mailslot files), the registry folder and the configuration tree, set in the
// environment before anything reads it, so the programs it starts share them. On the way
// out every shared object and mailslot file under the prefix and the folder are removed.
#include <filesystem>
#include <string>

namespace sim_demo {

class DemoEnvironment {
  public:
    // Throws std::runtime_error when the folder cannot be made.
    DemoEnvironment();
    ~DemoEnvironment();
    DemoEnvironment(const DemoEnvironment&) = delete;
    DemoEnvironment& operator=(const DemoEnvironment&) = delete;

    const std::string& prefix() const { return prefix_; }
    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path runtime_dir() const { return root_ / "run"; }
    std::filesystem::path registry_dir() const { return root_ / "registry"; }

    // Removes everything; a line saying what went. Also done by the destructor.
    std::string remove_all();

  private:
    std::string prefix_;
    std::filesystem::path root_;
    bool removed_ = false;
};

}  // namespace sim_demo
