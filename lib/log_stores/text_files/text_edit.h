#pragma once
// Edits of logger text files. Every edit is read-modify-write under an advisory lock that
// the logger, the request handler and the configuration front all take, and the new file is
// saved whole beside the old one and renamed over it: a crash leaves the old file or the new.
#include <string>
#include <string_view>

#include "log_stores/text_files/event_line.h"
#include "qvr/time/timestamp.h"

namespace log_stores::text_files {

// Replaces section `section` ("NAME" or "[NAME]") of `path` by `text`, or appends the
// section when the file lacks it; a missing file is made. A text that does not end with
// CR LF gets one, so the next section's header stays a line of its own. 1 done; -1 (also for
// an empty section name, and for a UTF-16 file, which this 8-bit form would corrupt); -2 when
// the file cannot be opened; the reason in the last error. A remote path ("\\machine\...")
// is edited in its RemoteMachines folder; without one -2 (53).
int ReplaceTextSection(const std::string& path, std::string_view section, std::string_view text);

// The new content of a file `old` with `section` replaced as above (8-bit text).
std::string replaced_section(std::string_view old, std::string_view section, std::string_view text);

// Where an event line goes: a run's companion (date first, inside its section) or the events
// file (time first, the whole file its TEXT section).
struct EventTarget {
    EventLineForm form = EventLineForm::DateFirst;
    bool whole_file = false;
};

// Inserts an event line of `time` (UTC) into `section` of `path`, in time order: after every
// line of an earlier or equal time. A line of exactly the same time whose text begins with
// `match` (any text when `match` is null) is replaced instead, the first such one; an empty
// `text` then removes it. Lines whose time cannot be read stay where they are. A missing
// section is added at the end. UTF-16 files stay UTF-16. 0 / -1 / -2 as ReplaceTextSection.
// A remote path ("\\machine\...") is edited in its RemoteMachines folder; without one -2 (53).
int AddTextLine(const std::string& path, std::string_view section, const TimeStamp& time, std::string_view text,
                const char* match, const EventTarget& target);

// The new content of a file of bytes `old` (8-bit, or UTF-16 behind FF FE) with the event
// line put in by the rules of AddTextLine.
std::string with_event_line_added(std::string_view old, std::string_view section, const TimeStamp& time,
                                  std::string_view text, const char* match, const EventTarget& target);

}  // namespace log_stores::text_files
