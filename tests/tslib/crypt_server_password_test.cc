// Passwords inside web-service addresses: their text form, reading it back with either key,
// and the stored (escaped) form that repeated saves and loads must not change.
#include "tslib/crypt_server_password.h"

#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

#include "tslib/crypt.h"
#include "tslib/crypt_testing.h"

namespace {

unsigned g_bits = 128;
unsigned configured_bits() {
    return g_bits;
}

class ServerPasswordTest : public testing::Test {
  protected:
    void SetUp() override { use_bits(128); }
    void TearDown() override {
        crypt_SetKeyBitsSource(nullptr);
        crypt_SetUnavailableForTest(false);
    }
    static void use_bits(unsigned bits) {
        g_bits = bits;
        crypt_SetKeyBitsSource(configured_bits);
    }
};

std::string text_form(const std::string& stored) {
    std::array<char, 1024> out{};
    const std::size_t n = crypt_EncipherServerPassword(stored, out);
    return n == 0 ? "<failed>" : std::string(out.data(), n);
}

struct Read {
    int rc;
    int err;
    std::string text;  // when deciphered
    bool operator==(const Read&) const = default;
};

void PrintTo(const Read& r, std::ostream* os) {
    *os << "{" << r.rc << ", errno " << r.err << ", \"" << r.text << "\"}";
}

Read read(const std::string& password, std::size_t capacity = 300) {
    std::vector<char> out(capacity, 'x');
    errno = 0;
    const int rc = crypt_DecipherServerPassword(password, out);
    return Read{rc, rc == -1 ? errno : 0, rc == 1 ? std::string(out.data()) : ""};
}

Read deciphered(std::string text) {
    return Read{1, 0, std::move(text)};
}
Read plain() {
    return Read{0, 0, ""};
}
Read undecodable() {
    return Read{-1, EINVAL, ""};
}

std::string escaped(const std::string& password) {
    std::array<char, 1024> out{};
    const ssize_t n = crypt_EscapeServerPassword(password, out);
    return n < 0 ? "<failed>" : std::string(out.data(), static_cast<std::size_t>(n));
}

// Text form to stored form, as the server type reads an address.
std::string stored_from(const std::string& text) {
    const Read r = read(text);
    if (r.rc == -1) return "<undecodable>";
    return escaped(r.rc == 1 ? r.text : text);
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

std::string enc_of(CryptKeyBits key, const std::string& text) {
    std::vector<std::uint8_t> cipher(text.size());
    EXPECT_EQ(crypt_EncipherWith(key, text, cipher, kCryptServerPhrase), text.size());
    return "enc" + hex_of(cipher);
}

}  // namespace

TEST_F(ServerPasswordTest, KnownAnswersWriteTheConfiguredKeyAndBothRead) {
    EXPECT_EQ(text_form("%70%77"), "ence23d9f158e08");
    use_bits(40);
    EXPECT_EQ(text_form("%70%77"), "enc7d832ed00899");
    for (unsigned bits : {128u, 40u}) {
        use_bits(bits);
        SCOPED_TRACE(bits);
        EXPECT_EQ(read("ence23d9f158e08"), deciphered("%70%77"));
        EXPECT_EQ(read("enc7d832ed00899"), deciphered("%70%77"));
        EXPECT_EQ(read("ENCE23D9F158E08"), deciphered("%70%77")) << "prefix and digits in any case";
    }
}

TEST_F(ServerPasswordTest, OnlyEncAndEvenHexDigitsAreCipherText) {
    for (const char* password : {"encore", "enc", "Enc", "enc1", "enc123", "enc12zz", "enc 1234", "password",
                                 "en", "", "xenc1234"}) {
        SCOPED_TRACE(password);
        EXPECT_EQ(read(password), plain());
    }
}

TEST_F(ServerPasswordTest, MoreThan512DigitsCannotBeDecoded) {
    const std::string printable(256, 'k');
    const std::string at_bound = enc_of(CryptKeyBits::k128, printable);
    ASSERT_EQ(at_bound.size(), 3u + 512u);
    EXPECT_EQ(read(at_bound), deciphered(printable));
    EXPECT_EQ(read(at_bound + "00"), undecodable());
    EXPECT_EQ(read("enc" + std::string(4096, 'a')), undecodable()) << "never into a fixed buffer";
}

TEST_F(ServerPasswordTest, EscapedFormUnderEitherKeyBeforePrintableText) {
    // What older writers stored: a password enciphered without escapes reads as printable.
    EXPECT_EQ(read(enc_of(CryptKeyBits::k128, "pw")), deciphered("pw"));
    use_bits(40);
    EXPECT_EQ(read(enc_of(CryptKeyBits::k40, "pw")), deciphered("pw"));
    // The escaped form wins even when only the second key gives it.
    const std::string escaped128 = enc_of(CryptKeyBits::k128, "%41%42%43%44");
    EXPECT_EQ(read(escaped128), deciphered("%41%42%43%44"));
}

TEST_F(ServerPasswordTest, NeitherFormUnderEitherKeyIsAnError) {
    const std::string controls("\x01\x02\x03\x04\x05\x06\x07\x08", 8);
    const std::string text = enc_of(CryptKeyBits::k128, controls);
    std::vector<std::uint8_t> cipher(controls.size());
    ASSERT_EQ(crypt_EncipherWith(CryptKeyBits::k128, controls, cipher, kCryptServerPhrase), controls.size());
    std::array<char, 16> other{};
    ASSERT_EQ(crypt_DecipherWith(CryptKeyBits::k40, cipher, other, kCryptServerPhrase), 1);
    bool printable = true;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const auto b = static_cast<unsigned char>(other[i]);
        if (b < 0x20 || b > 0x7E) printable = false;
    }
    ASSERT_FALSE(printable) << "pick another plain text";
    EXPECT_EQ(read(text), undecodable());
}

