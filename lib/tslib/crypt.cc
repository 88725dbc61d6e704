#include "tslib/crypt.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <atomic>
#include <climits>
#include <memory>

#include "tslib/crypt_testing.h"

namespace {

constexpr std::size_t kKeyBytes = 16;
constexpr std::size_t kShortKeyBytes = 5;

struct LibCtxFree {
    void operator()(OSSL_LIB_CTX* p) const { OSSL_LIB_CTX_free(p); }
};
struct ProviderUnload {
    void operator()(OSSL_PROVIDER* p) const { OSSL_PROVIDER_unload(p); }
};
struct MdFree {
    void operator()(EVP_MD* p) const { EVP_MD_free(p); }
};
struct CipherFree {
    void operator()(EVP_CIPHER* p) const { EVP_CIPHER_free(p); }
};
struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* p) const { EVP_CIPHER_CTX_free(p); }
};

// The private context and the two algorithms, fetched once and kept for the process.
// Members are released in reverse order: algorithms, providers, then the context.
class Engine {
  public:
    Engine() {
        ctx_.reset(OSSL_LIB_CTX_new());
        if (!ctx_) return;
        legacy_.reset(OSSL_PROVIDER_load(ctx_.get(), "legacy"));
        base_.reset(OSSL_PROVIDER_load(ctx_.get(), "default"));
        if (!legacy_ || !base_) return;
        md5_.reset(EVP_MD_fetch(ctx_.get(), "MD5", nullptr));
        rc4_.reset(EVP_CIPHER_fetch(ctx_.get(), "RC4", nullptr));
    }

    bool ready() const { return md5_ && rc4_; }

    // RC4 over in[0 .. n) into out with the key variant of the phrase.
    bool run(CryptKeyBits bits, std::string_view phrase, const unsigned char* in, std::size_t n,
             unsigned char* out) const {
        if (!ready() || n > static_cast<std::size_t>(INT_MAX)) return false;
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int digest_len = 0;
        unsigned char key[kKeyBytes] = {};
        bool ok = EVP_Digest(phrase.data(), phrase.size(), digest, &digest_len, md5_.get(), nullptr) == 1 &&
                  digest_len == kKeyBytes;
        if (ok) {
            const std::size_t used = bits == CryptKeyBits::k40 ? kShortKeyBytes : kKeyBytes;
            for (std::size_t i = 0; i < used; ++i) key[i] = digest[i];
            std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree> cipher(EVP_CIPHER_CTX_new());
            int written = 0;
            ok = cipher && EVP_EncryptInit_ex2(cipher.get(), rc4_.get(), key, nullptr, nullptr) == 1 &&
                 EVP_EncryptUpdate(cipher.get(), out, &written, in, static_cast<int>(n)) == 1 &&
                 static_cast<std::size_t>(written) == n;
        }
        OPENSSL_cleanse(digest, sizeof digest);
        OPENSSL_cleanse(key, sizeof key);
        return ok;
    }

  private:
    std::unique_ptr<OSSL_LIB_CTX, LibCtxFree> ctx_;
    std::unique_ptr<OSSL_PROVIDER, ProviderUnload> legacy_;
    std::unique_ptr<OSSL_PROVIDER, ProviderUnload> base_;
    std::unique_ptr<EVP_MD, MdFree> md5_;
    std::unique_ptr<EVP_CIPHER, CipherFree> rc4_;
};

std::atomic<bool> g_unavailable_for_test{false};
std::atomic<CryptKeyBitsSource> g_key_bits_source{nullptr};

const Engine* engine() {
    if (g_unavailable_for_test.load(std::memory_order_relaxed)) return nullptr;
    static const Engine e;
    return e.ready() ? &e : nullptr;
}

CryptKeyBits other(CryptKeyBits bits) {
    return bits == CryptKeyBits::k40 ? CryptKeyBits::k128 : CryptKeyBits::k40;
}

}  // namespace

int crypt_IsAvailable() {
    return engine() != nullptr ? 1 : 0;
}

std::size_t crypt_EncipherWith(CryptKeyBits key, std::string_view text, std::span<std::uint8_t> out,
                               std::string_view phrase) {
    const Engine* e = engine();
    if (e == nullptr || text.empty() || out.size() < text.size()) return 0;
    if (!e->run(key, phrase, reinterpret_cast<const unsigned char*>(text.data()), text.size(), out.data()))
        return 0;
    return text.size();
}

int crypt_DecipherWith(CryptKeyBits key, std::span<const std::uint8_t> bytes, std::span<char> out,
                       std::string_view phrase) {
    const Engine* e = engine();
    if (e == nullptr || out.size() < bytes.size() + 1) return 0;
    if (!bytes.empty() &&
        !e->run(key, phrase, bytes.data(), bytes.size(), reinterpret_cast<unsigned char*>(out.data())))
        return 0;
    out[bytes.size()] = '\0';
    return 1;
}

std::size_t crypt_Encipher(std::string_view text, std::span<std::uint8_t> out, std::string_view phrase) {
    return crypt_EncipherWith(crypt_WriteKeyBits(), text, out, phrase);
}

int crypt_Decipher(std::span<const std::uint8_t> bytes, std::span<char> out, std::string_view phrase) {
    return crypt_DecipherWith(crypt_WriteKeyBits(), bytes, out, phrase);
}

void crypt_SetKeyBitsSource(CryptKeyBitsSource source) {
    g_key_bits_source.store(source);
}

CryptKeyBits crypt_WriteKeyBits() {
    const CryptKeyBitsSource source = g_key_bits_source.load();
    return source != nullptr && source() == 40 ? CryptKeyBits::k40 : CryptKeyBits::k128;
}

std::array<CryptKeyBits, 2> crypt_ReadKeyOrder() {
    const CryptKeyBits first = crypt_WriteKeyBits();
    return {first, other(first)};
}

void crypt_SetUnavailableForTest(bool unavailable) {
    g_unavailable_for_test.store(unavailable);
}
