// The registry value "CipherKeyBits" chooses the key the password cipher writes with.
#include <gtest/gtest.h>

#include <string>

#include "platform/registry_key.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/settings_testing.h"
#include "tslib/crypt.h"
#include "tslib/structs.h"
#include "tslib/typed_mem.h"

namespace {

using platform::RegistryHive;
using platform::RegistryKey;

class CipherKeyBitsTest : public testing::Test {
  protected:
    void SetUp() override { qvr::reset_product_settings_for_test(); }
    void TearDown() override {
        reg_DeleteProductValue(RegistryHive::machine, kProductKey, "CipherKeyBits");
        qvr::reset_product_settings_for_test();
    }
    static void set_number(uint32_t value) {
        RegistryKey key;
        ASSERT_EQ(RegistryKey::create(RegistryHive::machine, kProductKey, platform::kKeyAllAccess, key), 0);
        ASSERT_EQ(key.set_dword("CipherKeyBits", value), 0);
        qvr::reset_product_settings_for_test();
    }
    static void set_string(const char* value) {
        RegistryKey key;
        ASSERT_EQ(RegistryKey::create(RegistryHive::machine, kProductKey, platform::kKeyAllAccess, key), 0);
        ASSERT_EQ(key.set_string("CipherKeyBits", value), 0);
        qvr::reset_product_settings_for_test();
    }
};

// The first 16 cipher-text digits of the password "abc".
std::string written_abc() {
    char field[kStructsPasswordSize] = "abc";
    char* text = structs_get_field_text(&structs_type_password, nullptr, field, "test");
    if (text == nullptr) return "<none>";
    std::string out(text);
    typed_mem_release("test", text);
    return out.substr(0, 20);
}

constexpr const char* k128 = "enc:25f4d7ed66419258";
constexpr const char* k40 = "enc:0c65e6d6099808e4";

}  // namespace

TEST_F(CipherKeyBitsTest, WritesWith128BitsUnlessTheValueIs40) {
    EXPECT_EQ(reg_GetCipherKeyBits(), 128u);
    EXPECT_EQ(written_abc(), k128);
    set_number(40);
    EXPECT_EQ(reg_GetCipherKeyBits(), 40u);
    EXPECT_EQ(crypt_WriteKeyBits(), CryptKeyBits::k40) << "the cipher follows the setting by itself";
    EXPECT_EQ(written_abc(), k40);
    set_number(128);
    EXPECT_EQ(written_abc(), k128);
    set_number(56);
    EXPECT_EQ(written_abc(), k128);
    set_string("40");
    EXPECT_EQ(written_abc(), k128) << "only a REG_DWORD counts";
}

TEST_F(CipherKeyBitsTest, ReadOncePerProcess) {
    EXPECT_EQ(written_abc(), k128);
    RegistryKey key;
    ASSERT_EQ(RegistryKey::create(RegistryHive::machine, kProductKey, platform::kKeyAllAccess, key), 0);
    ASSERT_EQ(key.set_dword("CipherKeyBits", 40), 0);
    EXPECT_EQ(written_abc(), k128);
    qvr::reset_product_settings_for_test();
    EXPECT_EQ(written_abc(), k40);
}
