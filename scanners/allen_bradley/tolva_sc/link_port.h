#pragma once
// The byte transport under the link. The serial port is the real one; tests and the fuzz
// target put their own under the link, with their own clock.
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "platform/serial_port.h"

namespace tolva {

class LinkPort {
  public:
    virtual ~LinkPort() = default;
    // One bounded call each: the count transferred, 0 when the call's wait ran out, or -1
    // with errno.
    virtual ssize_t read_some(std::span<uint8_t> buffer) = 0;
    virtual ssize_t write_some(std::span<const uint8_t> bytes) = 0;
    // Monotonic microseconds, the clock of every budget.
    virtual int64_t now_us();
};

class SerialLinkPort final : public LinkPort {
  public:
    explicit SerialLinkPort(platform::SerialPort port) : port_(std::move(port)) {}
    ssize_t read_some(std::span<uint8_t> buffer) override { return port_.read_some(buffer); }
    ssize_t write_some(std::span<const uint8_t> bytes) override { return port_.write_some(bytes); }
    platform::SerialPort& port() { return port_; }

  private:
    platform::SerialPort port_;
};

}  // namespace tolva
