#include "qvr/settings/reg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry_key.h"
#include "qvr/testing/settings_testing.h"

namespace {

using platform::RegistryHive;
using platform::RegistryKey;

void set_text(RegistryHive hive, const std::string& path, const std::string& name, const std::string& value) {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::create(hive, path, platform::kKeyAllAccess, key), 0);
    ASSERT_EQ(key.set_string(name, value), 0);
}

void set_number(RegistryHive hive, const std::string& path, const std::string& name, uint32_t value) {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::create(hive, path, platform::kKeyAllAccess, key), 0);
    ASSERT_EQ(key.set_dword(name, value), 0);
}

std::string read_text(RegistryHive hive, const char* path, const char* name, int* rc = nullptr) {
    char buffer[64] = {};
    uint32_t type = 0;
    uint32_t size = sizeof buffer;
    const int result =
        reg_AccessProductValue(hive, path, platform::kKeyQueryValue, name, &type, buffer, &size);
    if (rc != nullptr) *rc = result;
    return result == 0 ? std::string(buffer) : std::string("<") + std::to_string(result) + ">";
}

bool key_exists(RegistryHive hive, const std::string& path) {
    RegistryKey key;
    return RegistryKey::open(hive, path, platform::kKeyQueryValue, key) == 0;
}

const std::string kRimvaleKey = "SOFTWARE\\Brevantic\\Rimvale";

}  // namespace

TEST(ProductName, DefaultsWhenNeitherKeyNamesIt) {
    EXPECT_STREQ(reg_GetProductName(), "Quorvane");
    EXPECT_STREQ(reg_GetReplicationProductName(), "Plant to Bureau");
    EXPECT_EQ(reg_GetVariant(), nullptr);
    // Without an edition the product key is read directly.
    set_text(RegistryHive::machine, kProductKey, "Setting", "direct");
    EXPECT_EQ(read_text(RegistryHive::machine, kProductKey, "Setting"), "direct");
}

TEST(ProductName, MakerKeyFirstThenProductKeyThenDefault) {
    struct Case {
        const char* maker;    // null: absent
        const char* product;  // null: absent
        const char* expected;
    };
    const Case cases[] = {
        {"Rimvale", "Voxa", "Rimvale"},
        {nullptr, "Voxa", "Voxa"},
        {"", "Voxa", "Quorvane"},  // an empty maker value stops the search; empty gives the default
        {"ThirtyTwoCharactersIsOneTooMany!", "Voxa", "Voxa"},
        {"ThirtyOneCharactersFitTheCache!", nullptr, "ThirtyOneCharactersFitTheCache!"},
    };
    for (const Case& c : cases) {
        RegistryKey maker;
        ASSERT_EQ(RegistryKey::create(RegistryHive::machine, kMakerKey, platform::kKeyAllAccess, maker), 0);
        maker.delete_value("ProductName");
        RegistryKey product;
        ASSERT_EQ(RegistryKey::create(RegistryHive::machine, kProductKey, platform::kKeyAllAccess, product),
                  0);
        product.delete_value("ProductName");
        if (c.maker != nullptr) maker.set_string("ProductName", c.maker);
        if (c.product != nullptr) product.set_string("ProductName", c.product);
        qvr::reset_product_settings_for_test();
        EXPECT_STREQ(reg_GetProductName(), c.expected)
            << (c.maker ? c.maker : "-") << "/" << (c.product ? c.product : "-");
    }
}

TEST(ProductName, ValueOfAnotherTypeCountsAsAbsent) {
    set_number(RegistryHive::machine, kMakerKey, "ProductName", 7);
    set_text(RegistryHive::machine, kProductKey, "ProductName", "Plumo");
    EXPECT_STREQ(reg_GetProductName(), "Plumo");
}

TEST(ProductName, HiveSwitchReadsTheUserMakerKeyButTheMachineProductKey) {
    set_text(RegistryHive::machine, kMakerKey, "ProductName", "MachineEdition");
    set_text(RegistryHive::user, kMakerKey, "ProductName", "UserEdition");
    reg_UseUserRegistry();
    EXPECT_EQ(reg_IsUserRegistry(), 1);
    EXPECT_STREQ(reg_GetProductName(), "UserEdition");

    qvr::reset_product_settings_for_test();
    reg_UseUserRegistry();
    RegistryKey user_maker;
    ASSERT_EQ(RegistryKey::create(RegistryHive::user, kMakerKey, platform::kKeyAllAccess, user_maker), 0);
    ASSERT_EQ(user_maker.delete_value("ProductName"), 0);
    set_text(RegistryHive::machine, kProductKey, "ProductName", "FromMachineProductKey");
    set_text(RegistryHive::user, kProductKey, "ProductName", "NeverRead");
    EXPECT_STREQ(reg_GetProductName(), "FromMachineProductKey");
    reg_UseMachineRegistry();
    EXPECT_EQ(reg_IsUserRegistry(), 0);
}

