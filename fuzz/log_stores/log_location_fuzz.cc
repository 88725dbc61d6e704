// Locations come from configuration files and from peers' requests, run names from folders:
// any text is classified and parsed without reading past it, and a cut never grows the text.
// A logger name a database collection takes comes back exactly from the location made with it.
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "log_stores/log_location.h"
#include "log_stores/logger_names/logger_name.h"
#include "log_stores/run_file/run_name.h"

namespace {

// Whether `key` stands anywhere in `text`, letter case ignored.
bool holds_key(std::string_view text, std::string_view key) {
    for (std::size_t at = 0; at + key.size() <= text.size(); ++at) {
        std::size_t i = 0;
        while (i < key.size() && std::tolower(static_cast<unsigned char>(text[at + i])) ==
                                     std::tolower(static_cast<unsigned char>(key[i])))
            ++i;
        if (i == key.size()) return true;
    }
    return false;
}

// Input "connection\nname": a name the collections accept, in a connection that names no
// logger itself, is read back as itself with the sequence and the bare connection.
void round_trip(std::string_view text) {
    const std::size_t split = text.find('\n');
    if (split == std::string_view::npos) return;
    const std::string_view connection = text.substr(0, split);
    const std::string_view name = text.substr(split + 1);
    if (name.size() > 259 || name.find('\0') != std::string_view::npos ||
        log_stores::DatabaseLoggerNameRefusal(name) != nullptr || holds_key(connection, ";LoggerName=") ||
        holds_key(connection, ";LoggerSeq="))
        return;
    const std::int32_t sequence = static_cast<std::int32_t>(text.size() * 7919 % 100000000);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08d", sequence);
    std::string location = std::string(connection) + ";LoggerName=" + std::string(name) + ";LoggerSeq=" + digits;
    char read_name[260];
    std::size_t size = sizeof read_name;
    std::int32_t read_sequence = -1;
    if (log_stores::GetLoggerNameFromLocation(location, &size, read_name) != 1 ||
        std::string_view(read_name, size - 1) != name ||
        log_stores::GetLoggerSeqFromLocation(location, read_sequence) != 1 || read_sequence != sequence ||
        location != connection)
        __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)log_stores::GetLocationKind(text.c_str());

    std::string location = text;
    char name[16];
    std::size_t name_size = sizeof name;
    if (log_stores::GetLoggerNameFromLocation(location, &name_size, name) == 1 &&
        (location.size() >= text.size() || name_size > sizeof name))
        __builtin_trap();
    std::int32_t sequence = 0;
    const std::size_t before = location.size();
    if (log_stores::GetLoggerSeqFromLocation(location, sequence) == 1 && location.size() >= before) __builtin_trap();

    std::string table = text;
    log_stores::SanitiseTableName(table);
    (void)log_stores::IsReservedColumnName(text);
    (void)log_stores::CountTextLines(text);

    if (const auto parts = log_stores::run_file::parse_run_name(text)) {
        const std::string again = parts->stop ? log_stores::run_file::finished_run_name(parts->prefix, parts->start, *parts->stop)
                                              : log_stores::run_file::running_run_name(parts->prefix, parts->start);
        const auto reread = log_stores::run_file::parse_run_name(again);
        if (!reread || reread->start != parts->start || reread->stop != parts->stop) __builtin_trap();
    }
    round_trip(text);
    return 0;
}
