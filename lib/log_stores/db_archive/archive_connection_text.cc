#include "log_stores/db_archive/archive_connection_text.h"

namespace log_stores::archive {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The end of the value that starts at `i` (the first character after '='): a quoted or
// braced value runs to its closing character, then to the next ';'.
size_t value_end(std::string_view text, size_t i) {
    while (i < text.size() && is_blank(text[i])) ++i;
    if (i < text.size() && (text[i] == '\'' || text[i] == '"' || text[i] == '{')) {
        const char close = text[i] == '{' ? '}' : text[i];
        const size_t closing = text.find(close, i + 1);
        if (closing == std::string_view::npos) return text.size();
        i = closing + 1;
    }
    const size_t semi = text.find(';', i);
    return semi == std::string_view::npos ? text.size() : semi;
}

}  // namespace

std::string shorten_credential_keys(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const size_t eq = text.find('=', i);
        const size_t semi = text.find(';', i);
        if (eq == std::string_view::npos || (semi != std::string_view::npos && semi < eq)) {
            // A part without a key: kept as written.
            const size_t end = semi == std::string_view::npos ? text.size() : semi + 1;
            out.append(text.substr(i, end - i));
            i = end;
            continue;
        }
        size_t key_begin = i;
        size_t key_end = eq;
        while (key_begin < key_end && is_blank(text[key_begin])) ++key_begin;
        while (key_end > key_begin && is_blank(text[key_end - 1])) --key_end;
        const std::string_view key = text.substr(key_begin, key_end - key_begin);
        out.append(text.substr(i, key_begin - i));
        if (key == "User ID")
            out += "uid";
        else if (key == "Password")
            out += "pwd";
        else
            out.append(key);
        const size_t end = value_end(text, eq + 1);
        out.append(text.substr(key_end, end - key_end));
        if (end < text.size()) out += ';';
        i = end + 1;
    }
    return out;
}

std::string connection_value(std::string_view text, std::string_view key, std::string_view fallback) {
    size_t at = text.find(key);
    if (at == std::string_view::npos) at = text.find(fallback);
    if (at == std::string_view::npos) return {};
    const size_t eq = text.find('=', at);
    if (eq == std::string_view::npos) return {};
    const size_t semi = text.find(';', eq + 1);
    return std::string(text.substr(eq + 1, semi == std::string_view::npos ? std::string_view::npos : semi - eq - 1));
}

std::string data_source_of(std::string_view text) { return connection_value(text, "Data Source", "Server"); }

std::string catalog_of(std::string_view text) { return connection_value(text, "Initial Catalog", "Database"); }

bool names_jet_flavour(std::string_view text) {
    return text.find("Jet") != std::string_view::npos || text.find("jet") != std::string_view::npos;
}

}  // namespace log_stores::archive
