#pragma once
// Test hooks of the notices kept while no batch of their module could begin.
#include <cstddef>

namespace qvr::alarm_testing {

// How many notices are kept at most (kMaxKeptNotices at start); the previous limit.
size_t set_kept_notice_limit(size_t limit);
// Forgets every kept notice, as a new process starts.
void forget_kept_notices();

}  // namespace qvr::alarm_testing
