#include "log_stores/logger_names/logger_name.h"

namespace log_stores {
namespace {
constexpr std::size_t kLoggerNameColumn = 255;  // sLoggerName char(255)
}  // namespace

const char* DatabaseLoggerNameRefusal(std::string_view name) {
    if (name.empty()) return "a database logger needs a name";
    if (name.find(';') != std::string_view::npos) return "a logger name with ';' cannot stand in a run location";
    if (name.size() > kLoggerNameColumn) return "a logger name longer than 255 characters does not fit the logger table";
    if (name.back() == ' ') return "a logger name ending in a blank cannot be told from the same name without it";
    return nullptr;
}

const char* PathComponentRefusal(std::string_view name) {
    if (name.empty()) return "an empty name makes no folder or file name";
    if (name == "." || name == "..") return "the name stands for a folder of its own";
    if (name.find_first_of("/\\") != std::string_view::npos) return "a name with '/' or '\\' names another folder";
    return nullptr;
}

}  // namespace log_stores
