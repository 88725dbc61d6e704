#pragma once
// File and folder services the runtime library needs beyond plain file I/O: access checks
// with the effective ids, folder creation with a mode, and the per-user data folder.
#include <filesystem>
#include <string>
#include <string_view>

namespace platform {

// Access bits for file_access_allowed (the access(2) bits).
inline constexpr int kAccessRead = 4;
inline constexpr int kAccessWrite = 2;
inline constexpr int kAccessExecute = 1;

// True when the process's effective user may use `path` as asked (faccessat with
// AT_EACCESS); false for a missing path or any failure.
bool file_access_allowed(const std::filesystem::path& path, int access);

// Creates one folder with `mode` (less the umask). Returns 0, or -1 with errno (EEXIST when
// it is already there).
int make_directory(const std::filesystem::path& path, unsigned mode);

// The process's current folder; empty with errno set when it cannot be read.
std::string current_folder();

// The absolute form of a path, for code that must know which folder it names (its name, its
// parent) and never changes the current folder: '\' read as '/', a relative path taken from
// the current folder (read once, now), "." components and repeated or trailing separators
// dropped, ".." taking away the component before it by name (a link in the path is not
// followed back to its own parent). A path of another machine ("\\m\..." or "//m/...")
// only gets its separators turned. 0, or -1 with errno when the current folder cannot be
// read.
int absolute_path(std::string_view path, std::string& out);

// The per-user data folder: $XDG_DATA_HOME, else $HOME/.local/share (the password
// database's home when HOME is unset). Empty when none can be found.
std::filesystem::path user_data_folder();

}  // namespace platform
