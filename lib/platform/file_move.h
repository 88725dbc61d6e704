#pragma once
// Moves within the file system that never replace: a run, its companions or a data file that
// already carries the new name keeps it and its data.
#include <string>

namespace platform {

// Renames `from` to `to` unless `to` exists: 0, or -1 with ERROR_ALREADY_EXISTS (183) when it
// does, else with the system error.
int move_no_replace(const std::string& from, const std::string& to);

}  // namespace platform
