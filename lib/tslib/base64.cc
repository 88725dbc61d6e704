#include "tslib/base64.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>

#include "tslib/invariant.h"
#include "tslib/typed_mem.h"

using tslib::detail::require;

namespace {

constexpr const char* kEncoderMtype = "base64_encoder";
constexpr const char* kDecoderMtype = "base64_decoder";
constexpr const char* kEncoderOutMtype = "base64_encoder.out";
constexpr const char* kDecoderOutMtype = "base64_decoder.out";
constexpr std::size_t kAlphabetLength = 65;
constexpr std::uint8_t kPadValue = 254;
constexpr std::uint8_t kInvalidValue = 255;

// Pending output with a read offset, so that reading it out in small pieces stays linear.
class OutputBuffer {
  public:
    explicit OutputBuffer(const char* mtype) : mtype_(mtype) {}
    ~OutputBuffer() { typed_mem_release(mtype_, data_); }
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;

    // Room for more bytes at the end, or null with errno.
    unsigned char* reserve(std::size_t more) {
        if (start_ == len_) start_ = len_ = 0;
        if (data_ != nullptr && cap_ - len_ >= more) return data_ + len_;
        if (start_ > 0) {
            std::memmove(data_, data_ + start_, len_ - start_);
            len_ -= start_;
            start_ = 0;
            if (cap_ - len_ >= more) return data_ + len_;
        }
        if (more > SIZE_MAX / 2 - len_ - 31) {
            errno = ENOMEM;
            return nullptr;
        }
        const std::size_t want = std::max(2 * len_ + 31, len_ + more);
        void* p = typed_mem_resize(mtype_, data_, want);
        if (p == nullptr) return nullptr;
        data_ = static_cast<unsigned char*>(p);
        cap_ = want;
        return data_ + len_;
    }
    void commit(std::size_t n) { len_ += n; }

    std::size_t take(void* buf, std::size_t n) {
        n = std::min(n, len_ - start_);
        if (n > 0) std::memcpy(buf, data_ + start_, n);
        start_ += n;
        return n;
    }

  private:
    const char* mtype_;
    unsigned char* data_ = nullptr;
    std::size_t start_ = 0;
    std::size_t len_ = 0;
    std::size_t cap_ = 0;
};

bool valid_alphabet(const char* alphabet) {
    if (strnlen(alphabet, kAlphabetLength + 1) != kAlphabetLength) return false;
    bool seen[256] = {};
    for (std::size_t i = 0; i < kAlphabetLength; ++i) {
        const auto c = static_cast<unsigned char>(alphabet[i]);
        if (seen[c]) return false;
        seen[c] = true;
    }
    return true;
}

std::size_t scaled(std::size_t size, std::size_t mul, std::size_t add, std::size_t div) {
    if (size > (SIZE_MAX - add) / mul) return SIZE_MAX / div;
    return (mul * size + add) / div;
}

std::size_t clamp_len(std::size_t len) {
    return std::min<std::size_t>(len, static_cast<std::size_t>(SSIZE_MAX));
}

template <typename T>
T* make_filter(const char* mtype, auto&&... args) {
    void* mem = typed_mem_alloc(mtype, sizeof(T));
    if (mem == nullptr) return nullptr;
    return new (mem) T(std::forward<decltype(args)>(args)...);
}

template <typename T>
void destroy_filter(Filter** fp, const char* mtype) {
    if (fp == nullptr || *fp == nullptr) return;
    T* self = static_cast<T*>(*fp);
    self->~T();
    typed_mem_release(mtype, self);
    *fp = nullptr;
}

// ---- encoder ----

struct Base64Encoder : Filter {
    explicit Base64Encoder(const char* alphabet);