TEST(ProductSubstitution, EditionKeyIsReadFirstAndWrittenAlone) {
    set_text(RegistryHive::machine, kMakerKey, "ProductName", "Rimvale");
    set_text(RegistryHive::machine, kProductKey, "Shared", "product");
    set_text(RegistryHive::machine, kProductKey, "Both", "product");
    set_text(RegistryHive::machine, kRimvaleKey, "Both", "edition");

    EXPECT_EQ(read_text(RegistryHive::machine, kProductKey, "Both"), "edition");
    EXPECT_EQ(read_text(RegistryHive::machine, kProductKey, "Shared"), "product");
    // The internal name is matched without case at the end of the path only.
    EXPECT_EQ(read_text(RegistryHive::machine, "software\\brevantic\\QUORVANE", "Both"), "edition");
    int rc = 0;
    read_text(RegistryHive::machine, kProductKey, "Missing", &rc);
    EXPECT_EQ(rc, 2);

    const char text[] = "written";
    uint32_t type = kRegSz;
    uint32_t size = sizeof text;
    ASSERT_EQ(reg_AccessProductValue(RegistryHive::machine, kProductKey, platform::kKeySetValue, "New", &type,
                                     const_cast<char*>(text), &size),
              0);
    RegistryKey product;
    ASSERT_EQ(RegistryKey::open(RegistryHive::machine, kProductKey, platform::kKeyQueryValue, product), 0);
    std::string value;
    EXPECT_EQ(product.query_string("New", value), 2) << "the product key is not touched";
    RegistryKey edition;
    ASSERT_EQ(RegistryKey::open(RegistryHive::machine, kRimvaleKey, platform::kKeyQueryValue, edition), 0);
    EXPECT_EQ(edition.query_string("New", value), 0);
    EXPECT_EQ(value, "written");

    EXPECT_EQ(reg_DeleteProductValue(RegistryHive::machine, kProductKey, "New"), 0);
    EXPECT_EQ(edition.query_string("New", value), 2);
    EXPECT_EQ(reg_DeleteProductValue(RegistryHive::machine, kProductKey, "Shared"), 2)
        << "only the edition key";
}

TEST(ProductSubstitution, QueryKeepsTheRegistrySizeRules) {
    set_text(RegistryHive::machine, kMakerKey, "ProductName", "Rimvale");
    set_text(RegistryHive::machine, kProductKey, "Long", "0123456789");
    uint32_t type = 0;
    uint32_t size = 0;
    EXPECT_EQ(reg_AccessProductValue(RegistryHive::machine, kProductKey, platform::kKeyQueryValue, "Long",
                                     &type, nullptr, &size),
              0);
    EXPECT_EQ(size, 11u);
    char small[4];
    size = sizeof small;
    EXPECT_EQ(reg_AccessProductValue(RegistryHive::machine, kProductKey, platform::kKeyQueryValue, "Long",
                                     &type, small, &size),
              234);
    EXPECT_EQ(size, 11u);
}

TEST(ProductSubstitution, AnEditionValueTooLargeLeavesTheProductKeyTheCallersSize) {
    set_text(RegistryHive::machine, kMakerKey, "ProductName", "Rimvale");
    set_text(RegistryHive::machine, kRimvaleKey, "Both", std::string(30, 'e'));
    set_text(RegistryHive::machine, kProductKey, "Both", "twelve chars");
    struct Case {
        uint32_t size;
        int rc;
    };
    // The edition value needs 31 bytes and the product value 13: the product key must be
    // asked with the caller's size, not with the 31 the edition key answered.
    for (const Case c : {Case{8, 234}, Case{16, 0}}) {
        char buffer[40];
        std::memset(buffer, '#', sizeof buffer);
        uint32_t type = 0;
        uint32_t size = c.size;
        EXPECT_EQ(reg_AccessProductValue(RegistryHive::machine, kProductKey, platform::kKeyQueryValue, "Both",
                                         &type, buffer, &size),
                  c.rc)
            << c.size;
        EXPECT_EQ(size, 13u) << c.size;
        if (c.rc == 0) {
            EXPECT_STREQ(buffer, "twelve chars");
        }
        EXPECT_EQ(std::string(buffer + c.size, sizeof buffer - c.size), std::string(sizeof buffer - c.size, '#'))
            << "nothing past the caller's size";
    }
}

TEST(ProductSubstitution, HiveSwitchMovesMachineAccessToTheUserHive) {
    set_text(RegistryHive::machine, kProductKey, "Where", "machine");
    set_text(RegistryHive::user, kProductKey, "Where", "user");
    reg_UseUserRegistry();
    EXPECT_EQ(read_text(RegistryHive::machine, kProductKey, "Where"), "user");
    reg_UseMachineRegistry();
    EXPECT_EQ(read_text(RegistryHive::machine, kProductKey, "Where"), "machine");
}

