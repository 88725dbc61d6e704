// A second process for the settings tests: optionally drops to the unprivileged user
// "nobody" (when started as root), then runs one operation and prints its result.
//   qvr_settings_helper [--drop] product-folder <name>
//   qvr_settings_helper [--drop] check-access <path> <read|write|execute>
//   qvr_settings_helper [--drop] trace <name> <message>
//   qvr_settings_helper [--drop] link-request <server> <request>   (prints result and errno)
//   qvr_settings_helper [--drop] config-items <server>   (prints result and the item list)
#include <grp.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "qvr/link/link.h"
#include "qvr/requests/processor_requests.h"
#include "qvr/settings/env.h"
#include "qvr/diag/trace.h"

namespace {

constexpr uid_t kNobody = 65534;

bool drop_privileges() {
    if (::geteuid() != 0) return true;  // already unprivileged
    return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    if (argc > first && std::string_view(argv[first]) == "--drop") {
        if (!drop_privileges()) {
            std::perror("drop");
            return 3;
        }
        ++first;
    }
    if (argc < first + 2) return 2;
    const std::string_view mode = argv[first];
    if (mode == "product-folder") {
        const char* folder = env_GetProductFolder(argv[first + 1]);
        std::printf("%s\n", folder != nullptr ? folder : "(null)");
        return 0;
    }
    if (mode == "check-access" && argc >= first + 3) {
        const std::string_view right = argv[first + 2];
        const unsigned access = right == "write"  ? kGenericWrite
                                : right == "read" ? kGenericRead
                                                  : kGenericExecute;
        std::printf("%d\n", util_CheckFileAccess(argv[first + 1], access));
        return 0;
    }
    if (mode == "trace" && argc >= first + 3) {
        trace_Create(argv[first + 1]);
        std::printf("%d %d\n", trace_Write(argv[first + 2]), trace_IsOn());
        trace_Destroy();
        return 0;
    }
    if (mode == "link-request" && argc >= first + 3) {
        char reply[256];
        uint32_t length = sizeof reply;
        const int result = link_SendText(argv[first + 1], argv[first + 2], reply, &length);
        std::printf("%d %d\n", result, errno);
        return 0;
    }
    if (mode == "config-items") {
        char items[4096];
        const int result = ListConfigItems(argv[first + 1], items, sizeof items);
        std::printf("%d %s\n", result, result >= 0 ? items : "");
        return 0;
    }
    return 2;
}
