#include "platform/ipc_names.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/last_error.h"

namespace platform {
namespace {

std::string env_or_empty(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

bool usable_folder(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode) && access(path.c_str(), W_OK | X_OK) == 0;
    // Missing: usable when its parent lets us create it.
    const auto slash = path.find_last_of('/');
    const std::string parent = slash == 0 ? std::string("/") : path.substr(0, slash);
    return access(parent.c_str(), W_OK | X_OK) == 0;
}

std::string choose_runtime_dir() {
    std::string configured = env_or_empty("QUORVANE_RUNTIME_DIR");
    if (!configured.empty()) return configured;
    if (usable_folder("/run/quorvane")) return "/run/quorvane";
    std::string xdg = env_or_empty("XDG_RUNTIME_DIR");
    if (!xdg.empty()) return xdg + "/quorvane";
    return "/tmp/quorvane-" + std::to_string(getuid());
}

int make_folder(const std::string& path) {
    if (mkdir(path.c_str(), kRuntimeDirMode) == 0) {
        // mkdir honours the umask; the folder's group must be able to send.
        if (chmod(path.c_str(), kRuntimeDirMode) != 0) return fail_from_errno();
        return 0;
    }
    if (errno == EEXIST) return 0;
    if (errno != ENOENT) return fail_from_errno();
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return fail_from_errno();
    if (make_folder(path.substr(0, slash)) != 0) return -1;
    if (mkdir(path.c_str(), kRuntimeDirMode) != 0 && errno != EEXIST) return fail_from_errno();
    if (chmod(path.c_str(), kRuntimeDirMode) != 0) return fail_from_errno();
    return 0;
}

}  // namespace

const std::string& ipc_prefix() {
    static const std::string prefix = env_or_empty("QUORVANE_IPC_PREFIX");
    return prefix;
}

const std::string& runtime_dir() {
    static const std::string dir = choose_runtime_dir();
    return dir;
}

std::string shm_object_name(std::string_view name) {
    std::string result = "/";
    result += ipc_prefix();
    result += name;
    return result;
}

std::string mailslot_file(std::string_view name) {
    std::string result = runtime_dir();
    result += '/';
    result += ipc_prefix();
    result += name;
    return result;
}

int ensure_runtime_dir() {
    return make_folder(runtime_dir());
}

}  // namespace platform
