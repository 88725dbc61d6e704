#include "viewer/location_text.h"

#include "platform/ascii_text.h"
#include "platform/secret_mask.h"

namespace viewer {

bool is_database_location(const std::string& location) {
    return platform::starts_with_ignoring_case(location, "PROVIDER=");
}

std::string shown_location(const std::string& location) {
    return platform::mask_secrets(location);
}

}  // namespace viewer
