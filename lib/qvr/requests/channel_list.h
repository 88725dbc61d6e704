#pragma once
// The channel lists of the logged-data requests ("AI,1,2,DI,4"): a prefix token starts a
// group, each number after it names a channel of that prefix. The client sizes its buffers by
// this rule and the local data server selects by it, so both count the same channels.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qvr::channel_list {

inline constexpr std::size_t kMaxTokenLength = 99;

struct Token {
    enum Kind { kNone, kNumber, kPrefix } kind = kNone;
    int number = 0;                // kNumber
    std::array<char, 2> prefix{};  // kPrefix (one letter: the second is NUL)
};
// 1..5 digits: a number; 1 or 2 letters: a prefix; anything else: kNone.
Token parse_token(std::string_view token);

struct Channel {
    std::array<char, 2> prefix{};
    std::uint16_t number = 0;
};
// The channels of a comma-separated list in list order, duplicates kept. A number before any
// prefix names nothing; a number 0 or above 65,535, a token over 99 characters or one that is
// neither kind ends the group until the next prefix.
std::vector<Channel> parse(std::string_view list);

}  // namespace qvr::channel_list