    char symbols[kAlphabetLength + 1];
    std::mutex mutex;
    unsigned char pending[3] = {};
    std::size_t npending = 0;
    OutputBuffer out{kEncoderOutMtype};
    bool ended = false;
};

Base64Encoder* encoder_of(Filter* f) {
    return static_cast<Base64Encoder*>(f);
}

inline void encode_group(const char* sym, const unsigned char* in, unsigned char* out) {
    out[0] = static_cast<unsigned char>(sym[in[0] >> 2]);
    out[1] = static_cast<unsigned char>(sym[((in[0] & 0x03) << 4) | (in[1] >> 4)]);
    out[2] = static_cast<unsigned char>(sym[((in[1] & 0x0f) << 2) | (in[2] >> 6)]);
    out[3] = static_cast<unsigned char>(sym[in[2] & 0x3f]);
}

ssize_t encoder_read(Filter* f, void* buf, std::size_t len) {
    Base64Encoder* e = encoder_of(f);
    std::lock_guard lock(e->mutex);
    return static_cast<ssize_t>(e->out.take(buf, clamp_len(len)));
}

ssize_t encoder_write(Filter* f, const void* data, std::size_t len) {
    Base64Encoder* e = encoder_of(f);
    std::lock_guard lock(e->mutex);
    if (e->ended) {
        errno = EPIPE;
        return -1;
    }
    len = clamp_len(len);
    const auto* in = static_cast<const unsigned char*>(data);
    const std::size_t groups = (e->npending + len) / 3;
    unsigned char* out = e->out.reserve(groups * 4);
    if (out == nullptr) return -1;
    std::size_t i = 0;
    if (e->npending > 0) {
        while (e->npending < 3 && i < len) e->pending[e->npending++] = in[i++];
        if (e->npending < 3) return static_cast<ssize_t>(len);
        encode_group(e->symbols, e->pending, out);
        out += 4;
        e->npending = 0;
    }
    for (; len - i >= 3; i += 3, out += 4) encode_group(e->symbols, in + i, out);
    while (i < len) e->pending[e->npending++] = in[i++];
    e->out.commit(groups * 4);
    return static_cast<ssize_t>(len);
}

int encoder_end(Filter* f) {
    Base64Encoder* e = encoder_of(f);
    std::lock_guard lock(e->mutex);
    if (e->ended) return 0;
    if (e->npending > 0) {
        unsigned char* out = e->out.reserve(4);
        if (out == nullptr) return -1;
        unsigned char group[3] = {};
        std::memcpy(group, e->pending, e->npending);
        encode_group(e->symbols, group, out);
        const char pad = e->symbols[64];
        out[3] = static_cast<unsigned char>(pad);
        if (e->npending == 1) out[2] = static_cast<unsigned char>(pad);
        e->out.commit(4);
        e->npending = 0;
    }
    e->ended = true;
    return 0;
}

std::size_t encoder_convert(Filter*, std::size_t len, int forward) {
    return forward != 0 ? scaled(len, 4, 2, 3) : scaled(len, 3, 3, 4);
}

void encoder_destroy(Filter** fp) {
    destroy_filter<Base64Encoder>(fp, kEncoderMtype);
}

Base64Encoder::Base64Encoder(const char* alphabet)
    : Filter{encoder_read, encoder_write, encoder_end, encoder_convert, encoder_destroy} {
    std::memcpy(symbols, alphabet, kAlphabetLength);
    symbols[kAlphabetLength] = '\0';
}

// ---- decoder ----

struct Base64Decoder : Filter {
    Base64Decoder(const char* alphabet, bool strict);

