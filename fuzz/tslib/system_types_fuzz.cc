// Arbitrary text parsed by the date-and-time, end-of-line, separator and password types and
// read as the password of a web-service address. First byte: bits 0-2 choose the type, bit
// 3 the 40-bit write key; the rest is the text. Nothing is written past the field, the error
// buffer is always terminated, and whatever is accepted reads back the same.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tslib/crypt.h"
#include "tslib/crypt_server_password.h"
#include "tslib/structs.h"
#include "tslib/typed_mem.h"

namespace {

constexpr const char* kMtype = "fuzz";
constexpr std::size_t kGuardBytes = 16;
constexpr std::size_t kMaxText = 5000;
constexpr std::uint8_t kGuard = 0xA5;

unsigned g_bits = 128;
unsigned configured_bits() {
    return g_bits;
}

void check(bool holds, unsigned line = __builtin_LINE()) {
    if (holds) return;
    std::fprintf(stderr, "check failed at line %u\n", line);
    std::abort();
}

const StructsType* type_of(std::uint8_t selector) {
    switch (selector % 5) {
        case 0: return &structs_type_time_with_year;
        case 1: return &structs_type_time_no_year;
        case 2: return &structs_type_eol;
        case 3: return &structs_type_sep;
        default: return &structs_type_password;
    }
}

// A field with guard bytes after it.
struct Field {
    explicit Field(const StructsType* type) : type(type), bytes(type->size + kGuardBytes, kGuard) {
        std::memset(bytes.data(), 0, type->size);
    }
    bool guard_intact() const {
        for (std::size_t i = type->size; i < bytes.size(); ++i) {
            if (bytes[i] != kGuard) return false;
        }
        return true;
    }
    std::string value() const { return std::string(reinterpret_cast<const char*>(bytes.data()), type->size); }
    const StructsType* type;
    std::vector<std::uint8_t> bytes;
};

bool binify(Field& f, const char* text) {
    char ebuf[24];
    std::memset(ebuf, 'x', sizeof ebuf);
    const int rc = f.type->binify(f.type, text, f.bytes.data(), ebuf, sizeof ebuf);
    check(f.guard_intact());
    if (rc != 0) check(std::memchr(ebuf, 0, sizeof ebuf) != nullptr && ebuf[0] != '\0');
    return rc == 0;
}

std::string ascify(const Field& f) {
    char* t = f.type->ascify(f.type, kMtype, f.bytes.data());
    check(t != nullptr);
    std::string out(t);
    typed_mem_release(kMtype, t);
    return out;
}

void parse_as_type(const StructsType* type, const std::string& text) {
    Field first(type);
    if (!binify(first, text.c_str())) return;
    const std::string printed = ascify(first);
    Field second(type);
    check(binify(second, printed.c_str()));
    check(ascify(second) == printed);
    // Every password reads back as itself: control characters, trailing blanks, full length.
    check(second.value() == first.value());
}

void parse_as_server_password(const std::string& text) {
    std::vector<char> plain(300, 'x');
    const int rc = crypt_DecipherServerPassword(text, plain);
    if (rc == -1) return;
    const std::string password = rc == 1 ? std::string(plain.data()) : text;
    if (rc == 1) check(password.size() < plain.size() && password.size() * 2 + 3 <= text.size());
    std::vector<char> stored(3 * password.size() + 1, 'x');
    const ssize_t n = crypt_EscapeServerPassword(password, stored);
    check(n >= 0 && static_cast<std::size_t>(n) < stored.size() && stored[n] == '\0');
    if (n == 0) return;
    const std::string escaped(stored.data(), static_cast<std::size_t>(n));
    check(crypt_IsEscapedServerPassword(escaped));
    if (escaped.size() > kCryptServerMaxDigits / 2) return;
    std::vector<char> form(3 + 2 * escaped.size() + 1);
    const std::size_t length = crypt_EncipherServerPassword(escaped, form);
    check(length == form.size() - 1);
    std::vector<char> back(escaped.size() + 1);
    check(crypt_DecipherServerPassword(std::string_view(form.data(), length), back) == 1);
    check(escaped == back.data());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    g_bits = (data[0] & 0x08) != 0 ? 40 : 128;
    crypt_SetKeyBitsSource(configured_bits);
    std::string text(reinterpret_cast<const char*>(data + 1), std::min(size - 1, kMaxText));
    text.resize(std::strlen(text.c_str()));
    parse_as_type(type_of(data[0] & 0x07), text);
    parse_as_server_password(text);
    return 0;
}