TEST(ProductKeyExists, OpensOnlyAndLeavesNoKeyBehind) {
    set_text(RegistryHive::machine, kRimvaleKey, "Any", "x");
    EXPECT_EQ(reg_ProductKeyExists("Rimvale"), 1);
    EXPECT_EQ(reg_ProductKeyExists("rimvale"), 1);
    EXPECT_EQ(reg_ProductKeyExists("Nonesuch"), 0);
    EXPECT_EQ(reg_ProductKeyExists("Nonesuch"), 0);
    EXPECT_FALSE(key_exists(RegistryHive::machine, "SOFTWARE\\Brevantic\\Nonesuch"));
    EXPECT_EQ(reg_ProductKeyExists(nullptr), 0);
}

TEST(Variant, ReadOnceCutOnPresetAndFixedForSummitor) {
    set_text(RegistryHive::machine, kProductKey, "Variant", "SE");
    EXPECT_STREQ(reg_GetVariant(), "SE");
    set_text(RegistryHive::machine, kProductKey, "Variant", "Changed");
    EXPECT_STREQ(reg_GetVariant(), "SE") << "cached for the process";

    // A preset longer than the 16-byte cache is cut, never written past it.
    const char packed[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ\0next";
    const char* after = reg_SetVariant(packed);
    EXPECT_EQ(after, packed + 27);
    EXPECT_STREQ(after, "next");
    EXPECT_STREQ(reg_GetVariant(), "ABCDEFGHIJKLMNO");
    reg_SetVariant("");
    EXPECT_EQ(reg_GetVariant(), nullptr);

    qvr::reset_product_settings_for_test();
    set_text(RegistryHive::machine, kMakerKey, "ProductName", "summitor");
    EXPECT_STREQ(reg_GetVariant(), "40");
}

// A thread's result stays what it read while another thread presets a new variant; its
// own next call sees the new one.
TEST(Variant, EachThreadKeepsItsOwnResult) {
    // Not the edition whose variant is fixed; the maker key's value is put back afterwards.
    RegistryKey maker;
    ASSERT_EQ(RegistryKey::create(RegistryHive::machine, kMakerKey, platform::kKeyAllAccess, maker), 0);
    uint32_t type = 0;
    std::vector<uint8_t> before(256);
    uint32_t size = static_cast<uint32_t>(before.size());
    const bool had_name = maker.query_value("ProductName", &type, before.data(), &size) == 0;
    ASSERT_EQ(maker.set_string("ProductName", "Quorvane"), 0);
    qvr::reset_product_settings_for_test();
    reg_SetVariant("ALPHA");
    const char* mine = reg_GetVariant();
    ASSERT_STREQ(mine, "ALPHA");
    std::string seen_there;
    std::thread other([&] {
        reg_SetVariant("BETA");
        const char* theirs = reg_GetVariant();
        seen_there = theirs != nullptr ? theirs : "(null)";
    });
    other.join();
    EXPECT_EQ(seen_there, "BETA");
    EXPECT_STREQ(mine, "ALPHA") << "rewritten by another thread";
    EXPECT_STREQ(reg_GetVariant(), "BETA");
    if (had_name)
        maker.set_value("ProductName", type, before.data(), size);
    else
        maker.delete_value("ProductName");
    qvr::reset_product_settings_for_test();
}

TEST(ReplicationName, DefaultFollowsTheEditionAndTheRegistryOverridesIt) {
    set_text(RegistryHive::machine, kMakerKey, "ProductName", "RIMVALE");
    EXPECT_STREQ(reg_GetReplicationProductName(), "Feed To Bench");
    qvr::reset_product_settings_for_test();
    set_text(RegistryHive::machine, kProductKey, "ReplicationProductName", "Own Name");
    EXPECT_STREQ(reg_GetReplicationProductName(), "Own Name");
}

TEST(FieldSizes, UserHiveFirstAndEveryBadValueGivesTheMaximum) {
    EXPECT_EQ(chanrec_GetDescSize(), 32);
    EXPECT_EQ(chanrec_GetTagSize(), 15);
    EXPECT_EQ(chanrec_GetUnitsSize(), 8);
    set_number(RegistryHive::machine, kProductKey, "DescSize", 40);
    set_number(RegistryHive::machine, kProductKey, "TagSize", 0);
    set_text(RegistryHive::machine, kProductKey, "UnitsSize", "10");
    EXPECT_EQ(chanrec_GetDescSize(), 32);
    EXPECT_EQ(chanrec_GetTagSize(), 15);
    EXPECT_EQ(chanrec_GetUnitsSize(), 8);
    set_number(RegistryHive::machine, kProductKey, "DescSize", 20);
    set_number(RegistryHive::machine, kProductKey, "UnitsSize", 6);
    set_number(RegistryHive::user, kProductKey, "UnitsSize", 4);
    EXPECT_EQ(chanrec_GetDescSize(), 20);
    EXPECT_EQ(chanrec_GetUnitsSize(), 4);
}

TEST(OsVersion, AlwaysTheNtFamily) {
    EXPECT_EQ(sys_GetOsPlatformId(), 2);
    EXPECT_GT(sys_GetOsMajorVersion(), 0u);
}
