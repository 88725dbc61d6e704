#include "tslib/funopen.h"

#include <cerrno>
#include <new>

#include "tslib/typed_mem.h"

namespace {

constexpr const char* kStreamMtype = "funopen.filepd";

struct CallbackStream {
    void* arg;
    funopen_read_t read;
    funopen_write_t write;
    funopen_seek_t seek;
    funopen_close_t close;
};

ssize_t read_shim(void* cookie, char* buf, std::size_t size) {
    const auto* s = static_cast<CallbackStream*>(cookie);
    const ssize_t n = s->read(s->arg, buf, size);
    if (n < 0) return -1;
    if (static_cast<std::size_t>(n) > size) {
        errno = EIO;  // more than the buffer holds: the buffer can no longer be trusted
        return -1;
    }
    return n;
}

ssize_t write_shim(void* cookie, const char* buf, std::size_t size) {
    const auto* s = static_cast<CallbackStream*>(cookie);
    const ssize_t n = s->write(s->arg, buf, size);
    if (n < 0) return -1;
    return static_cast<std::size_t>(n) > size ? static_cast<ssize_t>(size) : n;
}

// Installed even without a user seek function: left out, the C library fails the seek
// without telling why.
int seek_shim(void* cookie, off64_t* pos, int whence) {
    const auto* s = static_cast<CallbackStream*>(cookie);
    if (s->seek == nullptr) {
        errno = ESPIPE;
        return -1;
    }
    errno = 0;
    const std::int64_t r = s->seek(s->arg, *pos, whence);
    if (r < 0) {
        if (errno == 0) errno = EINVAL;
        return -1;
    }
    *pos = r;
    return 0;
}

int close_shim(void* cookie) {
    auto* s = static_cast<CallbackStream*>(cookie);
    const int r = s->close != nullptr ? s->close(s->arg) : 0;
    const int saved = errno;
    typed_mem_release(kStreamMtype, s);
    errno = saved;
    return r < 0 ? -1 : 0;
}

}  // namespace

std::FILE* funopen_create(void* arg, funopen_read_t read, funopen_write_t write, funopen_seek_t seek,
                          funopen_close_t close) {
    if (read == nullptr && write == nullptr) {
        errno = EINVAL;
        return nullptr;
    }
    auto* s = static_cast<CallbackStream*>(typed_mem_zeroed(kStreamMtype, 1, sizeof(CallbackStream)));
    if (s == nullptr) return nullptr;
    *s = CallbackStream{arg, read, write, seek, close};
    cookie_io_functions_t io{};
    io.read = read != nullptr ? read_shim : nullptr;
    io.write = write != nullptr ? write_shim : nullptr;
    io.seek = seek_shim;
    io.close = close_shim;
    const char* mode = read != nullptr && write != nullptr ? "r+" : read != nullptr ? "r" : "w";
    std::FILE* fp = fopencookie(s, mode, io);
    if (fp == nullptr) {
        const int saved = errno;
        typed_mem_release(kStreamMtype, s);
        errno = saved;
    }
    return fp;
}
