// The events file rule: one "events.txt" per logger folder takes every event line.
#include <algorithm>
#include <cstdint>
#include <string>

#include "log_stores/text_files/logger_text_files.h"
#include "log_stores/text_files/text_paths.h"
#include "platform/ascii_text.h"
#include "qvr/settings/reg.h"

namespace log_stores::text_files {

int EventsFileInUse() {
    if (platform::equal_ignoring_case(reg_GetProductName(), "Rimvale")) return 1;
    // Only the first letters count, so a longer value ("ON, since ...") still switches on.
    char value[64] = {};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof value - 1;
    const int rc = reg_AccessProductValue(platform::RegistryHive::machine, kProductKey, platform::kKeyRead,
                                          "EventsTextFile", &type, value, &size);
    if (rc != 0 || type != kRegSz) return 0;
    const std::string_view text(value, std::min<std::size_t>(size, 4));
    return platform::starts_with_ignoring_case(text, "ON") ? 1 : 0;
}

std::string EventsFilePath(const std::string& file) { return std::string(folder_of(file)) + "events.txt"; }

}  // namespace log_stores::text_files
