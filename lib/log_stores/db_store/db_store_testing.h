#pragma once
// Test hooks of the database store.
#include <cstdint>

#include "log_stores/db_store/db_store.h"

namespace log_stores {

// The queries the store's record reads have sent so far (page, group and range queries).
std::uint64_t testing_record_queries(const CLogDbStore& store);

}  // namespace log_stores
