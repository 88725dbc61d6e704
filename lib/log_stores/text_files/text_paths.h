#pragma once
// Where a logger text file lies: a path of this machine ('\' accepted for '/'), a path of
// another machine ("\\machine\share\rest") mapped through RemoteMachines, and the same path
// as a server's remote file requests name it.
#include <string>
#include <string_view>

namespace log_stores::text_files {

// The local form of `file`. 0, or -1 with the last error (53 for a machine without a local
// mapping, 87 for a ".." in a remote path).
int local_text_path(std::string_view file, std::string& local);

// The path a server's file requests take: a remote path without its machine part
// ("\\machine\QVR_LOGGED_DATA\a.txt" gives "QVR_LOGGED_DATA\a.txt"); any other unchanged.
std::string server_side_path(std::string_view file);

// The folder part of `file` with its final separator ("" for a bare name).
std::string_view folder_of(std::string_view file);

// True for section "TEXT" or "[TEXT]" in any letter case.
bool is_text_section(std::string_view section);

}  // namespace log_stores::text_files
