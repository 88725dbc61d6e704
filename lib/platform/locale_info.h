#pragma once
// Number-format items of the user's locale (the LC_ALL, LC_NUMERIC and LANG variables), read
// with a locale object of its own: the process's current locale is never changed.
#include <string>

namespace platform {

struct LocaleNumberFormat {
    char decimal_point = '.';
    char thousands_separator = 0;  // 0 when the locale has none
    // Group sizes as the number text "3;0" lists them (first group first); "0" when the
    // locale does not group digits.
    std::string grouping = "0";
};

// Reads the items now (each call reads afresh; callers cache).
LocaleNumberFormat read_user_number_format();

}  // namespace platform
