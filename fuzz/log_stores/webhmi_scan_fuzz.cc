// Menus and dashboards come from files anyone with access to the web folder may write: any
// text is scanned without reading past it, every channel found has a prefix and a number of
// 1 to 32,767, and no dashboard name leads out of the dashboards' folder.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "log_stores/local_server/dashboard_scan.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    for (const auto& name : log_stores::local::MenuItems(text)) {
        if (name.empty() || name.front() == '/' || name.find('\\') != std::string::npos) __builtin_trap();
        if (name == ".." || name.rfind("../", 0) == 0 || name.find("/../") != std::string::npos ||
            (name.size() >= 3 && name.compare(name.size() - 3, 3, "/..") == 0))
            __builtin_trap();
    }
    for (const bool with_xchannels : {false, true}) {
        std::vector<log_stores::local::ChannelKey> keys;
        log_stores::local::AddDashboardChannels(text, with_xchannels, keys);
        for (const auto& key : keys)
            if (key.number < 1 || key.number > 32'767 || key.prefix[0] == '\0') __builtin_trap();
        log_stores::local::SortUniqueKeys(keys);
        for (std::size_t i = 1; i < keys.size(); ++i)
            if (!log_stores::local::key_less(keys[i - 1], keys[i])) __builtin_trap();
    }
    return 0;
}
