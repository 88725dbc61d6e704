#include "log_stores/text_files/text_section.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "log_stores/text_files/event_line.h"
#include "platform/ado/text_codec.h"

namespace log_stores::text_files {
namespace {

template <class Char>
using View = std::basic_string_view<Char>;

std::string widen_as(std::string_view text, char) { return std::string(text); }
std::u16string widen_as(std::string_view text, char16_t) { return ado::utf16_from_cp1252(text); }

// The date-first form of a time-first line, with the fraction digits it had.
template <class Char>
std::basic_string<Char> date_first(View<Char> line) {
    const auto read = ParseTextLineTime(line);
    if (!read || read->form != EventLineForm::TimeFirst) return std::basic_string<Char>(line);
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
    return widen_as(stamp, Char{}) + std::basic_string<Char>(line.substr(std::min(read->text_at, line.size())));
}

template <class Char>
int read_section_of(View<Char> text, std::string_view section, const SectionOptions& options, Char* out,
                    std::size_t* size) {
    if (section.empty() || size == nullptr) return -1;
    std::string narrow_header(section);
    if (!(narrow_header.size() >= 2 && narrow_header.front() == '[' && narrow_header.back() == ']'))
        narrow_header = "[" + narrow_header + "]";
    const std::basic_string<Char> header = widen_as(narrow_header, Char{});
    const std::basic_string<Char> crlf = widen_as("\r\n", Char{});

    const std::size_t capacity = *size;
    std::size_t total = 0;
    int lines = 0;
    bool inside = options.whole_file;
    bool found = options.whole_file;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find(View<Char>(crlf), at);
        if (end == View<Char>::npos) break;  // a last line without CR LF is not taken
        const View<Char> line = text.substr(at, end - at);
        at = end + 2;
        if (!inside) {
            if (line.substr(0, header.size()) == View<Char>(header)) inside = found = true;
            continue;
        }
        if (!options.whole_file && !line.empty() && line.front() == '[') break;
        const std::basic_string<Char> taken =
            (options.date_first ? date_first<Char>(line) : std::basic_string<Char>(line)) + crlf;
        if (out != nullptr) {
            if (total + taken.size() + 1 > capacity) break;
            std::copy(taken.begin(), taken.end(), out + total);
            out[total + taken.size()] = Char{};
        }
        total += taken.size();
        ++lines;
    }
    if (out != nullptr && capacity > 0 && lines == 0) out[0] = Char{};
    *size = found ? total + 1 : 0;
    return lines;
}

std::u16string units_of(std::string_view bytes) {
    std::u16string wide;
    wide.reserve((bytes.size() - 2) / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
        wide += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return wide;
}

bool starts_utf16(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xFE;
}

}  // namespace

std::string text_file_as_8bit(std::string_view bytes, bool& utf16) {
    utf16 = starts_utf16(bytes);
    if (!utf16) return std::string(bytes);
    return ado::cp1252_from_utf16(units_of(bytes));
}

std::u16string text_file_as_utf16(std::string_view bytes) {
    if (!starts_utf16(bytes)) return ado::utf16_from_cp1252(bytes);
    return units_of(bytes);
}

int read_section(std::string_view text, std::string_view section, const SectionOptions& options, char* out,
                 std::size_t* size) {
    return read_section_of<char>(text, section, options, out, size);
}

int read_section(std::u16string_view text, std::string_view section, const SectionOptions& options, char16_t* out,
                 std::size_t* size) {
    return read_section_of<char16_t>(text, section, options, out, size);
}

}  // namespace log_stores::text_files
