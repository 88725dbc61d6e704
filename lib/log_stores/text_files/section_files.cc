// Sections read from files: local first, the events file for event lines, the server's copy
// when the file is not reachable from here.
#include <fcntl.h>

#include <algorithm>
#include <cstring>

#include "log_stores/text_files/logger_text_files.h"
#include "log_stores/text_files/remote_text_io.h"
#include "log_stores/text_files/text_paths.h"
#include "log_stores/text_files/text_section.h"
#include "platform/file_io.h"
#include "platform/last_error.h"

namespace log_stores::text_files {
namespace {

constexpr std::size_t kMaxTextFile = 64u << 20;

// The whole file's bytes. 0; -2 cannot open; -1 read failure.
int read_local_bytes(const std::string& file, std::string& bytes) {
    bytes.clear();
    std::string local;
    if (local_text_path(file, local) != 0) return -2;
    const platform::UniqueFd fd = platform::open_file(local, O_RDONLY);
    if (!fd) {
        platform::fail_from_errno();
        return -2;
    }
    if (platform::read_to_end(fd.get(), bytes, kMaxTextFile) != 0) return platform::fail_from_errno();
    return 0;
}

std::string text_of(std::string_view bytes, char) {
    bool utf16 = false;
    return text_file_as_8bit(bytes, utf16);
}
std::u16string text_of(std::string_view bytes, char16_t) { return text_file_as_utf16(bytes); }

// Event lines come from the events file while it is in use and can be read; a folder
// without one keeps them in the run's companion, which is read then.
bool read_events_file(const std::string& file, std::string_view section, std::string& bytes) {
    if (!is_text_section(section) || EventsFileInUse() == 0) return false;
    std::string local;
    if (local_text_path(file, local) != 0) return false;
    return read_local_bytes(EventsFilePath(local), bytes) == 0;
}

template <class Char>
int read_section_at(const char* server, const std::string& file, const std::string* server_path,
                    std::string_view section, Char* out, std::size_t* size) {
    if (section.empty() || size == nullptr) return platform::fail(platform::kErrorInvalidParameter);
    SectionOptions options;
    options.date_first = is_text_section(section);
    std::string bytes;
    if (read_events_file(file, section, bytes)) {
        options.whole_file = true;
        return read_section(text_of(bytes, Char{}), section, options, out, size);
    }
    int rc = read_local_bytes(file, bytes);
    if (rc == -2 && server != nullptr && *server != '\0')
        rc = read_remote_text(server, server_path != nullptr ? *server_path : server_side_path(file), bytes);
    if (rc != 0) return rc;
    return read_section(text_of(bytes, Char{}), section, options, out, size);
}

// Cuts `buffer` (the section, `used` bytes, every line ended by CR LF) into lines of their
// own: each CR LF becomes two NULs, and at most *count line starts are stored.
template <class Char>
void cut_lines(Char* buffer, std::size_t used, const Char** lines, std::size_t* count) {
    std::size_t stored = 0;
    std::size_t at = 0;
    while (at < used) {
        std::size_t end = at;
        while (end + 1 < used && !(buffer[end] == '\r' && buffer[end + 1] == '\n')) ++end;
        if (end + 1 >= used) break;
        buffer[end] = buffer[end + 1] = Char{};
        if (stored < *count) lines[stored++] = buffer + at;
        at = end + 2;
    }
    *count = stored;
}

template <class Char, class Reader>
int read_lines(Reader&& read, const Char** lines, std::size_t* count, Char* buffer, std::size_t* size) {
    if (count == nullptr || size == nullptr) return platform::fail(platform::kErrorInvalidParameter);
    if (lines == nullptr || buffer == nullptr) {
        std::size_t needed = 0;
        const int n = read(nullptr, &needed);
        if (n < 0) return n;
        *count = static_cast<std::size_t>(n);
        *size = needed;
        return 0;
    }
    const int n = read(buffer, size);
    if (n < 0) return n;
    const std::size_t used = *size > 0 ? *size - 1 : 0;
    cut_lines(buffer, used, lines, count);
    return 0;
}

}  // namespace

int ReadSection(const std::string& file, std::string_view section, char* out, std::size_t* size) {
    return read_section_at<char>(nullptr, file, nullptr, section, out, size);
}

int ReadSectionRemote(const char* server, const std::string& file, std::string_view section, char* out,
                      std::size_t* size) {
    return read_section_at<char>(server, file, nullptr, section, out, size);
}

int read_section_with_server_path(const char* server, const std::string& file, const std::string& server_path,
                                  std::string_view section, char* out, std::size_t* size) {
    return read_section_at<char>(server, file, &server_path, section, out, size);
}

int ReadSectionW(const std::string& file, std::string_view section, char16_t* out, std::size_t* size) {
    return read_section_at<char16_t>(nullptr, file, nullptr, section, out, size);
}

int ReadSectionLines(const std::string& file, std::string_view section, const char** lines, std::size_t* count,
                     char* buffer, std::size_t* size) {
    return read_lines<char>([&](char* out, std::size_t* s) { return ReadSection(file, section, out, s); }, lines,
                            count, buffer, size);
}

int ReadSectionLinesW(const std::string& file, std::string_view section, const char16_t** lines,
                      std::size_t* count, char16_t* buffer, std::size_t* size) {
    return read_lines<char16_t>([&](char16_t* out, std::size_t* s) { return ReadSectionW(file, section, out, s); },
                                lines, count, buffer, size);
}

int ReadSectionLinesRemote(const char* server, const std::string& file, std::string_view section,
                           const char** lines, std::size_t* count, char* buffer, std::size_t* size) {
    return read_lines<char>(
        [&](char* out, std::size_t* s) { return ReadSectionRemote(server, file, section, out, s); }, lines, count,
        buffer, size);
}

}  // namespace log_stores::text_files
