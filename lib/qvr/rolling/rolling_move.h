#pragma once
#include <string>

namespace qvr::rolling {

// Renames `from` to `to`, never over an existing file: -1 with ERROR_ALREADY_EXISTS (183)
// when `to` exists.
int move_no_replace(const std::string& from, const std::string& to);

}  // namespace qvr::rolling
