#include "log_stores/db_replication/connection_key.h"

#include <cctype>

namespace log_stores::db_replication {
namespace {

bool same_letter(char a, char b) {
    return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
}

}  // namespace

std::optional<std::string> connection_key_value(std::string_view text, std::string_view key, std::size_t limit) {
    if (key.empty() || key.size() > text.size()) return std::nullopt;
    for (std::size_t at = 0; at + key.size() <= text.size(); ++at) {
        std::size_t k = 0;
        while (k < key.size() && same_letter(text[at + k], key[k])) ++k;
        if (k != key.size()) continue;
        const std::string_view rest = text.substr(at + key.size());
        const std::string_view value = rest.substr(0, rest.find(';'));
        if (value.size() > limit) return std::nullopt;
        return std::string(value);
    }
    return std::nullopt;
}

}  // namespace log_stores::db_replication