TEST_F(ServerPasswordTest, UnavailableCipherCannotDecodeNorWrite) {
    crypt_SetUnavailableForTest(true);
    EXPECT_EQ(read("ence23d9f158e08"), undecodable());
    EXPECT_EQ(read("encore"), plain());
    EXPECT_EQ(text_form("%70%77"), "<failed>");
}

TEST_F(ServerPasswordTest, OutputCapacitiesAreChecked) {
    EXPECT_EQ(read("ence23d9f158e08", 6), (Read{-1, ERANGE, ""}));
    EXPECT_EQ(read("ence23d9f158e08", 7), deciphered("%70%77"));
    std::array<char, 16> out{};
    EXPECT_EQ(crypt_EncipherServerPassword("%70%77", std::span(out).first(15)), 0u);
    EXPECT_EQ(crypt_EncipherServerPassword("%70%77", std::span(out).first(16)), 15u);
    EXPECT_EQ(crypt_EncipherServerPassword("", out), 0u);
    EXPECT_EQ(crypt_EscapeServerPassword("pw", std::span(out).first(6)), -1);
    EXPECT_EQ(crypt_EscapeServerPassword("pw", std::span(out).first(7)), 6);
}

TEST_F(ServerPasswordTest, EscapingKeepsAWhollyEscapedPassword) {
    struct Case {
        const char* password;
        const char* stored;
    };
    const Case cases[] = {
        {"pw", "%70%77"},
        {"%70%77", "%70%77"},
        {"%7a", "%25%37%61"},
        {"%70%7", "%25%37%30%25%37"},
        {"a@b:c", "%61%40%62%3A%63"},
        {"\xe4\xff", "%E4%FF"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.password);
        EXPECT_EQ(escaped(c.password), c.stored);
        EXPECT_EQ(crypt_IsEscapedServerPassword(c.stored), *c.stored != '\0');
    }
}

TEST_F(ServerPasswordTest, StoredPasswordSurvivesRepeatedTextRoundTrips) {
    // Written here, written by an older installation with the 40-bit key, with '@' and ':',
    // and one whose plain password looks like an escape.
    const std::vector<std::string> stored_values = {
        "%70%77", escaped("p@ss:w0rd"), stored_from("enc7d832ed00899"), escaped("%7a"),
    };
    EXPECT_EQ(stored_values[2], "%70%77");
    for (unsigned bits : {128u, 40u}) {
        use_bits(bits);
        for (const std::string& first : stored_values) {
            SCOPED_TRACE(std::to_string(bits) + " " + first);
            std::string value = first;
            for (int cycle = 0; cycle < 3; ++cycle) value = stored_from(text_form(value));
            EXPECT_EQ(value, first);
        }
    }
    EXPECT_EQ(stored_from("pass"), "%70%61%73%73") << "a plain password is escaped once";
}
