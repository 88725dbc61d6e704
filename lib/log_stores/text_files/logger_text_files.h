#pragma once
// The logger text files as files: a run's companion found beside the run, sections read from
// the file (or from the events file), the UTF-16 forms, the forms that go through the
// server's remote file requests when the file is not reachable from here, the events file
// rule and the logger configuration texts. The edits themselves are those of text_edit.h.
//
// Results: line counts or 0 / 1 as each operation says; -1 failure; -2 the file cannot be
// opened; the reason in the last error.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "log_stores/text_files/event_line.h"
#include "log_stores/text_files/text_edit.h"
#include "qvr/time/timestamp.h"

namespace log_stores::text_files {

// 1 when event lines go to "events.txt" in the run's folder: the Rimvale edition, or the
// machine hive's "EventsTextFile" beginning with "ON" (letter case ignored); else 0.
int EventsFileInUse();

// "events.txt" in the folder of `file`.
std::string EventsFilePath(const std::string& file);

// The text companion of the run file `run_path`: the same stem with ".txt"; for a finished
// run also its running name's companion, for a running run the companion named by its stop
// or last record time or by its start stamp. With a server, files the server can read count
// too. nullopt (errno ENOENT) when there is none.
std::optional<std::string> FindLoggerTextFile(const char* server, const std::string& run_path);

// The lines of `section` of `file`, each with its CR LF, copied into `out` while they and the
// NUL fit in *size, or only counted without `out`; *size becomes their length + 1 (0 when the
// section is missing). Section TEXT with the events file in use reads the events file, whole,
// time-first lines handed out date first (0 lines when it does not exist). The number of
// lines; -1; -2 when the file cannot be opened.
int ReadSection(const std::string& file, std::string_view section, char* out, std::size_t* size);
// The same in UTF-16 code units.
int ReadSectionW(const std::string& file, std::string_view section, char16_t* out, std::size_t* size);
// ReadSection, and when that gives -2 the same reading through `server`'s remote file reads
// (the path after its machine part).
int ReadSectionRemote(const char* server, const std::string& file, std::string_view section, char* out,
                      std::size_t* size);

// The section cut at CR LF: with `lines` and `buffer`, the section is read into `buffer` (size
// *size), each CR LF made two NULs, and at most *count line starts stored, *count becoming
// the number stored; without them *count is the number of lines and *size the bytes needed.
// 0 / -1 (-2 cannot open).
int ReadSectionLines(const std::string& file, std::string_view section, const char** lines, std::size_t* count,
                     char* buffer, std::size_t* size);
int ReadSectionLinesW(const std::string& file, std::string_view section, const char16_t** lines,
                      std::size_t* count, char16_t* buffer, std::size_t* size);
int ReadSectionLinesRemote(const char* server, const std::string& file, std::string_view section,
                           const char** lines, std::size_t* count, char* buffer, std::size_t* size);

// ReplaceTextSection (text_edit.h) of a text whose code units are all 127 or less, on a file
// that is not UTF-16; else -1 (ERROR_INVALID_PARAMETER for the text, ERROR_INVALID_DATA for
// the file).
int ReplaceTextSectionW(const std::string& file, std::string_view section, std::u16string_view text);
// ReplaceTextSection, and when that gives -2 the same edit of the server's file through its
// remote file requests: read whole, rewritten whole (a file the server lacks is made; one it
// cannot read, or a UTF-16 one, is left alone with -1). 1 / -1 / -2.
int ReplaceTextSectionRemote(const char* server, const std::string& file, std::string_view section,
                             std::string_view text);

// An event line of `time` (UTC) in `section` of `file` by the rules of AddTextLine in
// text_edit.h; section TEXT with the events file in use goes to the events file (time
// first) when it exists or when no ".txt" of the folder has lines in its TEXT section.
// 0 / -1 / -2.
int AddTextLine(const std::string& file, std::string_view section, const TimeStamp& time, std::string_view text,
                const char* match);
// The same for a text and match of code units 127 or less (else -1, ERROR_INVALID_PARAMETER);
// a UTF-16 file stays UTF-16, as with AddTextLine.
int AddTextLineW(const std::string& file, std::string_view section, const TimeStamp& time, std::u16string_view text,
                 const char16_t* match);
// AddTextLine, and when that gives -2 the same edit of the server's file (date first, in
// `section`) through its remote file requests.
int AddTextLineRemote(const char* server, const std::string& file, std::string_view section, const TimeStamp& time,
                      std::string_view text, const char* match);

// The configuration text file of logger `kind` `number`: "%s_%d.txt" in the current folder
// when `server` names this machine or is of the pipe kind, else
// "\\<server>\QVR_CURRENT_CONFIG\LOGGERS\%s_%d.txt".
std::string LoggerTextFilePath(const char* server, std::string_view kind, int number);
// ReadSectionRemote / ReplaceTextSectionRemote on that file.
int ReadLoggerText(const char* server, std::string_view kind, int number, std::string_view section, char* out,
                   std::size_t* size);
int WriteLoggerText(const char* server, std::string_view kind, int number, std::string_view section,
                    std::string_view text);

}  // namespace log_stores::text_files
