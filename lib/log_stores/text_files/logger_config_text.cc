// The configuration text files of loggers: beside the process on the server's own machine,
// else in the server's current configuration.
#include <string>

#include "log_stores/text_files/logger_text_files.h"
#include "log_stores/text_files/remote_text_io.h"
#include "qvr/link/link.h"

namespace log_stores::text_files {
namespace {

std::string file_name(std::string_view kind, int number) {
    return std::string(kind) + "_" + std::to_string(number) + ".txt";
}

std::string server_side_name(std::string_view kind, int number) {
    return "QVR_CURRENT_CONFIG\\LOGGERS\\" + file_name(kind, number);
}

bool here(const char* server) { return link_IsLocalServer(server) == 1 || link_GetServerKind(server) == kServerPipe; }

}  // namespace

std::string LoggerTextFilePath(const char* server, std::string_view kind, int number) {
    if (here(server)) return file_name(kind, number);
    return "\\\\" + std::string(server) + "\\" + server_side_name(kind, number);
}

int ReadLoggerText(const char* server, std::string_view kind, int number, std::string_view section, char* out,
                   std::size_t* size) {
    return read_section_with_server_path(server, LoggerTextFilePath(server, kind, number),
                                         server_side_name(kind, number), section, out, size);
}

int WriteLoggerText(const char* server, std::string_view kind, int number, std::string_view section,
                    std::string_view text) {
    return replace_section_with_server_path(server, LoggerTextFilePath(server, kind, number),
                                            server_side_name(kind, number), section, text);
}

}  // namespace log_stores::text_files
