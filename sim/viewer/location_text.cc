#include "viewer/location_text.h"

#include "platform/ascii_text.h"

namespace viewer {

bool is_database_location(const std::string& location) {
    return platform::starts_with_ignoring_case(location, "PROVIDER=");
}

std::string shown_location(const std::string& location) {
    if (!is_database_location(location)) return location;
    // Only the provider and the logger: every other key may carry a password.
    const std::string upper = platform::ascii_upper_copy(location);
    const auto value_of = [&](const std::string& key) -> std::string {
        const std::size_t at = upper.find(key);
        if (at == std::string::npos) return {};
        const std::size_t begin = at + key.size();
        return location.substr(begin, upper.find(';', begin) - begin);
    };
    std::string shown = "PROVIDER=" + value_of("PROVIDER=") + ";...";
    if (const std::string logger = value_of(";LOGGERNAME="); !logger.empty()) shown += ";LoggerName=" + logger;
    return shown;
}

}  // namespace viewer
