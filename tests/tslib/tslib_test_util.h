#pragma once
// Helpers shared by the tslib tests.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "tslib/typed_mem.h"

namespace tslib_test {

struct LiveBlocks {
    unsigned count = 0;
    unsigned bytes = 0;
    bool operator==(const LiveBlocks&) const = default;
};

// Live blocks per type name, from the accounting tables (the row block itself excluded).
inline std::map<std::string, LiveBlocks> live_blocks() {
    StructsArray rows{};
    std::map<std::string, LiveBlocks> out;
    if (typed_mem_collect_stats(&rows) != 0) return out;
    const auto* row = static_cast<const TypedMemStatsRow*>(rows.elems);
    for (std::uint32_t i = 0; i < rows.length; ++i) {
        if (std::strcmp(row[i].type, "typed_mem_stats") == 0) continue;
        out[row[i].type] = LiveBlocks{row[i].allocs, row[i].bytes};
    }
    typed_mem_release("typed_mem_stats", rows.elems);
    return out;
}

// Everything a function prints to a stream.
inline std::string printed(const std::function<void(std::FILE*)>& print) {
    char* buf = nullptr;
    std::size_t len = 0;
    std::FILE* fp = open_memstream(&buf, &len);
    if (fp == nullptr) return "<open_memstream failed>";
    print(fp);
    std::fclose(fp);
    std::string text(buf, len);
    std::free(buf);
    return text;
}

}  // namespace tslib_test
