#pragma once
// What every configuration operation of qvr/config_remote/config_remote.h does alike:
// choosing between the server's folder and its requests, the request paths and fields, and
// the piecewise "RF"/"WF" transfers of the fallbacks.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qvr::config_remote {

// A fallback chunk carries at most this many bytes less the length of its path.
inline constexpr uint32_t kChunkBase = 32668;
inline constexpr uint32_t kLoggerReadChunk = 65512;
inline constexpr uint32_t kRecordSize = 216;
inline constexpr uint32_t kTableHeader = 8;
// Replies of "IF" and "GF" are received into at least this many bytes.
inline constexpr uint32_t kMinReplyCapacity = 250;
inline constexpr std::size_t kUserNameMax = 33;
// The reply of a bulk write: a result, or an error with its text ("-1,1465,<text>").
inline constexpr uint32_t kWriteReplyCapacity = 512;

inline constexpr uint32_t kAccessRead = 0x80000000u;
inline constexpr uint32_t kAccessWrite = 0x40000000u;
inline constexpr uint32_t kAccessReadWrite = 0xC0000000u;
inline constexpr uint32_t kShareReadWrite = 3;
inline constexpr int kOpenSecurity = 1;
inline constexpr uint32_t kCreateAlways = 2;
inline constexpr uint32_t kOpenExisting = 3;
inline constexpr uint32_t kOpenAlways = 4;
inline constexpr uint32_t kNormalFile = 128;

// The configuration folder of a server this machine reaches by path (this machine, or a pipe
// server by its "\\machine\..." path), or nothing when the server is served by requests.
struct Way {
    bool by_folder = false;
    std::string folder;
};
// Null with the last error when a folder server's folder cannot be named.
std::optional<Way> way_to(const char* server);

bool has_text(const char* text);
// A device name, when one is given, names a folder directly below the configuration folder
// and fits every request field.
bool device_ok(const char* device);
// A file name given by the caller: one name of a folder, fit for every request field.
bool file_name_ok(const char* name);
// A text field of a request: the text, or " " when absent or empty; false when it holds a
// comma, NUL, CR or LF.
bool text_field(const char* text, std::string& out);
// The user name of a request: the caller's, else the login name, cut to 33 characters.
bool user_field(const char* user, std::string& out);

// The device's folder as the file layer is given it (the configuration folder keeps its form).
std::string device_folder(const std::string& config_folder, const char* device);
// "QVR_CURRENT_CONFIG[\device]\name".
std::string remote_path(const char* device, std::string_view name);
// The bytes one fallback chunk of `path` carries (0 for a path too long for any).
uint32_t chunk_limit(const std::string& path);

// The request failed for good: error 1465 stands and no fallback runs.
bool failed_finally();

// `out.size()` bytes of the server file from `offset`, in chunks of at most `chunk` bytes,
// each of which must come back whole (else 38). 0 or -1.
int read_remote(const char* server, const std::string& path, uint64_t offset, std::span<uint8_t> out,
                uint32_t chunk);
// `data` into the server file from `offset` in chunks of at most `chunk` bytes, each opened
// read-write with `disposition`. 0 or -1.
int write_remote(const char* server, const std::string& path, uint64_t offset, std::span<const uint8_t> data,
                 uint32_t chunk, uint32_t disposition);

// After a remote write: the AutoEnable byte of "QVR_CURRENT_CONFIG\config" read and written
// back unchanged, so that the server sees its configuration changed. A failure is traced.
void touch_configuration(const char* server);

// The server string for a trace ("" for none), its password masked.
std::string server_name(const char* server);
// A trace line of this family.
void trace_line(const std::string& text);

}  // namespace qvr::config_remote
