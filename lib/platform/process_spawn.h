#pragma once
// Starting programs: posix_spawn with an argv array (never a shell), found by name in a list
// of folders. Every child started here is reaped by a reaper thread of this module when it
// ends, so none is left a zombie; its exit status stays available to wait_child().
#include <sys/types.h>

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The path of program `name` in the first of `folders` that has it: the exact name first,
// then a case-insensitive match (files copied from elsewhere). A name with a '/' is taken
// as it is when it exists. nullopt (errno ENOENT) when not found.
std::optional<std::string> find_program(std::string_view name, std::span<const std::string> folders);
// The folders of $PATH, in order.
std::vector<std::string> path_folders();

struct SpawnOptions {
    std::string working_dir;          // empty: the caller's
    bool inherit_descriptors = true;  // false: the child gets only 0, 1 and 2
    bool new_process_group = false;
    bool new_session = false;
    std::vector<std::string> environment;  // "NAME=value" added to (or replacing in) ours
};

// Starts `path` with `argv` (argv[0] included). The child's id, or -1 with errno set.
pid_t spawn_process(const std::string& path, const std::vector<std::string>& argv,
                    const SpawnOptions& options);

// Waits up to `timeout_ms` (-1: no limit) for a child started here to end; its wait status,
// or nullopt (errno ETIMEDOUT, or ECHILD for a process not started here).
std::optional<int> wait_child(pid_t pid, int timeout_ms);

// Whether process `pid` exists and has not ended (a zombie has ended).
bool process_alive(pid_t pid);

}  // namespace platform
