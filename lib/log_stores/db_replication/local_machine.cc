#include <string_view>

#include "log_stores/db_replication/replication_state.h"
#include "platform/host_identity.h"
#include "platform/ascii_text.h"

namespace log_stores::db_replication {

bool names_local_machine(std::string_view source) {
    if (source.empty()) return true;
    for (const std::string_view local : {std::string_view("."), std::string_view("localhost"),
                                         std::string_view("127.0.0.1"), std::string_view(platform::computer_name())})
        if (platform::equal_ignoring_case(source, local)) return true;
    return false;
}

}  // namespace log_stores::db_replication
