// Channel lists of the logged-data requests, as viewers and forwarded request texts give
// them: the client sizes caller buffers by the count, so the rule must hold for any text.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "qvr/requests/channel_list.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    using qvr::channel_list::Token;
    const Token token = qvr::channel_list::parse_token(text);
    if (token.kind == Token::kNumber && (token.number < 0 || token.number > 99999 || text.size() > 5))
        __builtin_trap();
    if (token.kind == Token::kPrefix && (text.empty() || text.size() > 2)) __builtin_trap();
    std::size_t commas = 0;
    for (const char c : text) commas += c == ',' ? 1 : 0;
    const auto channels = qvr::channel_list::parse(text);
    // One channel at most per token after the first (a prefix).
    if (channels.size() > commas) __builtin_trap();
    for (const auto& channel : channels)
        if (channel.number == 0) __builtin_trap();
    return 0;
}
