#pragma once
// Sections of a logger text file: a line beginning with "[NAME]" starts one, the next line
// beginning with '[' ends it. Files are 8-bit (Windows-1252) or UTF-16LE behind FF FE.
#include <cstddef>
#include <string>
#include <string_view>

namespace log_stores::text_files {

// The file's text as 8-bit text: UTF-16 files converted ('?' for what Windows-1252 lacks,
// an odd last byte dropped). `utf16` tells which the file was.
std::string text_file_as_8bit(std::string_view bytes, bool& utf16);

// The file's text as UTF-16: 8-bit files read as Windows-1252, UTF-16 files unit by unit
// (an odd last byte dropped).
std::u16string text_file_as_utf16(std::string_view bytes);

struct SectionOptions {
    // The events file: the whole file is section TEXT, without a header line.
    bool whole_file = false;
    // Section TEXT: time-first event lines are handed out date first.
    bool date_first = false;
};

// Takes the lines of `section` ("NAME" or "[NAME]") from `text`, each with its CR LF (a last
// line without one is not taken). With `out`, lines are copied while the total, the line
// and the terminating NUL fit in *size; the first that does not fit ends the reading.
// Returns the number of lines taken and sets *size to their total length + 1 (size 0 when
// the section is missing); without `out` every line is counted. -1 for an empty section name.
int read_section(std::string_view text, std::string_view section, const SectionOptions& options, char* out,
                 std::size_t* size);
// The same over UTF-16 text, in code units.
int read_section(std::u16string_view text, std::string_view section, const SectionOptions& options, char16_t* out,
                 std::size_t* size);

}  // namespace log_stores::text_files
