#pragma once
// Which logger names a collection can take. A database run's location carries the name
// between ";LoggerName=" and the next ';', and the logger tables keep it in a char column
// that drops trailing blanks; a name that builds a folder or file name must stay one plain
// component. A name that could not come back as itself is refused before anything is made.
#include <string_view>

namespace log_stores {

// Why `name` cannot name a logger of a database collection, or nullptr when it can.
const char* DatabaseLoggerNameRefusal(std::string_view name);

// Why `name` cannot be a folder or file name of its own (empty, "." or "..", or holding
// '/' or '\'), or nullptr when it can.
const char* PathComponentRefusal(std::string_view name);

// The error context of a refused logger name.
inline constexpr const char* kBadLoggerName = "BAD LOGGER NAME";

}  // namespace log_stores
