#include "qvr/logger_config/logger_binary.h"

#include <algorithm>
#include <cerrno>
#include <string>

#include "platform/last_error.h"
#include "qvr/config/cfg_file_io.h"
#include "qvr/logger_config/logger_layout.h"

namespace qvr::logger {

LoggerKind kind_of(std::string_view kind_name) {
    const std::string_view word = kind_name.substr(0, std::min<std::size_t>(kind_name.size(), 5));
    if (word == "stand") return LoggerKind::stand;
    if (word == "repub") return LoggerKind::repub;
    if (word == "resub") return LoggerKind::resub;
    return LoggerKind::other;
}

std::size_t record_size(LoggerKind kind) {
    switch (kind) {
        case LoggerKind::stand: return kStandRecordSize;
        case LoggerKind::repub: return kRepubRecordSize;
        case LoggerKind::resub: return kResubRecordSize;
        case LoggerKind::other: return 0;
    }
    return 0;
}

namespace {
// The kind name becomes part of a file name: it must stay inside the folder.
bool usable_name(std::string_view kind_name, int number) {
    return number >= 0 && cfg::plain_file_name(kind_name);
}

std::string file_name(std::string_view kind_name, int number) {
    return std::string(kind_name) + "_" + std::to_string(number);
}
}  // namespace

int read_binary(std::string_view folder, std::string_view kind_name, int number, std::span<std::uint8_t> record) {
    if (!usable_name(kind_name, number)) return platform::fail(EINVAL);
    const std::string path = cfg::existing_file(cfg::normalized_path(folder), file_name(kind_name, number));
    // read_at zero-fills what the file does not hold.
    if (cfg::read_at(path, 0, record) < 0) return -1;
    return 0;
}

int write_binary(std::string_view folder, std::string_view kind_name, int number,
                 std::span<const std::uint8_t> record) {
    if (!usable_name(kind_name, number)) return platform::fail(EINVAL);
    const std::string path = cfg::existing_file(cfg::normalized_path(folder), file_name(kind_name, number));
    const cfg::FilePatch patch{0, record};
    return cfg::patch_file(path, std::span<const cfg::FilePatch>(&patch, 1));
}

}  // namespace qvr::logger
