#pragma once
// The reason of a failure as the viewer tells a user: the words for the error numbers that
// the link and the data locations leave, with the number itself after them.
#include <string>

namespace viewer {

std::string error_text(int code);

}  // namespace viewer
