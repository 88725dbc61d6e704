#include "platform/serial_port_names.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fstream>
#include <mutex>
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

namespace {

std::mutex g_folders_mutex;
std::optional<SerialListingFolders> g_folders;

SerialListingFolders listing_folders() {
    std::lock_guard lock(g_folders_mutex);
    return g_folders.value_or(SerialListingFolders{});
}

bool adapter_name(std::string_view name) {
    const auto numbered = [&](std::string_view prefix) {
        if (!name.starts_with(prefix) || name.size() == prefix.size()) return false;
        return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                           [](char c) { return c >= '0' && c <= '9'; });
    };
    return numbered("ttyUSB") || numbered("ttyACM");
}

// The device a path finally names; the path itself when it cannot be resolved.
std::string resolved(const std::filesystem::path& path) {
    std::error_code ec;
    const auto canonical = std::filesystem::canonical(path, ec);
    return ec ? path.string() : canonical.string();
}

struct MapEntry {
    std::string name;
    std::string path;
};

std::vector<MapEntry> map_entries() {
    std::vector<MapEntry> entries;
    RegistryKey map;
    if (RegistryKey::open(RegistryHive::machine, kSerialPortsKey, kKeyQueryValue, map) != 0) return entries;
    std::vector<RegistryValue> values;
    if (map.values(values) != 0) return entries;
    for (auto& v : values) {
        if (v.type != kRegSz || v.data.empty() || v.data.front() != '/') continue;
        if (v.name.empty() || v.name.size() > kSerialPortNameMax) continue;
        entries.push_back({v.name, std::string(v.data.begin(), v.data.end())});
    }
    return entries;
}

void add_built_in_lines(const std::filesystem::path& tty_class, const std::filesystem::path& dev,
                        std::vector<SerialDevice>& devices) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(tty_class, ec)) {
        const std::string tty = entry.path().filename().string();
        const auto k = tty_s_number(tty);
        if (!k) continue;
        std::error_code link_ec;
        if (!std::filesystem::exists(entry.path() / "device", link_ec) || !has_uart(entry.path())) continue;
        SerialDevice d;
        d.device = (dev / tty).string();
        d.port_name = "COM" + std::to_string(*k + 1);
        d.built_in = true;
        devices.push_back(std::move(d));
    }
}

void add_adapters(const std::filesystem::path& dev, std::vector<SerialDevice>& devices) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dev, ec)) {
        if (!adapter_name(entry.path().filename().string())) continue;
        SerialDevice d;
        d.device = entry.path().string();
        devices.push_back(std::move(d));
    }
}

void add_stable_names(const std::filesystem::path& by_id, std::vector<SerialDevice>& devices) {
    std::error_code ec;
    std::vector<std::filesystem::path> names;
    for (const auto& entry : std::filesystem::directory_iterator(by_id, ec)) names.push_back(entry.path());
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        const std::string target = resolved(name);
        for (auto& d : devices) {
            if (d.by_id.empty() && resolved(d.device) == target) {
                d.by_id = name.string();
                break;
            }
        }
    }
}

// A map entry names the device whose node or stable name it holds, or that it resolves to;
// an entry for a device that is not there now is offered by its name alone.
void apply_map(const std::vector<MapEntry>& entries, std::vector<SerialDevice>& devices) {
    for (const auto& e : entries) {
        for (auto& d : devices) {
            if (d.built_in && registry_names_equal(d.port_name, e.name)) {
                d.port_name.clear();  // the entry takes the name to another device
                d.built_in = false;
            }
        }
        const std::string target = resolved(e.path);
        auto it = std::find_if(devices.begin(), devices.end(), [&](const SerialDevice& d) {
            return d.port_name.empty() &&
                   (d.device == e.path || d.by_id == e.path || resolved(d.device) == target);
        });
        if (it != devices.end()) {
            it->port_name = e.name;
        } else {
            SerialDevice d;
            d.device = e.path;
            d.port_name = e.name;
            devices.push_back(std::move(d));
        }
    }
}

std::string escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

void set_serial_listing_folders(std::optional<SerialListingFolders> folders) {
    std::lock_guard lock(g_folders_mutex);
    g_folders = std::move(folders);
}

std::vector<SerialDevice> serial_devices() {
    const SerialListingFolders folders = listing_folders();
    std::vector<SerialDevice> devices;
    add_built_in_lines(folders.tty_class, folders.devices, devices);
    add_adapters(folders.devices, devices);
    add_stable_names(folders.by_id, devices);
    apply_map(map_entries(), devices);
    std::stable_sort(devices.begin(), devices.end(), [](const SerialDevice& a, const SerialDevice& b) {
        if (a.port_name.empty() != b.port_name.empty()) return !a.port_name.empty();
        if (!a.port_name.empty()) return before(a.port_name, b.port_name);
        return a.device < b.device;
    });
    return devices;
}

std::string next_free_port_name(const std::vector<SerialDevice>& devices,
                                const std::vector<std::string>& also_taken) {
    unsigned highest = 0;
    for (const auto& d : devices) {
        if (const auto n = com_number(d.port_name)) highest = std::max(highest, *n);
    }
    for (const auto& name : also_taken) {
        if (const auto n = com_number(name)) highest = std::max(highest, *n);
    }
    const std::vector<MapEntry> entries = map_entries();
    for (unsigned n = highest + 1; n <= kMaxComNumber; ++n) {
        const std::string name = "COM" + std::to_string(n);
        const bool mapped = std::any_of(entries.begin(), entries.end(), [&](const MapEntry& e) {
            return registry_names_equal(e.name, name);
        });
        if (!mapped) return name;
    }
    return {};
}

int add_serial_port_mapping(std::string_view port_name, std::string_view device_path) {
    if (!com_number(port_name) || device_path.empty() || device_path.front() != '/') return fail(EINVAL);
    RegistryKey map;
    int rc = RegistryKey::create(RegistryHive::machine, kSerialPortsKey, kKeyQueryValue | kKeySetValue, map);
    if (rc != 0) return fail(map_error(rc));
    std::string existing;
    if (map.query_string(port_name, existing) == 0) return fail(EEXIST);
    rc = map.set_string(port_name, device_path);
    if (rc != 0) return fail(map_error(rc));
    return 0;
}

std::string serial_port_mapping_text(std::string_view port_name, std::string_view device_path) {
    return "[" + std::string(kSerialPortsKey) + "]\n\"" + escaped(port_name) + "\"=\"" +
           escaped(device_path) + "\"\n";
}

}  // namespace platform
