#include "server/web/accept_encoding.h"

#include <algorithm>

#include "platform/ascii_text.h"

namespace sim_server {
namespace {

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// "q=0", "q=0.0" ... refuse a coding; any other weight, or none, accepts it.
bool refused_by_weight(std::string_view parameters) {
    while (!parameters.empty()) {
        const std::size_t semicolon = parameters.find(';');
        const std::string_view parameter = trimmed(parameters.substr(0, semicolon));
        parameters = semicolon == std::string_view::npos ? std::string_view() : parameters.substr(semicolon + 1);
        if (parameter.size() < 2 || platform::ascii_lower(parameter[0]) != 'q' || parameter[1] != '=') continue;
        const std::string_view weight = trimmed(parameter.substr(2));
        if (weight.empty() || weight[0] != '0') return false;
        for (char c : weight.substr(1))
            if (c != '0' && c != '.') return false;
        return true;
    }
    return false;
}

}  // namespace

bool accepts_gzip(std::string_view header) {
    // A coding named outright weighs more than "*".
    int named = -1;
    int any = -1;
    while (!header.empty()) {
        const std::size_t comma = header.find(',');
        const std::string_view item = header.substr(0, comma);
        header = comma == std::string_view::npos ? std::string_view() : header.substr(comma + 1);
        const std::size_t semicolon = item.find(';');
        const std::string_view coding = trimmed(item.substr(0, semicolon));
        const bool accepted =
            !refused_by_weight(semicolon == std::string_view::npos ? std::string_view() : item.substr(semicolon + 1));
        if (platform::equal_ignoring_case(coding, "gzip") || platform::equal_ignoring_case(coding, "x-gzip"))
            named = std::max(named, accepted ? 1 : 0);
        else if (coding == "*")
            any = std::max(any, accepted ? 1 : 0);
    }
    return named >= 0 ? named == 1 : any == 1;
}

}  // namespace sim_server
