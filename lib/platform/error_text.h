#pragma once
// A failure's reason for a person to read: the number with its text. Numbers the system
// defines itself (platform/last_error.h) read as the system means them; any other is the
// operating system's errno.
#include <string>

namespace platform {

// "error 2: file not found", "error 111: Connection refused".
std::string error_text(int code);

}  // namespace platform
