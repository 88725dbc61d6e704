#pragma once
// A data location as the viewer takes and shows it.
#include <string>

namespace viewer {

// A "PROVIDER=" connection string (letter case ignored); anything else names a data folder.
bool is_database_location(const std::string& location);
// The location as it may be printed: its password hidden by the project's one mask.
std::string shown_location(const std::string& location);

}  // namespace viewer
