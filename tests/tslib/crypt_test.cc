// The password cipher against known answers: the key derivation is checked with a plain
// RC4 written here over the key bytes that MD5 of each phrase must give.
#include "tslib/crypt.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "tslib/crypt_testing.h"

namespace {

unsigned g_bits = 0;
unsigned configured_bits() {
    return g_bits;
}

class CryptTest : public testing::Test {
  protected:
    void TearDown() override {
        crypt_SetKeyBitsSource(nullptr);
        crypt_SetUnavailableForTest(false);
    }
    static void use_bits(unsigned bits) {
        g_bits = bits;
        crypt_SetKeyBitsSource(configured_bits);
    }
};

std::vector<std::uint8_t> bytes_of_hex(const std::string& hex) {
    std::vector<std::uint8_t> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::string hex_of(const std::vector<std::uint8_t>& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::vector<std::uint8_t> reference_rc4(const std::vector<std::uint8_t>& key, const std::string& text) {
    std::array<std::uint8_t, 256> s{};
    for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + key[i % key.size()]) & 0xFF;
        std::swap(s[i], s[j]);
    }
    std::vector<std::uint8_t> out;
    int i = 0;
    int j = 0;
    for (char c : text) {
        i = (i + 1) & 0xFF;
        j = (j + s[i]) & 0xFF;
        std::swap(s[i], s[j]);
        out.push_back(static_cast<std::uint8_t>(static_cast<std::uint8_t>(c) ^ s[(s[i] + s[j]) & 0xFF]));
    }
    return out;
}

std::vector<std::uint8_t> enciphered(CryptKeyBits key, const std::string& text, std::string_view phrase) {
    std::vector<std::uint8_t> out(text.size());
    out.resize(crypt_EncipherWith(key, text, out, phrase));
    return out;
}

std::string padded(const std::string& text) {
    return text + std::string(256 - text.size(), ' ');
}

}  // namespace

TEST_F(CryptTest, KeysAreTheMd5OfThePhraseWholeOrItsFirstFiveBytes) {
    ASSERT_EQ(crypt_IsAvailable(), 1);
    struct Case {
        std::string_view phrase;
        CryptKeyBits bits;
        const char* key_hex;
    };
    const Case cases[] = {
        {kCryptPasswordPhrase, CryptKeyBits::k128, "771f28a2d0b7365a4413ec6bef1d4de1"},
        {kCryptPasswordPhrase, CryptKeyBits::k40, "771f28a2d00000000000000000000000"},
        {kCryptServerPhrase, CryptKeyBits::k128, "564cac4690d76e294ffc9a0a74a659cf"},
        {kCryptServerPhrase, CryptKeyBits::k40, "564cac46900000000000000000000000"},
    };
    const std::string text = padded("a longer text, so the whole keystream start is compared");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key_hex);
        EXPECT_EQ(enciphered(c.bits, text, c.phrase), reference_rc4(bytes_of_hex(c.key_hex), text));
    }
}

TEST_F(CryptTest, KnownAnswersOfBothVariants) {
    EXPECT_EQ(hex_of(enciphered(CryptKeyBits::k128, padded("abc"), kCryptPasswordPhrase)).substr(0, 32),
              "25f4d7ed66419258656aa9212633d7f7");
    EXPECT_EQ(hex_of(enciphered(CryptKeyBits::k40, padded("abc"), kCryptPasswordPhrase)).substr(0, 32),
              "0c65e6d6099808e481e01fa7b106890c");
    EXPECT_EQ(hex_of(enciphered(CryptKeyBits::k128, "%70%77", kCryptServerPhrase)), "e23d9f158e08");
    EXPECT_EQ(hex_of(enciphered(CryptKeyBits::k40, "%70%77", kCryptServerPhrase)), "7d832ed00899");
}

TEST_F(CryptTest, DecipheringIsTheSameOperationAndEveryCallStartsAfresh) {
    const std::string text = "p\xe4ssw\xf6rd";
    for (CryptKeyBits key : {CryptKeyBits::k128, CryptKeyBits::k40}) {
        const std::vector<std::uint8_t> first = enciphered(key, text, kCryptPasswordPhrase);
        EXPECT_EQ(enciphered(key, text, kCryptPasswordPhrase), first) << "no state carried between calls";
        std::array<char, 16> plain{};
        plain.fill('x');
        ASSERT_EQ(crypt_DecipherWith(key, first, plain, kCryptPasswordPhrase), 1);
        EXPECT_EQ(std::string(plain.data()), text);
    }
}

