#pragma once
// Test hooks of the server link.
#include <cstdint>

namespace qvr::link_testing {

// Sets the exchange time-out (ms; 0 = 15,000) of every entry, now and when claimed later.
void set_timeout(uint32_t milliseconds);
// Closes every link and frees every entry, as a new process starts; the time-out goes back
// to 0 and no local data server stays registered.
void reset_table();
// Entries that hold a server string.
int claimed_entries();

}  // namespace qvr::link_testing
