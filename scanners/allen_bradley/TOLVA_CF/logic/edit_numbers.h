#pragma once
// Numbers as the dialogs' edits hold them: decimal text read and written without the
// user's locale, and the messages that refuse them. Kept private to this library until the
// runtime services library has its own number helpers.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tolva::cf {

// A whole decimal integer with optional sign, blanks around it allowed; none for anything
// else (empty, other characters, beyond 64 bits).
std::optional<std::int64_t> parse_edit_integer(std::string_view text);

std::string edit_text_of(std::int64_t value);

// "Please enter an integer between <low> and <high>."
std::string range_message(std::int64_t low, std::int64_t high);
// For text that is not a number at all.
inline constexpr std::string_view kNotAnIntegerMessage = "Please enter an integer.";

}  // namespace tolva::cf
