#include "rig/rig_environment.h"

#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>

#include "host/host.h"

namespace sim_rig {

RigEnvironment::RigEnvironment(const std::string& stem) {
    std::string templ = (std::filesystem::temp_directory_path() / (stem + ".XXXXXX")).string();
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("cannot make a folder under " + templ);
    root_ = templ;
    prefix_ = stem + std::to_string(getpid()) + "_";
    std::filesystem::create_directories(runtime_dir());
    std::filesystem::create_directories(registry_dir());
    for (const std::string& variable : variables()) {
        const size_t eq = variable.find('=');
        setenv(variable.substr(0, eq).c_str(), variable.c_str() + eq + 1, 1);
    }
}

RigEnvironment::~RigEnvironment() {
    remove_all();
}

std::vector<std::string> RigEnvironment::variables() const {
    return {"QUORVANE_IPC_PREFIX=" + prefix_,
            "QUORVANE_RUNTIME_DIR=" + runtime_dir().string(),
            "BREVANTIC_REGISTRY_DIR=" + registry_dir().string(),
            "QVR_HOST_ROOT=" + root_.string(),
            "QVR_CURRENT_CONFIG=" + (root_ / "CURRENT_CONFIG").string(),
            "QVR_=" + root_.string()};
}

std::string RigEnvironment::remove_all() {
    if (removed_) return {};
    removed_ = true;
    const auto removed = sim_host::remove_all();
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
    std::string line = removed ? "removed " + std::to_string(removed->objects) + " shared objects and " +
                                     std::to_string(removed->mailslots) + " mailslot files under " + prefix_
                               : "could not list the shared objects under " + prefix_;
    line += ec ? "; could not remove " + root_.string() + ": " + ec.message() : "; removed " + root_.string();
    return line;
}

}  // namespace sim_rig
