#pragma once
// Whole text files of a server that no path of this machine reaches, moved in pieces through
// its remote file requests.
#include <cstddef>
#include <string>
#include <string_view>

namespace log_stores::text_files {

inline constexpr std::size_t kRemotePiece = 9999;
inline constexpr std::size_t kMaxRemoteText = 64u << 20;

// The file `path` (as the server names it) of `server`, read from offset 0 in pieces of
// 9,999 bytes until a short piece. 0; -2 when the first piece cannot be read (the file is
// missing or the server unreachable); -1 when a later piece fails or the file outgrows
// 64 MiB; the reason in the last error.
int read_remote_text(const char* server, const std::string& path, std::string& out);

// Writes `content` as the whole file `path` of `server`: the first piece creates the file
// anew, later pieces extend it. 0, or -1 with the last error.
int write_remote_text(const char* server, const std::string& path, std::string_view content);

}  // namespace log_stores::text_files

namespace log_stores::text_files {

// ReadSectionRemote with the path the server's requests take given apart from the local one.
int read_section_with_server_path(const char* server, const std::string& file, const std::string& server_path,
                                  std::string_view section, char* out, std::size_t* size);
// ReplaceTextSectionRemote likewise.
int replace_section_with_server_path(const char* server, const std::string& file, const std::string& server_path,
                                     std::string_view section, std::string_view text);

}  // namespace log_stores::text_files