TEST_F(CryptTest, OutputThatDoesNotFitGivesZeroAndWritesNothing) {
    const std::string text = "secret";
    std::array<std::uint8_t, 8> out{};
    out.fill(0xAA);
    EXPECT_EQ(crypt_Encipher(text, std::span(out).first(5), kCryptPasswordPhrase), 0u);
    EXPECT_EQ(out[0], 0xAA);
    EXPECT_EQ(crypt_Encipher("", out, kCryptPasswordPhrase), 0u) << "nothing to encipher";
    ASSERT_EQ(crypt_Encipher(text, std::span(out).first(6), kCryptPasswordPhrase), 6u);

    std::array<char, 8> plain{};
    plain.fill('x');
    const std::span<const std::uint8_t> cipher(out.data(), 6);
    EXPECT_EQ(crypt_Decipher(cipher, std::span(plain).first(6), kCryptPasswordPhrase), 0) << "no room for the zero";
    EXPECT_EQ(plain[0], 'x');
    ASSERT_EQ(crypt_Decipher(cipher, std::span(plain).first(7), kCryptPasswordPhrase), 1);
    EXPECT_EQ(std::string(plain.data()), text);
    EXPECT_EQ(crypt_Decipher({}, std::span(plain).first(1), kCryptPasswordPhrase), 1);
    EXPECT_EQ(plain[0], '\0');
}

TEST_F(CryptTest, KeyBitsSourceChoosesTheWriteKeyAndTheReadingOrder) {
    struct Case {
        bool has_source;
        unsigned bits;
        CryptKeyBits write;
    };
    const Case cases[] = {
        {false, 0, CryptKeyBits::k128},
        {true, 40, CryptKeyBits::k40},
        {true, 128, CryptKeyBits::k128},
        {true, 0, CryptKeyBits::k128},
        {true, 56, CryptKeyBits::k128},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bits);
        if (c.has_source)
            use_bits(c.bits);
        else
            crypt_SetKeyBitsSource(nullptr);
        EXPECT_EQ(crypt_WriteKeyBits(), c.write);
        const CryptKeyBits other = c.write == CryptKeyBits::k40 ? CryptKeyBits::k128 : CryptKeyBits::k40;
        EXPECT_EQ(crypt_ReadKeyOrder(), (std::array{c.write, other}));
        std::array<std::uint8_t, 6> out{};
        ASSERT_EQ(crypt_Encipher("%70%77", out, kCryptServerPhrase), 6u);
        EXPECT_EQ(hex_of({out.begin(), out.end()}), c.write == CryptKeyBits::k40 ? "7d832ed00899" : "e23d9f158e08");
    }
}

TEST_F(CryptTest, UnavailableCipherFailsEveryCall) {
    crypt_SetUnavailableForTest(true);
    EXPECT_EQ(crypt_IsAvailable(), 0);
    std::array<std::uint8_t, 8> out{};
    std::array<char, 8> plain{};
    EXPECT_EQ(crypt_Encipher("abc", out, kCryptPasswordPhrase), 0u);
    EXPECT_EQ(crypt_Decipher(std::span(out).first(3), plain, kCryptPasswordPhrase), 0);
    crypt_SetUnavailableForTest(false);
    EXPECT_EQ(crypt_IsAvailable(), 1);
}

TEST_F(CryptTest, ConcurrentCallsGiveTheSameBytes) {
    const std::vector<std::uint8_t> expected = enciphered(CryptKeyBits::k128, padded("abc"), kCryptPasswordPhrase);
    std::vector<std::thread> threads;
    std::array<int, 4> mismatches{};
    for (std::size_t t = 0; t < mismatches.size(); ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                if (enciphered(CryptKeyBits::k128, padded("abc"), kCryptPasswordPhrase) != expected) ++mismatches[t];
            }
        });
    }
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(mismatches, (std::array<int, 4>{}));
}
