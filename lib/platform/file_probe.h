#pragma once
// What the server's file requests do with a file of this machine: an access check that
// creates and truncates nothing, seeking by the old move methods, and a file's times as
// 100-ns counts since 1601 (the form peers exchange).
#include <cstdint>
#include <string>

namespace platform {

// Opens `path` read-only or write-only and closes it again: 0, or the error (2 when the
// folder exists but the file does not, 3 when the folder is missing, 5 when access is
// refused, else the Linux errno). Also set as the last error.
int probe_open(const std::string& path, bool write);

// Moves the descriptor's position: method 0 from the start, 1 from the position, 2 from the
// end. 0, or -1 (87 for another method).
int seek_file(int fd, int64_t offset, int method);

struct FileTimes {
    uint64_t creation = 0;  // the last write where the file system keeps no creation time
    uint64_t last_access = 0;
    uint64_t last_write = 0;
};
// 0, or -1 with errno.
int file_times(int fd, FileTimes& times);

}  // namespace platform
