#pragma once
// Port names as the configuration holds them ("COM3") and the devices behind them. The
// machine hive's key SOFTWARE\Brevantic\Quorvane\SerialPorts maps a name to a device path
// (value "COM3" = "/dev/ttyUSB0"); without an entry "COMn" is /dev/ttyS(n-1).
#include <cstddef>
#include <filesystem>
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

}  // namespace platform
