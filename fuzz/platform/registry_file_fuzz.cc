// Hive files are edited by hand and copied between machines: any bytes must parse without
// harm, and what the store writes back must read as the same hive.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/registry_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<platform::RegistryParseIssue> issues;
    const platform::RegistryDocument doc = platform::parse_registry_text(text, &issues);
    const std::string written = platform::format_registry_text(doc);
    std::vector<platform::RegistryParseIssue> again;
    const platform::RegistryDocument reread = platform::parse_registry_text(written, &again);
    if (!(reread == doc) || !again.empty()) std::abort();
    if (platform::format_registry_text(reread) != written) std::abort();
    for (const auto& section : doc.keys()) {
        (void)doc.subkey_names(section.path);
        (void)doc.key_exists(section.path);
    }
    return 0;
}
