#pragma once
// A world of its own for the demo and qvr_rig: a fresh IPC prefix and a temporary folder
// holding the runtime folder (mailslot files), the registry folder and the configuration
// tree, set in the environment before anything reads it, so the programs started share
// them; the folder is also the product root (QVR_), so operator messages that find no system
// log land in its <product>.log. On the way out every shared object and mailslot file under
// the prefix and the folder are removed.
#include <filesystem>
#include <string>
#include <vector>

namespace sim_rig {

class RigEnvironment {
  public:
    // `stem` starts the prefix and the folder's name ("qvrdemo"). Throws std::runtime_error
    // when the folder cannot be made.
    explicit RigEnvironment(const std::string& stem);
    ~RigEnvironment();
    RigEnvironment(const RigEnvironment&) = delete;
    RigEnvironment& operator=(const RigEnvironment&) = delete;

    const std::string& prefix() const { return prefix_; }
    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path runtime_dir() const { return root_ / "run"; }
    std::filesystem::path registry_dir() const { return root_ / "registry"; }

    // "NAME=value" of every variable through which other programs reach this world (the
    // host stand-in's tree and the configuration folder included); also set in this process.
    std::vector<std::string> variables() const;

    // Removes everything; a line saying what went. Also done by the destructor.
    std::string remove_all();

  private:
    std::string prefix_;
    std::filesystem::path root_;
    bool removed_ = false;
};

}  // namespace sim_rig
