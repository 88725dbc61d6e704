#pragma once
// The list files DATPROC.TXT (processors), DEVCAP.TXT (devices) and LOGCAP.TXT (loggers):
// plain text, at most 500 characters a line (the rest of a longer line is dropped), CR and
// LF removed; empty lines and lines whose first non-blank character is '*' are skipped but
// counted, so messages name the line as an editor shows it. One open list file per thread.
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qvr/requests/request_records.h"

inline constexpr std::size_t kListLineMax = 500;
using ListField = char[kListLineMax + 1];

// Opens the list (a relative name lies in the current configuration folder; a path of
// another machine goes through its mapping): 0, or -1 with errno.
int OpenListFile(const char* path);
// The next entry split at commas into at most `n` fields: their number, or 0 at the end of
// the file (which rewinds it and starts the line count again).
int NextListLine(ListField* fields, int n);
int CloseListFile();
// "Can't Parse <file>\nLine <n> : **** <message> ****\n<text>\nError : -2\n" to the message
// sink, for the thread's open file and its last line. The text reported is returned.
std::string ReportListError(const char* message, const char* text);

namespace qvr::requests {

inline constexpr int kListLineInvalid = -2;

// The thread's list file as C++ sees it.
struct ListLine {
    std::vector<std::string> fields;
    std::string text;  // the whole line
};
// The next entry of the thread's list file; false at the end (rewound).
bool next_list_line(std::size_t max_fields, ListLine& line);
// The number of entries of the list file at `path`, or -1 when it cannot be opened. The
// thread's open list is closed.
int count_list_entries(const std::string& path);
// The folder's file `name`, found as exact name first, then without case.
std::string list_file_path(const std::string& folder, const std::string& name);

// The rules of one line, with what earlier lines of the same file hold: false with the
// message of the first rule broken.
bool processor_from_line(const std::vector<std::string>& fields, std::span<const ProcessorRecord> earlier,
                         ProcessorRecord& record, std::string& message);
bool device_from_line(const std::vector<std::string>& fields, std::span<const DeviceInfoRecord> earlier,
                      DeviceInfoRecord& record, std::string& message);
bool logger_from_line(const std::vector<std::string>& fields, LoggerInfoRecord& record, std::string& message);

}  // namespace qvr::requests
