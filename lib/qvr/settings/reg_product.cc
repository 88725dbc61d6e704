#include <sys/utsname.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/ascii_text.h"
#include "platform/registry_file.h"
#include "qvr/settings/reg.h"
#include "qvr/settings/reg_filtered.h"
#include "qvr/testing/settings_testing.h"
#include "tslib/crypt.h"

namespace {

using platform::RegistryHive;
using platform::RegistryKey;

constexpr std::string_view kInternalName = "Quorvane";
constexpr size_t kNameCache = 32;
constexpr size_t kVariantCache = 16;

struct Settings {
    std::recursive_mutex mutex;
    int user_hive = 0;
    bool product_read = false;
    std::array<char, kNameCache> product{};
    bool replication_read = false;
    std::array<char, kNameCache> replication{};
    bool variant_read = false;
    std::array<char, kVariantCache> variant{};
    bool cipher_bits_read = false;
    unsigned cipher_bits = 128;
};

Settings& settings() {
    static Settings s;
    return s;
}

void copy_cut(std::string_view text, char* out, size_t capacity) {
    const size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(out, text.data(), n);
    out[n] = 0;
}

RegistryHive effective_hive(RegistryHive hive) {
    return hive == RegistryHive::machine && reg_IsUserRegistry() != 0 ? RegistryHive::user : hive;
}

// The path with the configured product name in place of a trailing "Quorvane", if it ends so.
bool substituted_path(std::string_view path, std::string& substituted) {
    if (!platform::ends_with_ignoring_case(path, kInternalName)) return false;
    substituted = std::string(path.substr(0, path.size() - kInternalName.size())) + reg_GetProductName();
    return true;
}

int read_value(RegistryHive hive, const std::string& path, uint32_t access, const char* name, uint32_t* type,
               void* data, uint32_t* size) {
    RegistryKey key;
    const int rc = RegistryKey::open(hive, path, access, key);
    if (rc != 0) return rc;
    return key.query_value(name != nullptr ? name : "", type, data, size);
}

int write_value(RegistryHive hive, const std::string& path, uint32_t access, const char* name,
                const uint32_t* type, const void* data, const uint32_t* size) {
    if (type == nullptr || size == nullptr) return platform::kErrorInvalidParameter;
    RegistryKey key;
    const int rc = reg_CreateKeyFiltered(hive, path.c_str(), access, &key);
    if (rc != 0) return rc;
    return reg_SetValueFiltered(&key, name, *type, data, *size);
}

// A REG_SZ of at most capacity - 1 characters from an open key, or false.
bool query_text(const RegistryKey& key, const char* name, char* out, size_t capacity) {
    uint32_t type = 0;
    uint32_t size = static_cast<uint32_t>(capacity);
    std::array<char, 64> buffer{};
    if (capacity > buffer.size()) return false;
    if (key.query_value(name, &type, buffer.data(), &size) != 0 || type != kRegSz) return false;
    // The returned size counts the terminating zero.
    copy_cut(std::string_view(buffer.data(), size > 0 ? std::strlen(buffer.data()) : 0), out, capacity);
    return true;
}

// The product or replication name: the maker key (user hive under the switch), then the
// product key of the machine hive.
void read_edition_name(const char* value_name, char* cache, size_t capacity, std::string_view fallback) {
    copy_cut(fallback, cache, capacity);
    RegistryKey maker;
    const bool from_maker = RegistryKey::create(effective_hive(RegistryHive::machine), kMakerKey,
                                                platform::kKeyQueryValue, maker) == 0 &&
                            query_text(maker, value_name, cache, capacity);
    if (!from_maker) {
        // The second source stays the machine hive, whatever the hive switch says.
        RegistryKey product;
        if (RegistryKey::open(RegistryHive::machine, kProductKey, platform::kKeyQueryValue, product) == 0)
            query_text(product, value_name, cache, capacity);
    }
    if (cache[0] == 0) copy_cut(fallback, cache, capacity);
}

int field_size(const char* value_name, uint32_t maximum) {
    for (RegistryHive hive : {RegistryHive::user, RegistryHive::machine}) {
        uint32_t type = 0;
        uint32_t number = 0;
        uint32_t size = sizeof number;
        if (reg_AccessProductValue(hive, kProductKey, platform::kKeyQueryValue, value_name, &type, &number,
                                   &size) == 0 &&
            type == kRegDword && size == sizeof number) {
            return static_cast<int>(number == 0 || number > maximum ? maximum : number);
        }
    }
    return static_cast<int>(maximum);
}

}  // namespace

int reg_AccessProductValue(RegistryHive hive, const char* key_path, uint32_t access, const char* value_name,
                           uint32_t* type, void* data, uint32_t* size) {
    if (key_path == nullptr) return platform::kErrorInvalidParameter;
    hive = effective_hive(hive);
    const std::string given(key_path);
    std::string substituted;
    const bool has_substitute = substituted_path(given, substituted);
    if ((access & platform::kKeyQueryValue) != 0) {
        if (has_substitute) {
            // A failed attempt must not leave the caller's in/out size changed.
            const uint32_t asked = size != nullptr ? *size : 0;
            const int rc = read_value(hive, substituted, access, value_name, type, data, size);
            if (rc == 0) return 0;
            if (size != nullptr) *size = asked;
        }
        return read_value(hive, given, access, value_name, type, data, size);
    }
    return write_value(hive, has_substitute ? substituted : given, access, value_name, type, data, size);
}

