#include "support/test_env.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace qvr_test {
namespace {

struct State {
    std::string root;
    std::string prefix;
    std::string runtime;
    std::string registry;
    pid_t owner = 0;
};

State& state() {
    static State s;
    return s;
}

void cleanup_at_exit() {
    State& s = state();
    if (s.owner != getpid()) return;  // a forked child must not remove the parent's folders
    remove_shared_objects();
    std::error_code ec;
    if (!s.root.empty() && std::getenv("QVR_TEST_KEEP") == nullptr) std::filesystem::remove_all(s.root, ec);
}

}  // namespace

const std::string& test_root() { return state().root; }
const std::string& ipc_prefix() { return state().prefix; }
const std::string& runtime_dir() { return state().runtime; }
const std::string& registry_dir() { return state().registry; }

void install_test_environment() {
    State& s = state();
    if (!s.root.empty()) return;
    std::string templ = (std::filesystem::temp_directory_path() / "qvrtest.XXXXXX").string();
    if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    s.root = templ;
    s.owner = getpid();
    s.prefix = "qt" + std::to_string(getpid()) + "_";
    s.runtime = s.root + "/run";
    s.registry = s.root + "/registry";
    std::filesystem::create_directories(s.runtime);
    std::filesystem::create_directories(s.registry);
    setenv("QUORVANE_IPC_PREFIX", s.prefix.c_str(), 1);
    setenv("QUORVANE_RUNTIME_DIR", s.runtime.c_str(), 1);
    setenv("BREVANTIC_REGISTRY_DIR", s.registry.c_str(), 1);
    std::atexit(cleanup_at_exit);
}

void remove_shared_objects() {
    const std::string& prefix = state().prefix;
    if (prefix.empty()) return;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind(prefix, 0) == 0) std::filesystem::remove(entry.path(), ec);
    }
}

}  // namespace qvr_test
