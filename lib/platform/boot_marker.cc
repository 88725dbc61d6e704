#include "platform/boot_marker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/ipc_names.h"
#include "platform/last_error.h"

namespace platform {
namespace {

std::string marker_path(std::string_view name) {
    return runtime_dir() + "/" + ipc_prefix() + std::string(name);
}

}  // namespace

int boot_marker_create(std::string_view name) {
    if (ensure_runtime_dir() != 0) return -1;
    const int fd = ::open(marker_path(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0660);
    if (fd >= 0) {
        ::close(fd);
        return 1;
    }
    if (errno == EEXIST) return 0;
    return fail_from_errno();
}

int boot_marker_remove(std::string_view name) {
    if (::unlink(marker_path(name).c_str()) != 0) return fail_from_errno();
    return 0;
}

bool boot_marker_exists(std::string_view name) {
    struct stat info {};
    return ::stat(marker_path(name).c_str(), &info) == 0;
}

}  // namespace platform
