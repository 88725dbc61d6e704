#pragma once
// The fixed texts of a logger's 32 status channels and the ChannelRecords built from them.
#include <array>
#include <cstddef>
#include <string_view>

#include "qvr/records/channel_record.h"

namespace log_stores::status {

struct ChannelText {
    std::string_view short_name;   // at most 10 characters
    std::string_view description;  // at most 32
    std::string_view third;        // digital: on text; analog: units
    std::string_view fourth;       // digital: off text
};

// Row i holds block channel i + 1.
extern const std::array<ChannelText, 32> kChannelTexts;

inline constexpr std::size_t kStateTextSize = 32;

// Copies at most 32 characters of `text` into a 32-byte state text, zero-filled (a full
// text has no terminator).
void set_state_text(char (&field)[kStateTextSize], std::string_view text);
// The state text up to its first NUL (at most 32 characters).
std::string_view state_text(const char (&field)[kStateTextSize]);

}  // namespace log_stores::status
