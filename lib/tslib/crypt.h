#pragma once
// Password cipher: RC4 keyed by the MD5 of a 12-character phrase, on libcrypto in a private
// library context (RC4 lives only in the legacy provider; loading that into the default
// context would disturb TLS). Each call derives a fresh key and starts the keystream at byte
// 0: no IV, no padding, the output as long as the input; deciphering is the same operation.
//
// Installations hold values of two key variants, depending on the key length of the
// provider that wrote them: 128 bits (the 16 bytes of the MD5) and 40 bits (its first 5
// bytes followed by 11 zero bytes). Writing uses the write key (128 bits unless the site's
// key-bits source says 40); reading tries the write key first, then the other.
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

enum class CryptKeyBits : unsigned { k40 = 40, k128 = 128 };

// Key phrases: password values, and the passwords inside server addresses.
inline constexpr std::string_view kCryptPasswordPhrase = "R8@kilv4n0mP";
inline constexpr std::string_view kCryptServerPhrase = "R8@kilv4n0mS";

// 1 when MD5 and RC4 could be fetched (once per process), else 0.
int crypt_IsAvailable();

// Enciphers text with the write key into out. The count written (text.size()); 0 when the
// cipher is unavailable, the text is empty or out is shorter than the text.
std::size_t crypt_Encipher(std::string_view text, std::span<std::uint8_t> out, std::string_view phrase);

// Deciphers bytes with the write key into out: bytes.size() bytes and a zero. 1; 0 when the
// cipher is unavailable or out cannot hold bytes.size() + 1 characters.
int crypt_Decipher(std::span<const std::uint8_t> bytes, std::span<char> out, std::string_view phrase);

// The same with a chosen key variant.
std::size_t crypt_EncipherWith(CryptKeyBits key, std::string_view text, std::span<std::uint8_t> out,
                               std::string_view phrase);
int crypt_DecipherWith(CryptKeyBits key, std::span<const std::uint8_t> bytes, std::span<char> out,
                       std::string_view phrase);

// Where the site's key-bits choice comes from: a function giving 40 or 128 (any other value
// means 128). The runtime services library sets one that reads the product's registry value
// "CipherKeyBits"; without a source the write key is the 128-bit one. The source is asked on
// every cipher operation, so it should be cheap (read the setting once and keep it).
using CryptKeyBitsSource = unsigned (*)();
void crypt_SetKeyBitsSource(CryptKeyBitsSource source);

// The key variant that writing uses.
CryptKeyBits crypt_WriteKeyBits();
// The order in which reading tries the variants: the write key, then the other.
std::array<CryptKeyBits, 2> crypt_ReadKeyOrder();
