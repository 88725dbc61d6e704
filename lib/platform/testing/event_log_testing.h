#pragma once
// For tests only: the entries go to a socket of the test's own instead of "/dev/log".
#include <string>

namespace platform {

// Names the socket the entries go to; returns the previous path.
std::string set_event_log_socket(std::string path);

}  // namespace platform
