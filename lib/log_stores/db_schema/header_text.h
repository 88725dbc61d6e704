#pragma once
// The header text a run is made with, in the form of the run's text file: "[HEADER]\r\n",
// the header lines, "\r\n[PREDEFINED]", the predefined lines.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace log_stores::db_schema {

struct HeaderTextParts {
    // sHeader: the text after "[HEADER]\r\n" up to "\r\n[PREDEFINED]" or the end; nothing
    // (NULL) when the text has no "[HEADER]\r\n".
    std::optional<std::string> header;
    // The TEXT rows: every non-empty piece after "\r\n[PREDEFINED]" that a "\r\n" closes.
    std::vector<std::string> predefined;
};

// Whole parts, uncut: the writers cut each to its column's size after conversion.
HeaderTextParts split_header_text(std::string_view text);

}  // namespace log_stores::db_schema
