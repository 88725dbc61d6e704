// The run file store's life: opening, creating, logging under the end-of-data lock, closing.
#include "log_stores/run_file_store/run_file_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "log_stores/run_file/le_bytes.h"
#include "log_stores/run_file/run_file_format.h"
#include "log_stores/run_file/run_name.h"
#include "log_stores/run_file_store/channel_sources.h"
#include "log_stores/run_file_store/remote_run_file.h"
#include "platform/file_io.h"
#include "platform/file_move.h"
#include "platform/last_error.h"
#include "platform/remote_path.h"
#include "qvr/diag/sink.h"
#include "qvr/diag/trace.h"
#include "qvr/link/link.h"

namespace log_stores {

namespace rf = run_file;

namespace {

constexpr int kSinkError = 1;
constexpr std::uint64_t kLargestOffset = 0x7FFFFFFFull;

int open_flags(std::uint32_t access) {
    // Handles that write do so write-through; reads through them are harmless.
    return (access & kGenericWrite) != 0 ? O_RDWR | O_DSYNC : O_RDONLY;
}

// A finished run is read-only: writing it needs the owner's write bit back.
void make_writable(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0) ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
}

void report(const char* message) { sink_Report(nullptr, kSinkError, message); }

void trace(const char* what, const std::string& path, int error) {
    char line[kRunFilePathSize + 96];
    std::snprintf(line, sizeof line, "Run file store: %s: %s (error %d)", what, path.c_str(), error);
    trace_Write(line);
}

int disk_error() {
    // A full disk has its own number for callers; everything else keeps the system's.
    return platform::fail(errno == ENOSPC ? platform::kErrorDiskFull : errno);
}

bool records_are_marked(std::span<const std::uint8_t> bytes, std::size_t record_size) {
    for (std::size_t at = 0; at < bytes.size(); at += record_size) {
        if (bytes.size() - at < 2 || le::u16(bytes, at) != rf::kRecordMarker) return false;
    }
    return true;
}

}  // namespace

CLogFileStore::~CLogFileStore() { Close(); }

int CLogFileStore::open_local(const std::string& local, std::uint32_t access) {
    platform::UniqueFd fd = platform::open_file(local, open_flags(access));
    if (!fd) return platform::fail_from_errno();
    std::array<std::uint8_t, 6> first{};
    const ssize_t got = platform::pread_all(fd.get(), first, 0);
    if (got < 0) return -1;
    if (got < static_cast<ssize_t>(first.size()) || rf::check_open_tag(first) == rf::TagCheck::Refused)
        return platform::fail(platform::kErrorInvalidData);
    mainHandle_ = std::move(fd);
    localPath_ = local;
    return 0;
}

// A path of this machine, or a remote one mapped onto it: 0 opened; 1 not reachable here;
// -1 there but refused (no run file).
int CLogFileStore::try_local(const std::string& path, std::uint32_t access) {
    std::string local;
    if (platform::map_remote_path(path, local) != 0) return 1;
    if ((access & kGenericWrite) != 0) make_writable(local);
    if (open_local(local, access) == 0) return 0;
    return platform::last_error() == platform::kErrorInvalidData ? -1 : 1;
}

int CLogFileStore::Open(const char* server, const char* location, std::uint32_t access) {
    Close();
    if (location == nullptr || std::strlen(location) >= kRunFilePathSize)
        return platform::fail(platform::kErrorInvalidParameter);
    const std::string path(location);
    const std::string server_name = server != nullptr ? server : "";
    server_.clear();
    localPath_.clear();
    remotePath_.clear();
    headerEndOffset_ = 0;

    int result = try_local(path, access);
    if (result == 1 && !server_name.empty()) {
        const int failure = platform::last_error();
        if (!platform::is_remote_path(path) && link_GetServerKind(server_name.c_str()) == kServerPipe)
            result = try_local("\\\\" + server_name + "\\" + path, access);
        if (result == 1) {
            // No path of this machine reaches the file: the server's file requests do.
            remotePath_ = run_file_store::server_file_name(path);
            if (remotePath_.empty()) return platform::fail(failure);
            if (run_file_store::remote_size(server_name, remotePath_) < 0) {
                remotePath_.clear();
                return -1;
            }
            server_ = server_name;
            result = 0;
        }
    }
    if (result != 0) return -1;
    path_ = path;
    access_ = access;
    return 0;
}

