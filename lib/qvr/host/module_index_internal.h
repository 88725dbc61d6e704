#pragma once
// The module index and its cache, shared with the table and writer sources.
#include <cstdint>
#include <optional>

namespace qvr::module_index {

// Where a module code was found in the tables.
struct Found {
    int index = -1;
    bool processor = false;
    uint32_t record = 0;  // process or device record index
    int slot = 0;         // device slot 0..5
};

// Everything a writer needs of a module, from one search of the tables.
struct ModuleInfo {
    void* data = nullptr;
    std::optional<Found> found;
    int processing = -1;  // shm_ModuleProcessing's result
    int64_t owner = 0;
    int has_value_records = 0;
};
// Null data (and errno set) when "dm_XX" cannot be opened.
ModuleInfo info(const char* code);

// The cache entries follow a ProcessRecord moved from `from` to the end of `count` records.
void move_entry_last(uint32_t from, uint32_t count);

}  // namespace qvr::module_index
