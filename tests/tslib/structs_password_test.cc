// The password type: written enciphered, read back with either key variant, kept as it is
// when it is not cipher text.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "structs_test_types.h"
#include "tslib/crypt.h"
#include "tslib/crypt_testing.h"
#include "tslib/structs.h"
#include "tslib_test_util.h"

namespace {

using structs_test::failed;
using structs_test::ok;
using structs_test::SetResult;

const int kAccounting = typed_mem_turn_on();

unsigned g_bits = 128;
unsigned configured_bits() {
    return g_bits;
}

using Field = std::array<char, kStructsPasswordSize + 8>;  // the field and a guard after it
constexpr char kGuard = 'G';

class PasswordTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(kAccounting, 0);
        ASSERT_EQ(crypt_IsAvailable(), 1);
        use_bits(128);
    }
    void TearDown() override {
        crypt_SetKeyBitsSource(nullptr);
        crypt_SetUnavailableForTest(false);
        EXPECT_TRUE(tslib_test::live_blocks().empty()) << "blocks leaked";
    }
    static void use_bits(unsigned bits) {
        g_bits = bits;
        crypt_SetKeyBitsSource(configured_bits);
    }
};

Field field_holding(const std::string& password) {
    Field f{};
    f.fill(kGuard);
    std::memset(f.data(), 0, kStructsPasswordSize);
    std::memcpy(f.data(), password.data(), password.size());
    return f;
}

std::string text_of(const Field& f) {
    return structs_test::text_of(&structs_type_password, nullptr, f.data());
}

SetResult set_text(Field& f, const std::string& text) {
    return structs_test::set_text(&structs_type_password, nullptr, text.c_str(), f.data());
}

std::string stored(const Field& f) {
    return std::string(f.data(), strnlen(f.data(), kStructsPasswordSize));
}

bool guard_intact(const Field& f) {
    for (std::size_t i = kStructsPasswordSize; i < f.size(); ++i) {
        if (f[i] != kGuard) return false;
    }
    return true;
}

std::string hex_of(std::span<const std::uint8_t> bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

// The text form a writer with the given key produces for a whole block.
std::string enc_text(CryptKeyBits key, const std::string& block) {
    std::vector<std::uint8_t> cipher(block.size());
    EXPECT_EQ(crypt_EncipherWith(key, block, cipher, kCryptPasswordPhrase), block.size());
    return "enc:" + hex_of(cipher);
}

// A cipher text that deciphers into a control character under both keys: byte 0 reads as
// 0x01 under the 128-bit key, byte 1 under the 40-bit key (the two keystreams differ by d).
std::string undecipherable(std::size_t bytes) {
    const std::string zeros(bytes, '\0');
    std::vector<std::uint8_t> ks128(bytes);
    std::vector<std::uint8_t> ks40(bytes);
    EXPECT_EQ(crypt_EncipherWith(CryptKeyBits::k128, zeros, ks128, kCryptPasswordPhrase), bytes);
    EXPECT_EQ(crypt_EncipherWith(CryptKeyBits::k40, zeros, ks40, kCryptPasswordPhrase), bytes);
    std::string plain(bytes, 'a');
    plain[0] = '\x01';
    plain[1] = static_cast<char>(ks128[1] ^ ks40[1] ^ 0x01);
    return enc_text(CryptKeyBits::k128, plain);
}

std::string too_long() {
    return "string is too long for bounded length buffer";
}

}  // namespace

TEST_F(PasswordTest, KnownAnswersAndBothVariantsRead) {
    const Field abc = field_holding("abc");
    const std::string written128 = text_of(abc);
    EXPECT_EQ(written128.size(), 4u + 512u);
    EXPECT_EQ(written128.substr(0, 36), "enc:25f4d7ed66419258656aa9212633d7f7");
    use_bits(40);
    const std::string written40 = text_of(abc);
    EXPECT_EQ(written40.substr(0, 36), "enc:0c65e6d6099808e481e01fa7b106890c");

    for (unsigned bits : {128u, 40u}) {
        use_bits(bits);
        for (const std::string& text : {written128, written40}) {
            SCOPED_TRACE(std::to_string(bits) + " " + text.substr(0, 12));
            Field f = field_holding("old");
            ASSERT_EQ(set_text(f, text), ok());
            EXPECT_EQ(stored(f), "abc");
            EXPECT_TRUE(guard_intact(f));
        }
    }
}

