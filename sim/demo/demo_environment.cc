#include "demo_environment.h"

#include <stdlib.h>
#include <unistd.h>

#include <stdexcept>

#include "host/host.h"

namespace sim_demo {

DemoEnvironment::DemoEnvironment() {
    std::string templ = (std::filesystem::temp_directory_path() / "qvrdemo.XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("cannot make a folder under " + templ);
    root_ = templ;
    prefix_ = "qvrdemo" + std::to_string(getpid()) + "_";
    std::filesystem::create_directories(runtime_dir());
    std::filesystem::create_directories(registry_dir());
    setenv("QUORVANE_IPC_PREFIX", prefix_.c_str(), 1);
    setenv("QUORVANE_RUNTIME_DIR", runtime_dir().c_str(), 1);
    setenv("BREVANTIC_REGISTRY_DIR", registry_dir().c_str(), 1);
}

DemoEnvironment::~DemoEnvironment() {
    remove_all();
}

std::string DemoEnvironment::remove_all() {
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

}  // namespace sim_demo
