// Setting up the folder, starting and opening files, direct writes and the end lock.
#include "qvr/rolling/rolling_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "platform/file_io.h"
#include "platform/byte_lock.h"
#include "platform/last_error.h"
#include "qvr/rolling/rolling_names.h"
#include "qvr/rolling/rolling_state.h"
#include "qvr/rolling/rolling_writer.h"
#include "qvr/settings/env.h"
#include "qvr/util/util.h"

using qvr::rolling::RollingState;
using qvr::rolling::state;
using qvr::rolling::close_files;
using qvr::rolling::reset_offsets;

namespace {

constexpr int kWriteFlags = O_RDWR | O_DSYNC;
constexpr uint64_t kHeaderBytes = 4;

int make_folder(const std::string& path) {
    if (util_MakeDirectory(path.c_str()) == 0 || errno == EEXIST) return 0;
    return -1;
}

std::string parent_of(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) return {};
    return path.substr(0, slash);
}

int refuse_while_writing() {
    if (qvr::rolling::writer_running()) return platform::fail(platform::kErrorInvalidParameter);
    return 0;
}

// The opened file becomes the one written, with a descriptor of its own for the header
// when headers are written apart.
int make_current(RollingState& rf, platform::UniqueFd fd, const std::string& path) {
    platform::UniqueFd header;
    if (rf.header_mode) {
        header = platform::open_file(path, kWriteFlags);
        if (!header) return platform::fail_from_errno();
    }
    rf.write_fd = std::move(fd);
    rf.header_fd = std::move(header);
    rf.current_name = path;
    reset_offsets(rf);
    return 0;
}

}  // namespace

int rf_Setup(const char* variable, const char* folder, const char* subfolder, const char* suffix,
             const char* prefix) {
    if (refuse_while_writing() != 0) return -1;
    std::string path;
    if (folder != nullptr) {
        path = folder;
    } else {
        if (variable == nullptr) return platform::fail(platform::kErrorInvalidArgument);
        const char* product = env_GetProductFolder(variable);
        if (product == nullptr) return -1;
        path = product;
        path += '/';
        if (subfolder != nullptr) path += subfolder;
    }
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty() || path.size() >= qvr::rolling::kFolderCapacity) {
        return platform::fail(path.empty() ? platform::kErrorInvalidArgument : ENAMETOOLONG);
    }
    const std::string parent = parent_of(path);
    if (!parent.empty() && make_folder(parent) != 0) return platform::fail_from_errno();
    if (make_folder(path) != 0) return platform::fail_from_errno();
    RollingState& rf = state();
    rf.folder = path;
    rf.suffix = suffix != nullptr ? suffix : "";
    rf.prefix = prefix != nullptr ? prefix : "";
    return 0;
}

int rf_Create(int32_t start_seconds) {
    if (refuse_while_writing() != 0) return -1;
    RollingState& rf = state();
    if (rf.folder.empty()) return platform::fail(platform::kErrorInvalidArgument);
    close_files(rf);
    const std::string path = rf.folder + "/" + qvr::rolling::running_name(rf.prefix, start_seconds, rf.suffix);
    platform::UniqueFd fd = platform::open_file(path, kWriteFlags | O_CREAT | O_EXCL, 0666);
    if (!fd && errno == EEXIST) {
        // A restart within the same second: only a file without data may be started again.
        fd = platform::open_file(path, kWriteFlags);
        if (!fd) return platform::fail_from_errno();
        struct stat info {};
        if (fstat(fd.get(), &info) != 0) return platform::fail_from_errno();
        if (static_cast<uint64_t>(info.st_size) > kHeaderBytes) return platform::fail(platform::kErrorFileExists);
        if (ftruncate(fd.get(), 0) != 0) return platform::fail_from_errno();
    }
    if (!fd) return platform::fail_from_errno();
    return make_current(rf, std::move(fd), path);
}

int rf_OpenExisting(const char* name) {
    if (refuse_while_writing() != 0) return -1;
    if (name == nullptr || *name == '\0') return platform::fail(platform::kErrorInvalidArgument);
    RollingState& rf = state();
    std::string path = name;
    if (path.find('/') == std::string::npos) path = rf.folder + "/" + path;
    close_files(rf);
    qvr::rolling::set_read_only(path, false);
    platform::UniqueFd fd = platform::open_file(path, kWriteFlags);
    if (!fd) return platform::fail_from_errno();
    if (util_GetDeclaredLength(fd.get()) < 0) return -1;
    if (lseek(fd.get(), 0, SEEK_SET) < 0) return platform::fail_from_errno();
    if (make_current(rf, std::move(fd), path) != 0) return -1;
    return rf.write_fd.get();
}

