// TZ values and zone files come from the environment and the file system: any text is read
// as a rule, and any bytes as TZif data, without reading past them.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/time_zone.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (auto rule = platform::parse_zone_rule(bytes)) {
        const auto record = platform::time_zone_information(*rule);
        if (rule->dates_inexpressible && (record[platform::kTimeZoneStandardDate + 2] != 0 ||
                                          record[platform::kTimeZoneDaylightDate + 2] != 0))
            __builtin_trap();
    }
    if (auto footer = platform::tzif_footer_rule(bytes)) {
        if (footer->size() >= size || footer->find('\n') != std::string::npos) __builtin_trap();
        (void)platform::parse_zone_rule(*footer);
    }
    return 0;
}
