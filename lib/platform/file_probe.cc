// Access checks, seeks and file times of open files.
#include "platform/file_probe.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/last_error.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

constexpr uint64_t kSecondsFrom1601 = 11644473600ull;

uint64_t ticks(const struct statx_timestamp& t) {
    if (t.tv_sec < -static_cast<int64_t>(kSecondsFrom1601)) return 0;
    return (static_cast<uint64_t>(t.tv_sec + static_cast<int64_t>(kSecondsFrom1601))) * 10000000ull +
           t.tv_nsec / 100;
}

}  // namespace

int probe_open(const std::string& path, bool write) {
    const int fd = ::open(path.c_str(), (write ? O_WRONLY : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        ::close(fd);
        set_last_error(0);
        return 0;
    }
    int error = errno;
    if (error == ENOENT) {
        std::error_code ec;
        const std::filesystem::path folder = std::filesystem::path(path).parent_path();
        error = folder.empty() || std::filesystem::is_directory(folder, ec) ? kErrorFileNotFound
                                                                            : kErrorPathNotFound;
    } else if (error == ENOTDIR) {
        error = kErrorPathNotFound;
    } else if (error == EACCES || error == EPERM || error == EROFS) {
        error = kErrorAccessDenied;
    }
    set_last_error(error);
    return error;
}

int seek_file(int fd, int64_t offset, int method) {
    const int whence = method == 0 ? SEEK_SET : method == 1 ? SEEK_CUR : method == 2 ? SEEK_END : -1;
    if (whence < 0) return fail(kErrorInvalidParameter);
    if (::lseek(fd, offset, whence) < 0) return fail_from_errno();
    return 0;
}

int file_times(int fd, FileTimes& times) {
    struct statx st {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_ATIME | STATX_MTIME | STATX_BTIME, &st) != 0)
        return fail_from_errno();
    times.last_access = ticks(st.stx_atime);
    times.last_write = ticks(st.stx_mtime);
    times.creation = (st.stx_mask & STATX_BTIME) != 0 ? ticks(st.stx_btime) : times.last_write;
    return 0;
}

}  // namespace platform