int reg_DeleteProductValue(RegistryHive hive, const char* key_path, const char* value_name) {
    if (key_path == nullptr) return platform::kErrorInvalidParameter;
    hive = effective_hive(hive);
    std::string path(key_path);
    std::string substituted;
    if (substituted_path(path, substituted)) path = substituted;
    RegistryKey key;
    const int rc = RegistryKey::open(hive, path, platform::kKeySetValue, key);
    if (rc != 0) return rc;
    return reg_DeleteValueFiltered(&key, value_name);
}

void reg_UseUserRegistry() {
    std::lock_guard lock(settings().mutex);
    settings().user_hive = 1;
}

void reg_UseMachineRegistry() {
    std::lock_guard lock(settings().mutex);
    settings().user_hive = 0;
}

int reg_IsUserRegistry() {
    std::lock_guard lock(settings().mutex);
    return settings().user_hive;
}

int reg_ProductKeyExists(const char* name) {
    if (name == nullptr) return 0;
    RegistryKey key;
    // Opened only: testing a name must not leave a key of that name behind.
    return RegistryKey::open(RegistryHive::machine, std::string(kMakerKey) + "\\" + name,
                             platform::kKeyQueryValue, key) == 0
               ? 1
               : 0;
}

const char* reg_GetProductName() {
    Settings& s = settings();
    std::lock_guard lock(s.mutex);
    if (!s.product_read) {
        s.product_read = true;
        read_edition_name("ProductName", s.product.data(), s.product.size(),
                          sdk_Probe() != nullptr ? "Lagoonet" : "Quorvane");
    }
    return s.product.data();
}

const char* reg_GetReplicationProductName() {
    Settings& s = settings();
    std::lock_guard lock(s.mutex);
    if (!s.replication_read) {
        s.replication_read = true;
        const bool rimvale = platform::equal_ignoring_case(reg_GetProductName(), "Rimvale");
        read_edition_name("ReplicationProductName", s.replication.data(), s.replication.size(),
                          rimvale ? "Feed To Bench" : "Plant to Bureau");
    }
    return s.replication.data();
}

const char* reg_GetVariant() {
    Settings& s = settings();
    std::lock_guard lock(s.mutex);
    if (platform::equal_ignoring_case(reg_GetProductName(), "Summitor")) return "40";
    if (!s.variant_read) {
        s.variant_read = true;
        s.variant.fill(0);
        uint32_t type = kRegSz;
        uint32_t size = static_cast<uint32_t>(s.variant.size());
        if (reg_AccessProductValue(RegistryHive::machine, kProductKey, platform::kKeyQueryValue, "Variant",
                                   &type, s.variant.data(), &size) != 0 ||
            type != kRegSz)
            s.variant.fill(0);
        s.variant.back() = 0;
    }
    if (s.variant[0] == 0) return nullptr;
    // reg_SetVariant on another thread rewrites the cache: each thread reads its own copy.
    thread_local std::array<char, kVariantCache> result{};
    result = s.variant;
    return result.data();
}

const char* reg_SetVariant(const char* text) {
    if (text == nullptr) return nullptr;
    Settings& s = settings();
    std::lock_guard lock(s.mutex);
    const size_t length = std::strlen(text);
    copy_cut(std::string_view(text, length), s.variant.data(), s.variant.size());
    s.variant_read = true;
    return text + length + 1;
}

unsigned sys_GetOsMajorVersion() {
    static const unsigned major = [] {
        utsname name{};
        if (::uname(&name) != 0) return 0u;
        return static_cast<unsigned>(std::strtoul(name.release, nullptr, 10));
    }();
    return major;
}

int sys_GetOsPlatformId() {
    return 2;
}

unsigned reg_GetCipherKeyBits() {
    Settings& s = settings();
    std::lock_guard lock(s.mutex);
    if (!s.cipher_bits_read) {
        s.cipher_bits_read = true;
        uint32_t type = 0;
        uint32_t number = 0;
        uint32_t size = sizeof number;
        const bool is40 = reg_AccessProductValue(RegistryHive::machine, kProductKey, platform::kKeyQueryValue,
                                                 "CipherKeyBits", &type, &number, &size) == 0 &&
                          type == kRegDword && size == sizeof number && number == 40;
        s.cipher_bits = is40 ? 40 : 128;
    }
    return s.cipher_bits;
}

// Every program that reads product settings links this file, so the cipher of the process's
// one copy of the typed-structure library follows the site's setting.
[[maybe_unused]] const bool kCipherKeyBitsFollowSetting = (crypt_SetKeyBitsSource(reg_GetCipherKeyBits), true);

int chanrec_GetDescSize() {
    return field_size("DescSize", 32);
}
int chanrec_GetTagSize() {
    return field_size("TagSize", 15);
}
int chanrec_GetUnitsSize() {
    return field_size("UnitsSize", 8);
}

namespace qvr {

void reset_product_settings_for_test() {
    Settings& s = settings();
    std::lock_guard lock(s.mutex);
    s.user_hive = 0;
    s.product_read = false;
    s.replication_read = false;
    s.variant_read = false;
    s.cipher_bits_read = false;
}

}  // namespace qvr