TEST_F(PasswordTest, RoundTripsOfEveryLength) {
    const std::string w1252 = "Gr\xfc\xdf" "e \x80\x9f\xe4\xff!";
    const std::vector<std::string> passwords = {
        "", "a", "abc", std::string(255, 'x'), std::string(256, 'y'), w1252, "   leading blanks stay", "x y",
    };
    for (unsigned bits : {128u, 40u}) {
        use_bits(bits);
        for (const std::string& password : passwords) {
            SCOPED_TRACE(std::to_string(bits) + " length " + std::to_string(password.size()));
            const Field original = field_holding(password);
            const std::string text = text_of(original);
            EXPECT_EQ(text.size(), password.empty() ? 0u : 516u);
            Field back = field_holding("something else");
            ASSERT_EQ(set_text(back, text), ok());
            EXPECT_EQ(stored(back), password);
            EXPECT_TRUE(guard_intact(back));
            EXPECT_EQ(text_of(back), text) << "a second cycle writes the same text";
        }
    }
}

TEST_F(PasswordTest, TrailingBlanksStayAndBlankPaddedBlocksLoseThem) {
    for (const std::string& password : {std::string("pw   "), std::string(" "), std::string(255, ' '),
                                        std::string("a\t ") + std::string(200, ' ')}) {
        SCOPED_TRACE(password.size());
        Field back{};
        ASSERT_EQ(set_text(back, text_of(field_holding(password))), ok());
        EXPECT_EQ(stored(back), password);
    }
    // A block padded with blanks after the password, as other writers make it: the trailing
    // blanks are padding, the first character stays.
    Field back{};
    ASSERT_EQ(set_text(back, enc_text(CryptKeyBits::k128, "pw" + std::string(254, ' '))), ok());
    EXPECT_EQ(stored(back), "pw");
    ASSERT_EQ(set_text(back, enc_text(CryptKeyBits::k128, std::string(256, ' '))), ok());
    EXPECT_EQ(stored(back), " ");
}

constexpr char kControls[] = "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10"
                             "\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f\x7f";

TEST_F(PasswordTest, EveryByteValueRoundTripsUnderEitherKey) {
    std::vector<std::string> passwords;
    for (int b = 1; b <= 0xFF; ++b) passwords.push_back("x" + std::string(1, static_cast<char>(b)) + "y");
    for (int b = 1; b <= 0xFF; ++b) passwords.push_back(std::string(1, static_cast<char>(b)));
    std::string every;
    for (int b = 1; b <= 0xFF; ++b) every += static_cast<char>(b);
    passwords.push_back(every);                          // 255 characters, control ones among them
    passwords.push_back(every + "\x7f");                 // the field's full length
    passwords.push_back(std::string(256, '\t'));         // nothing but control characters
    passwords.push_back(std::string(3, '\x01') + "  ");  // control characters, then blanks
    passwords.push_back(every + " ");                     // the full length, ending in a blank
    // The full length ending in 0x01, which the other key reads as a blank.
    passwords.push_back("\x7f" + std::string(every.rbegin(), every.rend()));
    for (unsigned written_with : {128u, 40u}) {
        for (unsigned read_with : {128u, 40u}) {
            for (const std::string& password : passwords) {
                // Nothing in a block says which key wrote it: under the other key, control
                // characters with less than two bytes of padding cannot be told from noise.
                if (written_with != read_with && password.size() >= 255 &&
                    password.find_first_of(std::string(kControls)) != std::string::npos)
                    continue;
                SCOPED_TRACE(std::to_string(written_with) + "/" + std::to_string(read_with) + " " +
                             std::to_string(password.size()) + " first " +
                             std::to_string(static_cast<unsigned char>(password[0])));
                use_bits(written_with);
                const std::string text = text_of(field_holding(password));
                // A full-length password that ends in a blank needs one more byte for its end.
                ASSERT_EQ(text.size(), password.size() == 256 && password.back() == ' ' ? 518u : 516u);
                use_bits(read_with);
                Field back = field_holding("old");
                ASSERT_EQ(set_text(back, text), ok());
                EXPECT_EQ(stored(back), password);
                EXPECT_TRUE(guard_intact(back));
            }
        }
    }
}

