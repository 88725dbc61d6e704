#include "platform/event_log.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "platform/testing/event_log_testing.h"

namespace platform {
namespace {

constexpr int kFacilityUser = 1 << 3;
// Long messages are cut so one entry stays one datagram every log daemon accepts.
constexpr size_t kMessageMax = 8000;

std::mutex& socket_mutex() {
    static std::mutex m;
    return m;
}

std::string& socket_path() {
    static std::string path = "/dev/log";
    return path;
}

int severity_of(int type) {
    switch (type) {
        case kEventError:
            return 3;
        case kEventWarning:
            return 4;
        case kEventInformation:
            return 6;
        default:
            return 5;
    }
}

std::string header(std::string_view source, int type) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%b %e %H:%M:%S", &local);
    char pri[16];
    std::snprintf(pri, sizeof pri, "<%d>", kFacilityUser | severity_of(type));
    std::string text = pri;
    text += stamp;
    text += ' ';
    // An identifier holds no blank, colon or bracket: the daemon would split it wrongly.
    for (char c : source) text += (c == ' ' || c == ':' || c == '[' || c == ']') ? '_' : c;
    text += '[' + std::to_string(::getpid()) + "]: ";
    return text;
}

}  // namespace

int event_log_report(std::string_view source, int type, uint32_t event_id, std::string_view message) {
    std::string entry = header(source, type);
    entry += '[' + std::to_string(event_id) + "] ";
    entry.append(message.substr(0, kMessageMax));
    while (!entry.empty() && (entry.back() == '\n' || entry.back() == '\r')) entry.pop_back();

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    {
        std::lock_guard lock(socket_mutex());
        const std::string& path = socket_path();
        if (path.size() >= sizeof address.sun_path) return fail(ENAMETOOLONG);
        path.copy(address.sun_path, path.size());
    }
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return fail_from_errno();
    // A busy daemon may hold us up briefly, never for ever.
    const timeval bound{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    const ssize_t sent = ::sendto(fd, entry.data(), entry.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
    const int saved = errno;
    ::close(fd);
    if (sent < 0) return fail(saved);
    return 0;
}

bool event_log_is_local(std::string_view server) {
    if (server.substr(0, 2) == "\\\\") server.remove_prefix(2);
    if (server.empty() || server == "." || equal_ignoring_case(server, "localhost")) return true;
    char host[256] = {};
    return ::gethostname(host, sizeof host - 1) == 0 && equal_ignoring_case(server, host);
}

std::string set_event_log_socket(std::string path) {
    std::lock_guard lock(socket_mutex());
    std::swap(socket_path(), path);
    return path;
}

}  // namespace platform
