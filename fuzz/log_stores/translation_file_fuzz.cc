// Translation files anyone may edit: any bytes (bad UTF-8, UTF-16 of odd length, no line
// ends, one huge line) parse into pairs that lie inside the text, whose sources are found
// by the hash lookup exactly as by a scan in file order.
#include <cstddef>
#include <cstdint>
#include <span>

#include "log_stores/translations/translation_file.h"

using log_stores::translations::TranslationTable;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto table = TranslationTable::parse(std::as_bytes(std::span(data, size)));
    for (std::size_t i = 0; i < table.size(); ++i) {
        const auto source = table.source(i);
        if (source.empty() || table.translation(i).empty()) __builtin_trap();
        if (source.find(u'\n') != source.npos) __builtin_trap();
        const auto hashed = table.find(source);
        const auto scanned = table.find_by_scan(source);
        if (!hashed || !scanned || *hashed != *scanned) __builtin_trap();
        if (i > 64) break;  // the lookups, not the scan, are under test past this
    }
    return 0;
}
