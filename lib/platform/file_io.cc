#include "platform/file_io.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>

#include "platform/last_error.h"

namespace platform {
namespace {

// One call moves at most this much; Linux stops a little short of 2 GiB anyway.
constexpr std::size_t kMaxTransfer = std::size_t{1} << 30;

bool offset_fits(std::uint64_t offset, std::size_t size) {
    return offset <= static_cast<std::uint64_t>(LLONG_MAX) - size;
}

}  // namespace

UniqueFd open_file(const std::string& path, int flags, mode_t mode) {
    for (;;) {
        const int fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
        if (fd >= 0) return UniqueFd(fd);
        if (errno != EINTR) {
            fail_from_errno();
            return UniqueFd();
        }
    }
}

ssize_t read_all(int fd, std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::read(fd, out.data() + done, std::min(out.size() - done, kMaxTransfer));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail_from_errno();
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

ssize_t pread_all(int fd, std::span<std::uint8_t> out, std::uint64_t offset) {
    if (!offset_fits(offset, out.size())) return fail(EINVAL);
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::pread(fd, out.data() + done, std::min(out.size() - done, kMaxTransfer),
                                  static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail_from_errno();
        if (n == 0) break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

int read_to_end(int fd, std::string& out, std::size_t limit) {
    out.clear();
    constexpr std::size_t kChunk = 64 * 1024;
    for (;;) {
        const std::size_t done = out.size();  // never more than `limit` here
        // One byte past the limit tells a file of exactly `limit` bytes from a longer one.
        const std::size_t left = limit - done;
        const std::size_t room = left < kChunk ? left + 1 : kChunk;
        out.resize(done + room);
        const ssize_t n = ::read(fd, out.data() + done, room);
        if (n < 0 && errno == EINTR) {
            out.resize(done);
            continue;
        }
        if (n < 0) {
            const int error = errno;
            out.clear();
            return fail(error);
        }
        out.resize(done + static_cast<std::size_t>(n));
        if (out.size() > limit) {
            out.clear();
            return fail(EFBIG);
        }
        if (n == 0) return 0;
    }
}

int read_file(const std::string& path, std::string& out, std::size_t limit) {
    out.clear();
    const UniqueFd fd = open_file(path, O_RDONLY);
    if (!fd) return -1;
    return read_to_end(fd.get(), out, limit);
}

int write_all(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), std::min(bytes.size(), kMaxTransfer));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail_from_errno();
        if (n == 0) return fail(EIO);
        bytes = bytes.subspan(static_cast<std::size_t>(n));
    }
    return 0;
}

int write_all(int fd, std::string_view text) {
    return write_all(fd, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

int pwrite_all(int fd, std::span<const std::uint8_t> bytes, std::uint64_t offset) {
    if (!offset_fits(offset, bytes.size())) return fail(EINVAL);
    while (!bytes.empty()) {
        const ssize_t n =
            ::pwrite(fd, bytes.data(), std::min(bytes.size(), kMaxTransfer), static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return fail_from_errno();
        if (n == 0) return fail(EIO);
        bytes = bytes.subspan(static_cast<std::size_t>(n));
        offset += static_cast<std::uint64_t>(n);
    }
    return 0;
}

int append_whole(int fd, std::string_view text) {
    if (text.empty()) return 0;
    for (;;) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;  // nothing was written
        if (n < 0) return fail_from_errno();
        if (static_cast<std::size_t>(n) != text.size()) return fail(ENOSPC);
        return 0;
    }
}

}  // namespace platform
