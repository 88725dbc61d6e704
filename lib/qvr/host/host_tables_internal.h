#pragma once
// Shared between the table, module-index and status-text sources: the opened tables as
// byte spans (the mappings never move, so a span stays valid for the life of the process).
#include <cstddef>
#include <cstdint>
#include <span>

namespace qvr::tables {

enum class Table { kDevice = 0, kProcess = 1, kLogger = 2, kError = 3 };

struct Opened {
    void* section = nullptr;
    std::span<std::byte> bytes;
};

// The table's section, opened on first use; a failed open is tried again next time.
Opened open(Table which);

}  // namespace qvr::tables
