#include "TOLVA_CF/logic/edit_numbers.h"

#include <array>
#include <charconv>

namespace tolva::cf {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

}  // namespace

std::optional<std::int64_t> parse_edit_integer(std::string_view text) {
    while (!text.empty() && is_blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && is_blank(text.back())) text.remove_suffix(1);
    // from_chars takes no plus sign.
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') text.remove_prefix(1);
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::string edit_text_of(std::int64_t value) {
    std::array<char, 24> buffer{};
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    (void)ec;  // 24 characters hold every 64-bit value
    return std::string(buffer.data(), end);
}

std::string range_message(std::int64_t low, std::int64_t high) {
    return "Please enter an integer between " + edit_text_of(low) + " and " + edit_text_of(high) + ".";
}

}  // namespace tolva::cf
