#include "recorder_script.h"

#include <charconv>
#include <fstream>
#include <sstream>

namespace recorder {
namespace {

std::string rest_after(const std::string& line, size_t word_end) {
    return word_end < line.size() ? line.substr(word_end + 1) : std::string();
}

// "<state> <native> <text>"
bool read_error(const std::string& rest, std::string& state, long& native, std::string& text) {
    std::istringstream in(rest);
    if (!(in >> state >> native)) return false;
    std::getline(in >> std::ws, text);
    return true;
}

}  // namespace

std::optional<Script> load_script(const std::string& path, std::string& problem) {
    std::ifstream in(path);
    if (!in) {
        problem = "cannot read the script " + path;
        return std::nullopt;
    }
    Script script;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const size_t space = line.find(' ');
        const std::string word = line.substr(0, space);
        const std::string rest = rest_after(line, space == std::string::npos ? line.size() : space);
        const auto bad = [&] {
            problem = "script line " + std::to_string(number) + " is not understood: " + line;
            return std::nullopt;
        };
        if (word == "dbms") {
            script.dbms = rest;
        } else if (word == "connect-error") {
            std::string state;
            if (!read_error(rest, state, script.connect_native, script.connect_text)) return bad();
            script.connect_state = state;
        } else if (word == "expect" || word == "expect~") {
            Step step;
            step.expected = rest;
            step.pattern = word == "expect~";
            script.steps.push_back(std::move(step));
        } else if (script.steps.empty()) {
            return bad();
        } else if (word == "columns") {
            std::istringstream cols(rest);
            std::string column;
            while (cols >> column) {
                const size_t colon = column.find(':');
                if (colon == std::string::npos) return bad();
                script.steps.back().columns.push_back({column.substr(0, colon), column.substr(colon + 1)});
            }
        } else if (word == "row") {
            std::vector<std::optional<std::string>> row;
            size_t start = 0;
            for (;;) {
                const size_t bar = rest.find('|', start);
                const std::string v = rest.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
                row.push_back(v == "NULL" ? std::nullopt : std::optional(v));
                if (bar == std::string::npos) break;
                start = bar + 1;
            }
            if (row.size() != script.steps.back().columns.size()) return bad();
            script.steps.back().rows.push_back(std::move(row));
        } else if (word == "affected") {
            long n = 0;
            const auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), n);
            if (ec != std::errc() || ptr != rest.data() + rest.size()) return bad();
            script.steps.back().affected = n;
        } else if (word == "error") {
            std::string state;
            Step& s = script.steps.back();
            if (!read_error(rest, state, s.error_native, s.error_text)) return bad();
            s.error_state = state;
        } else {
            return bad();
        }
    }
    return script;
}

}  // namespace recorder
