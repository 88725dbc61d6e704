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
// A password of the field's full length that ends in a blank has no room left for its zero:
// one more byte carries it. Readers of the plain block form take the text up to that zero.
constexpr std::size_t kLongBlock = kBlock + 1;
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

// What a deciphered block says: the password, then blanks, or zeros after a password that
// ends in a blank (a zero is never part of a password, so the blanks before it stay).
struct BlockReading {
    bool possible = false;   // a block a writer can have made
    bool plausible = false;  // no control character in the password
    std::size_t padding = 0;
    std::string_view password;
};

BlockReading read_block(std::string_view block) {
    BlockReading r;
    if (block.size() > kBlock && block[kBlock] != '\0') return r;
    const std::size_t zero = block.find('\0');
    if (zero != std::string_view::npos) {
        if (block.find_first_not_of('\0', zero) != std::string_view::npos) return r;
        r.password = block.substr(0, zero);
    } else {
        r.password = without_trailing_blanks(block);
    }
    r.possible = true;
    r.plausible = plausible(r.password);
    r.padding = block.size() - r.password.size();
    return r;
}

// Whether a later key's reading beats an earlier one's: a plausible password, else clearly
// longer padding. A wrong key leaves random bytes at the end, one of which reads as padding
// one time in 128, two only one time in 30,000 or so.
bool better(const BlockReading& later, const BlockReading& earlier) {
    if (later.plausible != earlier.plausible) return later.plausible;
    return later.padding > earlier.padding + 1;
}

}  // namespace

char* structs_password_ascify(const StructsType*, const char* mtype, const void* data) {
    const auto* chars = static_cast<const char*>(data);
    const std::string_view password(chars, strnlen(chars, kBlock));
    if (password.empty()) return dup_text(mtype, "");

    Wiped<char, kLongBlock> block;
    // Blank padding, which readers strip; zeros keep the blanks of a password that ends in one.
    const bool zeros = password.back() == ' ';
    block.bytes.fill(zeros ? '\0' : ' ');
    std::memcpy(block.bytes.data(), password.data(), password.size());
    const std::size_t size = zeros && password.size() == kBlock ? kLongBlock : kBlock;
    std::array<std::uint8_t, kLongBlock> cipher{};
    if (crypt_Encipher(std::string_view(block.bytes.data(), size), cipher, kCryptPasswordPhrase) != size)
        return dup_text(mtype, password);

    std::array<char, kPrefix.size() + 2 * kLongBlock> text{};
    std::memcpy(text.data(), kPrefix.data(), kPrefix.size());
    tslib::detail::write_hex_lower(std::span(cipher.data(), size), text.data() + kPrefix.size());
    return dup_text(mtype, std::string_view(text.data(), kPrefix.size() + 2 * size));
}

int structs_password_binify(const StructsType* type, const char* text, void* data, char* ebuf,
                            std::size_t emax) {
    if (text == nullptr) text = "";
    const std::string_view given(text);
    if (given.size() >= kPrefix.size() && equal_ignoring_case(given.substr(0, kPrefix.size()), kPrefix)) {
        const std::string_view digits = given.substr(kPrefix.size());
        std::array<std::uint8_t, kLongBlock> cipher{};
        if (digits.size() <= 2 * kLongBlock && tslib::detail::is_hex_pairs(digits)) {
            const std::size_t n = tslib::detail::read_hex_pairs(digits, cipher);
            const std::span<const std::uint8_t> bytes(cipher.data(), n);
            Wiped<char, kLongBlock + 1> plain;
            Wiped<char, kLongBlock + 1> chosen;
            BlockReading best;
            for (CryptKeyBits key : crypt_ReadKeyOrder()) {
                if (crypt_DecipherWith(key, bytes, plain.bytes, kCryptPasswordPhrase) != 1) continue;
                BlockReading reading = read_block(std::string_view(plain.bytes.data(), n));
                if (!reading.possible || (best.possible && !better(reading, best))) continue;
                std::memcpy(chosen.bytes.data(), reading.password.data(), reading.password.size());
                reading.password = std::string_view(chosen.bytes.data(), reading.password.size());
                best = reading;
            }
            // A whole block is what writers make: its deciphered text replaces it whatever
            // characters the password holds. A shorter text that deciphers into control
            // characters is more likely a password that merely looks like cipher text.
            if (best.possible && (n >= kBlock || best.plausible) && best.password.size() < type->size) {
                auto* out = static_cast<char*>(data);
                std::memcpy(out, best.password.data(), best.password.size());
                std::memset(out + best.password.size(), 0, type->size - best.password.size());
                return 0;
            }
        }
    }
    return structs_fixedstring_binify(type, text, data, ebuf, emax);
}
