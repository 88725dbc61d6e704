// The qvr_controller tool as a process: it maps the port name to its pseudo-terminal,
// answers on it, and removes the mapping when it is stopped.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <sys/stat.h>

#include <sstream>

#include "controller/frame_codec.h"
#include "platform/serial_port_names.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

TEST(ControllerTool, MapsThePortAnswersAndUnmapsOnStop) {
    auto child =
        qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_controller"), {"--port", "COM8"}, {}, true);
    const std::string out = child.read_stdout(20s, "\n");
    std::istringstream first(out.substr(0, out.find('\n')));
    std::string port, device;
    first >> port >> device;
    ASSERT_EQ(port, "COM8") << out;
    std::string mapped;
    ASSERT_EQ(platform::serial_device_path("COM8", mapped), 0);
    EXPECT_EQ(mapped, device);

    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const std::vector<uint8_t> frame = sim_controller::frame_bytes(
        std::vector<uint8_t>{0x01, 0x00, 0x0F, 0x00, 0x56, 0x00, 0xA2, 0x52, 0x07, 0x89, 0x00, 0x00});
    ASSERT_EQ(::write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    uint8_t answer[2] = {};
    size_t got = 0;
    pollfd p{fd, POLLIN, 0};
    while (got < 2 && ::poll(&p, 1, 10000) > 0) {
        const ssize_t n = ::read(fd, answer + got, 2 - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    EXPECT_EQ(got, 2u);
    EXPECT_EQ(answer[0], sim_controller::kDle);
    EXPECT_EQ(answer[1], sim_controller::kAck);
    EXPECT_NE(child.read_stdout(10s, "no station 1").find("in  frame DST=01"), std::string::npos);
    ::close(fd);

    child.kill(SIGTERM);
    EXPECT_EQ(child.wait_exit_code(20s), 0);
    ASSERT_EQ(platform::serial_device_path("COM8", mapped), 0);
    EXPECT_EQ(mapped, "/dev/ttyS7");
}

TEST(ControllerTool, StationsFromOptionsAnswerAndCommandsSetAndReadValues) {
    qvr_test::TempDir dir;
    const std::string fifo = (dir / "commands").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    auto child =
        qvr_test::ChildProcess::spawn(qvr_test::bin_path("qvr_controller"),
                                      {"--port", "COM9", "--module-address", "7", "--station", "1:0x4E",
                                       "--file", "N7:10", "--set", "N7:0=5", "--commands", fifo},
                                      {}, true);
    const std::string out = child.read_stdout(20s, "\n");
    std::istringstream first(out.substr(0, out.find('\n')));
    std::string port, device;
    first >> port >> device;
    ASSERT_EQ(port, "COM9") << out;

    const int commands = ::open(fifo.c_str(), O_WRONLY);
    ASSERT_GE(commands, 0);
    const std::string lines = "get 1 N7:0\nset 1 N7:1 -3\nget 1 N7:1\nget 1 N7:10\n";
    ASSERT_EQ(::write(commands, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
    const std::string answers = child.read_stdout(20s, "! no value at N7:10");
    EXPECT_NE(answers.find("= S1 N7:0 5\n"), std::string::npos) << answers;
    EXPECT_NE(answers.find("= S1 N7:1 -3\n"), std::string::npos) << answers;

    // A typed read of N7:0 over the line: answered, and logged decoded.
    const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const std::vector<uint8_t> frame = sim_controller::frame_bytes(
        std::vector<uint8_t>{0x01, 0x00, 0x0F, 0x00, 0x56, 0x00, 0xA2, 0x02, 0x07, 0x89, 0x00, 0x00});
    ASSERT_EQ(::write(fd, frame.data(), frame.size()), static_cast<ssize_t>(frame.size()));
    const std::string log = child.read_stdout(20s, "-> STS 00");
    EXPECT_NE(log.find("cmd S1 0F/A2 file 7 element 0 size 2 data 05 00 -> STS 00"), std::string::npos)
        << log;
    ::close(fd);
    ::close(commands);

    child.kill(SIGTERM);
    EXPECT_EQ(child.wait_exit_code(20s), 0);
}

}  // namespace
