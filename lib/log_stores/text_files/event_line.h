#pragma once
// Time-stamped event lines of a logger's text files. A run's companion writes the date
// first, the events file the time first; both carry UTC time and are read back either way.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "qvr/time/timestamp.h"

namespace log_stores::text_files {

enum class EventLineForm { DateFirst, TimeFirst };

// The line without its CR LF: stamp, a blank, then `text` with every CR and LF made a blank
// (a line break inside would split the event and could start a false section).
std::string format_event_line(const TimeStamp& time, std::string_view text, EventLineForm form);

struct LineTime {
    TimeStamp time{};
    std::size_t text_at = 0;  // where the text begins in the line
    EventLineForm form = EventLineForm::DateFirst;
};

// The time of an event line in either form; nullopt when no form matches or a field lies
// outside the calendar. UTF-16 lines are read the same way, unit by unit.
std::optional<LineTime> ParseTextLineTime(std::string_view line);
std::optional<LineTime> ParseTextLineTime(std::u16string_view line);

// "[name]" for a section name, unchanged when it already has its brackets.
std::string section_header(std::string_view name);

}  // namespace log_stores::text_files
