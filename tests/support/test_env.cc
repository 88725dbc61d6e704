#include "support/test_env.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <locale>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

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

std::map<std::string, std::string> environment_now() {
    std::map<std::string, std::string> vars;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const auto eq = text.find('=');
        if (eq == std::string_view::npos) continue;
        vars.emplace(text.substr(0, eq), text.substr(eq + 1));
    }
    return vars;
}

// setenv/unsetenv only, never clearenv: the product may hold pointers getenv gave it.
void restore_environment(const std::map<std::string, std::string>& wanted) {
    for (const auto& [name, value] : environment_now()) {
        if (!wanted.contains(name)) unsetenv(name.c_str());
    }
    for (const auto& [name, value] : wanted) {
        const char* now = std::getenv(name.c_str());
        if (now == nullptr || value != now) setenv(name.c_str(), value.c_str(), 1);
    }
}

void empty_folder(const std::string& folder) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
        std::filesystem::remove_all(entry.path(), ec);
    }
}

std::vector<void (*)()>& case_end_hooks() {
    static std::vector<void (*)()> hooks;
    return hooks;
}

class ResetAfterEachCase final : public ::testing::EmptyTestEventListener {
  public:
    // After the global environments have set up, so that what they set stays.
    void OnEnvironmentsSetUpEnd(const ::testing::UnitTest&) override { environment_ = environment_now(); }

    void OnTestEnd(const ::testing::TestInfo&) override {
        for (auto* reset : case_end_hooks()) reset();
        restore_environment(environment_);
        std::setlocale(LC_ALL, "C");
        std::locale::global(std::locale::classic());
        remove_shared_objects();
        // Everything a case made below the root goes; the registry and mailslot folders
        // come back empty, as the environment installs them.
        empty_folder(test_root());
        std::error_code ec;
        std::filesystem::create_directories(runtime_dir(), ec);
        std::filesystem::create_directories(registry_dir(), ec);
    }

  private:
    std::map<std::string, std::string> environment_;
};

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

void reset_after_each_case() {
    ::testing::UnitTest::GetInstance()->listeners().Append(new ResetAfterEachCase);
}

void on_each_case_end(void (*reset)()) {
    auto& hooks = case_end_hooks();
    for (auto* known : hooks) {
        if (known == reset) return;
    }
    hooks.push_back(reset);
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
