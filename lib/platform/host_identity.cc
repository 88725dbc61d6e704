#include "platform/host_identity.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/ascii_text.h"

namespace platform {
namespace {

constexpr size_t kComputerNameMax = 15;
constexpr size_t kUserNameMax = 32;

std::string read_short_host_name() {
    char buffer[256] = {};
    if (gethostname(buffer, sizeof buffer - 1) != 0) return {};
    std::string name(buffer);
    return name.substr(0, name.find('.'));
}

std::string read_computer_name() {
    return ascii_upper_copy(read_short_host_name()).substr(0, kComputerNameMax);
}

std::string read_user_name() {
    std::vector<char> buffer(4096);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr)
        return std::string(found->pw_name).substr(0, kUserNameMax);
    for (const char* variable : {"LOGNAME", "USER"}) {
        if (const char* value = std::getenv(variable); value != nullptr && *value != '\0')
            return std::string(value).substr(0, kUserNameMax);
    }
    return {};
}

}  // namespace

const std::string& computer_name() {
    static const std::string name = read_computer_name();
    return name;
}

const std::string& short_host_name() {
    static const std::string name = read_short_host_name();
    return name;
}

const std::string& user_name() {
    static const std::string name = read_user_name();
    return name;
}

}  // namespace platform
