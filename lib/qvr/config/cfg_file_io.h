#pragma once
// Files of a configuration folder, for the configuration stores only: paths, reads at an
// offset, whole-file rewrites and the folder's save lock. Results are 0 / -1 with the reason
// set by platform::fail.
#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "platform/file_save.h"
#include "platform/unique_fd.h"

namespace qvr::cfg {

// '\' turned into '/', trailing separators removed (a lone "/" stays).
std::string normalized_path(std::string_view path);
std::string join_path(std::string_view folder, std::string_view name);
std::string parent_folder(std::string_view folder);
std::string last_component(std::string_view folder);
// The two paths name the same folder: equal without case, or one folder reached by two
// paths (a link on the way).
bool same_folder(std::string_view a, std::string_view b);
// The process's current folder, read once per call; empty with errno set when unreadable.
std::string current_folder();
// The folder a caller named, as every load and save uses it: absolute (a relative one is
// taken from the current folder, read once) and normalized, so that its name, its parent,
// its plug-in, its switches and its audit context are those of the folder itself. Another
// machine's path keeps its form. Empty with errno set when the current folder cannot be
// read.
std::string resolved_folder(std::string_view folder);
// The configuration folder of the installation (QVR_CURRENT_CONFIG).
std::string current_config_folder();
// A file name of the folder itself: no separator, not "." or "..", not empty.
bool plain_file_name(std::string_view name);

// The path of `name` in `folder`: the exact name when it exists, else the first entry whose
// name matches without case (files copied from other systems), else the exact name.
std::string existing_file(std::string_view folder, std::string_view name);
bool file_exists(const std::string& path);

// Removes what saves of `path` that were killed left behind (platform/file_save.h). Every
// read below does it first: the next save or load of a file clears its dead saves.
void remove_dead_temporaries(const std::string& path);

// Reads up to out.size() bytes at `offset`; what the file does not hold is zero-filled.
// The number of bytes read, or -1 (errno) when the file cannot be opened or read.
ssize_t read_at(const std::string& path, std::uint64_t offset, std::span<std::uint8_t> out);

using FilePatch = platform::FilePatch;
// Largest file a rewrite builds.
inline constexpr std::uint64_t kMaxRewrittenFile = 256u << 20;
// The file with the patches laid over its old content (zeros where it was shorter, nothing
// cut off), saved whole (platform/file_save.h): a crash leaves the old or the new file.
// Callers hold the folder's FolderLock, so that no other save's change is lost.
int patch_file(const std::string& path, std::span<const FilePatch> patches);
// A whole new file, the same way.
int replace_file(const std::string& path, std::span<const std::uint8_t> bytes);
// Sets the file's modification time to now; 0 also when it does not exist.
int touch_file(const std::string& path);

// Saves into one folder take turns, across threads and processes, so that a
// read-modify-write of a file never loses another save's change. The wait is bounded.
class FolderLock {
  public:
    // Null with errno (1460 when the wait ran out).
    static std::optional<FolderLock> acquire(const std::string& folder);
    FolderLock(FolderLock&&) noexcept = default;
    FolderLock& operator=(FolderLock&&) = delete;
    FolderLock(const FolderLock&) = delete;

  private:
    explicit FolderLock(platform::UniqueFd fd) : fd_(std::move(fd)) {}
    platform::UniqueFd fd_;  // closing it releases the lock
};

}  // namespace qvr::cfg
