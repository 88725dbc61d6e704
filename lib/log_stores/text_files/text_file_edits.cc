// Edits of logger text files as files: the UTF-16 forms, the events file for event lines,
// and the server's copy when the file is not reachable from here.
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <system_error>

#include "log_stores/text_files/logger_text_files.h"
#include "log_stores/text_files/remote_text_io.h"
#include "log_stores/text_files/text_paths.h"
#include "log_stores/text_files/text_section.h"
#include "platform/ascii_text.h"
#include "platform/file_io.h"
#include "platform/last_error.h"

namespace log_stores::text_files {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t kMaxTextFile = 64u << 20;

bool is_utf16_file(const std::string& file) {
    std::string local;
    if (local_text_path(file, local) != 0) return false;
    const platform::UniqueFd fd = platform::open_file(local, O_RDONLY);
    if (!fd) return false;
    std::uint8_t head[2] = {};
    return platform::read_all(fd.get(), head) == 2 && head[0] == 0xFF && head[1] == 0xFE;
}

// The 8-bit form of a text whose units are all 127 or less.
std::optional<std::string> ascii_of(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char16_t unit : text) {
        if (unit > 127) return std::nullopt;
        out += static_cast<char>(unit);
    }
    return out;
}

bool has_event_lines(const std::string& file) {
    std::string bytes;
    if (platform::read_file(file, bytes, kMaxTextFile) != 0) return false;
    bool utf16 = false;
    std::size_t size = 0;
    return read_section(text_file_as_8bit(bytes, utf16), "TEXT", {}, nullptr, &size) > 0;
}

// True when the run's own companion or some other ".txt" of its folder (the events file
// aside) has lines in its TEXT section: event lines already kept in companions stay there.
bool companions_hold_events(const std::string& own) {
    if (has_event_lines(own)) return true;
    std::error_code ec;
    const std::string_view folder = folder_of(own);
    const fs::path dir = folder.empty() ? fs::path(".") : fs::path(folder);
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (!platform::ends_with_ignoring_case(name, ".txt") || platform::equal_ignoring_case(name, "events.txt"))
            continue;
        if (has_event_lines(it->path().string())) return true;
    }
    return false;
}

// Where an event line of section `section` in `file` goes: the events file (time first, the
// whole file) while it is in use, exists with read and write access, or may be made.
std::optional<std::string> events_target(const std::string& file, std::string_view section) {
    if (!is_text_section(section) || EventsFileInUse() == 0) return std::nullopt;
    std::string local;
    if (local_text_path(file, local) != 0) return std::nullopt;
    const std::string events = EventsFilePath(local);
    if (::access(events.c_str(), R_OK | W_OK) == 0) return events;
    std::error_code ec;
    if (fs::exists(events, ec) || companions_hold_events(local)) return std::nullopt;
    return events;
}

// The server's file before an edit: a missing one is made, as a missing local file is, but
// any other failure stops the edit, which would otherwise write the new part alone.
int read_server_text(const char* server, const std::string& path, std::string& old) {
    const int rc = read_remote_text(server, path, old);
    if (rc == -2 && platform::last_error() == platform::kErrorFileNotFound) {
        old.clear();
        return 0;
    }
    return rc == 0 ? 0 : -1;
}

}  // namespace

int ReplaceTextSectionW(const std::string& file, std::string_view section, std::u16string_view text) {
    if (is_utf16_file(file)) return platform::fail(platform::kErrorInvalidData);
    const auto narrow = ascii_of(text);
    if (!narrow) return platform::fail(platform::kErrorInvalidParameter);
    return ReplaceTextSection(file, section, *narrow);
}

int replace_section_with_server_path(const char* server, const std::string& file, const std::string& server_path,
                                     std::string_view section, std::string_view text) {
    const int rc = ReplaceTextSection(file, section, text);
    if (rc != -2 || server == nullptr || *server == '\0') return rc;
    std::string old;
    if (read_server_text(server, server_path, old) != 0) return -1;
    if (old.size() >= 2 && static_cast<unsigned char>(old[0]) == 0xFF && static_cast<unsigned char>(old[1]) == 0xFE)
        return platform::fail(platform::kErrorInvalidData);
    return write_remote_text(server, server_path, replaced_section(old, section, text)) == 0 ? 1 : -1;
}

int ReplaceTextSectionRemote(const char* server, const std::string& file, std::string_view section,
                             std::string_view text) {
    return replace_section_with_server_path(server, file, server_side_path(file), section, text);
}

int AddTextLine(const std::string& file, std::string_view section, const TimeStamp& time, std::string_view text,
                const char* match) {
    if (const auto events = events_target(file, section))
        return AddTextLine(*events, "TEXT", time, text, match, {EventLineForm::TimeFirst, true});
    return AddTextLine(file, section, time, text, match, EventTarget{});
}

int AddTextLineW(const std::string& file, std::string_view section, const TimeStamp& time, std::u16string_view text,
                 const char16_t* match) {
    const auto narrow = ascii_of(text);
    std::optional<std::string> narrow_match;
    if (match != nullptr) narrow_match = ascii_of(std::u16string_view(match));
    if (!narrow || (match != nullptr && !narrow_match)) return platform::fail(platform::kErrorInvalidParameter);
    return AddTextLine(file, section, time, *narrow, narrow_match ? narrow_match->c_str() : nullptr);
}

int AddTextLineRemote(const char* server, const std::string& file, std::string_view section, const TimeStamp& time,
                      std::string_view text, const char* match) {
    const int rc = AddTextLine(file, section, time, text, match);
    if (rc != -2 || server == nullptr || *server == '\0') return rc;
    if (section.empty()) return platform::fail(platform::kErrorInvalidParameter);
    const std::string path = server_side_path(file);
    std::string old;
    if (read_server_text(server, path, old) != 0) return -1;
    const std::string content = with_event_line_added(old, section, time, text, match, EventTarget{});
    return write_remote_text(server, path, content) == 0 ? 0 : -1;
}

}  // namespace log_stores::text_files
