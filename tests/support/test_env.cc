#include "support/test_env.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

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

// The pid in `name` after `lead` ("qt1234_...", "qvrtest.1234.x"), when one is there.
std::optional<pid_t> pid_after(std::string_view name, std::string_view lead) {
    if (!name.starts_with(lead)) return std::nullopt;
    name.remove_prefix(lead.size());
    pid_t pid = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (ec != std::errc() || end == name.data() || pid <= 0) return std::nullopt;
    return pid;
}

bool has_ended(pid_t pid) {
    return pid != getpid() && ::kill(pid, 0) == -1 && errno == ESRCH;
}

}  // namespace

const std::string& test_root() { return state().root; }
const std::string& ipc_prefix() { return state().prefix; }
const std::string& runtime_dir() { return state().runtime; }
const std::string& registry_dir() { return state().registry; }

void install_test_environment() {
    State& s = state();
    if (!s.root.empty()) return;
    remove_leftovers_of_ended_tests();
    std::string templ =
        (std::filesystem::temp_directory_path() / ("qvrtest." + std::to_string(getpid()) + ".XXXXXX")).string();
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

void remove_leftovers_of_ended_tests() {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", ec)) {
        const auto pid = pid_after(entry.path().filename().string(), "qt");
        if (pid && has_ended(*pid)) std::filesystem::remove(entry.path(), ec);
    }
    for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::temp_directory_path(), ec)) {
        const std::string name = entry.path().filename().string();
        auto pid = pid_after(name, "qvrtest.");
        if (!pid) pid = pid_after(name, "qvr_host.");
        if (pid && has_ended(*pid)) std::filesystem::remove_all(entry.path(), ec);
    }
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
