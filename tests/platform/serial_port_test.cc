// The serial port over real pseudo-terminals: the test holds the controller's end (the
// master) and the port opens the other end by a mapped "COMn" name.
#include "platform/serial_port.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry_key.h"
#include "platform/serial_port_names.h"
#include "platform/testing/serial_port_testing.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using platform::SerialPort;

std::vector<uint8_t> bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

void map_port(const std::string& name, const std::string& device) {
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, platform::kSerialPortsKey,
                                            platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string(name, device), 0);
}

class PseudoTerminal : public testing::Test {
  protected:
    void SetUp() override {
        int slave = -1;
        std::array<char, 128> name{};
        ASSERT_EQ(openpty(&master_, &slave, name.data(), nullptr, nullptr), 0);
        ::close(slave);
        termios t{};
        ASSERT_EQ(tcgetattr(master_, &t), 0);
        cfmakeraw(&t);
        ASSERT_EQ(tcsetattr(master_, TCSANOW, &t), 0);
        slave_path_ = name.data();
        map_port("COM7", slave_path_);
    }
    void TearDown() override { close_master(); }

    void close_master() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }
    void master_write(std::string_view text) {
        ASSERT_EQ(::write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // Reads from the master until `count` bytes came (bounded against a hang).
    std::vector<uint8_t> master_read(size_t count) {
        std::vector<uint8_t> out;
        const auto give_up = std::chrono::steady_clock::now() + 30s;
        while (out.size() < count && std::chrono::steady_clock::now() < give_up) {
            pollfd p{master_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            uint8_t buffer[4096];
            ssize_t n = ::read(master_, buffer, std::min(sizeof buffer, count - out.size()));
            if (n <= 0) break;
            out.insert(out.end(), buffer, buffer + n);
        }
        return out;
    }
    std::vector<uint8_t> port_read(SerialPort& port, size_t count) {
        std::vector<uint8_t> out(count);
        ssize_t n = port.timed_read(out, 30s);
        out.resize(n < 0 ? 0 : static_cast<size_t>(n));
        return out;
    }

    int master_ = -1;
    std::string slave_path_;
};

TEST_F(PseudoTerminal, OpensAMappedNameAndCarriesBytesBothWays) {
    SerialPort port;
    ASSERT_EQ(port.open("COM7", 19200), 0) << std::strerror(errno);
    EXPECT_EQ(port.device_path(), slave_path_);

    // Every byte value passes untouched: no line editing, no CR/LF mapping, no XON/XOFF.
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
    master_write(all);
    EXPECT_EQ(port_read(port, all.size()), bytes(all));
    ASSERT_EQ(port.timed_write(bytes(all), 30s), 256);
    EXPECT_EQ(master_read(all.size()), bytes(all));

    // More than the kernel buffers at once, while the other end reads.
    std::vector<uint8_t> big(200'000);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>(i * 31 + 7);
    std::vector<uint8_t> received;
    std::thread reader([&] { received = master_read(big.size()); });
    EXPECT_EQ(port.timed_write(big, 30s), static_cast<ssize_t>(big.size()));
    reader.join();
    EXPECT_EQ(received, big);
}

TEST_F(PseudoTerminal, ReadReturnsWhatIsAvailable) {
    SerialPort port;
    ASSERT_EQ(port.open("COM7", 19200), 0);
    master_write("\x10\x06");
    std::vector<uint8_t> buffer(64);
    ssize_t got = 0;
    while (got < 2) {
        ssize_t n = port.read_some(std::span(buffer).subspan(static_cast<size_t>(got)));
        ASSERT_GE(n, 0);
        got += n;
    }
    EXPECT_EQ(got, 2);  // a small buffer of what came, not a wait for 64 bytes
    EXPECT_EQ(buffer[0], 0x10);
    EXPECT_EQ(buffer[1], 0x06);
}

TEST_F(PseudoTerminal, SetsARawEightNOneLineAtEveryRateOfTheTable) {
    SerialPort port;
    ASSERT_EQ(port.open("COM7", 300), 0);
    for (uint32_t rate : platform::serial_baud_rates()) {
        SCOPED_TRACE(rate);
        ASSERT_EQ(port.set_baud_rate(rate), 0);
        termios t{};
        ASSERT_EQ(tcgetattr(port.fd(), &t), 0);
        EXPECT_EQ(cfgetospeed(&t), cfgetispeed(&t));
        EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
        EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | INPCK | BRKINT), 0u);
        EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
        EXPECT_EQ(t.c_oflag & OPOST, 0u);
    }
    ASSERT_EQ(port.set_baud_rate(19200), 0);
    termios t{};
    ASSERT_EQ(tcgetattr(port.fd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B19200));
    EXPECT_THAT(
        std::vector<uint32_t>(platform::serial_baud_rates().begin(), platform::serial_baud_rates().end()),
        testing::IsSupersetOf({300u, 1200u, 9600u, 19200u, 38400u, 115200u, 230400u}));
}

TEST_F(PseudoTerminal, AnUnsupportedRateFailsTheSetUp) {
    for (uint32_t rate : {0u, 110u, 14400u, 56000u, 250000u, 460800u}) {
        SCOPED_TRACE(rate);
        SerialPort port;
        errno = 0;
        EXPECT_EQ(port.open("COM7", rate), -1);
        EXPECT_EQ(errno, EINVAL);
        EXPECT_FALSE(port.is_open());
    }
    SerialPort port;
    ASSERT_EQ(port.open("COM7", 9600), 0);
    EXPECT_EQ(port.set_baud_rate(14400), -1);
    EXPECT_EQ(errno, EINVAL);
    termios t{};
    ASSERT_EQ(tcgetattr(port.fd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));  // the line keeps its rate
}

TEST_F(PseudoTerminal, ASecondOpenIsRefusedUntilTheFirstCloses) {
    SerialPort first;
    ASSERT_EQ(first.open("COM7", 19200), 0);
    SerialPort second;
    EXPECT_EQ(second.open("COM7", 19200), -1);
    EXPECT_EQ(errno, EBUSY);
    EXPECT_EQ(second.open_device(slave_path_, 19200), -1);
    EXPECT_EQ(errno, EBUSY);
    first.close();
    EXPECT_EQ(second.open("COM7", 19200), 0) << std::strerror(errno);
}

TEST_F(PseudoTerminal, TheOtherEndClosedIsAnErrorNotAHang) {
    SerialPort port;
    ASSERT_EQ(port.open("COM7", 19200), 0);
    close_master();
    std::vector<uint8_t> buffer(16);
    errno = 0;
    EXPECT_EQ(port.read_some(buffer), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(port.timed_read(buffer, 10s), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(port.write_some(bytes("x")), -1);
    EXPECT_EQ(errno, EIO);
}

TEST_F(PseudoTerminal, AHangUpWakesAWaitingRead) {
    SerialPort port;
    ASSERT_EQ(port.open("COM7", 19200), 0);
    std::thread unplug([&] {
        std::this_thread::sleep_for(20ms);
        close_master();
    });
    std::vector<uint8_t> buffer(16);
    ssize_t n = 0;
    // Whether the read starts before or after the close, it ends with the error.
    while ((n = port.read_some(buffer)) == 0) {
    }
    unplug.join();
    EXPECT_EQ(n, -1);
    EXPECT_EQ(errno, EIO);
}

TEST_F(PseudoTerminal, OpeningAndPurgingDropWhatWaited) {
    master_write("stale before open");
    SerialPort port;
    ASSERT_EQ(port.open("COM7", 19200), 0);
    master_write("again stale");
    pollfd p{port.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 30000), 1);  // the bytes have reached the port's queue
    ASSERT_EQ(port.purge(), 0);
    master_write("fresh");
    EXPECT_EQ(port_read(port, 5), bytes("fresh"));
}

TEST_F(PseudoTerminal, EachCallWaitsAtMostTheBoundAndBudgetsAreCheckedAfterEachCall) {
    platform::set_serial_call_bound(5ms);
    EXPECT_EQ(platform::serial_call_bound(), 5ms);
    SerialPort port;
    ASSERT_EQ(port.open("COM7", 19200), 0);
    std::vector<uint8_t> buffer(4);
    EXPECT_EQ(port.read_some(buffer), 0);         // nothing came within the bound
    EXPECT_EQ(port.timed_read(buffer, 20ms), 0);  // nor within the budget
    master_write("ab");
    pollfd p{port.fd(), POLLIN, 0};
    ASSERT_EQ(poll(&p, 1, 30000), 1);
    EXPECT_EQ(port.timed_read(buffer, 0ms), 2);  // a spent budget still makes one call
    EXPECT_EQ(port.timed_read(buffer, -5ms), 0);

    // Nobody reads the other end: the output queue fills and writes time out, not block.
    std::vector<uint8_t> flood(1 << 20);
    ssize_t written = port.timed_write(flood, 50ms);
    EXPECT_GT(written, 0);
    EXPECT_LT(written, static_cast<ssize_t>(flood.size()));
    EXPECT_EQ(port.write_some(flood), 0);

    platform::set_serial_call_bound(0ms);
    EXPECT_EQ(platform::serial_call_bound(), 1ms);
    platform::set_serial_call_bound(5s);
    EXPECT_EQ(platform::serial_call_bound(), 1000ms);  // the hook only shortens
}

TEST(SerialPortNames, ResolveThroughTheMapElseTheStandardDevices) {
    map_port("COM2", "/dev/ttyUSB0");
    map_port("LINK1", "/dev/ttyACM0");
    map_port("REL", "ttyUSB1");
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, platform::kSerialPortsKey,
                                            platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_dword("NUM", 3), 0);

    struct Case {
        const char* name;
        int result;
        int error;
        const char* path;
    };
    const std::vector<Case> cases = {
        {"COM1", 0, 0, "/dev/ttyS0"},   {"com12", 0, 0, "/dev/ttyS11"}, {"COM999", 0, 0, "/dev/ttyS998"},
        {"COM2", 0, 0, "/dev/ttyUSB0"}, {"com2", 0, 0, "/dev/ttyUSB0"}, {"LINK1", 0, 0, "/dev/ttyACM0"},
        {"", -1, EINVAL, ""},           {"REL", -1, EINVAL, ""},        {"NUM", -1, EINVAL, ""},
        {"COM", -1, ENOENT, ""},        {"COM0", -1, ENOENT, ""},       {"COM01", -1, ENOENT, ""},
        {"COM1000", -1, ENOENT, ""},    {"COMx", -1, ENOENT, ""},       {"COM-1", -1, ENOENT, ""},
        {"LPT1", -1, ENOENT, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = "junk";
        errno = 0;
        EXPECT_EQ(platform::serial_device_path(c.name, path), c.result);
        if (c.result == 0) {
            EXPECT_EQ(path, c.path);
        } else {
            EXPECT_EQ(errno, c.error);
            EXPECT_EQ(path, "");
        }
    }
}

TEST(SerialPortNames, AnUnreadableMapNeverFallsBackToAnotherDevice) {
    // A damaged hive (here a folder where the file should be) may hold a mapping for COM1.
    std::filesystem::create_directories(platform::registry_hive_file(platform::RegistryHive::machine));
    std::string path;
    EXPECT_EQ(platform::serial_device_path("COM1", path), -1);
    EXPECT_EQ(errno, EIO);
    EXPECT_EQ(path, "");
}

TEST(SerialPortNames, OpeningWhatIsNoSerialDeviceFails) {
    qvr_test::TempDir dir;
    qvr_test::write_file(dir / "plain", "not a tty");
    map_port("COM3", (dir / "plain").string());
    map_port("COM4", (dir / "missing").string());
    SerialPort port;
    EXPECT_EQ(port.open("COM3", 19200), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(port.open("COM4", 19200), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(port.open("LPT1", 19200), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_FALSE(port.is_open());
    std::vector<uint8_t> buffer(1);
    EXPECT_EQ(port.read_some(buffer), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST(SerialPortNames, ListsMappedNamesAndTheMachinesSerialLines) {
    qvr_test::TempDir sys;
    auto line = [&](const std::string& tty, bool device, const char* type) {
        std::filesystem::create_directories(sys / tty);
        if (device) std::filesystem::create_directories(sys / tty / "device");
        if (type != nullptr) qvr_test::write_file(sys / tty / "type", std::string(type) + "\n");
    };
    line("ttyS0", true, "4");
    line("ttyS1", true, "0");  // a line with no UART behind it
    line("ttyS10", true, nullptr);
    line("ttyS2", false, "4");  // no device
    line("tty1", false, nullptr);
    line("ttyUSB0", true, nullptr);
    map_port("COM1", "/dev/ttyUSB0");  // the same name as ttyS0 gives: listed once
    map_port("COM20", "/dev/ttyACM0");
    map_port("LONGER7", "/dev/ttyACM1");  // cannot be held by the configuration
    map_port("Rel", "ttyACM2");           // unusable entry
    EXPECT_THAT(platform::serial_port_names(sys.path()), testing::ElementsAre("COM1", "COM11", "COM20"));
    EXPECT_THAT(platform::serial_port_names(sys / "absent"), testing::ElementsAre("COM1", "COM20"));
}

}  // namespace