    std::uint8_t values[256];
    bool strict;
    std::mutex mutex;
    std::uint8_t pending[4] = {};
    std::size_t npending = 0;
    OutputBuffer out{kDecoderOutMtype};
    bool ended = false;
};

Base64Decoder* decoder_of(Filter* f) {
    return static_cast<Base64Decoder*>(f);
}

inline void decode_group(const std::uint8_t* v, unsigned char* out) {
    out[0] = static_cast<unsigned char>((v[0] << 2) | (v[1] >> 4));
    out[1] = static_cast<unsigned char>((v[1] << 4) | (v[2] >> 2));
    out[2] = static_cast<unsigned char>((v[2] << 6) | v[3]);
}

ssize_t decoder_read(Filter* f, void* buf, std::size_t len) {
    Base64Decoder* d = decoder_of(f);
    std::lock_guard lock(d->mutex);
    return static_cast<ssize_t>(d->out.take(buf, clamp_len(len)));
}

ssize_t decoder_write(Filter* f, const void* data, std::size_t len) {
    Base64Decoder* d = decoder_of(f);
    std::lock_guard lock(d->mutex);
    if (d->ended) {
        errno = EPIPE;
        return -1;
    }
    len = clamp_len(len);
    const auto* in = static_cast<const unsigned char*>(data);
    unsigned char* const start = d->out.reserve((d->npending + len) / 4 * 3);
    if (start == nullptr) return -1;
    unsigned char* out = start;
    const std::uint8_t* values = d->values;
    std::size_t i = 0;
    while (i < len) {
        if (d->npending == 0) {
            // Whole groups of valid symbols, the common case.
            while (len - i >= 4) {
                const std::uint8_t v[4] = {values[in[i]], values[in[i + 1]], values[in[i + 2]],
                                           values[in[i + 3]]};
                if ((v[0] | v[1] | v[2] | v[3]) >= 64) break;
                decode_group(v, out);
                out += 3;
                i += 4;
            }
            if (i == len) break;
        }
        const std::uint8_t v = values[in[i]];
        if (v == kPadValue) {
            ++i;
            continue;
        }
        if (v == kInvalidValue) {
            if (d->strict) {
                d->out.commit(static_cast<std::size_t>(out - start));
                errno = EINVAL;
                return i > 0 ? static_cast<ssize_t>(i) : -1;
            }
            ++i;
            continue;
        }
        require(v < 64, "val < 64");
        d->pending[d->npending++] = v;
        ++i;
        if (d->npending == 4) {
            decode_group(d->pending, out);
            out += 3;
            d->npending = 0;
        }
    }
    d->out.commit(static_cast<std::size_t>(out - start));
    return static_cast<ssize_t>(len);
}

int decoder_end(Filter* f) {
    Base64Decoder* d = decoder_of(f);
    std::lock_guard lock(d->mutex);
    if (d->ended) return 0;
    if (d->npending > 0) {
        unsigned char* out = d->out.reserve(3);
        if (out == nullptr) return -1;
        std::uint8_t group[4] = {};
        std::memcpy(group, d->pending, d->npending);
        decode_group(group, out);
        // One or two symbols give one byte, three give two.
        d->out.commit(d->npending == 3 ? 2 : 1);
        d->npending = 0;
    }
    d->ended = true;
    return 0;
}

std::size_t decoder_convert(Filter*, std::size_t len, int forward) {
    return forward != 0 ? scaled(len, 3, 3, 4) : scaled(len, 4, 2, 3);
}

void decoder_destroy(Filter** fp) {
    destroy_filter<Base64Decoder>(fp, kDecoderMtype);
}

Base64Decoder::Base64Decoder(const char* alphabet, bool strict_mode)
    : Filter{decoder_read, decoder_write, decoder_end, decoder_convert, decoder_destroy},
      strict(strict_mode) {
    std::memset(values, kInvalidValue, sizeof values);
    for (std::uint8_t i = 0; i < 64; ++i) values[static_cast<unsigned char>(alphabet[i])] = i;
    values[static_cast<unsigned char>(alphabet[64])] = kPadValue;
}

}  // namespace

Filter* base64_encoder_make(const char* alphabet) {
    if (alphabet == nullptr) alphabet = kBase64Alphabet;
    if (!valid_alphabet(alphabet)) {
        errno = EINVAL;
        return nullptr;
    }
    return make_filter<Base64Encoder>(kEncoderMtype, alphabet);
}

Filter* base64_decoder_make(const char* alphabet, int strict) {
    if (alphabet == nullptr) alphabet = kBase64Alphabet;
    if (!valid_alphabet(alphabet)) {
        errno = EINVAL;
        return nullptr;
    }
    return make_filter<Base64Decoder>(kDecoderMtype, alphabet, strict != 0);
}
