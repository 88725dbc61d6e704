#pragma once
// The names a process stamps on what it reports: this computer's and the user's.
#include <string>

namespace platform {

// The host name, short form (up to the first '.'), upper case, at most 15 characters.
// Read once per process.
const std::string& computer_name();
// The host name, short form, as the system gives it (no case change, no cut). Read once.
const std::string& short_host_name();
// The name of the effective user (from the user database, else $LOGNAME / $USER), at most
// 32 characters. Read once per process.
const std::string& user_name();

}  // namespace platform
