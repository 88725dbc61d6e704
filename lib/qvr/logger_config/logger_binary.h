#pragma once
// The binary file of a logger record: "<kind>_<n>" in the loggers' folder. Results are
// 0 / -1 with the reason set by platform::fail.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qvr::logger {

enum class LoggerKind { stand, repub, resub, other };

// By the first five characters of the kind name; exact, as the records' readers match them.
LoggerKind kind_of(std::string_view kind_name);
// Full record size of a known kind; 0 for `other` (the caller's size is the record).
std::size_t record_size(LoggerKind kind);

// Reads up to record.size() bytes of the binary file; what the file does not hold (a short
// file) is zero-filled, so no stale bytes of the caller's buffer pass for the record.
int read_binary(std::string_view folder, std::string_view kind_name, int number, std::span<std::uint8_t> record);

// Lays the record over the old file's first record.size() bytes (bytes beyond stay) and
// saves the whole file in place: a crash leaves the old record or the new one. Callers hold
// the folder's cfg::FolderLock, as for every save into a configuration folder.
int write_binary(std::string_view folder, std::string_view kind_name, int number,
                 std::span<const std::uint8_t> record);

}  // namespace qvr::logger
