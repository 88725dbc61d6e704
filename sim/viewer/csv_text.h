#pragma once
// The CSV form of the viewer's export, both ways: fields are separated by ',', a field that
// holds a comma, a double quote, CR or LF is enclosed in double quotes with its quotes
// doubled, and a record ends with LF. Numbers are written with '.' whatever the locale, in
// the shortest form that reads back as the same float.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace viewer::csv {

// `text` as one field.
std::string field(std::string_view text);
// The shortest decimal text of `value` that reads back as the same float ("" for a NaN or
// an infinity, which a record never holds as a good value).
std::string number(float value);
// The fields of one record (`line` without its LF); nullopt when its quoting is broken (a
// quote inside an unquoted field, text after a closing quote, a quote never closed).
std::optional<std::vector<std::string>> split(std::string_view line);

}  // namespace viewer::csv
