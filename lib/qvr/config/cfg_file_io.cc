#include "qvr/config/cfg_file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/file_io.h"
#include "platform/file_paths.h"
#include "platform/file_save.h"
#include "platform/last_error.h"
#include "platform/lock_turn.h"
#include "platform/monotonic_clock.h"
#include "platform/remote_path.h"
#include "qvr/settings/env.h"

namespace qvr::cfg {
namespace {

constexpr int kFolderLockWaitMs = 10000;

// Paths keep another machine's form; only the open sees its mapped folder.
bool opened(const std::string& path, std::string& local) {
    return platform::path_to_open(path, local) == 0;
}

}  // namespace

std::string normalized_path(std::string_view path) {
    std::string p(path);
    std::replace(p.begin(), p.end(), '\\', '/');
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

std::string join_path(std::string_view folder, std::string_view name) {
    std::string p = normalized_path(folder);
    if (p.empty()) return std::string(name);
    if (p.back() != '/') p.push_back('/');
    p.append(name);
    return p;
}

std::string parent_folder(std::string_view folder) {
    std::string p = normalized_path(folder);
    std::size_t slash = p.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return p.substr(0, slash);
}

std::string last_component(std::string_view folder) {
    std::string p = normalized_path(folder);
    std::size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool same_folder(std::string_view a, std::string_view b) {
    std::string x = normalized_path(a), y = normalized_path(b);
    if (platform::equal_ignoring_case(x, y)) return true;
    if (x.empty() || y.empty()) return false;
    const int saved = errno;
    std::string local_x, local_y;
    struct stat sx {};
    struct stat sy {};
    const bool same = opened(x, local_x) && opened(y, local_y) && ::stat(local_x.c_str(), &sx) == 0 &&
                      ::stat(local_y.c_str(), &sy) == 0 && S_ISDIR(sx.st_mode) && sx.st_dev == sy.st_dev &&
                      sx.st_ino == sy.st_ino;
    errno = saved;
    return same;
}

std::string current_folder() {
    return platform::current_folder();
}

std::string resolved_folder(std::string_view folder) {
    std::string absolute;
    if (platform::absolute_path(folder, absolute) != 0) return {};
    return absolute;
}

std::string current_config_folder() {
    const char* value = env_GetVariable("QVR_CURRENT_CONFIG");
    return value != nullptr ? normalized_path(value) : std::string();
}

bool plain_file_name(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string_view::npos;
}

std::string existing_file(std::string_view folder, std::string_view name) {
    std::string exact = join_path(folder, name);
    std::string local;
    if (!opened(exact, local)) return exact;
    struct stat st {};
    if (::stat(local.c_str(), &st) == 0) return exact;
    const int saved = errno;
    std::string dir;
    if (!opened(normalized_path(folder), dir)) return exact;
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (d != nullptr) {
        std::string found;
        while (dirent* entry = ::readdir(d)) {
            if (platform::equal_ignoring_case(entry->d_name, name)) {
                found = join_path(folder, entry->d_name);
                break;
            }
        }
        ::closedir(d);
        if (!found.empty()) return found;
    }
    errno = saved;
    return exact;
}

bool file_exists(const std::string& path) {
    std::string local;
    struct stat st {};
    return opened(path, local) && ::stat(local.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

void remove_dead_temporaries(const std::string& path) {
    const int saved = errno;
    std::string local;
    if (opened(path, local)) platform::remove_dead_temporaries(local);
    errno = saved;
}

ssize_t read_at(const std::string& path, std::uint64_t offset, std::span<std::uint8_t> out) {
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    std::string local;
    if (!opened(path, local)) return -1;
    platform::remove_dead_temporaries(local);
    const platform::UniqueFd fd = platform::open_file(local, O_RDONLY);
    if (!fd) return -1;
    return platform::pread_all(fd.get(), out, offset);
}

int replace_file(const std::string& path, std::span<const std::uint8_t> bytes) {
    std::string local;
    if (!opened(path, local)) return -1;
    return platform::save_file(local, bytes);
}

int patch_file(const std::string& path, std::span<const FilePatch> patches) {
    for (const FilePatch& p : patches) {
        if (p.offset > kMaxRewrittenFile || p.bytes.size() > kMaxRewrittenFile - p.offset)
            return platform::fail(EFBIG);
    }
    std::string local;
    if (!opened(path, local)) return -1;
    return platform::save_file_patched(local, patches);
}

int touch_file(const std::string& path) {
    std::string local;
    if (!opened(path, local)) return -1;
    if (::utimensat(AT_FDCWD, local.c_str(), nullptr, 0) == 0 || errno == ENOENT) return 0;
    return platform::fail_from_errno();
}

std::optional<FolderLock> FolderLock::acquire(const std::string& folder) {
    std::string local;
    if (!opened(folder.empty() ? "." : folder, local)) return std::nullopt;
    platform::UniqueFd fd = platform::open_file(local, O_RDONLY | O_DIRECTORY);
    if (!fd) return std::nullopt;
    const int raw = fd.get();
    FolderLock lock(std::move(fd));
    const auto deadline = platform::Deadline::after_ms(kFolderLockWaitMs);
    // Saves take the folder in turn (platform/lock_turn.h); the turn is the folder above,
    // never the locked folder itself.
    std::error_code error;
    std::filesystem::path folder_path = std::filesystem::absolute(local, error).lexically_normal();
    if (!folder_path.has_filename()) folder_path = folder_path.parent_path();
    const std::filesystem::path above = folder_path.parent_path();
    platform::LockTurn turn;
    if (!error && !above.empty() && above != folder_path) turn = platform::LockTurn::take(above.string(), deadline);
    if (platform::wait_for_flock(raw, deadline) != 0) return std::nullopt;
    return lock;
}

}  // namespace qvr::cfg
