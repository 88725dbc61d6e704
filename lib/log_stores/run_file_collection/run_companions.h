#pragma once
// The files of one run in its folder: the run file and its companions of the same stem
// (".txt", ".qvr", ".zip"), found by their exact name first and then without letter case
// (files copied from Windows), moved without ever replacing a file, and given the run's
// attribute (read-only for a finished run kept as such, else writable by its owner).
#include <optional>
#include <string>
#include <string_view>

namespace log_stores {

// The folder part and the file name of `path` (split at its last '/' or '\').
std::string folder_of(std::string_view path);
std::string file_name_of(std::string_view path);
// `path` without its extension (the text after the last '.' of the file name).
std::string stem_of(std::string_view path);

// The companion of the run `run_path` with `extension`, exact name first, then without
// letter case; nullopt when there is none.
std::optional<std::string> find_companion(const std::string& run_path, std::string_view extension);

// Read-only (every write bit off) or writable by its owner. 0 / -1 with errno.
int set_read_only(const std::string& path, bool read_only);

// 0 when a new run may be made at `path`: no file is there, or one without a record that no
// logger holds (what a failed create leaves). -1 with ERROR_FILE_EXISTS (80) for a run that
// holds a record, ERROR_LOCK_VIOLATION (33) for one a logger holds, or the open's error.
int check_new_run_path(const std::string& path);

}  // namespace log_stores
