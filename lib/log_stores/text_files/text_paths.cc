#include "log_stores/text_files/text_paths.h"

#include <algorithm>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "platform/remote_path.h"

namespace log_stores::text_files {
namespace {

bool is_separator(char c) { return c == '\\' || c == '/'; }

}  // namespace

int local_text_path(std::string_view file, std::string& local) {
    if (platform::is_remote_path(file)) {
        if (platform::map_remote_path(file, local) != 0) return -1;
        return 0;
    }
    local.assign(file);
    std::replace(local.begin(), local.end(), '\\', '/');
    return 0;
}

std::string server_side_path(std::string_view file) {
    if (file.size() < 2 || !is_separator(file[0]) || !is_separator(file[1])) return std::string(file);
    const std::string_view rest = file.substr(2);
    const auto machine_end = std::find_if(rest.begin(), rest.end(), is_separator);
    if (machine_end == rest.end()) return {};
    return std::string(machine_end + 1, rest.end());
}

std::string_view folder_of(std::string_view file) {
    const std::size_t slash = file.find_last_of("/\\");
    return slash == std::string_view::npos ? std::string_view() : file.substr(0, slash + 1);
}

bool is_text_section(std::string_view section) {
    return platform::equal_ignoring_case(section, "TEXT") || platform::equal_ignoring_case(section, "[TEXT]");
}

}  // namespace log_stores::text_files