int CLogFileStore::reopen() {
    const int kept = platform::last_error();
    if (localPath_.empty()) return platform::fail(kept);
    platform::UniqueFd fd = platform::open_file(localPath_, open_flags(access_));
    struct stat st {};
    if (!fd || ::fstat(fd.get(), &st) != 0) return platform::fail(kept);
    const bool logging = endLock_.held();
    endLock_.unlock();
    mainHandle_ = std::move(fd);
    if (logging) endLock_.lock(mainHandle_.get(), endOffset_);
    platform::set_last_error(0);
    return 0;
}

void CLogFileStore::close_handles() noexcept {
    endLock_.unlock();
    readHandle_.reset();
    mainHandle_.reset();
    endOffset_ = 0;
}

int CLogFileStore::Close() {
    if (readHandle_.valid()) {
        WriteEndOffset(0);
        readHandle_.reset();
    }
    if (mainHandle_.valid()) {
        endLock_.unlock();
        mainHandle_.reset();
    }
    endOffset_ = 0;
    return 0;
}

void CLogFileStore::GetLocation(char* text, std::size_t* size) {
    const std::size_t needed = path_.size() + 1;
    if (text != nullptr && size != nullptr && *size >= needed) std::memcpy(text, path_.c_str(), needed);
    if (size != nullptr) *size = needed;
}

int CLogFileStore::WriteEndOffset(std::int32_t count) {
    if (!readHandle_.valid()) return platform::fail(EBADF);
    std::array<std::uint8_t, rf::kHeaderSize> header{};
    if (count == 0) {
        std::array<std::uint8_t, 4> end{};
        le::put_i32(end, 0, headerEndOffset_);
        return platform::pwrite_all(readHandle_.get(), end, rf::kHdrEndOfData);
    }
    const ssize_t got = platform::pread_all(readHandle_.get(), header, 0);
    if (got < 0) return -1;
    if (got != static_cast<ssize_t>(header.size())) return platform::fail(platform::kErrorInvalidData);
    le::put_i32(header, rf::kHdrRecordCount, count);
    return platform::pwrite_all(readHandle_.get(), header, 0);
}

int CLogFileStore::WriteHeader(const LogHeader& header, bool) {
    if (!mainHandle_.valid()) return platform::fail(EBADF);
    std::array<std::uint8_t, rf::kHeaderSize> bytes{};
    rf::encode_header(header, bytes);
    return platform::pwrite_all(mainHandle_.get(), bytes, 0) == 0 ? 1 : 0;
}

int CLogFileStore::start_logging(std::int32_t end) {
    if (end <= 0 || ::ftruncate(mainHandle_.get(), end) != 0) return end <= 0 ? platform::fail(platform::kErrorInvalidParameter) : platform::fail_from_errno();
    if (endLock_.lock(mainHandle_.get(), static_cast<std::uint64_t>(end)) != 0) return -1;
    endOffset_ = static_cast<std::uint32_t>(end);
    headerEndOffset_ = end;
    return WriteEndOffset(0);
}

