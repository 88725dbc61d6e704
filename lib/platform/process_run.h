#pragma once
// Runs an external program with an argv array (never through a shell), its standard input
// on /dev/null and, when asked, its standard output and standard error each on a pipe of
// its own, and waits for it to end.
#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace platform {

struct RunOptions {
    // Folder the child starts in; empty: the caller's current folder.
    std::filesystem::path working_dir;
    bool capture_stdout = false;
    bool capture_stderr = false;
    // Longest wait for the child; zero waits for as long as it runs. A child still running
    // then is killed.
    std::chrono::milliseconds timeout{0};
};

struct RunResult {
    // The exit code, or 128 + the signal number when a signal ended the child.
    int exit_code = -1;
    std::string out;  // standard output (capture_stdout only)
    std::string err;  // standard error (capture_stderr only)
};

// Starts argv[0] (looked up in PATH when it holds no '/') with `argv` and waits for it.
// Returns 0 once the child has ended, or -1 with the reason in errno when it could not be
// started (ENOENT for a missing program), or 1460 when it outlived the time-out.
int run_program(const std::vector<std::string>& argv, const RunOptions& options, RunResult& result);

}  // namespace platform
