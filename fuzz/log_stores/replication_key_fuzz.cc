// Replication takes its catalogs and data sources from connection texts by key: the search
// stays inside the text, a found value follows its key there, holds no ';' and never exceeds
// the limit.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "log_stores/db_replication/connection_key.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    namespace rs = log_stores::db_replication;
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const std::string_view key : {std::string_view("INITIAL CATALOG="), std::string_view(";DATA SOURCE=")}) {
        const auto value = rs::connection_key_value(text, key);
        if (!value) continue;
        if (value->size() > rs::kMaxPieceLength) __builtin_trap();
        if (value->find(';') != std::string::npos) __builtin_trap();
        if (value->size() + key.size() > text.size()) __builtin_trap();
        if (text.find(*value) == std::string::npos) __builtin_trap();
    }
    return 0;
}
