#pragma once
// Buffered standard streams whose bytes come from, or go to, functions of the caller. The
// result is an ordinary FILE: every standard stream operation works on it.
#include <sys/types.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>

// Bytes read into buf (at most size), 0 at the end, -1 with errno on error.
using funopen_read_t = ssize_t (*)(void* arg, char* buf, std::size_t size);
// Bytes written (a short count marks the stream in error), -1 with errno on error.
using funopen_write_t = ssize_t (*)(void* arg, const char* buf, std::size_t size);
// New position, or -1 with errno.
using funopen_seek_t = std::int64_t (*)(void* arg, std::int64_t offset, int whence);
// 0, or -1 with errno; called once by fclose after pending output was written.
using funopen_close_t = int (*)(void* arg);

// Read only gives a read stream, write only a write stream, both a read-write stream; both
// absent fails with EINVAL. Without a seek function, seeking fails with ESPIPE.
std::FILE* funopen_create(void* arg, funopen_read_t read, funopen_write_t write, funopen_seek_t seek,
                          funopen_close_t close);
