#include "platform/file_paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/last_error.h"

namespace platform {

bool file_access_allowed(const std::filesystem::path& path, int access) {
    if (path.empty()) return false;
    const int mode = access & (kAccessRead | kAccessWrite | kAccessExecute);
    return ::faccessat(AT_FDCWD, path.c_str(), mode == 0 ? F_OK : mode, AT_EACCESS) == 0;
}

int make_directory(const std::filesystem::path& path, unsigned mode) {
    if (path.empty()) return fail(ENOENT);
    if (::mkdir(path.c_str(), static_cast<mode_t>(mode)) != 0) return fail_from_errno();
    return 0;
}

std::filesystem::path user_data_folder() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') return xdg;
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/')
        return std::filesystem::path(home) / ".local" / "share";
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr && found->pw_dir[0] == '/')
        return std::filesystem::path(found->pw_dir) / ".local" / "share";
    return {};
}

}  // namespace platform
