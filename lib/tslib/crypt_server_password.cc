#include "tslib/ascii_text.h"
#include "tslib/crypt_server_password.h"

#include <openssl/crypto.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include "tslib/crypt.h"
#include "tslib/hex_text.h"
#include "tslib/structs_internal.h"

using tslib::equal_ignoring_case;

namespace {

constexpr std::string_view kPrefix = "enc";
constexpr std::size_t kMaxBytes = kCryptServerMaxDigits / 2;

bool is_upper_hex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

bool is_printable(std::string_view text) {
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b > 0x7E) return false;
    }
    return true;
}

// One candidate plain text per key variant; wiped when done.
struct Candidate {
    std::array<char, kMaxBytes + 1> text{};
    bool deciphered = false;
    ~Candidate() { OPENSSL_cleanse(text.data(), text.size()); }
};

int give(std::string_view result, std::span<char> out) {
    if (out.size() < result.size() + 1) {
        errno = ERANGE;
        return -1;
    }
    std::memcpy(out.data(), result.data(), result.size());
    out[result.size()] = '\0';
    return 1;
}

}  // namespace

bool crypt_IsEscapedServerPassword(std::string_view text) {
    if (text.empty() || text.size() % 3 != 0) return false;
    for (std::size_t i = 0; i < text.size(); i += 3) {
        if (text[i] != '%' || !is_upper_hex(text[i + 1]) || !is_upper_hex(text[i + 2])) return false;
    }
    return true;
}

std::size_t crypt_EncipherServerPassword(std::string_view stored, std::span<char> out) {
    if (stored.empty() || out.size() < kPrefix.size() + 2 * stored.size() + 1) return 0;
    std::vector<std::uint8_t> cipher(stored.size());
    if (crypt_Encipher(stored, cipher, kCryptServerPhrase) != stored.size()) return 0;
    std::memcpy(out.data(), kPrefix.data(), kPrefix.size());
    tslib::detail::write_hex_lower(cipher, out.data() + kPrefix.size());
    const std::size_t length = kPrefix.size() + 2 * stored.size();
    out[length] = '\0';
    return length;
}

int crypt_DecipherServerPassword(std::string_view password, std::span<char> out) {
    if (password.size() < kPrefix.size() || !equal_ignoring_case(password.substr(0, kPrefix.size()), kPrefix))
        return 0;
    const std::string_view digits = password.substr(kPrefix.size());
    if (!tslib::detail::is_hex_pairs(digits)) return 0;
    if (digits.size() > kCryptServerMaxDigits) {
        errno = EINVAL;
        return -1;
    }
    std::array<std::uint8_t, kMaxBytes> cipher{};
    const std::size_t n = tslib::detail::read_hex_pairs(digits, cipher);
    const std::span<const std::uint8_t> bytes(cipher.data(), n);

    // A short password deciphered with the wrong key is printable far too often, so the
    // form every writer produces is looked for under both keys before printable text is.
    const std::array<CryptKeyBits, 2> order = crypt_ReadKeyOrder();
    std::array<Candidate, 2> candidates;
    for (std::size_t k = 0; k < order.size(); ++k) {
        Candidate& c = candidates[k];
        c.deciphered = crypt_DecipherWith(order[k], bytes, c.text, kCryptServerPhrase) == 1;
        if (c.deciphered && crypt_IsEscapedServerPassword(std::string_view(c.text.data(), n)))
            return give(std::string_view(c.text.data(), n), out);
    }
    for (const Candidate& c : candidates) {
        if (c.deciphered && is_printable(std::string_view(c.text.data(), n)))
            return give(std::string_view(c.text.data(), n), out);
    }
    errno = EINVAL;
    return -1;
}

ssize_t crypt_EscapeServerPassword(std::string_view password, std::span<char> out) {
    const bool escaped = crypt_IsEscapedServerPassword(password);
    const std::size_t length = escaped ? password.size() : 3 * password.size();
    if (out.size() < length + 1) {
        errno = ERANGE;
        return -1;
    }
    if (escaped) {
        std::memcpy(out.data(), password.data(), password.size());
    } else {
        constexpr char kDigits[] = "0123456789ABCDEF";
        char* p = out.data();
        for (char ch : password) {
            const auto b = static_cast<unsigned char>(ch);
            *p++ = '%';
            *p++ = kDigits[b >> 4];
            *p++ = kDigits[b & 0x0F];
        }
    }
    out[length] = '\0';
    return static_cast<ssize_t>(length);
}
