#include "platform/serial_port_names.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <optional>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "platform/registry_key.h"

namespace platform {
namespace {

constexpr unsigned kMaxComNumber = 999;  // "COM999" still fits the field

// n of "COMn" (any case), without leading zeros.
std::optional<unsigned> com_number(std::string_view name) {
    if (name.size() < 4 || !starts_with_ignoring_case(name, "COM")) return std::nullopt;
    std::string_view digits = name.substr(3);
    if (digits.front() == '0') return std::nullopt;
    unsigned n = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec != std::errc() || end != digits.data() + digits.size() || n < 1 || n > kMaxComNumber)
        return std::nullopt;
    return n;
}

// k of "ttySk".
std::optional<unsigned> tty_s_number(std::string_view name) {
    if (name.size() < 5 || name.substr(0, 4) != "ttyS") return std::nullopt;
    std::string_view digits = name.substr(4);
    if (digits.size() > 1 && digits.front() == '0') return std::nullopt;
    unsigned n = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec != std::errc() || end != digits.data() + digits.size() || n >= kMaxComNumber) return std::nullopt;
    return n;
}

// The driver writes port type 0 for a ttyS line with no UART behind it.
bool has_uart(const std::filesystem::path& tty_folder) {
    std::ifstream in(tty_folder / "type");
    std::string type;
    if (!(in >> type)) return true;  // no type attribute: trust the device link
    return type != "0";
}

int map_error(int registry_code) {
    return registry_code == kErrorAccessDenied ? EACCES : EIO;
}

bool before(const std::string& a, const std::string& b) {
    auto na = com_number(a);
    auto nb = com_number(b);
    if (na && nb) return *na < *nb;
    if (na || nb) return na.has_value();
    return a < b;
}

}  // namespace

int serial_device_path(std::string_view port_name, std::string& device_path) {
    device_path.clear();
    if (port_name.empty() || !registry_value_name_valid(port_name)) return fail(EINVAL);
    RegistryKey map;
    int rc = RegistryKey::open(RegistryHive::machine, kSerialPortsKey, kKeyQueryValue, map);
    if (rc == 0) {
        std::string mapped;
        rc = map.query_string(port_name, mapped);
        if (rc == 0) {
            // Relative paths would depend on the current folder.
            if (mapped.empty() || mapped.front() != '/') return fail(EINVAL);
            device_path = std::move(mapped);
            return 0;
        }
        if (rc == kErrorUnsupportedType) return fail(EINVAL);
    }
    // An unreadable map must not send the line to some other device.
    if (rc != 0 && rc != kErrorFileNotFound) return fail(map_error(rc));
    if (auto n = com_number(port_name)) {
        device_path = "/dev/ttyS" + std::to_string(*n - 1);
        return 0;
    }
    return fail(ENOENT);
}

std::vector<std::string> serial_port_names(const std::filesystem::path& tty_class_folder) {
    std::vector<std::string> names;
    auto add = [&](std::string name) {
        if (name.empty() || name.size() > kSerialPortNameMax) return;
        bool known = std::any_of(names.begin(), names.end(),
                                 [&](const auto& n) { return registry_names_equal(n, name); });
        if (!known) names.push_back(std::move(name));
    };
    RegistryKey map;
    if (RegistryKey::open(RegistryHive::machine, kSerialPortsKey, kKeyQueryValue, map) == 0) {
        std::vector<RegistryValue> values;
        if (map.values(values) == 0) {
            for (auto& value : values) {
                if (value.type == kRegSz && !value.data.empty() && value.data.front() == '/') add(value.name);
            }
        }
    }
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(tty_class_folder, ec)) {
        const std::string tty = entry.path().filename().string();
        auto k = tty_s_number(tty);
        if (!k) continue;
        std::error_code link_ec;
        if (!std::filesystem::exists(entry.path() / "device", link_ec) || !has_uart(entry.path())) continue;
        add("COM" + std::to_string(*k + 1));
    }
    std::sort(names.begin(), names.end(), before);
    return names;
}

}  // namespace platform
