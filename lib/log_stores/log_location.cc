#include "log_stores/log_location.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>

namespace log_stores {
namespace {

char upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) { return upper(a) == upper(b); });
}

std::size_t find_nocase(std::string_view text, std::string_view key) {
    if (key.size() > text.size()) return std::string_view::npos;
    for (std::size_t at = 0; at + key.size() <= text.size(); ++at)
        if (starts_with_nocase(text.substr(at), key)) return at;
    return std::string_view::npos;
}

struct KeyValue {
    std::size_t key_at;    // where ";Key=" begins
    std::size_t value_at;  // where the value begins
    std::size_t value_end;
};

std::optional<KeyValue> find_key(std::string_view location, std::string_view key) {
    const std::size_t at = find_nocase(location, key);
    if (at == std::string_view::npos) return std::nullopt;
    const std::size_t value_at = at + key.size();
    const std::size_t end = location.find(';', value_at);
    return KeyValue{at, value_at, end == std::string_view::npos ? location.size() : end};
}

}  // namespace

LocationKind GetLocationKind(const char* location) {
    constexpr std::string_view kProvider = "PROVIDER=";
    if (location == nullptr || !starts_with_nocase(location, kProvider)) return LocationKind::File;
    const std::string_view provider = std::string_view(location).substr(kProvider.size());
    if (starts_with_nocase(provider, "MYSQL")) return LocationKind::MySql;
    if (starts_with_nocase(provider, "WITSML")) return LocationKind::Witsml;
    if (starts_with_nocase(provider, "OSDU")) return LocationKind::Osdu;
    return LocationKind::Ado;
}

bool copy_with_size(std::string_view value, char* out, std::size_t* size) {
    const std::size_t needed = value.size() + 1;
    const bool fits = out != nullptr && size != nullptr && *size >= needed;
    if (fits) {
        std::copy(value.begin(), value.end(), out);
        out[value.size()] = '\0';
    }
    if (size != nullptr) *size = needed;
    return fits;
}

int GetLoggerNameFromLocation(std::string& location, std::size_t* size, char* name) {
    const auto found = find_key(location, ";LoggerName=");
    if (!found) return 0;
    const std::string_view value = std::string_view(location).substr(found->value_at, found->value_end - found->value_at);
    if (!copy_with_size(value, name, size)) return 0;
    location.erase(found->key_at, found->value_end - found->key_at);
    return 1;
}

int GetLoggerSeqFromLocation(std::string& location, std::int32_t& sequence) {
    const auto found = find_key(location, ";LoggerSeq=");
    if (!found) return 0;
    std::string_view value = std::string_view(location).substr(found->value_at, found->value_end - found->value_at);
    // As a "%ld" scan: blanks, a sign, digits; what follows the digits is ignored.
    while (!value.empty() && std::isspace(static_cast<unsigned char>(value.front()))) value.remove_prefix(1);
    if (!value.empty() && value.front() == '+') value.remove_prefix(1);
    std::int64_t parsed = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), parsed);
    if (error != std::errc{} || end == value.data()) return 0;
    // A sequence that does not fit the stored 32 bits names no run.
    if (parsed < std::numeric_limits<std::int32_t>::min() || parsed > std::numeric_limits<std::int32_t>::max())
        return 0;
    sequence = static_cast<std::int32_t>(parsed);
    location.erase(found->key_at, found->value_end - found->key_at);
    return 1;
}

void SanitiseTableName(std::string& text) {
    constexpr std::string_view kReplaced = " #&*=+?!^(){}~<>:-";
    static_assert(kReplaced.size() == 18);
    for (char& c : text)
        if (kReplaced.find(c) != std::string_view::npos) c = '_';
}

int IsReservedColumnName(std::string_view tag) {
    constexpr std::string_view kReserved[] = {"END", "DT", "MS", "TX", "TP", "LL", "LV"};
    if (tag.empty()) return 1;
    return std::find(std::begin(kReserved), std::end(kReserved), tag) != std::end(kReserved) ? 1 : 0;
}

int CountTextLines(std::string_view text) {
    int lines = 0;
    std::size_t at = 0;
    for (std::size_t found; (found = text.find("\r\n", at)) != std::string_view::npos; at = found + 2) ++lines;
    return at < text.size() ? lines + 1 : lines;
}

}  // namespace log_stores
