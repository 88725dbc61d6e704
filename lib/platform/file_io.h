#pragma once
// Complete reads and writes. Each retries EINTR and short transfers; results are 0 (or a
// count) / -1 with the reason set by platform::fail (errno and the last error together).
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace platform {

// open(2) with O_CLOEXEC added, retried on EINTR; an invalid owner with errno set on failure.
UniqueFd open_file(const std::string& path, int flags, mode_t mode = 0666);

// Reads until `out` is full or the file ends: the number of bytes read (short only at the
// end of the file), or -1.
ssize_t read_all(int fd, std::span<std::uint8_t> out);
ssize_t pread_all(int fd, std::span<std::uint8_t> out, std::uint64_t offset);

// Reads from the descriptor's position to the end of the file into `out`; -1 (EFBIG) once
// more than `limit` bytes arrive.
int read_to_end(int fd, std::string& out, std::size_t limit);
// The whole file; -1 with ENOENT when it does not exist.
int read_file(const std::string& path, std::string& out, std::size_t limit);

// Writes every byte. A write that takes no byte is an error (EIO), never a reason to retry.
int write_all(int fd, std::span<const std::uint8_t> bytes);
int write_all(int fd, std::string_view text);
int pwrite_all(int fd, std::span<const std::uint8_t> bytes, std::uint64_t offset);

// Appends `text` with a single write, so that appends of other processes to the same
// O_APPEND file never fall inside it. A write that takes only part of it (a full disk) is
// not continued: -1 with ENOSPC.
int append_whole(int fd, std::string_view text);

}  // namespace platform