int rf_OpenLatest(char* name, size_t capacity) {
    RollingState& rf = state();
    std::optional<int64_t> best_stamp;
    std::string best;
    if (qvr::rolling::list_folder(rf.folder, [&](const std::string& entry, const std::string& examined) {
            const auto stamp = qvr::rolling::start_stamp(examined, rf.prefix);
            if (stamp && (!best_stamp || *stamp > *best_stamp)) {
                best_stamp = stamp;
                best = entry;
            }
        }) != 0) {
        return -1;
    }
    if (!best_stamp) return platform::fail(platform::kErrorFileNotFound);
    if (name != nullptr && best.size() >= capacity) return platform::fail(platform::kErrorInsufficientBuffer);
    if (rf_OpenExisting(best.c_str()) < 0) return -1;
    if (name != nullptr) std::memcpy(name, best.c_str(), best.size() + 1);
    return 0;
}

int rf_OpenLatestNoName() { return rf_OpenLatest(nullptr, 0); }

void rf_SetHeaderMode(int on) { state().header_mode = on != 0; }

int rf_WriteHeader() {
    RollingState& rf = state();
    if (!rf.header_mode || !rf.header_fd || !rf.write_fd) return 0;
    if (rf.end_offset > UINT32_MAX) return platform::fail(EOVERFLOW);
    const auto end = static_cast<uint32_t>(rf.end_offset);
    std::uint8_t bytes[kHeaderBytes];
    std::memcpy(bytes, &end, sizeof bytes);
    if (platform::pwrite_all(rf.header_fd.get(), bytes, 0) != 0) return -1;
    if (lseek(rf.header_fd.get(), 0, SEEK_SET) < 0) return platform::fail_from_errno();
    return 0;
}

int rf_Seek(uint64_t offset) {
    RollingState& rf = state();
    if (!rf.write_fd) return platform::fail(EBADF);
    if (offset > static_cast<uint64_t>(INT64_MAX)) return platform::fail(platform::kErrorInvalidParameter);
    if (lseek(rf.write_fd.get(), static_cast<off_t>(offset), SEEK_SET) < 0) return platform::fail_from_errno();
    rf.current_offset = offset;
    if (rf.current_offset > rf.end_offset) rf.end_offset = rf.current_offset;
    return 0;
}

int rf_Write(const void* data, size_t length) {
    RollingState& rf = state();
    if (!rf.write_fd) return platform::fail(EBADF);
    if (data == nullptr && length != 0) return platform::fail(platform::kErrorInvalidArgument);
    const std::span<const std::uint8_t> bytes(static_cast<const std::uint8_t*>(data), length);
    if (platform::write_all(rf.write_fd.get(), bytes) != 0) return -1;
    rf.current_offset += length;
    if (rf.current_offset > rf.end_offset) rf.end_offset = rf.current_offset;
    return 0;
}

int rf_LockAt(uint64_t offset) {
    RollingState& rf = state();
    if (rf.lock_held && rf.locked_offset > offset) return 0;
    if (!rf.write_fd) return platform::fail(EBADF);
    if (platform::lock_byte(rf.write_fd.get(), offset) != 0) return -1;
    rf.locked_offset = offset;
    rf.lock_held = true;
    return 0;
}

int rf_Advance(uint64_t bytes) {
    RollingState& rf = state();
    if (rf.lock_held && rf.current_offset + bytes >= rf.locked_offset) {
        // The byte at the old end is given up only now that the new end is locked.
        if (!rf.write_fd) return platform::fail(EBADF);
        if (platform::unlock_byte(rf.write_fd.get(), rf.current_offset) != 0) return -1;
        if (rf.locked_offset == rf.current_offset) rf.lock_held = false;
    }
    rf.current_offset += bytes;
    if (rf.current_offset > rf.end_offset) rf.end_offset = rf.current_offset;
    return 0;
}

const char* rf_Folder() { return state().folder.c_str(); }
