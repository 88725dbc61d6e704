#pragma once
// A serial port: opened exclusively, raw 8N1 with no flow control, non-blocking I/O driven
// by poll. Each read or write call waits at most the call bound (1000 ms, the time-out the
// port has always had); budgets over several calls are checked after each call, so a call
// is made at least once even when the budget is already spent.
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform {

inline constexpr std::chrono::milliseconds kSerialDefaultCallBound{1000};

// The longest one read or write call waits (1000 ms unless a test shortens it).
std::chrono::milliseconds serial_call_bound();

// The baud rates a port can be set to (300 to 230400).
std::span<const uint32_t> serial_baud_rates();
bool serial_baud_supported(uint32_t baud);

class SerialPort {
  public:
    SerialPort() = default;
    ~SerialPort();
    SerialPort(SerialPort&& other) noexcept;
    SerialPort& operator=(SerialPort&& other) noexcept;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens a port by name ("COM3", see serial_port_names.h), purges the transmit and then
    // the receive queue, and sets the line to `baud`, 8 data bits, no parity, 1 stop bit, no
    // flow control, DTR and RTS on where the device has them. Returns 0, or -1 with errno:
    // ENOENT (no such port or device), EBUSY (open elsewhere), EINVAL (bad name, map entry
    // or baud rate), ENOTTY (not a serial device), or what the system reports.
    int open(std::string_view port_name, uint32_t baud);
    // The same for a device path.
    int open_device(const std::string& device_path, uint32_t baud);
    void close();

    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& device_path() const { return device_path_; }

    // Changes the line speed; EINVAL for a rate not in the table. 0 or -1.
    int set_baud_rate(uint32_t baud);
    // Drops what waits in the transmit and the receive queue. 0 or -1.
    int purge();

    // One call: waits up to the call bound until bytes can be written (or have arrived),
    // then transfers what it can at once. Returns the count (0 when the wait ran out), or -1
    // with errno; a hang-up (device unplugged, other end of a pseudo-terminal closed) is EIO.
    ssize_t write_some(std::span<const uint8_t> bytes);
    ssize_t read_some(std::span<uint8_t> buffer);

    // Repeats calls until every byte is transferred or `budget` has passed since the start,
    // checking after each call. Returns the count transferred (the caller compares it with
    // the size), or -1 with errno when a call fails.
    ssize_t timed_write(std::span<const uint8_t> bytes, std::chrono::milliseconds budget);
    ssize_t timed_read(std::span<uint8_t> buffer, std::chrono::milliseconds budget);

  private:
    int fd_ = -1;
    std::string device_path_;
};

}  // namespace platform
