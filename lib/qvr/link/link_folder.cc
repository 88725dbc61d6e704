// Where a product folder of a server lies, as seen from this machine.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

#include "platform/ascii_text.h"
#include "platform/file_paths.h"
#include "platform/last_error.h"
#include "platform/remote_path.h"
#include "qvr/link/link.h"
#include "qvr/settings/env.h"
#include "qvr/settings/reg.h"

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kVariablePrefix = "QVR_";

char* answer(std::string_view text) {
    thread_local std::string buffer;
    buffer.assign(text);
    return buffer.data();
}

char* local_folder(const char* name) {
    const char* folder = env_GetProductFolder(name);
    return folder != nullptr ? answer(folder) : nullptr;
}

std::string_view without_prefix(std::string_view name) {
    return name.starts_with(kVariablePrefix) ? name.substr(kVariablePrefix.size()) : name;
}

// A data path (not a "PROVIDER=" string or a file URL).
bool is_data_path(const char* server) {
    return server[0] == '/' || server[0] == '\\' || (server[0] != '\0' && server[1] == ':');
}

// The local form of a path as the file system sees it.
bool local_form(const std::string& path, std::string& local) {
    if (platform::is_remote_path(path)) return platform::map_remote_path(path, local) == 0;
    local = path;
    for (char& c : local)
        if (c == '\\') c = '/';
    return true;
}

// An existing folder that holds at least one entry that is not a folder.
bool holds_files(const std::string& path) {
    std::string local;
    if (!local_form(path, local)) return false;
    std::error_code ec;
    if (!fs::is_directory(local, ec)) return false;
    for (fs::directory_iterator it(local, ec), end; !ec && it != end; it.increment(ec))
        if (!it->is_directory(ec)) return true;
    return false;
}

// From the data path upwards: the first "<level>/<name>" folder that holds files.
bool search_upwards(std::string path, std::string_view folder_name, std::string& found) {
    for (;;) {
        size_t cut = path.rfind('\\');
        if (cut == std::string::npos) cut = path.rfind('/');
        if (cut == std::string::npos) return false;
        path.resize(cut + 1);
        std::string candidate = path + std::string(folder_name);
        if (holds_files(candidate)) {
            found = std::move(candidate);
            return true;
        }
        path.resize(cut);  // one level higher next time
    }
}

// A folder of another machine that must exist and be writable.
bool usable_remote_folder(const std::string& path) {
    std::string local;
    if (!local_form(path, local)) return false;
    std::error_code ec;
    fs::create_directories(local, ec);
    return fs::is_directory(local, ec) && platform::file_access_allowed(local, platform::kAccessWrite);
}

bool is_checked_folder(std::string_view bare) {
    for (const char* name : {"REPLAY_OPTIONS", "EXPORTED_DATA", "EXPORTED_IMAGES"})
        if (platform::equal_ignoring_case(bare, name)) return true;
    return false;
}

}  // namespace

char* link_ResolveFolder(const char* server, const char* name) {
    if (name == nullptr) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return nullptr;
    }
    if (server == nullptr) return local_folder(name);
    const std::string_view key(name);
    if (link_GetServerKind(server) == kServerLocalData) {
        if (platform::equal_ignoring_case(name, "QVR_LOGGED_DATA")) return answer(server);
        std::string found;
        if (is_data_path(server) && !platform::equal_ignoring_case(name, "QVR_CURRENT_CONFIG") &&
            search_upwards(server, without_prefix(key), found))
            return answer(found);
        return local_folder(name);
    }
    if (link_IsLocalServer(server)) return local_folder(name);
    if (const char* value = std::getenv(name); value != nullptr && std::strlen(value) > 1) return answer(value);
    std::string path = std::string("\\\\") + server + "\\";
    if (key.starts_with(kVariablePrefix)) {
        const char* product = reg_GetProductName();
        path += std::string(product != nullptr ? product : "") + "\\" + std::string(without_prefix(key));
    } else {
        path += key;
    }
    if (is_checked_folder(without_prefix(key)) && !usable_remote_folder(path)) return local_folder(name);
    return answer(path);
}
