#include "log_stores/mysql/connection_keys.h"

#include <cctype>
#include <charconv>
#include <cstddef>

#include "log_stores/mysql/base64_text.h"

namespace log_stores::mysql {
namespace {

struct Key {
    std::string_view name;
    std::size_t capacity;  // with the terminating NUL of the stored value
};

constexpr Key kHost{"HOST=", 256};
constexpr Key kUser{"USER=", 100};
constexpr Key kDb{"DB=", 100};
constexpr Key kPort{"PORT=", 10};
constexpr Key kPassword{"PASSWORD=", 100};

bool starts_with_key(std::string_view text, std::size_t at, std::string_view key) {
    if (text.size() - at < key.size()) return false;
    for (std::size_t i = 0; i < key.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(text[at + i])) != key[i]) return false;
    return true;
}

// Where the key begins: at the text's start or after a ';' and any blanks.
std::optional<std::size_t> find_key(std::string_view text, std::string_view key) {
    std::size_t part = 0;
    while (part <= text.size()) {
        std::size_t at = part;
        while (at < text.size() && text[at] == ' ') ++at;
        if (at < text.size() && starts_with_key(text, at, key)) return at;
        const std::size_t semicolon = text.find(';', part);
        if (semicolon == std::string_view::npos) break;
        part = semicolon + 1;
    }
    return std::nullopt;
}

// The key's value, cut out of `text` with the key.
std::optional<std::string> take(std::string& text, const Key& key) {
    const auto at = find_key(text, key.name);
    if (!at) return std::nullopt;
    const std::size_t value_start = *at + key.name.size();
    std::size_t value_end = text.find(';', value_start);
    if (value_end == std::string::npos) value_end = text.size();
    std::string value = text.substr(value_start, value_end - value_start);
    text.erase(*at, value_end - *at);
    if (value.size() >= key.capacity) value.resize(key.capacity - 1);
    return value;
}

}  // namespace

KeysResult parse_connection_keys(std::string_view connection) {
    std::string text(connection);
    ConnectionKeys keys;
    if (auto host = take(text, kHost)) keys.host = std::move(*host);
    auto user = take(text, kUser);
    auto db = take(text, kDb);
    if (auto port = take(text, kPort)) {
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(port->data(), port->data() + port->size(), value);
        if (ec == std::errc() && value <= 65535) keys.port = value;
        (void)end;
    }
    if (auto password = take(text, kPassword)) keys.password = Base64DecodeText(*password);
    if (!user) return {std::nullopt, "NO USER IN CONNECTION STRING"};
    if (!db) return {std::nullopt, "NO DB IN CONNECTION STRING"};
    keys.user = std::move(*user);
    keys.database = std::move(*db);
    return {std::move(keys), {}};
}

}  // namespace log_stores::mysql
