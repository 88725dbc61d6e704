#pragma once
// What the channel answers (QP, IP, TP, CV, RV, TC) share: the channel groups of a run and
// where a prefix's channels and latest values are found.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "log_stores/local_server/local_data_server.h"
#include "log_stores/local_server/reply_writer.h"

namespace log_stores::local::answers {

inline constexpr std::array<char, 2> kStatusPrefix{'L', 'S'};
// Values of the other collection's run are shown only while they are this close in time.
inline constexpr std::int64_t kOtherRunWindowMs = 180'000;

// Case-insensitive; a one-letter prefix's second character may be NUL or a blank.
bool same_prefix(const std::array<char, 2>& a, const std::array<char, 2>& b);

// The channels of one prefix in a run, in the order the prefix first appears in its blocks.
struct Group {
    std::array<char, 2> prefix{};
    std::uint16_t highest = 0;
    bool digital = false;
};
std::vector<Group> groups_of(const LogHeader& header, const LocalDataServer::RunConfigs& configs);
bool has_prefix(const LogHeader& header, const std::array<char, 2>& prefix);

// Block and index of a channel in a run's records; nullopt when the run does not hold it.
struct Place {
    std::size_t block = 0;
    std::uint32_t index = 0;
};
std::optional<Place> place_of(const LogHeader& header, const std::array<char, 2>& prefix,
                              std::uint32_t number);

// The last readable record of a run, or empty.
std::span<const std::uint8_t> latest_record(const CurrentRun& run);
TimeStamp record_time(std::span<const std::uint8_t> record);

// The answers, written after the code and its comma. RV gives false when there is no
// readable record to answer from (no reply at all).
void answer_prefix_count(LocalDataServer& server, ReplyWriter& out);
void answer_processors(LocalDataServer& server, std::string_view selector, bool states, ReplyWriter& out);
void answer_configurations(LocalDataServer& server, std::string_view list, ReplyWriter& out);
bool answer_values(LocalDataServer& server, std::string_view list, ReplyWriter& out);
void answer_tags(LocalDataServer& server, std::string_view tags, ReplyWriter& out);

}  // namespace log_stores::local::answers
