// Logger configurations on a server ("LOGGERS\<kind>_<n>"): through its folder, or by "RF"
// chunks and "CF" with the "WF" fallback.
#include <span>
#include <string>

#include "platform/last_error.h"
#include "qvr/config_remote/config_remote.h"
#include "qvr/config_remote/remote_way.h"
#include "qvr/logger_config/logger_config.h"
#include "qvr/requests/request_text.h"

using namespace qvr::config_remote;

namespace {

constexpr const char* kLoggersFolder = "LOGGERS";

bool logger_ok(const char* kind, const void* record, int32_t size) {
    return file_name_ok(kind) && size >= 0 && (size == 0 || record != nullptr);
}

std::string logger_path(const char* kind, int number) {
    return remote_path(kLoggersFolder, std::string(kind) + "_" + std::to_string(number));
}

}  // namespace

int cfg_ReadLoggerConfig(const char* server, const char* kind, int number, void* record, int32_t size) {
    if (!logger_ok(kind, record, size)) return platform::fail(platform::kErrorInvalidParameter);
    const auto way = way_to(server);
    if (!way) return -1;
    if (way->by_folder)
        return cfg_LoadLoggerConfig(device_folder(way->folder, kLoggersFolder).c_str(), kind, number, record,
                                    size);
    return read_remote(server, logger_path(kind, number), 0,
                       std::span<uint8_t>(static_cast<uint8_t*>(record), static_cast<std::size_t>(size)),
                       kLoggerReadChunk);
}

int cfg_WriteLoggerConfig(const char* server, const char* kind, int number, const void* record, int32_t size,
                          const char* user) {
    if (!logger_ok(kind, record, size)) return platform::fail(platform::kErrorInvalidParameter);
    const auto way = way_to(server);
    if (!way) return -1;
    if (way->by_folder)
        return cfg_SaveLoggerConfig(device_folder(way->folder, kLoggersFolder).c_str(), user, kind, number,
                                    record, size);

    std::string user_text;
    if (!user_field(user, user_text)) return platform::fail(platform::kErrorInvalidParameter);
    const std::span<const uint8_t> bytes(static_cast<const uint8_t*>(record), static_cast<std::size_t>(size));
    // The record follows the final comma directly: the server takes its length from the text.
    std::string request = "CF," + std::string(kind) + "," + std::to_string(number) + "," +
                          std::to_string(size) + "," + user_text + ",";
    request.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    qvr::requests::Reply reply;
    if (qvr::requests::send_bytes(server, request, kWriteReplyCapacity, reply) != -1) return 0;
    if (failed_finally()) return -1;
    const std::string path = logger_path(kind, number);
    trace_line("CF to " + server_name(server) + " failed (error " + std::to_string(platform::last_error()) +
               "): writing " + path);
    if (write_remote(server, path, 0, bytes, chunk_limit(path), kOpenAlways) != 0) return -1;
    platform::set_last_error(0);
    return 0;
}
