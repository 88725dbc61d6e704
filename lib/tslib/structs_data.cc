#include "tslib/structs_data.h"

#include <cerrno>
#include <cstring>
#include <string_view>

#include "tslib/base64.h"
#include "tslib/filter.h"
#include "tslib/structs_internal.h"
#include "tslib/typed_mem.h"

using tslib::detail::EncodedBlock;
using tslib::detail::fail;
using tslib::detail::is_space;
using tslib::detail::read_be32;
using tslib::detail::write_be32;

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

const char* charset_of(const StructsType* type) {
    return type->args[0].s;
}

const char* mtype_of(const StructsType* type) {
    return type->args[1].s;
}

StructsBuffer& buffer_in(void* data) {
    return *static_cast<StructsBuffer*>(data);
}

const StructsBuffer& buffer_in(const void* data) {
    return *static_cast<const StructsBuffer*>(data);
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The alphabet for the base64 filters: null for the standard one; a 64-symbol set gets the
// standard pad character.
const char* base64_alphabet(const char* charset, char (&buf)[66]) {
    if (charset == nullptr) return nullptr;
    const std::size_t len = std::strlen(charset);
    if (len != 64) return charset;
    std::memcpy(buf, charset, 64);
    buf[64] = '=';
    buf[65] = '\0';
    return buf;
}

char* hex_text(const char* mtype, const std::uint8_t* bytes, std::size_t n) {
    if (n > (SIZE_MAX - 1) / 2) {
        errno = ENOMEM;
        return nullptr;
    }
    auto* out = static_cast<char*>(typed_mem_alloc(mtype, 2 * n + 1));
    if (out == nullptr) return nullptr;
    for (std::size_t i = 0; i < n; ++i) {
        out[2 * i] = kHexDigits[bytes[i] >> 4];
        out[2 * i + 1] = kHexDigits[bytes[i] & 0x0F];
    }
    out[2 * n] = '\0';
    return out;
}

// Installs a new value and releases the old block once the new one is in place.
void replace_value(const StructsType* type, void* data, std::uint32_t length, std::uint8_t* bytes) {
    StructsBuffer& buf = buffer_in(data);
    std::uint8_t* old = buf.data;
    buf.length = length;
    buf.data = bytes;
    typed_mem_release(mtype_of(type), old);
}

int hex_binify(const StructsType* type, std::string_view text, void* data, char* ebuf, std::size_t emax) {
    const char* mtype = mtype_of(type);
    auto* bytes = static_cast<std::uint8_t*>(typed_mem_alloc(mtype, (text.size() + 1) / 2));
    if (bytes == nullptr) return -1;
    std::size_t n = 0;
    std::size_t i = 0;
    for (;;) {
        while (i < text.size() && is_space(text[i])) ++i;
        if (i == text.size()) break;
        const int high = hex_value(text[i]);
        const int low = i + 1 < text.size() ? hex_value(text[i + 1]) : -2;
        if (high < 0 || low == -1) {
            typed_mem_release(mtype, bytes);
            structs_write_error(ebuf, emax, "non-hex character seen");
            return fail(EINVAL);
        }
        if (low == -2) {
            typed_mem_release(mtype, bytes);
            structs_write_error(ebuf, emax, "odd length hex sequence");
            return fail(EINVAL);
        }
        bytes[n++] = static_cast<std::uint8_t>(high << 4 | low);
        i += 2;
    }
    if (n > UINT32_MAX) {
        typed_mem_release(mtype, bytes);
        return fail(EOVERFLOW);
    }
    if (n == 0) {
        typed_mem_release(mtype, bytes);
        bytes = nullptr;
    }
    replace_value(type, data, static_cast<std::uint32_t>(n), bytes);
    return 0;
}

int base64_binify(const StructsType* type, std::string_view text, void* data, char* ebuf, std::size_t emax) {
    char alphabet_buf[66];
    Filter* f = base64_decoder_make(base64_alphabet(charset_of(type), alphabet_buf), 1);
    if (f == nullptr) return -1;
    char* out = nullptr;
    const ssize_t n = filter_run(f, text.data(), text.size(), 1, &out, mtype_of(type));
    const int saved = errno;
    f->destroy(&f);
    if (n < 0 || static_cast<std::size_t>(n) > UINT32_MAX) {
        typed_mem_release(mtype_of(type), out);
        errno = n < 0 ? saved : EOVERFLOW;
        if (errno == EINVAL) structs_write_error(ebuf, emax, "invalid encoded binary data");
        return -1;
    }
    auto* bytes = reinterpret_cast<std::uint8_t*>(out);
    if (n == 0) {
        typed_mem_release(mtype_of(type), out);
        bytes = nullptr;
    }
    replace_value(type, data, static_cast<std::uint32_t>(n), bytes);
    return 0;
}

}  // namespace

