#pragma once
// The growing text formatter and descriptor operations for descriptors that may be sockets.
#include <sys/types.h>
#include <cstdarg>
#include <cstddef>

// Formats into a new heap text (release with free or typed_mem_release(nullptr, ...)) of
// whatever length the text needs. Returns the length, or -1 with *out null (ENOMEM, or the
// formatter's own error).
int stream_print_new_text(char** out, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
int stream_vprint_new_text(char** out, const char* fmt, va_list args) __attribute__((format(printf, 2, 0)));

// Close, read and write of a descriptor that may be a socket. On a socket a connection reset
// by the peer reads as end of file, and a write to a closed peer fails with EPIPE instead of
// raising SIGPIPE. Interrupted calls are retried.
int stream_fd_close(int fd);
ssize_t stream_fd_read(int fd, void* buf, std::size_t len);
ssize_t stream_fd_write(int fd, const void* buf, std::size_t len);
// Sets the end of a file at length; the file position is left where it was.
int stream_fd_truncate(int fd, off_t length);
