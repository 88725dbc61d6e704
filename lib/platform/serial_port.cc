#include "platform/serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/last_error.h"
#include "platform/serial_port_names.h"
#include "platform/testing/serial_port_testing.h"

namespace platform {
namespace {

struct BaudEntry {
    uint32_t rate;
    speed_t code;
};

constexpr std::array<BaudEntry, 12> kBaudTable = {{{300, B300},
                                                   {600, B600},
                                                   {1200, B1200},
                                                   {1800, B1800},
                                                   {2400, B2400},
                                                   {4800, B4800},
                                                   {9600, B9600},
                                                   {19200, B19200},
                                                   {38400, B38400},
                                                   {57600, B57600},
                                                   {115200, B115200},
                                                   {230400, B230400}}};

constexpr std::array<uint32_t, kBaudTable.size()> kBaudRates = [] {
    std::array<uint32_t, kBaudTable.size()> rates{};
    for (size_t i = 0; i < kBaudTable.size(); ++i) rates[i] = kBaudTable[i].rate;
    return rates;
}();

std::optional<speed_t> speed_code(uint32_t baud) {
    for (const auto& entry : kBaudTable) {
        if (entry.rate == baud) return entry.code;
    }
    return std::nullopt;
}

long long clamp_bound(long long ms) {
    return std::clamp<long long>(ms, 1, kSerialDefaultCallBound.count());
}

std::atomic<long long> g_bound_ms{kSerialDefaultCallBound.count()};

// Waits up to the call bound for `events`; returns the revents (0 when the wait ran out)
// or -1 with errno.
int wait_for(int fd, short events) {
    const auto deadline = std::chrono::steady_clock::now() + serial_call_bound();
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, events, 0};
        int rc = ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (rc > 0) return p.revents;
        if (rc == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

using Clock = std::chrono::steady_clock;

template <typename Call>
ssize_t within_budget(size_t total, std::chrono::milliseconds budget, Call&& call) {
    const auto start = Clock::now();
    size_t done = 0;
    do {
        ssize_t n = call(done);
        if (n < 0) return -1;
        done += static_cast<size_t>(n);
    } while (done < total && Clock::now() - start < budget);
    return static_cast<ssize_t>(done);
}

}  // namespace

std::chrono::milliseconds serial_call_bound() {
    return std::chrono::milliseconds(g_bound_ms.load());
}

void set_serial_call_bound(std::chrono::milliseconds bound) {
    g_bound_ms.store(clamp_bound(bound.count()));
}

std::span<const uint32_t> serial_baud_rates() {
    return kBaudRates;
}

bool serial_baud_supported(uint32_t baud) {
    return speed_code(baud).has_value();
}

SerialPort::~SerialPort() {
    close();
}

SerialPort::SerialPort(SerialPort&& other) noexcept {
    *this = std::move(other);
}

SerialPort& SerialPort::operator=(SerialPort&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        device_path_ = std::move(other.device_path_);
    }
    return *this;
}

int SerialPort::open(std::string_view port_name, uint32_t baud) {
    std::string path;
    if (serial_device_path(port_name, path) != 0) return -1;
    return open_device(path, baud);
}

int SerialPort::open_device(const std::string& device_path, uint32_t baud) {
    close();
    if (!serial_baud_supported(baud)) return fail(EINVAL);
    int fd = ::open(device_path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return fail_from_errno();
    termios probe{};
    if (::tcgetattr(fd, &probe) != 0) {
        ::close(fd);
        return fail(ENOTTY);
    }
    // flock holds even against root, which TIOCEXCL lets through.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return fail(error);
    }
    (void)::ioctl(fd, TIOCEXCL);
    fd_ = fd;
    device_path_ = device_path;
    if (purge() != 0 || set_baud_rate(baud) != 0) {
        int error = errno;
        close();
        return fail(error);
    }
    // Modem lines are absent on pseudo-terminals and some adapters: not an error.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd_, TIOCMBIS, &lines);
    return 0;
}

void SerialPort::close() {
    if (fd_ < 0) return;
    // The exclusive flag outlives our descriptor on some devices; give the port back.
    (void)::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
    device_path_.clear();
}

int SerialPort::set_baud_rate(uint32_t baud) {
    if (fd_ < 0) return fail(EBADF);
    const auto code = speed_code(baud);
    if (!code) return fail(EINVAL);
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return fail_from_errno();
    ::cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP | BRKINT | PARMRK);
    t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    t.c_cflag |= CS8 | CLOCAL | CREAD;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, *code) != 0 || ::cfsetospeed(&t, *code) != 0) return fail(EINVAL);
    if (::tcsetattr(fd_, TCSANOW, &t) != 0) return fail_from_errno();
    // tcsetattr succeeds when any part was applied: check the speed really took.
    termios now{};
    if (::tcgetattr(fd_, &now) != 0) return fail_from_errno();
    if (::cfgetospeed(&now) != *code || ::cfgetispeed(&now) != *code || (now.c_cflag & CSIZE) != CS8) {
        return fail(EINVAL);
    }
    return 0;
}

int SerialPort::purge() {
    if (fd_ < 0) return fail(EBADF);
    if (::tcflush(fd_, TCOFLUSH) != 0 || ::tcflush(fd_, TCIFLUSH) != 0) return fail_from_errno();
    return 0;
}

ssize_t SerialPort::write_some(std::span<const uint8_t> bytes) {
    if (fd_ < 0) return fail(EBADF);
    if (bytes.empty()) return 0;
    int revents = wait_for(fd_, POLLOUT);
    if (revents < 0) return fail_from_errno();
    if (revents == 0) return 0;
    if ((revents & POLLOUT) == 0) return fail(EIO);
    while (true) {
        ssize_t n = ::write(fd_, bytes.data(), bytes.size());
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return 0;
        return fail_from_errno();
    }
}

ssize_t SerialPort::read_some(std::span<uint8_t> buffer) {
    if (fd_ < 0) return fail(EBADF);
    if (buffer.empty()) return 0;
    int revents = wait_for(fd_, POLLIN);
    if (revents < 0) return fail_from_errno();
    if (revents == 0) return 0;
    while (true) {
        ssize_t n = ::read(fd_, buffer.data(), buffer.size());
        if (n > 0) return n;
        // Readable with nothing to read is the end of the line: the device went away.
        if (n == 0) return fail(EIO);
        if (errno == EINTR) continue;
        if (errno == EAGAIN) return (revents & (POLLHUP | POLLERR)) != 0 ? fail(EIO) : 0;
        return fail_from_errno();
    }
}

ssize_t SerialPort::timed_write(std::span<const uint8_t> bytes, std::chrono::milliseconds budget) {
    return within_budget(bytes.size(), budget, [&](size_t done) { return write_some(bytes.subspan(done)); });
}

ssize_t SerialPort::timed_read(std::span<uint8_t> buffer, std::chrono::milliseconds budget) {
    return within_budget(buffer.size(), budget, [&](size_t done) { return read_some(buffer.subspan(done)); });
}

}  // namespace platform
