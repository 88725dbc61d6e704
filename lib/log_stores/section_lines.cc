#include "log_stores/section_lines.h"

#include <cstring>

namespace log_stores {

int read_section_lines(CLogStore& store, const char* section, const char** lines, std::size_t* count,
                       char* buffer, std::size_t* size, std::int32_t further1, std::int32_t further2) {
    if (!lines || !buffer) {
        std::size_t needed = 0;
        const int n = store.ReadSection(section, nullptr, &needed, further1, further2);
        if (n < 0) return -1;
        if (count) *count = static_cast<std::size_t>(n);
        if (size) *size = needed;
        return n;
    }
    if (size && *size) buffer[0] = '\0';
    const int n = store.ReadSection(section, buffer, size, further1, further2);
    if (n < 0) return -1;
    const std::size_t room = count ? *count : 0;
    std::size_t stored = 0;
    for (char* at = buffer; stored < room && size && *size && *at;) {
        lines[stored++] = at;
        char* end = std::strstr(at, "\r\n");
        if (!end) break;
        *end = '\0';
        at = end + 2;
    }
    if (count) *count = stored;
    return n;
}

}  // namespace log_stores
