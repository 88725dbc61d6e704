#include "qvr/config/cfg_file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "platform/monotonic_clock.h"
#include "qvr/settings/env.h"

namespace qvr::cfg {
namespace {

constexpr int kFolderLockWaitMs = 10000;

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    bool ok() const { return fd_ >= 0; }
    // Closes now, keeping the error of a failed close.
    int close() {
        int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

  private:
    int fd_;
};

bool write_all(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, std::min<std::size_t>(size, 1u << 30));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads the whole file (a missing one is empty); false with errno.
bool read_whole(const std::string& path, std::vector<std::uint8_t>& out) {
    out.clear();
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.ok()) return errno == ENOENT;
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return false;
    if (static_cast<std::uint64_t>(st.st_size) > kMaxRewrittenFile) {
        errno = EFBIG;
        return false;
    }
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    while (got < out.size()) {
        ssize_t n = ::pread(fd.get(), out.data() + got, out.size() - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;  // shrank under us: keep what there was
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    return true;
}

void sync_folder_of(const std::string& path) {
    Fd dir(::open(parent_folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.ok()) ::fsync(dir.get());
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
    return platform::equal_ignoring_case(x, y);
}

std::string current_folder() {
    std::vector<char> buffer(PATH_MAX);
    while (::getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE || buffer.size() > (1u << 20)) {
            platform::fail_from_errno();
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
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
    struct stat st {};
    if (::stat(exact.c_str(), &st) == 0) return exact;
    const int saved = errno;
    std::string dir = normalized_path(folder);
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
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

ssize_t read_at(const std::string& path, std::uint64_t offset, std::span<std::uint8_t> out) {
    std::fill(out.begin(), out.end(), std::uint8_t{0});
    Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.ok()) return platform::fail_from_errno();
    if (offset > static_cast<std::uint64_t>(LLONG_MAX) - out.size()) return platform::fail(EINVAL);
    std::size_t got = 0;
    while (got < out.size()) {
        ssize_t n = ::pread(fd.get(), out.data() + got, out.size() - got, static_cast<off_t>(offset + got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return platform::fail_from_errno();
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

int replace_file(const std::string& path, std::span<const std::uint8_t> bytes) {
    mode_t mode = 0666;
    struct stat st {};
    const bool existed = ::stat(path.c_str(), &st) == 0;
    if (existed) mode = st.st_mode & 07777;
    const std::string temp = path + ".tmp";
    Fd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
    if (!fd.ok()) return platform::fail_from_errno();
    // A new file gets the umask's mode; a rewritten one keeps its own.
    if (existed && ::fchmod(fd.get(), mode) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return platform::fail(error);
    }
    if (!write_all(fd.get(), bytes.data(), bytes.size()) || ::fsync(fd.get()) != 0 || fd.close() != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return platform::fail(error);
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return platform::fail(error);
    }
    sync_folder_of(path);
    return 0;
}

int patch_file(const std::string& path, std::span<const FilePatch> patches) {
    std::uint64_t end = 0;
    for (const FilePatch& p : patches) {
        if (p.offset > kMaxRewrittenFile || p.bytes.size() > kMaxRewrittenFile - p.offset)
            return platform::fail(EFBIG);
        // Writing no bytes past the end does not lengthen a file (a save of no channels
        // adds no empty ones).
        if (!p.bytes.empty()) end = std::max<std::uint64_t>(end, p.offset + p.bytes.size());
    }
    std::vector<std::uint8_t> content;
    if (!read_whole(path, content)) return platform::fail_from_errno();
    if (content.size() < end) content.resize(static_cast<std::size_t>(end), 0);
    for (const FilePatch& p : patches)
        std::copy(p.bytes.begin(), p.bytes.end(), content.begin() + static_cast<std::ptrdiff_t>(p.offset));
    return replace_file(path, content);
}

int touch_file(const std::string& path) {
    if (::utimensat(AT_FDCWD, path.c_str(), nullptr, 0) == 0 || errno == ENOENT) return 0;
    return platform::fail_from_errno();
}

std::optional<FolderLock> FolderLock::acquire(const std::string& folder) {
    int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        platform::fail_from_errno();
        return std::nullopt;
    }
    FolderLock lock(fd);
    const auto deadline = platform::Deadline::after_ms(kFolderLockWaitMs);
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            platform::fail_from_errno();
            return std::nullopt;
        }
        if (deadline.expired()) {
            platform::fail(platform::kErrorTimeout);
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return lock;
}

FolderLock::~FolderLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace qvr::cfg
