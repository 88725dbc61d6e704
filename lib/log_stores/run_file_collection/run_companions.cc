#include "log_stores/run_file_collection/run_companions.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "log_stores/log_header.h"
#include "log_stores/run_file/run_file_format.h"
#include "log_stores/run_file_collection/folder_listing.h"
#include "log_stores/run_file_store/run_file_store.h"
#include "platform/byte_lock.h"
#include "platform/file_io.h"
#include "platform/last_error.h"
#include "platform/unique_fd.h"

namespace log_stores {

std::string folder_of(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string_view::npos ? std::string(".") : std::string(path.substr(0, slash));
}

std::string file_name_of(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string stem_of(std::string_view path) {
    const std::size_t slash = path.find_last_of("/\\");
    const std::size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return std::string(path);
    return std::string(path.substr(0, dot));
}

std::optional<std::string> find_companion(const std::string& run_path, std::string_view extension) {
    const std::string wanted = file_name_of(stem_of(run_path)) + std::string(extension);
    const std::string folder = folder_of(run_path);
    const auto found = find_entry_ignoring_case(folder, wanted);
    if (!found) return std::nullopt;
    return folder + "/" + *found;
}


int set_read_only(const std::string& path, bool read_only) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return -1;
    const mode_t mode = read_only ? (st.st_mode & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH))
                                  : (st.st_mode | S_IWUSR);
    return ::chmod(path.c_str(), mode & 07777);
}

int check_new_run_path(const std::string& path) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.valid()) return errno == ENOENT ? 0 : platform::fail_from_errno();
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return platform::fail_from_errno();
    if (!S_ISREG(st.st_mode)) return platform::fail(platform::kErrorFileExists);
    const auto size = static_cast<std::uint64_t>(st.st_size);
    // A logger marks the end of its data with a locked byte.
    if (platform::probe_range(fd.get(), 0, size + 1) != 0) return -1;
    if (size < run_file::kHeaderSize) return 0;
    LogHeader header{};
    const run_file::ReadAt read_at = [&](std::span<std::uint8_t> out, std::uint64_t offset) {
        return platform::pread_all(fd.get(), out, offset);
    };
    if (run_file::read_header(read_at, size, header) == 0 && header.recordCount > 0)
        return platform::fail(platform::kErrorFileExists);
    return 0;
}

}  // namespace log_stores
