#pragma once
// Child processes for multi-process tests. Started with posix_spawn (never fork in a
// threaded test process); killed and reaped on destruction so a failing test leaves no
// process behind.
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qvr_test {

// Path of a program built into the same folder as the running test binary.
std::string bin_path(const std::string& program);

class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(ChildProcess&& other) noexcept;
    ChildProcess& operator=(ChildProcess&& other) noexcept;
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts `program` (a path) with `args`; `env` entries "NAME=value" are added to (or
    // replace in) the current environment. Standard output is captured when asked.
    static ChildProcess spawn(const std::string& program, const std::vector<std::string>& args,
                              const std::vector<std::string>& env = {}, bool capture_stdout = false);

    pid_t pid() const { return pid_; }
    bool running() const { return pid_ > 0 && !status_; }

    // Waits up to `timeout` for the child to end; returns its wait status.
    std::optional<int> wait(std::chrono::milliseconds timeout);
    // Exit code when the child exited normally, else nullopt (also on time-out).
    std::optional<int> wait_exit_code(std::chrono::milliseconds timeout);
    void kill(int signal);
    // Reads what the child wrote to standard output so far (capture_stdout only);
    // waits up to `timeout` for `needle` when one is given.
    std::string read_stdout(std::chrono::milliseconds timeout, const std::string& needle = {});
    // Reads until the child closes its standard output (it ended) or `timeout` passes, and
    // gives everything it wrote (capture_stdout only). Reading as it comes keeps a long
    // output from filling the pipe and stalling the child.
    std::string read_stdout_to_end(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    int stdout_fd_ = -1;
    std::optional<int> status_;
    std::string out_;
};

}  // namespace qvr_test
