#pragma once
// Test hooks of the product settings.
namespace qvr {

// Forgets the cached product name, replication name, variant and cipher key length, and
// turns the hive switch off, as a new process starts.
void reset_product_settings_for_test();

}  // namespace qvr
