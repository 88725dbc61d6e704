// What a server string names: this machine or another, and which transport reaches it.
#include <strings.h>

#include <cstring>
#include <string_view>

#include "platform/ascii_text.h"
#include "platform/host_identity.h"
#include "qvr/link/link.h"
#include "qvr/util/url.h"

namespace {

constexpr std::string_view kProviderPrefix = "PROVIDER=";
constexpr size_t kIsLocalPathServerMax = 259;

bool is_local_name(std::string_view name) {
    if (name.empty()) return true;
    for (std::string_view local : {std::string_view("."), std::string_view("localhost"), std::string_view("127.0.0.1")})
        if (platform::equal_ignoring_case(name, local)) return true;
    const std::string& computer = platform::computer_name();
    const std::string& host = platform::short_host_name();
    return (!computer.empty() && platform::equal_ignoring_case(name, computer)) || (!host.empty() && platform::equal_ignoring_case(name, host));
}

bool is_provider(std::string_view s) {
    return s.size() >= kProviderPrefix.size() && platform::equal_ignoring_case(s.substr(0, kProviderPrefix.size()), kProviderPrefix);
}

// A data folder: a drive letter, a '\' path (UNC included) or a Linux path.
bool is_path(std::string_view s) {
    if (s.empty()) return false;
    return s[0] == '\\' || s[0] == '/' || (s.size() >= 2 && s[1] == ':');
}

// The scheme and host of a URL; false when it is none.
struct SchemeHost {
    char scheme[32];
    char host[256];
};
bool split(const char* server, SchemeHost& out) {
    UrlComponents parts;
    parts.scheme = out.scheme;
    parts.scheme_length = sizeof out.scheme;
    parts.host = out.host;
    parts.host_length = sizeof out.host;
    if (url_Split(server, 0, 0, &parts) == 0) return false;
    out.scheme[parts.scheme_length < sizeof out.scheme ? parts.scheme_length : sizeof out.scheme - 1] = '\0';
    out.host[parts.host_length < sizeof out.host ? parts.host_length : sizeof out.host - 1] = '\0';
    return true;
}

}  // namespace

int link_IsLocalServer(const char* server) {
    if (server == nullptr) return 1;
    const std::string_view s(server);
    if (is_local_name(s)) return 1;
    if (is_provider(s) || is_path(s)) return 0;
    SchemeHost url;
    if (!split(server, url)) return 0;
    return url.host[0] != '\0' && is_local_name(url.host) ? 1 : 0;
}

ServerKind link_GetServerKind(const char* server) {
    const std::string_view s(server != nullptr ? server : "");
    if (is_provider(s) || is_path(s)) return kServerLocalData;
    if (link_IsLocalServer(server)) return kServerPipe;
    SchemeHost url;
    if (!split(server, url)) return kServerPipe;
    if (platform::equal_ignoring_case(url.scheme, "http") || platform::equal_ignoring_case(url.scheme, "https"))
        return kServerWeb;
    if (platform::equal_ignoring_case(url.scheme, "file")) return kServerLocalData;
    return url.host[0] != '\0' ? kServerSocket : kServerPipe;
}

int link_IsRemoteServer(const char* server) {
    return !link_IsLocalServer(server) && link_GetServerKind(server) != kServerPipe ? 1 : 0;
}

int link_IsLocalPath(const char* path) {
    if (path == nullptr) return 1;
    const std::string_view p(path);
    if (!p.starts_with("\\\\")) return 1;
    const size_t end = p.find('\\', 2);
    if (end == std::string_view::npos) return 1;
    const std::string_view server = p.substr(2, end - 2);
    if (server.size() > kIsLocalPathServerMax) return 0;
    const std::string name(server);
    return link_IsLocalServer(name.c_str());
}
