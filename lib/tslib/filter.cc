#include "tslib/filter.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "tslib/funopen.h"
#include "tslib/typed_mem.h"

namespace {

constexpr std::size_t kPiece = 1024;
constexpr const char* kStreamMtype = "filter_stream";

// Feeds all of data into the filter; -1 with errno when it refuses some.
int write_all(Filter* f, const unsigned char* data, std::size_t len) {
    while (len > 0) {
        const ssize_t r = f->write(f, data, len);
        if (r <= 0) {
            if (r == 0) errno = EIO;
            return -1;
        }
        data += r;
        len -= static_cast<std::size_t>(r);
    }
    return 0;
}

// The output block of filter_run: grows when an estimate proves short.
class RunOutput {
  public:
    explicit RunOutput(const char* mtype) : mtype_(mtype) {}
    ~RunOutput() { typed_mem_release(mtype_, data_); }
    RunOutput(const RunOutput&) = delete;
    RunOutput& operator=(const RunOutput&) = delete;

    bool allocate(std::size_t size) {
        data_ = static_cast<char*>(typed_mem_alloc(mtype_, size));
        cap_ = size;
        return data_ != nullptr;
    }

    // Reads everything the filter has pending; keeps one byte for the final zero.
    bool drain(Filter* f) {
        for (;;) {
            if (cap_ - len_ < 2 && !grow()) return false;
            const ssize_t r = f->read(f, data_ + len_, cap_ - len_ - 1);
            if (r < 0) return false;
            if (r == 0) return true;
            len_ += static_cast<std::size_t>(r);
        }
    }

    char* release_terminated() {
        data_[len_] = '\0';
        char* out = data_;
        data_ = nullptr;
        return out;
    }
    std::size_t length() const { return len_; }

  private:
    bool grow() {
        if (cap_ > SIZE_MAX / 2) {
            errno = ENOMEM;
            return false;
        }
        void* p = typed_mem_resize(mtype_, data_, 2 * cap_);
        if (p == nullptr) return false;
        data_ = static_cast<char*>(p);
        cap_ *= 2;
        return true;
    }

    const char* mtype_;
    char* data_ = nullptr;
    std::size_t len_ = 0;
    std::size_t cap_ = 0;
};

struct FilterStream {
    Filter* filter;
    std::FILE* fp;
    int flags;
    bool writing;
    bool ended;
    int error;  // a failure held back until the output decoded before it was delivered
};

// Writes all pending filter output to the underlying stream.
int flush_filter(FilterStream* s) {
    char buf[kPiece];
    for (;;) {
        const ssize_t n = s->filter->read(s->filter, buf, sizeof buf);
        if (n < 0) return -1;
        if (n == 0) return 0;
        if (std::fwrite(buf, 1, static_cast<std::size_t>(n), s->fp) != static_cast<std::size_t>(n)) {
            if (errno == 0) errno = EIO;
            return -1;
        }
    }
}

ssize_t stream_read(void* arg, char* buf, std::size_t len) {
    auto* s = static_cast<FilterStream*>(arg);
    char in[kPiece];
    for (;;) {
        const ssize_t got = s->filter->read(s->filter, buf, len);
        if (got != 0) return got;
        if (s->error != 0) {
            errno = s->error;
            return -1;
        }
        // End of the filtered data is an ordinary end of file, not an error.
        if (s->ended) return 0;
        const std::size_t want = std::clamp<std::size_t>(s->filter->convert(s->filter, len, 0), 1, kPiece);
        std::clearerr(s->fp);
        errno = 0;
        const std::size_t n = std::fread(in, 1, want, s->fp);
        if (n > 0) {
            if (write_all(s->filter, reinterpret_cast<unsigned char*>(in), n) == -1) {
                s->error = errno != 0 ? errno : EIO;
            }
            continue;
        }
        if (std::ferror(s->fp)) {
            s->error = errno != 0 ? errno : EIO;
            continue;
        }
        s->ended = true;
        if (s->filter->end(s->filter) == -1) return -1;
    }
}

ssize_t stream_write(void* arg, const char* buf, std::size_t len) {
    auto* s = static_cast<FilterStream*>(arg);
    if (write_all(s->filter, reinterpret_cast<const unsigned char*>(buf), len) == -1) return -1;
    if (flush_filter(s) == -1) return -1;
    return static_cast<ssize_t>(len);
}

int stream_close(void* arg) {
    auto* s = static_cast<FilterStream*>(arg);
    int result = 0;
    int first_error = 0;
    auto note = [&](bool ok) {
        if (!ok && result == 0) {
            result = -1;
            first_error = errno;
        }
    };
    if (s->writing) {
        note(s->filter->end(s->filter) == 0);
        note(flush_filter(s) == 0);
        note(std::fflush(s->fp) == 0);
    }
    if ((s->flags & kFilterNoCloseStream) == 0) note(std::fclose(s->fp) == 0);
    if ((s->flags & kFilterNoDestroyFilter) == 0) s->filter->destroy(&s->filter);
    typed_mem_release(kStreamMtype, s);
    if (result != 0) errno = first_error;
    return result;
}

}  // namespace

ssize_t filter_run(Filter* f, const void* input, std::size_t len, int final, char** output,
                   const char* mtype) {
    *output = nullptr;
    if (f == nullptr || (input == nullptr && len > 0)) {
        errno = EINVAL;
        return -1;
    }
    const std::size_t estimate = f->convert(f, len, 1);
    if (estimate > SIZE_MAX - 10) {
        errno = ENOMEM;
        return -1;
    }
    RunOutput out(mtype);
    if (!out.allocate(estimate + 10)) return -1;
    const auto* in = static_cast<const unsigned char*>(input);
    for (std::size_t done = 0; done < len;) {
        const std::size_t piece = std::min(kPiece, len - done);
        if (write_all(f, in + done, piece) == -1 || !out.drain(f)) return -1;
        done += piece;
    }
    if (final != 0 && (f->end(f) == -1 || !out.drain(f))) return -1;
    const auto length = static_cast<ssize_t>(out.length());
    *output = out.release_terminated();
    return length;
}

std::FILE* filter_stream_open(Filter* f, std::FILE* fp, int flags, const char* mode) {
    if (f == nullptr || fp == nullptr || mode == nullptr ||
        (std::strcmp(mode, "r") != 0 && std::strcmp(mode, "w") != 0)) {
        errno = EINVAL;
        return nullptr;
    }
    auto* s = static_cast<FilterStream*>(typed_mem_zeroed(kStreamMtype, 1, sizeof(FilterStream)));
    if (s == nullptr) return nullptr;
    const bool writing = mode[0] == 'w';
    *s = FilterStream{f, fp, flags, writing, false, 0};
    std::FILE* stream = writing ? funopen_create(s, nullptr, stream_write, nullptr, stream_close)
                                : funopen_create(s, stream_read, nullptr, nullptr, stream_close);
    if (stream == nullptr) {
        const int saved = errno;
        typed_mem_release(kStreamMtype, s);
        errno = saved;
    }
    return stream;
}
