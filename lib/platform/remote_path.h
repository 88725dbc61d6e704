#pragma once
// Paths of another machine ("\\machine\share\rest", as the system builds them for remote
// servers) keep that form everywhere except where a file is opened: there the machine's
// value in SOFTWARE\Brevantic\Quorvane\RemoteMachines (machine hive, value name = machine
// name, compared without case) names the local folder where an administrator mounted that
// machine's shares, and the path becomes "<folder>/share/rest".
#include <string>
#include <string_view>

namespace platform {

inline constexpr const char* kRemoteMachinesKey = "SOFTWARE\\Brevantic\\Quorvane\\RemoteMachines";

// True when `path` begins with two backslashes (a path of another machine).
bool is_remote_path(std::string_view path);

// The local form of `path`: a remote path mapped as above ('\' and '/' both separate), any
// other path unchanged. 0, or -1 with 53 (no entry for the machine, or no machine part) or
// 87 (a ".." component).
int map_remote_path(std::string_view path, std::string& local);

// The path to open for `path`, which may name another machine's file with either separator
// ("\\m\share\x", or "//m/share/x" once its separators were turned): mapped as above,
// any other path unchanged. 0, or -1 with 53 or 87.
int path_to_open(std::string_view path, std::string& local);

}  // namespace platform
