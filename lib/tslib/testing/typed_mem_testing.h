#pragma once
// For tests only: an exhausted heap on demand.
#include <cstdint>

// The n-th allocation or resize from now (1 = the next one) fails with ENOMEM, as if the heap
// were exhausted; 0 switches it off. Counts the calls that give a type name (unaccounted
// blocks, such as the module's own bookkeeping, are left alone).
void typed_mem_fail_nth(std::uint32_t n);
