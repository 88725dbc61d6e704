#include "qvr/config/cfg_unfinished.h"

#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <span>

#include "platform/file_io.h"
#include "platform/remote_path.h"
#include "qvr/config/cfg_file_io.h"
#include "qvr/diag/trace.h"

namespace qvr::cfg {
namespace {

constexpr std::size_t kNoteMax = 4096;

std::string note_path(const std::string& dir, std::string_view name) {
    return join_path(dir, "." + std::string(name) + ".unfinished");
}

// "<number> <number> ...\n<file name>"
std::string note_text(const UnfinishedSave& note) {
    std::string text;
    for (std::int64_t n : note.numbers) {
        if (!text.empty()) text.push_back(' ');
        text += std::to_string(n);
    }
    text.push_back('\n');
    return text + note.file_name;
}

std::optional<UnfinishedSave> parse_note(std::string_view text) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;
    UnfinishedSave note;
    note.file_name = std::string(text.substr(end + 1));
    const std::string_view numbers = text.substr(0, end);
    for (std::size_t at = 0; at < numbers.size();) {
        std::int64_t n = 0;
        const auto [next, error] = std::from_chars(numbers.data() + at, numbers.data() + numbers.size(), n);
        if (error != std::errc{}) return std::nullopt;
        note.numbers.push_back(n);
        at = static_cast<std::size_t>(next - numbers.data());
        if (at < numbers.size() && numbers[at++] != ' ') return std::nullopt;
    }
    return note;
}

}  // namespace

int note_unfinished_save(const std::string& dir, std::string_view name, const UnfinishedSave& note) {
    const std::string text = note_text(note);
    return replace_file(note_path(dir, name),
                        std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::optional<UnfinishedSave> unfinished_save(const std::string& dir, std::string_view name) {
    const std::string path = note_path(dir, name);
    std::string local;
    if (platform::path_to_open(path, local) != 0) return std::nullopt;
    std::string text;
    if (platform::read_file(local, text, kNoteMax) != 0) {
        if (errno == ENOENT) return std::nullopt;
    } else if (std::optional<UnfinishedSave> note = parse_note(text)) {
        return note;
    }
    const std::string line = "unfinished save note " + path + " cannot be read; dropped\n";
    trace_Write(line.c_str());
    forget_unfinished_save(dir, name);
    return std::nullopt;
}

void forget_unfinished_save(const std::string& dir, std::string_view name) {
    std::string local;
    if (platform::path_to_open(note_path(dir, name), local) == 0) (void)::unlink(local.c_str());
}

}  // namespace qvr::cfg
