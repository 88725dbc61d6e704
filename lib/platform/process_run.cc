#include "platform/process_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "platform/last_error.h"
#include "platform/monotonic_clock.h"
#include "platform/unique_fd.h"

extern char** environ;

namespace platform {
namespace {

struct Pipe {
    UniqueFd read;
    UniqueFd write;
};

int make_pipe(Pipe& pipe) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return -1;
    pipe.read.reset(fds[0]);
    pipe.write.reset(fds[1]);
    return 0;
}

class SpawnActions {
  public:
    SpawnActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
    ~SpawnActions() {
        if (ok_) posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t* get() { return &actions_; }

  private:
    posix_spawn_file_actions_t actions_{};
    bool ok_ = false;
};

// Reads both pipes until they close and the child has ended, so a child that fills one pipe
// while we wait on the other never blocks. False when the deadline passed first.
bool drain_and_wait(int pidfd, int out_fd, int err_fd, RunResult& result, const Deadline& deadline) {
    std::array<pollfd, 3> fds{pollfd{out_fd, POLLIN, 0}, pollfd{err_fd, POLLIN, 0}, pollfd{pidfd, POLLIN, 0}};
    std::array<std::string*, 2> sinks{&result.out, &result.err};
    std::array<char, 4096> buffer{};
    while (fds[0].fd >= 0 || fds[1].fd >= 0 || fds[2].fd >= 0) {
        if (deadline.expired()) return false;
        const int n = ::poll(fds.data(), fds.size(), deadline.remaining_ms());
        if (n < 0) {
            if (errno == EINTR) continue;
            return true;
        }
        for (size_t i = 0; i < sinks.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t got = ::read(fds[i].fd, buffer.data(), buffer.size());
            if (got > 0) {
                sinks[i]->append(buffer.data(), static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;
            }
        }
        if (fds[2].fd >= 0 && fds[2].revents != 0) fds[2].fd = -1;
    }
    return true;
}

int exit_code_of(int status) {
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

}  // namespace

int run_program(const std::vector<std::string>& argv, const RunOptions& options, RunResult& result) {
    result = RunResult{};
    if (argv.empty() || argv[0].empty()) return fail(EINVAL);

    Pipe out_pipe;
    Pipe err_pipe;
    if (options.capture_stdout && make_pipe(out_pipe) != 0) return fail_from_errno();
    if (options.capture_stderr && make_pipe(err_pipe) != 0) return fail_from_errno();

    SpawnActions actions;
    if (!actions.ok()) return fail(ENOMEM);
    posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (options.capture_stdout)
        posix_spawn_file_actions_adddup2(actions.get(), out_pipe.write.get(), STDOUT_FILENO);
    if (options.capture_stderr)
        posix_spawn_file_actions_adddup2(actions.get(), err_pipe.write.get(), STDERR_FILENO);
    if (!options.working_dir.empty())
        posix_spawn_file_actions_addchdir_np(actions.get(), options.working_dir.c_str());

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    pid_t pid = -1;
    const int rc = argv[0].find('/') == std::string::npos
                       ? posix_spawnp(&pid, args[0], actions.get(), nullptr, args.data(), environ)
                       : posix_spawn(&pid, args[0], actions.get(), nullptr, args.data(), environ);
    if (rc != 0) return fail(rc);
    out_pipe.write.reset();
    err_pipe.write.reset();

    // Without a pidfd (old kernel) only the pipes are watched; waitpid below still reaps.
    UniqueFd pidfd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0)));
    const Deadline deadline =
        options.timeout.count() > 0 ? Deadline::after_ms(options.timeout.count()) : Deadline::forever();
    if (!drain_and_wait(pidfd.get(), out_pipe.read.get(), err_pipe.read.get(), result, deadline)) {
        ::kill(pid, SIGKILL);
        int ignored = 0;
        while (::waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
        }
        return fail(kErrorTimeout);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return fail_from_errno();
    }
    result.exit_code = exit_code_of(status);
    return 0;
}

}  // namespace platform
