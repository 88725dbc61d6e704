#include "platform/shm_object.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <utility>

#include "platform/file_io.h"
#include "platform/ipc_names.h"
#include "platform/last_error.h"

namespace platform {
namespace {

// Temporaries start with the prefix too, so removing a prefix also removes them.
constexpr std::string_view kTemporaryTag = ".creating.";

std::string folder_path(const std::string& object_name) {
    return std::string(kShmFolder) + object_name;  // object names begin with '/'
}

std::string temporary_name() {
    static std::atomic<unsigned> counter{0};
    std::string name = "/" + ipc_prefix();
    name += kTemporaryTag;
    name += std::to_string(getpid()) + "." + std::to_string(counter.fetch_add(1));
    return name;
}

// Closes a descriptor without disturbing the errno a caller is about to report.
void close_keep_errno(int fd) {
    const int saved = errno;
    close(fd);
    errno = saved;
}

}  // namespace

ShmMapping::~ShmMapping() {
    if (base_ != nullptr) munmap(base_, size_);
}

ShmMapping::ShmMapping(ShmMapping&& other) noexcept
    : base_(std::exchange(other.base_, nullptr)), size_(std::exchange(other.size_, 0)) {}

ShmMapping& ShmMapping::operator=(ShmMapping&& other) noexcept {
    if (this != &other) {
        if (base_ != nullptr) munmap(base_, size_);
        base_ = std::exchange(other.base_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void* ShmMapping::release() {
    size_ = 0;
    return std::exchange(base_, nullptr);
}

std::optional<ShmObject> ShmObject::open(std::string_view name) {
    const std::string object = shm_object_name(name);
    const int fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) {
        fail_from_errno();
        return std::nullopt;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        close_keep_errno(fd);
        fail_from_errno();
        return std::nullopt;
    }
    ShmObject result;
    result.fd_ = fd;
    result.size_ = static_cast<size_t>(st.st_size);
    return result;
}

ShmObject::~ShmObject() {
    if (fd_ >= 0) close(fd_);
}

ShmObject::ShmObject(ShmObject&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(std::exchange(other.size_, 0)) {}

ShmObject& ShmObject::operator=(ShmObject&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) close(fd_);
        fd_ = std::exchange(other.fd_, -1);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

bool ShmObject::read_at(std::span<std::byte> out, size_t offset) const {
    if (offset > size_ || out.size() > size_ - offset) {
        fail(EINVAL);
        return false;
    }
    const ssize_t n = pread_all(fd_, std::span(reinterpret_cast<std::uint8_t*>(out.data()), out.size()), offset);
    if (n < 0) return false;
    if (static_cast<size_t>(n) != out.size()) {
        fail(EINVAL);  // the object is shorter than it was
        return false;
    }
    return true;
}

std::optional<ShmMapping> ShmObject::map(size_t length) const {
    if (length == 0 || length > size_) {
        fail(EINVAL);
        return std::nullopt;
    }
    void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (base == MAP_FAILED) {
        fail_from_errno();
        return std::nullopt;
    }
    return ShmMapping(base, length);
}

std::optional<ShmMapping> shm_object_create(std::string_view name, size_t size, mode_t mode,
                                            const std::function<void(std::span<std::byte>)>& fill) {
    if (size == 0) {
        fail(EINVAL);
        return std::nullopt;
    }
    const std::string final_name = shm_object_name(name);
    const std::string temp_name = temporary_name();
    int fd = shm_open(temp_name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0 && errno == EEXIST) {
        // Left by a creator killed halfway whose process id is now ours: nobody else can
        // be using a temporary of this id and number.
        shm_unlink(temp_name.c_str());
        fd = shm_open(temp_name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    }
    if (fd < 0) {
        fail_from_errno();
        return std::nullopt;
    }
    auto give_up = [&] {
        const int saved = errno;
        shm_unlink(temp_name.c_str());
        close(fd);
        fail(saved);
        return std::nullopt;
    };
    if (fchmod(fd, mode) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) return give_up();
    void* base = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (base == MAP_FAILED) return give_up();
    ShmMapping mapping(base, size);
    if (fill) fill(mapping.bytes());
    // link() refuses an existing name, which makes the creation atomic.
    if (link(folder_path(temp_name).c_str(), folder_path(final_name).c_str()) != 0) {
        mapping = ShmMapping();
        return give_up();
    }
    shm_unlink(temp_name.c_str());
    close(fd);
    return mapping;
}

int shm_object_remove(std::string_view name) {
    const std::string object = shm_object_name(name);
    if (shm_unlink(object.c_str()) != 0) return fail_from_errno();
    return 0;
}

std::vector<std::string> shm_object_list(std::string_view start) {
    std::vector<std::string> names;
    DIR* dir = opendir(kShmFolder);
    if (dir == nullptr) return names;
    const std::string& prefix = ipc_prefix();
    while (const dirent* entry = readdir(dir)) {
        std::string_view file(entry->d_name);
        if (file == "." || file == "..") continue;
        if (!file.starts_with(prefix)) continue;
        file.remove_prefix(prefix.size());
        if (file.starts_with(kTemporaryTag)) continue;
        if (file.starts_with(start)) names.emplace_back(file);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

int shm_object_remove_prefixed() {
    const std::string& prefix = ipc_prefix();
    if (prefix.empty()) return fail(EPERM);
    DIR* dir = opendir(kShmFolder);
    if (dir == nullptr) return fail_from_errno();
    std::vector<std::string> doomed;
    while (const dirent* entry = readdir(dir)) {
        std::string_view file(entry->d_name);
        if (file.starts_with(prefix)) doomed.emplace_back(file);
    }
    closedir(dir);
    int removed = 0;
    for (const auto& file : doomed) {
        if (shm_unlink(("/" + file).c_str()) == 0) ++removed;
    }
    return removed;
}

}  // namespace platform
