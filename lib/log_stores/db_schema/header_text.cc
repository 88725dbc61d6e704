#include "log_stores/db_schema/header_text.h"

namespace log_stores::db_schema {

HeaderTextParts split_header_text(std::string_view text) {
    constexpr std::string_view kHeader = "[HEADER]\r\n";
    constexpr std::string_view kPredefined = "\r\n[PREDEFINED]";
    constexpr std::string_view kLineEnd = "\r\n";
    HeaderTextParts parts;
    const std::size_t header_at = text.find(kHeader);
    if (header_at == std::string_view::npos) return parts;
    const std::string_view rest = text.substr(header_at + kHeader.size());
    const std::size_t predefined_at = rest.find(kPredefined);
    parts.header = std::string(rest.substr(0, predefined_at));
    if (predefined_at == std::string_view::npos) return parts;
    std::string_view lines = rest.substr(predefined_at + kPredefined.size());
    for (std::size_t end; (end = lines.find(kLineEnd)) != std::string_view::npos;
         lines.remove_prefix(end + 2))
        if (end > 0) parts.predefined.emplace_back(lines.substr(0, end));
    return parts;
}

}  // namespace log_stores::db_schema
