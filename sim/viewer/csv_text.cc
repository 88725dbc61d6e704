#include "viewer/csv_text.h"

#include <charconv>
#include <cmath>

namespace viewer::csv {

std::string field(std::string_view text) {
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(text);
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    out += '"';
    return out;
}

std::string number(float value) {
    if (!std::isfinite(value)) return {};
    char text[32];
    const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
    if (ec != std::errc()) return {};
    return std::string(text, end);
}

std::optional<std::vector<std::string>> split(std::string_view line) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    while (true) {
        std::string value;
        if (at < line.size() && line[at] == '"') {
            ++at;
            while (true) {
                if (at >= line.size()) return std::nullopt;  // never closed
                if (line[at] == '"') {
                    if (at + 1 < line.size() && line[at + 1] == '"') {
                        value += '"';
                        at += 2;
                        continue;
                    }
                    ++at;
                    break;
                }
                value += line[at++];
            }
            if (at < line.size() && line[at] != ',') return std::nullopt;  // text after the quote
        } else {
            const std::size_t end = std::min(line.find(',', at), line.size());
            value.assign(line.substr(at, end - at));
            if (value.find('"') != std::string::npos) return std::nullopt;
            at = end;
        }
        fields.push_back(std::move(value));
        if (at >= line.size()) return fields;
        ++at;  // the comma
    }
}

}  // namespace viewer::csv
