// Event lines come from text files anyone may edit: any bytes, 8-bit or UTF-16, are read
// without reading past them, and a time read back lies inside the calendar.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "log_stores/text_files/event_line.h"

using log_stores::text_files::ParseTextLineTime;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    if (const auto read = ParseTextLineTime(line)) {
        if (read->text_at > size || read->time.milliseconds < 0 || read->time.milliseconds > 999 ||
            read->time.microseconds < 0 || read->time.microseconds > 999)
            __builtin_trap();
    }
    std::u16string wide;
    for (std::size_t i = 0; i + 1 < size; i += 2) wide += static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (const auto read = ParseTextLineTime(std::u16string_view(wide)); read && read->text_at > wide.size())
        __builtin_trap();
    return 0;
}
