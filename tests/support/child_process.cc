#include "support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace qvr_test {

std::string bin_path(const std::string& program) {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / program).string();
}

ChildProcess::~ChildProcess() {
    if (pid_ > 0 && !status_) {
        ::kill(pid_, SIGKILL);
        int st = 0;
        while (waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
        }
    }
    if (stdout_fd_ >= 0) close(stdout_fd_);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
    if (this != &other) {
        this->~ChildProcess();
        pid_ = std::exchange(other.pid_, -1);
        stdout_fd_ = std::exchange(other.stdout_fd_, -1);
        status_ = std::exchange(other.status_, std::nullopt);
        out_ = std::move(other.out_);
    }
    return *this;
}

ChildProcess ChildProcess::spawn(const std::string& program, const std::vector<std::string>& args,
                                 const std::vector<std::string>& env, bool capture_stdout) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string entry(*e);
        vars[entry.substr(0, entry.find('='))] = entry;
    }
    for (const auto& entry : env) vars[entry.substr(0, entry.find('='))] = entry;
    std::vector<std::string> env_strings;
    for (auto& [name, entry] : vars) env_strings.push_back(entry);
    std::vector<char*> envp;
    for (auto& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> argv_strings{program};
    argv_strings.insert(argv_strings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argv_strings) argv.push_back(s.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipe_fds[2] = {-1, -1};
    if (capture_stdout) {
        if (pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    }
    ChildProcess child;
    int rc = posix_spawn(&child.pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (capture_stdout) {
        close(pipe_fds[1]);
        child.stdout_fd_ = pipe_fds[0];
    }
    if (rc != 0) {
        child.pid_ = -1;
        throw std::runtime_error("posix_spawn " + program + ": " + std::strerror(rc));
    }
    return child;
}

std::optional<int> ChildProcess::wait(std::chrono::milliseconds timeout) {
    if (status_) return status_;
    if (pid_ <= 0) return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int st = 0;
        pid_t r = waitpid(pid_, &st, WNOHANG);
        if (r == pid_) {
            status_ = st;
            return status_;
        }
        if (r < 0 && errno != EINTR) return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

std::optional<int> ChildProcess::wait_exit_code(std::chrono::milliseconds timeout) {
    auto st = wait(timeout);
    if (!st || !WIFEXITED(*st)) return std::nullopt;
    return WEXITSTATUS(*st);
}

void ChildProcess::kill(int signal) {
    if (pid_ > 0 && !status_) ::kill(pid_, signal);
}

std::string ChildProcess::read_stdout(std::chrono::milliseconds timeout, const std::string& needle) {
    if (stdout_fd_ < 0) return out_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (!needle.empty() && out_.find(needle) != std::string::npos) break;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 && !needle.empty()) break;
        pollfd p{stdout_fd_, POLLIN, 0};
        int n = poll(&p, 1, needle.empty() ? 0 : static_cast<int>(left.count()));
        if (n <= 0) break;
        char buf[4096];
        ssize_t got = read(stdout_fd_, buf, sizeof buf);
        if (got <= 0) break;
        out_.append(buf, static_cast<size_t>(got));
    }
    return out_;
}

std::string ChildProcess::read_stdout_to_end(std::chrono::milliseconds timeout) {
    if (stdout_fd_ < 0) return out_;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{stdout_fd_, POLLIN, 0};
        const int n = poll(&p, 1, static_cast<int>(left.count()));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        char buf[4096];
        const ssize_t got = read(stdout_fd_, buf, sizeof buf);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        out_.append(buf, static_cast<size_t>(got));
    }
    return out_;
}

}  // namespace qvr_test
