// Channel lists of the logged-data requests.
#include "qvr/requests/channel_list.h"

#include <cctype>

namespace qvr::channel_list {

namespace {
bool all_of(std::string_view text, int (*test)(int)) {
    for (const char c : text)
        if (test(static_cast<unsigned char>(c)) == 0) return false;
    return true;
}
}  // namespace

Token parse_token(std::string_view token) {
    Token out;
    if (token.empty()) return out;
    if (token.size() <= 5 && all_of(token, isdigit)) {
        out.kind = Token::kNumber;
        for (const char c : token) out.number = out.number * 10 + (c - '0');
        return out;
    }
    if (token.size() <= 2 && all_of(token, isalpha)) {
        out.kind = Token::kPrefix;
        out.prefix[0] = token[0];
        out.prefix[1] = token.size() == 2 ? token[1] : '\0';
    }
    return out;
}

std::vector<Channel> parse(std::string_view list) {
    std::vector<Channel> out;
    bool in_group = false;
    std::array<char, 2> prefix{};
    while (!list.empty()) {
        const std::size_t comma = list.find(',');
        const std::string_view text = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
        const Token token = text.size() > kMaxTokenLength ? Token{} : parse_token(text);
        if (token.kind == Token::kPrefix) {
            prefix = token.prefix;
            in_group = true;
        } else if (token.kind == Token::kNumber && token.number >= 1 && token.number <= 65535) {
            if (in_group) out.push_back(Channel{prefix, static_cast<std::uint16_t>(token.number)});
        } else {
            in_group = false;
        }
    }
    return out;
}

}  // namespace qvr::channel_list
