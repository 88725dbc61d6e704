#pragma once
// The line between the scanner and the module stand-in: a pseudo-terminal whose master side
// the module holds, and whose other side the scanner opens by a "COMn" name mapped to it.
#include <string>
#include <string_view>

namespace sim_controller {

class PseudoTerminal {
  public:
    PseudoTerminal() = default;
    ~PseudoTerminal();
    PseudoTerminal(PseudoTerminal&& other) noexcept;
    PseudoTerminal& operator=(PseudoTerminal&& other) noexcept;
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    // Opens a raw pair. Its other side stays open here as well, so the module's side does
    // not hang up while no scanner has the port open. 0, or -1 with errno.
    int open();
    // Hands the module's side over (for InterfaceModule::start); -1 when already taken.
    int take_module_side();
    // The device the scanner opens, e.g. "/dev/pts/5".
    const std::string& device_path() const { return path_; }

  private:
    void close_all();

    int master_ = -1;
    int keep_ = -1;
    std::string path_;
};

// Maps a port name to a device in the machine hive's serial-port map. 0, or -1 with errno.
int map_port_name(std::string_view port_name, const std::string& device_path);
int unmap_port_name(std::string_view port_name);

}  // namespace sim_controller
