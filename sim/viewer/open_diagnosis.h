#pragma once
// Why a database location cannot be opened. The link reports only an error number, and the
// database collections keep their reason as a text of their own; when the link gives no
// reason, the viewer opens the location's collection once more, only to ask it.
#include <string>

namespace viewer {

// The collection's words for the failure, "" when it opens or has none.
std::string database_open_reason(const std::string& location);

}  // namespace viewer
