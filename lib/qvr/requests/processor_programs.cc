// Where a processor's library and program lie.
#include <string>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/process_spawn.h"
#include "platform/remote_path.h"
#include "qvr/link/link.h"
#include "qvr/requests/processor_requests.h"
#include "qvr/settings/env.h"

namespace {

std::string base_name(const char* name, const char* code) {
    std::string_view n(name);
    if (platform::starts_with_ignoring_case(n, "calc") && n.size() > 4 &&
        n.substr(4).find_first_not_of("0123456789") == std::string_view::npos)
        n = n.substr(0, 4);
    else if (platform::starts_with_ignoring_case(n, "opddx") && n.size() > 5 &&
             n.substr(5).find_first_not_of("0123456789") == std::string_view::npos)
        n = n.substr(0, 5);
    std::string out(n);
    if (code != nullptr && *code != '\0')
        out = std::string(n.substr(0, 5)) + "_" + std::string(code).substr(0, 2);
    return platform::ascii_lower_copy(out);
}

const char* find(const char* server, const char* name, const char* code, const char* extension) {
    thread_local std::string found;
    if (name == nullptr || *name == '\0') return nullptr;
    const std::string file = base_name(name, code) + extension;
    if (file.find('/') != std::string::npos) return nullptr;
    std::vector<std::string> folders;
    if (const char* bin = env_GetProductFolder("QVR_BIN")) folders.emplace_back(bin);
    if (server != nullptr && std::string_view(server) != "." && !link_IsLocalServer(server)) {
        if (const char* bin = link_ResolveFolder(server, "QVR_BIN")) {
            std::string local;
            if (!platform::is_remote_path(bin))
                folders.emplace_back(bin);
            else if (platform::map_remote_path(bin, local) == 0)
                folders.push_back(local);
        }
    }
    for (std::string& folder : platform::path_folders()) folders.push_back(std::move(folder));
    const auto path = platform::find_program(file, folders);
    if (!path) return nullptr;
    found = *path;
    return found.c_str();
}

}  // namespace

const char* FindProcessorLibrary(const char* server, const char* name, const char* code) {
    return find(server, name, code, ".so");
}

const char* FindProcessorProgram(const char* server, const char* name, const char* code) {
    return find(server, name, code, "");
}
