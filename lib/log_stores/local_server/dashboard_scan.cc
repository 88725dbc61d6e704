// Scanning menu and dashboard texts for dashboard names and channels.
#include "log_stores/local_server/dashboard_scan.h"

#include <algorithm>
#include <charconv>
#include <optional>

namespace log_stores::local {
namespace {

constexpr int kHighestChannelNumber = 32'767;

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && is_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_space(text.back())) text.remove_suffix(1);
    return text;
}

// One element found in a text: where its start tag begins, where its content begins and
// whether the start tag closed itself ("<no/>").
struct StartTag {
    std::size_t at = 0;
    std::size_t content = 0;
    bool empty = false;
};

// The next start tag of `name` at or after `from`: "<name" followed by '>', '/' or white
// space, so that <no> is not taken for <notes>.
std::optional<StartTag> find_start(std::string_view text, std::string_view name, std::size_t from) {
    const std::string open = "<" + std::string(name);
    while (from < text.size()) {
        const std::size_t at = text.find(open, from);
        if (at == std::string_view::npos) return std::nullopt;
        const std::size_t after = at + open.size();
        if (after >= text.size()) return std::nullopt;
        const char next = text[after];
        if (next == '>' || next == '/' || is_space(next)) {
            const std::size_t close = text.find('>', after);
            if (close == std::string_view::npos) return std::nullopt;
            return StartTag{at, close + 1, close > after && text[close - 1] == '/'};
        }
        from = after;
    }
    return std::nullopt;
}

// The character data of an element: from its content up to the next tag.
std::string_view leading_text(std::string_view text, const StartTag& tag) {
    if (tag.empty) return {};
    const std::size_t end = std::min(text.find('<', tag.content), text.size());
    return text.substr(tag.content, end - tag.content);
}

// The five predefined entities and character references; anything else is kept as written.
std::string decoded(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] != '&') {
            out += text[i++];
            continue;
        }
        const std::size_t semi = text.find(';', i);
        if (semi == std::string_view::npos || semi - i > 8) {
            out += text[i++];
            continue;
        }
        const std::string_view entity = text.substr(i + 1, semi - i - 1);
        char c = 0;
        if (entity == "amp") c = '&';
        else if (entity == "lt") c = '<';
        else if (entity == "gt") c = '>';
        else if (entity == "quot") c = '"';
        else if (entity == "apos") c = '\'';
        else if (entity.size() > 1 && entity[0] == '#') {
            unsigned value = 0;
            const bool hex = entity[1] == 'x' || entity[1] == 'X';
            const std::string_view digits = entity.substr(hex ? 2 : 1);
            const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, hex ? 16 : 10);
            // Names are 8-bit texts: only references to one byte are decoded.
            if (ec == std::errc{} && end == digits.data() + digits.size() && value > 0 && value < 256)
                c = static_cast<char>(value);
        }
        if (c == 0) {
            out += text[i++];
            continue;
        }
        out += c;
        i = semi + 1;
    }
    return out;
}

bool stays_inside(const std::string& name) {
    if (name.empty() || name.front() == '/') return false;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        if (name.compare(start, end - start, "..") == 0) return false;
        start = end + 1;
    }
    return true;
}

std::optional<std::uint16_t> channel_number(std::string_view text) {
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    if (value < 1 || value > kHighestChannelNumber) return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// The text of the first child element `name` inside `content`, trimmed.
std::string_view child_text(std::string_view content, std::string_view name) {
    const auto tag = find_start(content, name, 0);
    if (!tag) return {};
    return trimmed(leading_text(content, *tag));
}

void add_elements(std::string_view text, std::string_view name, std::vector<ChannelKey>& keys) {
    const std::string close = "</" + std::string(name);
    std::size_t from = 0;
    while (auto tag = find_start(text, name, from)) {
        from = tag->content;
        if (tag->empty) continue;
        const std::size_t end = text.find(close, tag->content);
        if (end == std::string_view::npos) return;
        const std::string_view content = text.substr(tag->content, end - tag->content);
        from = end + close.size();
        // The texts are 8-bit texts that end at a NUL.
        std::string prefix = decoded(child_text(content, "prefix"));
        prefix.resize(std::min(prefix.find('\0'), prefix.size()));
        const std::string_view number_text = child_text(content, "no");
        if (prefix.empty() || number_text.empty()) continue;
        const auto number = channel_number(number_text);
        if (!number) continue;
        ChannelKey key;
        key.prefix[0] = prefix[0];
        key.prefix[1] = prefix.size() > 1 ? prefix[1] : '\0';
        key.number = *number;
        keys.push_back(key);
    }
}

}  // namespace

std::vector<std::string> MenuItems(std::string_view menu) {
    std::vector<std::string> items;
    std::size_t from = 0;
    while (auto tag = find_start(menu, "Item", from)) {
        from = tag->content;
        std::string name = decoded(trimmed(leading_text(menu, *tag)));
        std::replace(name.begin(), name.end(), '\\', '/');
        if (stays_inside(name)) items.push_back(std::move(name));
    }
    return items;
}

void AddDashboardChannels(std::string_view dashboard, bool with_xchannels, std::vector<ChannelKey>& keys) {
    add_elements(dashboard, "channel", keys);
    if (with_xchannels) add_elements(dashboard, "XChannel", keys);
}

void SortUniqueKeys(std::vector<ChannelKey>& keys) {
    std::sort(keys.begin(), keys.end(), key_less);
    keys.erase(std::unique(keys.begin(), keys.end(), key_equal), keys.end());
}

}  // namespace log_stores::local
