#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "platform/file_paths.h"
#include "platform/last_error.h"
#include "qvr/util/rt.h"
#include "qvr/util/util.h"

struct UtilFindHandle {
    DIR* dir = nullptr;
    std::string name;
};

UtilFindHandle* util_FindFirst(const char* folder) {
    if (folder == nullptr) {
        platform::set_last_error(platform::kErrorInvalidArgument);
        return nullptr;
    }
    DIR* dir = ::opendir(folder[0] == 0 ? "." : folder);
    if (dir == nullptr) {
        platform::fail_from_errno();
        return nullptr;
    }
    auto handle = std::make_unique<UtilFindHandle>();
    handle->dir = dir;
    return handle.release();  // owned by the caller until util_FindClose
}

const char* util_FindNext(UtilFindHandle* handle) {
    if (handle == nullptr || handle->dir == nullptr) return nullptr;
    errno = 0;
    const dirent* entry = ::readdir(handle->dir);
    if (entry == nullptr) {
        platform::set_last_error(errno != 0 ? errno : platform::kErrorFileNotFound);
        return nullptr;
    }
    handle->name.assign(entry->d_name, ::strnlen(entry->d_name, 255));
    return handle->name.c_str();
}

void util_FindClose(UtilFindHandle* handle) {
    if (handle == nullptr) return;
    const std::unique_ptr<UtilFindHandle> owned(handle);
    if (owned->dir != nullptr) ::closedir(owned->dir);
}

int64_t util_GetFileSize(int fd) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return platform::fail_from_errno();
    return static_cast<int64_t>(info.st_size);
}

int64_t util_GetDeclaredLength(int fd) {
    const int64_t size = util_GetFileSize(fd);
    if (size < 0) return -1;
    std::array<unsigned char, 6> header{};
    const ssize_t got = ::pread(fd, header.data(), header.size(), 0);
    if (got < 0) return platform::fail_from_errno();
    if (got < static_cast<ssize_t>(header.size())) return platform::fail(platform::kErrorHandleEof);
    ::lseek(fd, 0, SEEK_SET);
    uint32_t declared = static_cast<uint32_t>(header[0]) | static_cast<uint32_t>(header[1]) << 8 |
                        static_cast<uint32_t>(header[2]) << 16 | static_cast<uint32_t>(header[3]) << 24;
    uint16_t tag = static_cast<uint16_t>(header[4] | header[5] << 8);
    if (tag >= 384 && tag <= 480) {  // written in the other byte order
        declared = __builtin_bswap32(declared);
        tag = __builtin_bswap16(tag);
    }
    if (tag <= 0x8000 || tag >= 0xE002) return platform::fail(platform::kErrorInvalidData);
    if (size >= static_cast<int64_t>(declared)) return declared;
    // A file cut short: callers must not read past its real end.
    platform::set_last_error(platform::kErrorAccessDenied);
    return size;
}

int util_MakeDirectory(const char* path) {
    if (path == nullptr) return platform::fail(platform::kErrorInvalidArgument);
    return platform::make_directory(path, rt_GetOpenSecurityAttributes()->folder_mode);
}

int util_DeleteQuoted(const char* path) {
    if (path == nullptr) return platform::fail(platform::kErrorInvalidArgument);
    std::string name(path);
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"') name = name.substr(1, name.size() - 2);
    if (::unlink(name.c_str()) != 0) return platform::fail_from_errno();
    return 0;
}
