#pragma once
// Port names as the configuration holds them ("COM3") and the devices behind them. The
// machine hive's key SOFTWARE\Brevantic\Quorvane\SerialPorts maps a name to a device path
// (value "COM3" = "/dev/ttyUSB0"); without an entry "COMn" is /dev/ttyS(n-1).
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

inline constexpr const char* kSerialPortsKey = "SOFTWARE\\Brevantic\\Quorvane\\SerialPorts";
// The configuration's port field holds at most this many characters.
inline constexpr size_t kSerialPortNameMax = 6;

// The device path of a port name. Returns 0, or -1 with errno: EINVAL for an empty or
// unusable name or a map entry that is not an absolute path held as text, ENOENT for a
// name that is neither mapped nor "COMn", EACCES when the map cannot be read.
int serial_device_path(std::string_view port_name, std::string& device_path);

// The port names to offer for selection, in port order: every mapped name of at most six
// characters, and "COMn" for each ttyS(n-1) below `tty_class_folder` that has a device and
// a UART behind it. Devices of other kinds (USB adapters) are offered through map entries.
std::vector<std::string> serial_port_names(const std::filesystem::path& tty_class_folder = "/sys/class/tty");

// Where the machine's serial devices are looked for.
struct SerialListingFolders {
    std::filesystem::path tty_class = "/sys/class/tty";  // ttyS lines and their UART type
    std::filesystem::path devices = "/dev";              // ttyUSB* and ttyACM* adapters
    std::filesystem::path by_id = "/dev/serial/by-id";   // their stable names
};
// Test hook: the folders serial_devices() reads; none restores the machine's own.
void set_serial_listing_folders(std::optional<SerialListingFolders> folders);

// One serial device of the machine.
struct SerialDevice {
    std::string device;     // the device node, e.g. "/dev/ttyUSB0"
    std::string by_id;      // its stable name below the by-id folder, or empty
    std::string port_name;  // "COM3" when a map entry or a built-in line names it, else empty
    bool built_in = false;  // a ttyS line with a UART, named COMn without a map entry

    // What a map entry for it names: the stable name, since ttyUSB numbers change between
    // boots.
    const std::string& map_path() const { return by_id.empty() ? device : by_id; }
};

// Every serial device of the machine: the ttyS lines with a UART, every ttyUSB and ttyACM
// adapter with its by-id name where it has one, and every mapped name of at most six
// characters (also when its device is absent now). Named ones first in port order, then
// the unnamed ones by device.
std::vector<SerialDevice> serial_devices();

// The name a new map entry gets: "COMn" with the first n above every built-in line's, every
// named device's and every `also_taken` name's number that the map does not hold; empty when
// none fits the field.
std::string next_free_port_name(const std::vector<SerialDevice>& devices,
                                const std::vector<std::string>& also_taken = {});

// Adds the map entry `port_name` = `device_path` to the machine's settings. Returns 0, or
// -1 with errno: EINVAL for a name that is not "COMn" or a path that is not absolute,
// EEXIST when the name is mapped already, EACCES when the machine's settings may not be
// written, EIO for another failure.
int add_serial_port_mapping(std::string_view port_name, std::string_view device_path);

// The entry as an administrator adds it to the machine's settings file: the key line and
// the value line.
std::string serial_port_mapping_text(std::string_view port_name, std::string_view device_path);

}  // namespace platform