int CLogFileStore::CreateRunFile(const char* path, const LogHeader& header, const char* server,
                                 const qvr::ChannelRecord* const* configurations) {
    Close();
    if (path == nullptr || std::strlen(path) >= kRunFilePathSize || header.dataStart <= 0 ||
        header.recordSize < static_cast<std::int32_t>(rf::kRecordHeadSize) ||
        rf::check_header(header, static_cast<std::uint64_t>(header.dataStart)) != 0)
        return platform::fail(platform::kErrorInvalidParameter);
    std::string local;
    if (platform::map_remote_path(path, local) != 0) return -1;

    std::vector<qvr::ChannelRecord> channels(rf::channel_total(header));
    std::size_t first = 0;
    const bool from_server = server != nullptr && *server != '\0' && link_IsLocalServer(server) == 0;
    for (std::size_t k = 0; k < header.blockCount; ++k) {
        const BlockDescriptor& block = header.blocks[k];
        const std::span<qvr::ChannelRecord> out = std::span(channels).subspan(first, block.channel_count());
        if (configurations != nullptr) {
            if (configurations[k] == nullptr && !out.empty()) return platform::fail(platform::kErrorInvalidParameter);
            std::copy_n(configurations[k], out.size(), out.begin());
        } else if (from_server) {
            if (run_file_store::fetch_server_configurations(server, block, out) != 0) return -1;
        } else if (run_file_store::copy_live_configurations(block, out) != 0) {
            return -1;
        }
        first += out.size();
    }
    std::vector<std::uint8_t> start;
    if (rf::encode_file_start(header, channels, start) != 0) return -1;

    platform::UniqueFd main = platform::open_file(local, O_RDWR | O_CREAT | O_DSYNC, 0666);
    if (!main) return platform::fail_from_errno();
    // A run that already holds a record is never replaced (a restart within its second, or a
    // clock set back); what a failed create left may be.
    struct stat st {};
    if (::fstat(main.get(), &st) != 0) return platform::fail_from_errno();
    LogHeader existing;
    const auto read_existing = [&main](std::span<std::uint8_t> out, std::uint64_t offset) {
        return platform::pread_all(main.get(), out, offset);
    };
    const auto size = static_cast<std::uint64_t>(st.st_size);
    if ((rf::read_header(read_existing, size, existing) == 0 && existing.recordCount > 0) ||
        size >= static_cast<std::uint64_t>(header.dataStart) + static_cast<std::uint64_t>(header.recordSize))
        return platform::fail(platform::kErrorFileExists);
    // Nor one a logger is still writing, records or not: its lock sits just behind its data.
    if (platform::probe_range(main.get(), 0, std::max<std::uint64_t>(size, header.dataStart) + 1) != 0) return -1;
    if (::ftruncate(main.get(), 0) != 0) return platform::fail_from_errno();
    if (platform::pwrite_all(main.get(), start, 0) != 0) return disk_error();

    platform::UniqueFd reader = platform::open_file(local, O_RDWR | O_DSYNC);
    if (!reader) return platform::fail_from_errno();
    mainHandle_ = std::move(main);
    readHandle_ = std::move(reader);
    path_ = path;
    localPath_ = local;
    remotePath_.clear();
    server_.clear();
    access_ = kGenericRead | kGenericWrite;
    if (start_logging(header.dataStart) != 0) {
        const int error = platform::last_error();
        close_handles();
        return platform::fail(error);
    }
    return 0;
}

int CLogFileStore::OpenForLogging(LogHeader& header) {
    if (!mainHandle_.valid() || (access_ & kGenericWrite) == 0) return platform::fail(EBADF);
    const std::size_t slash = localPath_.find_last_of('/');
    const std::string name = localPath_.substr(slash == std::string::npos ? 0 : slash + 1);
    const auto parts = rf::parse_run_name(name);
    if (!parts) {
        report("No file name");
        return platform::fail(0);
    }
    if (parts->stop) {
        constexpr std::size_t kStopAndExtension = 18;
        const std::string running = localPath_.substr(0, localPath_.size() - kStopAndExtension) + ".qdl";
        mainHandle_.reset();
        if (platform::move_no_replace(localPath_, running) != 0) {
            const int error = platform::last_error();
            char message[2 * kRunFilePathSize + 64];
            std::snprintf(message, sizeof message, "Cant Move %s to %s Error %d", localPath_.c_str(), running.c_str(),
                          error);
            report(message);
            return platform::fail(error);
        }
        // The caller's form of the path (a mapped machine's, say) ends in the same name.
        if (path_.size() >= kStopAndExtension) path_ = path_.substr(0, path_.size() - kStopAndExtension) + ".qdl";
        localPath_ = running;
        mainHandle_ = platform::open_file(localPath_, O_RDWR | O_DSYNC);
        if (!mainHandle_) {
            const int error = errno;
            report("Cant open1");
            return platform::fail(error);
        }
    }
    readHandle_ = platform::open_file(localPath_, O_RDWR | O_DSYNC);
    if (!readHandle_) {
        const int error = errno;
        report("Cant open2");
        return platform::fail(error);
    }
    // Logging goes on behind the last complete record: a half-written one is cut off.
    const bool aligned = header.recordSize > 0 && header.endOfData >= header.dataStart && header.dataStart > 0 &&
                         (header.endOfData - header.dataStart) % header.recordSize == 0;
    if (!aligned) platform::set_last_error(platform::kErrorInvalidParameter);
    if (!aligned || start_logging(header.endOfData) != 0) {
        const int error = platform::last_error();
        close_handles();
        report("Cant lock");
        return platform::fail(error);
    }
    server_.clear();
    return 0;
}