int structs_data_copy(const StructsType* type, const void* from, void* to) {
    const StructsBuffer& src = buffer_in(from);
    StructsBuffer& dst = buffer_in(to);
    if (src.length == 0) {
        dst = StructsBuffer{0, nullptr};
        return 0;
    }
    auto* bytes = static_cast<std::uint8_t*>(typed_mem_alloc(mtype_of(type), src.length));
    if (bytes == nullptr) return -1;
    std::memcpy(bytes, src.data, src.length);
    dst = StructsBuffer{src.length, bytes};
    return 0;
}

int structs_data_equal(const StructsType*, const void* a, const void* b) {
    const StructsBuffer& x = buffer_in(a);
    const StructsBuffer& y = buffer_in(b);
    if (x.length != y.length) return 0;
    return x.length == 0 || std::memcmp(x.data, y.data, x.length) == 0 ? 1 : 0;
}

char* structs_data_ascify(const StructsType* type, const char* mtype, const void* data) {
    const StructsBuffer& buf = buffer_in(data);
    const char* charset = charset_of(type);
    if (charset != nullptr && *charset == '\0') return hex_text(mtype, buf.data, buf.length);
    char alphabet_buf[66];
    Filter* f = base64_encoder_make(base64_alphabet(charset, alphabet_buf));
    if (f == nullptr) return nullptr;
    char* out = nullptr;
    const ssize_t n = filter_run(f, buf.data, buf.length, 1, &out, mtype);
    const int saved = errno;
    f->destroy(&f);
    errno = saved;
    return n < 0 ? nullptr : out;
}

int structs_data_binify(const StructsType* type, const char* text, void* data, char* ebuf, std::size_t emax) {
    const std::string_view t = text != nullptr ? text : "";
    const char* charset = charset_of(type);
    if (charset != nullptr && *charset == '\0') return hex_binify(type, t, data, ebuf, emax);
    return base64_binify(type, t, data, ebuf, emax);
}

int structs_data_encode(const StructsType*, const char* mtype, StructsBuffer* code, const void* data) {
    const StructsBuffer& buf = buffer_in(data);
    EncodedBlock block(mtype);
    if (!block.allocate(std::size_t{4} + buf.length)) return -1;
    write_be32(block.data(), buf.length);
    if (buf.length != 0) std::memcpy(block.data() + 4, buf.data, buf.length);
    block.hand_to(code);
    return 0;
}

ssize_t structs_data_decode(const StructsType* type, const std::uint8_t* code, std::size_t cmax, void* data,
                            char* ebuf, std::size_t emax) {
    // Compared as "length <= cmax - 4": a sum could wrap.
    const std::uint32_t length = cmax >= 4 ? read_be32(code) : 0;
    if (cmax < 4 || length > cmax - 4) {
        structs_write_error(ebuf, emax, "encoded data is corrupted");
        return fail(EINVAL);
    }
    StructsBuffer& buf = buffer_in(data);
    buf = StructsBuffer{0, nullptr};
    if (length != 0) {
        auto* bytes = static_cast<std::uint8_t*>(typed_mem_alloc(mtype_of(type), length));
        if (bytes == nullptr) return -1;
        std::memcpy(bytes, code + 4, length);
        buf = StructsBuffer{length, bytes};
    }
    return static_cast<ssize_t>(std::size_t{4} + length);
}

void structs_data_uninit(const StructsType* type, void* data) {
    StructsBuffer& buf = buffer_in(data);
    typed_mem_release(mtype_of(type), buf.data);
    buf = StructsBuffer{0, nullptr};
}

char* structs_fixeddata_ascify(const StructsType* type, const char* mtype, const void* data) {
    return hex_text(mtype, static_cast<const std::uint8_t*>(data), type->size);
}

int structs_fixeddata_binify(const StructsType* type, const char* text, void* data, char* ebuf,
                             std::size_t emax) {
    const std::string_view t = text != nullptr ? text : "";
    // Checked whole before anything is written, so a failure leaves the value as it was.
    for (int pass = 0; pass < 2; ++pass) {
        std::size_t i = 0;
        for (std::uint32_t n = 0; n < type->size; ++n) {
            int digits[2];
            for (int& d : digits) {
                while (i < t.size() && is_space(t[i])) ++i;
                if (i == t.size()) {
                    structs_write_error(ebuf, emax, "hex string is too short");
                    return fail(EINVAL);
                }
                d = hex_value(t[i++]);
                if (d < 0) {
                    structs_write_error(ebuf, emax, "non-hex character seen");
                    return fail(EINVAL);
                }
            }
            if (pass == 1)
                static_cast<std::uint8_t*>(data)[n] = static_cast<std::uint8_t>(digits[0] << 4 | digits[1]);
        }
        while (i < t.size() && is_space(t[i])) ++i;
        if (i != t.size()) {
            structs_write_error(ebuf, emax, "hex string is too long");
            return fail(EINVAL);
        }
    }
    return 0;
}