TEST_F(PasswordTest, OnlyCipherTextIsDecipheredAndEveryTextKeptMustFit) {
    const std::string short_cipher = enc_text(CryptKeyBits::k128, "abc");  // 6 digits
    struct Case {
        std::string text;
        SetResult result;
        std::string stored;  // after success
    };
    const Case cases[] = {
        {"plain", ok(), "plain"},
        {short_cipher, ok(), "abc"},
        {"ENC:" + short_cipher.substr(4), ok(), "abc"},
        {"Enc:" + short_cipher.substr(4), ok(), "abc"},
        {"enc:", ok(), "enc:"},
        {"enc:zz41", ok(), "enc:zz41"},
        {"enc:4", ok(), "enc:4"},
        {"enc:6162 63", ok(), "enc:6162 63"},
        {"enc:" + std::string(511, 'a'), failed(EINVAL, too_long()), ""},
        {"enc:" + std::string(600, 'a'), failed(EINVAL, too_long()), ""},
        {"enc:" + std::string(2000, '0'), failed(EINVAL, too_long()), ""},
        {"enc:" + std::string(252, 'g'), ok(), "enc:" + std::string(252, 'g')},
        {std::string(256, 'z'), ok(), std::string(256, 'z')},
        {std::string(257, 'z'), failed(EINVAL, too_long()), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 40));
        Field f = field_holding("old");
        EXPECT_EQ(set_text(f, c.text), c.result);
        EXPECT_EQ(stored(f), c.result.rc == 0 ? c.stored : "old");
        EXPECT_TRUE(guard_intact(f));
    }
}

TEST_F(PasswordTest, AShortTextOfControlCharactersStaysAndAWholeBlockIsRead) {
    // A short text that deciphers into control characters under both keys is more likely a
    // password that looks like cipher text.
    const std::string short_text = undecipherable(4);
    Field f = field_holding("old");
    ASSERT_EQ(set_text(f, short_text), ok());
    EXPECT_EQ(stored(f), short_text);
    // A whole block is what writers make: its deciphered password replaces it.
    ASSERT_EQ(set_text(f, undecipherable(256)), ok());
    // The write key's reading: the block as undecipherable() made it.
    EXPECT_EQ(stored(f).substr(0, 1), "\x01");
    EXPECT_EQ(stored(f).substr(2), std::string(254, 'a'));
    EXPECT_TRUE(guard_intact(f));
}

TEST_F(PasswordTest, ABlockNoWriterMakesKeepsItsTextAndSoCannotLoad) {
    // A zero with more after it under each key: no writer pads so, and the kept text is too long.
    std::string block = "abc" + std::string(1, '\0') + std::string(252, 'z');
    std::vector<std::uint8_t> ks128(256);
    std::vector<std::uint8_t> ks40(256);
    const std::string zeros(256, '\0');
    ASSERT_EQ(crypt_EncipherWith(CryptKeyBits::k128, zeros, ks128, kCryptPasswordPhrase), 256u);
    ASSERT_EQ(crypt_EncipherWith(CryptKeyBits::k40, zeros, ks40, kCryptPasswordPhrase), 256u);
    block[5] = static_cast<char>(ks128[5] ^ ks40[5]);  // the 40-bit key reads a zero here
    const std::string text = enc_text(CryptKeyBits::k128, block);
    Field f = field_holding("old");
    EXPECT_EQ(set_text(f, text), failed(EINVAL, too_long()));
    EXPECT_EQ(stored(f), "old");
    EXPECT_TRUE(guard_intact(f));
}

TEST_F(PasswordTest, UnavailableCipherWritesPlainAndKeepsEncTexts) {
    const std::string written = text_of(field_holding("abc"));
    const std::string short_cipher = enc_text(CryptKeyBits::k128, "abc");
    crypt_SetUnavailableForTest(true);
    EXPECT_EQ(text_of(field_holding("abc")), "abc");
    EXPECT_EQ(text_of(field_holding("")), "");
    Field f = field_holding("old");
    ASSERT_EQ(set_text(f, short_cipher), ok());
    EXPECT_EQ(stored(f), short_cipher);
    EXPECT_EQ(set_text(f, written), failed(EINVAL, too_long()));
    EXPECT_EQ(stored(f), short_cipher);
}

TEST_F(PasswordTest, BinaryFormIsTheTextForm) {
    const Field f = field_holding("abc");
    const std::vector<std::uint8_t> code = structs_test::encoded(&structs_type_password, nullptr, f.data());
    ASSERT_EQ(code.size(), 517u);
    EXPECT_EQ(std::string(code.begin(), code.end() - 1), text_of(f));
    EXPECT_EQ(code.back(), 0);
    Field back = field_holding("old");
    const StructsBuffer buffer{static_cast<std::uint32_t>(code.size()), const_cast<std::uint8_t*>(code.data())};
    char ebuf[64];
    EXPECT_EQ(structs_set_field_binary(&structs_type_password, nullptr, &buffer, back.data(), ebuf, sizeof ebuf),
              517);
    EXPECT_EQ(stored(back), "abc");
    EXPECT_TRUE(guard_intact(back));
}

TEST_F(PasswordTest, AnUnterminatedFieldIsReadAsItsFirst256Characters) {
    Field f{};
    f.fill('q');
    Field back{};
    ASSERT_EQ(set_text(back, text_of(f)), ok());
    EXPECT_EQ(stored(back), std::string(256, 'q'));
}
