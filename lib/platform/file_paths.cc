#include "platform/file_paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
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

std::string current_folder() {
    std::vector<char> buffer(PATH_MAX);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) {
            fail_from_errno();
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

int absolute_path(std::string_view path, std::string& out) {
    std::string p(path);
    std::replace(p.begin(), p.end(), '\\', '/');
    if (p.size() >= 2 && p[0] == '/' && p[1] == '/') {
        while (p.size() > 2 && p.back() == '/') p.pop_back();
        out = std::move(p);
        return 0;
    }
    std::string whole;
    if (p.empty() || p[0] != '/') {
        whole = current_folder();
        if (whole.empty()) return -1;
        whole.push_back('/');
    }
    whole += p;
    std::vector<std::string_view> parts;
    const std::string_view all(whole);
    for (std::size_t at = 0; at <= all.size();) {
        std::size_t end = all.find('/', at);
        if (end == std::string_view::npos) end = all.size();
        const std::string_view part = all.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::string result;
    for (const std::string_view part : parts) {
        result.push_back('/');
        result.append(part);
    }
    out = result.empty() ? "/" : std::move(result);
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
