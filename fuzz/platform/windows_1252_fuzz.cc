// Texts decoded from peers and files: any bytes as UTF-8 and as UTF-16 code units are
// converted without reading past them, and every 8-bit text survives the round trips.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/windows_1252.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    if (platform::windows_1252_from_utf8(platform::utf8_from_windows_1252(bytes)) != bytes) __builtin_trap();
    if (platform::windows_1252_from_utf16(platform::utf16_from_windows_1252(bytes)) != bytes)
        __builtin_trap();

    // Each character taken from UTF-8 uses at least one byte.
    const std::string narrowed = platform::windows_1252_from_utf8(bytes);
    if (narrowed.size() > bytes.size()) __builtin_trap();

    std::u16string units;
    for (size_t i = 0; i + 1 < size; i += 2)
        units.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
    if (platform::windows_1252_from_utf16(units).size() > units.size()) __builtin_trap();
    return 0;
}
