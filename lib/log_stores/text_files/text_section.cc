#include "log_stores/text_files/text_section.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "log_stores/text_files/event_line.h"
#include "platform/ado/text_codec.h"

namespace log_stores::text_files {
namespace {

// The date-first form of a time-first line, with the fraction digits it had.
std::string date_first(std::string_view line) {
    const auto read = ParseTextLineTime(line);
    if (!read || read->form != EventLineForm::TimeFirst) return std::string(line);
    const std::tm t = time_GmTime(read->time.seconds);
    char stamp[64];
    const int year = t.tm_year % 100, month = t.tm_mon + 1;
    if (read->text_at == 18)
        std::snprintf(stamp, sizeof stamp, "%02d/%02d/%02d %02d:%02d:%02d ", year, month, t.tm_mday, t.tm_hour,
                      t.tm_min, t.tm_sec);
    else if (read->text_at == 22)
        std::snprintf(stamp, sizeof stamp, "%02d/%02d/%02d %02d:%02d:%02d.%03d ", year, month, t.tm_mday, t.tm_hour,
                      t.tm_min, t.tm_sec, read->time.milliseconds);
    else
        std::snprintf(stamp, sizeof stamp, "%02d/%02d/%02d %02d:%02d:%02d.%06d ", year, month, t.tm_mday, t.tm_hour,
                      t.tm_min, t.tm_sec, read->time.milliseconds * 1000 + read->time.microseconds);
    return stamp + std::string(line.substr(std::min(read->text_at, line.size())));
}

}  // namespace

std::string text_file_as_8bit(std::string_view bytes, bool& utf16) {
    utf16 = bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
            static_cast<unsigned char>(bytes[1]) == 0xFE;
    if (!utf16) return std::string(bytes);
    std::u16string wide;
    wide.reserve((bytes.size() - 2) / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return ado::cp1252_from_utf16(wide);
}

int read_section(std::string_view text, std::string_view section, const SectionOptions& options, char* out,
                 std::size_t* size) {
    if (section.empty() || size == nullptr) return -1;
    std::string header(section);
    if (!(header.size() >= 2 && header.front() == '[' && header.back() == ']')) header = "[" + header + "]";

    const std::size_t capacity = *size;
    std::size_t total = 0;
    int lines = 0;
    bool inside = options.whole_file;
    bool found = options.whole_file;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string_view::npos) break;  // a last line without CR LF is not taken
        const std::string_view line = text.substr(at, end - at);
        at = end + 2;
        if (!inside) {
            if (line.substr(0, header.size()) == header) inside = found = true;
            continue;
        }
        if (!options.whole_file && !line.empty() && line.front() == '[') break;
        const std::string taken = (options.date_first ? date_first(line) : std::string(line)) + "\r\n";
        if (out != nullptr) {
            if (total + taken.size() + 1 > capacity) break;
            std::copy(taken.begin(), taken.end(), out + total);
            out[total + taken.size()] = '\0';
        }
        total += taken.size();
        ++lines;
    }
    if (out != nullptr && capacity > 0 && lines == 0) out[0] = '\0';
    *size = found ? total + 1 : 0;
    return lines;
}

}  // namespace log_stores::text_files