int CLogFileStore::WriteLogs(const LogHeader& header, const std::uint8_t* records, std::int32_t count) {
    if (endOffset_ == 0 || header.dataStart < 0 || endOffset_ < static_cast<std::uint32_t>(header.dataStart) ||
        !mainHandle_.valid() || header.recordSize < static_cast<std::int32_t>(rf::kRecordHeadSize) || count < 0 ||
        (records == nullptr && count > 0))
        return platform::fail(platform::kErrorInvalidParameter);
    const std::uint64_t bytes = std::uint64_t(count) * std::uint64_t(header.recordSize);
    if (endOffset_ + bytes > kLargestOffset) return platform::fail(platform::kErrorInvalidParameter);
    const std::span<const std::uint8_t> batch(records, static_cast<std::size_t>(bytes));
    if (!records_are_marked(batch, static_cast<std::size_t>(header.recordSize)))
        return platform::fail(platform::kErrorInvalidParameter);
    if (count == 0) return 0;
    if (platform::pwrite_all(mainHandle_.get(), batch, endOffset_) != 0) {
        const int error = errno;
        // Nothing of a failed batch may stay behind the end, or every later one lands misaligned.
        while (::ftruncate(mainHandle_.get(), endOffset_) != 0 && errno == EINTR) {
        }
        trace("batch not written, cut back", localPath_, error);
        errno = error;
        return disk_error();
    }
    const auto new_end = static_cast<std::uint32_t>(endOffset_ + bytes);
    // The records are in: a lock that cannot move leaves readers short of them, never wrong.
    if (endLock_.lock(mainHandle_.get(), new_end) != 0) trace("end-of-data lock not moved", localPath_, errno);
    endOffset_ = new_end;
    headerEndOffset_ = static_cast<std::int32_t>(new_end);
    return 0;
}

int CLogFileStore::TruncateLogs(const LogHeader& header, std::int32_t n) {
    if (endOffset_ == 0 || !mainHandle_.valid() || header.recordSize <= 0 || header.dataStart < 0 ||
        endOffset_ < static_cast<std::uint32_t>(header.dataStart) || n < 0)
        return platform::fail(platform::kErrorInvalidParameter);
    const std::uint64_t written = (endOffset_ - static_cast<std::uint32_t>(header.dataStart)) / header.recordSize;
    if (static_cast<std::uint64_t>(n) > written) return platform::fail(platform::kErrorInvalidParameter);
    const auto new_end = static_cast<std::uint32_t>(endOffset_ - std::uint64_t(n) * header.recordSize);
    if (endLock_.lock(mainHandle_.get(), new_end) != 0) return -1;
    if (::ftruncate(mainHandle_.get(), new_end) != 0) {
        const int error = errno;
        endLock_.lock(mainHandle_.get(), endOffset_);
        return platform::fail(error);
    }
    endOffset_ = new_end;
    headerEndOffset_ = static_cast<std::int32_t>(new_end);
    return 0;
}

int CLogFileStore::RewriteLogs(std::int32_t index, const LogHeader& header, const std::uint8_t* records,
                               std::int32_t bytes) {
    const int fd = read_handle();
    if (fd < 0) return platform::fail(EBADF);
    if (index < 0 || bytes < 0 || (records == nullptr && bytes > 0) || header.dataStart < 0 ||
        header.recordSize < static_cast<std::int32_t>(rf::kRecordHeadSize))
        return platform::fail(platform::kErrorInvalidParameter);
    const std::span<const std::uint8_t> batch(records, static_cast<std::size_t>(bytes));
    if (!records_are_marked(batch, static_cast<std::size_t>(header.recordSize)))
        return platform::fail(platform::kErrorInvalidParameter);
    const std::uint64_t offset = std::uint64_t(header.dataStart) + std::uint64_t(index) * header.recordSize;
    struct stat st {};
    if (::fstat(fd, &st) != 0) return platform::fail_from_errno();
    // Only records that exist are rewritten; the end of the file is the logger's.
    if (offset + batch.size() > static_cast<std::uint64_t>(st.st_size))
        return platform::fail(platform::kErrorInvalidParameter);
    return platform::pwrite_all(fd, batch, offset) == 0 ? 0 : disk_error();
}

}  // namespace log_stores
