#pragma once
// A run file of a server that no path of this machine reaches, through the server's remote
// file requests: reads in pieces the requests can carry, its size and its last-write time.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace log_stores::run_file_store {

// The name a server's file requests take for `path`: a path of another machine
// ("\\machine\rest", '/' accepted) loses its machine part; any other path is kept.
std::string server_file_name(std::string_view path);

// Reads `out.size()` bytes at `offset` in requests of at most 65,512 bytes: the count read
// (short only at the end of the file), or -1 with the link's error.
long long remote_read(const std::string& server, const std::string& name, std::span<std::uint8_t> out,
                      std::uint64_t offset);
// One request of at most 65,512 bytes; the count read or -1.
long long remote_read_once(const std::string& server, const std::string& name, std::span<std::uint8_t> out,
                           std::uint64_t offset);
// The size of an existing file, or -1.
long long remote_size(const std::string& server, const std::string& name);
// The last-write time as UTC seconds since 1970, or nullopt.
std::optional<std::int64_t> remote_write_time(const std::string& server, const std::string& name);

// Seconds since 1970 of a count of 100-ns intervals since 1601.
std::int64_t unix_seconds_of_file_time(std::uint64_t ticks);

}  // namespace log_stores::run_file_store
