#include "controller/pseudo_terminal.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <string>
#include <utility>

#include "platform/last_error.h"
#include "platform/registry_key.h"
#include "platform/serial_port_names.h"

namespace sim_controller {

PseudoTerminal::~PseudoTerminal() {
    close_all();
}

PseudoTerminal::PseudoTerminal(PseudoTerminal&& other) noexcept {
    *this = std::move(other);
}

PseudoTerminal& PseudoTerminal::operator=(PseudoTerminal&& other) noexcept {
    if (this != &other) {
        close_all();
        master_ = std::exchange(other.master_, -1);
        keep_ = std::exchange(other.keep_, -1);
        path_ = std::move(other.path_);
    }
    return *this;
}

void PseudoTerminal::close_all() {
    if (master_ >= 0) ::close(master_);
    if (keep_ >= 0) ::close(keep_);
    master_ = keep_ = -1;
}

int PseudoTerminal::open() {
    close_all();
    std::array<char, 128> name{};
    int master = -1;
    int slave = -1;
    if (::openpty(&master, &slave, name.data(), nullptr, nullptr) != 0) return platform::fail_from_errno();
    // Raw from the start: no echo of what the module writes before the scanner opens.
    termios t{};
    if (::tcgetattr(slave, &t) == 0) {
        ::cfmakeraw(&t);
        (void)::tcsetattr(slave, TCSANOW, &t);
    }
    (void)::fcntl(master, F_SETFD, FD_CLOEXEC);
    (void)::fcntl(slave, F_SETFD, FD_CLOEXEC);
    master_ = master;
    keep_ = slave;
    path_ = name.data();
    return 0;
}

int PseudoTerminal::take_module_side() {
    return std::exchange(master_, -1);
}

// The registry calls answer with a code; here it becomes errno.
int map_port_name(std::string_view port_name, const std::string& device_path) {
    platform::RegistryKey key;
    int rc = platform::RegistryKey::create(platform::RegistryHive::machine, platform::kSerialPortsKey,
                                           platform::kKeyAllAccess, key);
    if (rc == 0) rc = key.set_string(port_name, device_path);
    return rc == 0 ? 0 : platform::fail(rc);
}

int unmap_port_name(std::string_view port_name) {
    platform::RegistryKey key;
    int rc = platform::RegistryKey::open(platform::RegistryHive::machine, platform::kSerialPortsKey,
                                         platform::kKeyAllAccess, key);
    if (rc == 0) rc = key.delete_value(port_name);
    return rc == 0 ? 0 : platform::fail(rc);
}

}  // namespace sim_controller
