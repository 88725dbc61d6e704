#pragma once
// A product setting written where the stores read it, for tests that switch a store's options.
#include <gtest/gtest.h>

#include "platform/registry_key.h"
#include "qvr/settings/reg.h"

namespace log_stores_test {

inline void set_product_value(const char* name, const char* text) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey, platform::kKeyAllAccess,
                                            key),
              0);
    ASSERT_EQ(key.set_string(name, text), 0);
}

}  // namespace log_stores_test
