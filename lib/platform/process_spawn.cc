#include "platform/process_spawn.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

#include "platform/ascii_text.h"
#include "platform/last_error.h"

extern char** environ;

namespace platform {
namespace {

int pidfd_open(pid_t pid) {
    return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
}

bool is_executable_file(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::optional<std::string> find_in(const std::string& folder, std::string_view name) {
    const std::string exact = folder + "/" + std::string(name);
    if (is_executable_file(exact)) return exact;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return std::nullopt;
    std::optional<std::string> found;
    while (const dirent* e = readdir(dir)) {
        if (!equal_ignoring_case(e->d_name, name)) continue;
        const std::string path = folder + "/" + e->d_name;
        if (is_executable_file(path)) {
            found = path;
            break;
        }
    }
    closedir(dir);
    return found;
}

// Children started here, watched by one thread through their pidfds.
class Reaper {
  public:
    static Reaper& instance() {
        static Reaper r;
        return r;
    }

    void add(pid_t pid) {
        const int fd = pidfd_open(pid);
        std::lock_guard lock(mutex_);
        children_[pid] = Child{fd, std::nullopt};
        if (fd < 0) return;  // without a pidfd the child is reaped by wait_child
        if (!thread_.joinable()) thread_ = std::thread([this] { run(); });
        const uint64_t one = 1;
        [[maybe_unused]] auto n = write(wake_, &one, sizeof one);
    }

    std::optional<int> wait(pid_t pid, int timeout_ms) {
        std::unique_lock lock(mutex_);
        auto it = children_.find(pid);
        if (it == children_.end()) {
            fail(ECHILD);
            return std::nullopt;
        }
        if (it->second.status) return it->second.status;
        if (it->second.fd == -1) {
            lock.unlock();
            return wait_without_pidfd(pid, timeout_ms);
        }
        auto ended = [&] { return children_.at(pid).status.has_value(); };
        if (timeout_ms < 0) {
            ended_.wait(lock, ended);
        } else if (!ended_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ended)) {
            fail(ETIMEDOUT);
            return std::nullopt;
        }
        return children_.at(pid).status;
    }

    ~Reaper() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        const uint64_t one = 1;
        [[maybe_unused]] auto n = write(wake_, &one, sizeof one);
        if (thread_.joinable()) thread_.join();
        for (auto& [pid, child] : children_)
            if (child.fd >= 0) close(child.fd);
        close(wake_);
    }

  private:
    struct Child {
        int fd;
        std::optional<int> status;
    };

    Reaper() : wake_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

    std::optional<int> wait_without_pidfd(pid_t pid, int timeout_ms) {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        for (;;) {
            int status = 0;
            const pid_t r = waitpid(pid, &status, WNOHANG);
            if (r == pid) {
                std::lock_guard lock(mutex_);
                children_[pid].status = status;
                return status;
            }
            if (r < 0) {
                fail_from_errno();
                return std::nullopt;
            }
            if (timeout_ms >= 0 && std::chrono::steady_clock::now() >= until) {
                fail(ETIMEDOUT);
                return std::nullopt;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    void run() {
        for (;;) {
            std::vector<pollfd> fds{{wake_, POLLIN, 0}};
            std::vector<pid_t> pids{0};
            {
                std::lock_guard lock(mutex_);
                if (stop_) return;
                for (const auto& [pid, child] : children_) {
                    if (child.fd < 0 || child.status) continue;
                    fds.push_back({child.fd, POLLIN, 0});
                    pids.push_back(pid);
                }
            }
            if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return;
            if ((fds[0].revents & POLLIN) != 0) {
                uint64_t count;
                [[maybe_unused]] auto n = read(wake_, &count, sizeof count);
            }
            for (size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents == 0) continue;
                int status = 0;
                if (waitpid(pids[i], &status, WNOHANG) != pids[i]) continue;
                std::lock_guard lock(mutex_);
                Child& c = children_[pids[i]];
                c.status = status;
                close(c.fd);
                c.fd = -2;  // reaped; -2 keeps it apart from "no pidfd"
            }
            ended_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable ended_;
    std::map<pid_t, Child> children_;
    std::thread thread_;
    int wake_;
    bool stop_ = false;
};

}  // namespace

std::vector<std::string> path_folders() {
    std::vector<std::string> folders;
    const char* path = std::getenv("PATH");
    std::string_view rest = path != nullptr ? path : "";
    while (!rest.empty()) {
        const size_t colon = rest.find(':');
        const std::string_view part = rest.substr(0, colon);
        if (!part.empty()) folders.emplace_back(part);
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    return folders;
}

std::optional<std::string> find_program(std::string_view name, std::span<const std::string> folders) {
    if (name.empty()) {
        fail(ENOENT);
        return std::nullopt;
    }
    if (name.find('/') != std::string_view::npos) {
        if (is_executable_file(std::string(name))) return std::string(name);
        fail(ENOENT);
        return std::nullopt;
    }
    for (const auto& folder : folders)
        if (auto found = find_in(folder, name)) return found;
    fail(ENOENT);
    return std::nullopt;
}

pid_t spawn_process(const std::string& path, const std::vector<std::string>& argv,
                    const SpawnOptions& options) {
    std::vector<std::string> env_strings;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string_view entry(*e);
        const std::string_view key = entry.substr(0, entry.find('='));
        bool replaced = false;
        for (const auto& extra : options.environment)
            if (std::string_view(extra).substr(0, extra.find('=')) == key) replaced = true;
        if (!replaced) env_strings.emplace_back(entry);
    }
    for (const auto& extra : options.environment) env_strings.push_back(extra);
    std::vector<char*> env;
    for (auto& s : env_strings) env.push_back(s.data());
    env.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> arg_pointers;
    for (auto& a : args) arg_pointers.push_back(a.data());
    arg_pointers.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    short flags = 0;
    if (!options.working_dir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.working_dir.c_str());
    if (!options.inherit_descriptors) posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    if (options.new_process_group) {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(&attributes, 0);
    }
    if (options.new_session) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attributes, flags);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, path.c_str(), &actions, &attributes, arg_pointers.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) return fail(rc);
    Reaper::instance().add(pid);
    return pid;
}

std::optional<int> wait_child(pid_t pid, int timeout_ms) {
    return Reaper::instance().wait(pid, timeout_ms);
}

bool process_alive(pid_t pid) {
    if (pid <= 0) return false;
    const int fd = pidfd_open(pid);
    if (fd < 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int ready = poll(&p, 1, 0);
    close(fd);
    return ready == 0;
}

}  // namespace platform
