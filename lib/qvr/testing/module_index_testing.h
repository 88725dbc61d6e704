#pragma once
// For tests only: makes the module cache's next growth fail as an exhausted allocator would.
namespace qvr::module_index {
void fail_next_cache_allocation();
}
