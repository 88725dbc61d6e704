// Connection texts come from configuration and from callers: every value search and the key
// shortening stay inside the text, a found value is a piece of it, and shortening never
// grows a text nor changes a shortened one again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "log_stores/db_archive/archive_connection_text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    for (const std::string& value : {log_stores::archive::data_source_of(text), log_stores::archive::catalog_of(text)}) {
        if (value.size() > text.size()) __builtin_trap();
        if (!value.empty() && text.find(value) == std::string::npos) __builtin_trap();
        if (value.find(';') != std::string::npos) __builtin_trap();
    }
    const std::string shortened = log_stores::archive::shorten_credential_keys(text);
    if (shortened.size() > text.size()) __builtin_trap();
    if (log_stores::archive::shorten_credential_keys(shortened) != shortened) __builtin_trap();
    (void)log_stores::archive::names_jet_flavour(text);
    return 0;
}
