#include "tslib/ascii_text.h"
#include "tslib/structs_password.h"

#include <openssl/crypto.h>

#include <array>
#include <cstring>
#include <string_view>

#include "tslib/crypt.h"
#include "tslib/hex_text.h"
#include "tslib/structs_internal.h"

using tslib::detail::dup_text;
using tslib::equal_ignoring_case;

namespace {

constexpr std::size_t kBlock = kStructsPasswordSize - 1;
constexpr std::string_view kPrefix = "enc:";

// Wipes a buffer that held a password when it goes out of scope.
template <typename T, std::size_t N>
struct Wiped {
    std::array<T, N> bytes{};
    ~Wiped() { OPENSSL_cleanse(bytes.data(), sizeof bytes); }
};

// A wrong key yields a control character somewhere in a 256-byte block with near certainty;
// bytes from 0x80 up are Windows-1252 letters and stay.
bool plausible(std::string_view text) {
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) return false;
    }
    return true;
}

std::string_view without_trailing_blanks(std::string_view text) {
    while (text.size() > 1 && text.back() == ' ') text.remove_suffix(1);
    return text;
}

}  // namespace

char* structs_password_ascify(const StructsType*, const char* mtype, const void* data) {
    const auto* chars = static_cast<const char*>(data);
    const std::string_view password(chars, strnlen(chars, kBlock));
    if (password.empty()) return dup_text(mtype, "");

    Wiped<char, kBlock> block;
    block.bytes.fill(' ');
    std::memcpy(block.bytes.data(), password.data(), password.size());
    std::array<std::uint8_t, kBlock> cipher{};
    if (crypt_Encipher(std::string_view(block.bytes.data(), kBlock), cipher, kCryptPasswordPhrase) != kBlock)
        return dup_text(mtype, password);

    std::array<char, kPrefix.size() + 2 * kBlock> text{};
    std::memcpy(text.data(), kPrefix.data(), kPrefix.size());
    tslib::detail::write_hex_lower(cipher, text.data() + kPrefix.size());
    return dup_text(mtype, std::string_view(text.data(), text.size()));
}

int structs_password_binify(const StructsType* type, const char* text, void* data, char* ebuf,
                            std::size_t emax) {
    if (text == nullptr) text = "";
    const std::string_view given(text);
    if (given.size() >= kPrefix.size() && equal_ignoring_case(given.substr(0, kPrefix.size()), kPrefix)) {
        const std::string_view digits = given.substr(kPrefix.size());
        std::array<std::uint8_t, kBlock> cipher{};
        if (digits.size() <= 2 * kBlock && tslib::detail::is_hex_pairs(digits)) {
            const std::size_t n = tslib::detail::read_hex_pairs(digits, cipher);
            const std::span<const std::uint8_t> bytes(cipher.data(), n);
            Wiped<char, kBlock + 1> plain;
            for (CryptKeyBits key : crypt_ReadKeyOrder()) {
                if (crypt_DecipherWith(key, bytes, plain.bytes, kCryptPasswordPhrase) != 1) continue;
                const std::string_view result(plain.bytes.data(), n);
                if (!plausible(result)) continue;
                const std::string_view password = without_trailing_blanks(result);
                if (password.size() >= type->size) break;
                auto* out = static_cast<char*>(data);
                std::memcpy(out, password.data(), password.size());
                std::memset(out + password.size(), 0, type->size - password.size());
                return 0;
            }
        }
    }
    return structs_fixedstring_binify(type, text, data, ebuf, emax);
}
