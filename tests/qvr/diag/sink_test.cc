#include "qvr/diag/sink.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/testing/event_log_testing.h"
#include "qvr/testing/sink_testing.h"
#include "support/temp_dir.h"
#include "support/test_env.h"

namespace {

// A log daemon's socket of our own.
class LogSocket {
  public:
    LogSocket() {
        path_ = qvr_test::test_root() + "/log.sock";
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof address.sun_path - 1);
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        previous_ = platform::set_event_log_socket(path_);
    }
    ~LogSocket() {
        platform::set_event_log_socket(previous_);
        ::close(fd_);
        ::unlink(path_.c_str());
    }
    // The next entry, or "" when none is waiting.
    std::string next() {
        char buffer[9000];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
    }

  private:
    std::string path_;
    std::string previous_;
    int fd_ = -1;
};

// True when `text` has the shape: '#' a digit, '?' any character, anything else itself.
bool has_shape(const std::string& text, const std::string& shape) {
    if (text.size() != shape.size()) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (shape[i] == '#' ? (text[i] < '0' || text[i] > '9') : shape[i] != '?' && shape[i] != text[i])
            return false;
    }
    return true;
}

}  // namespace

TEST(Sink, ACaptureTakesEveryReport) {
    std::vector<qvr::SinkEntry> entries;
    qvr::set_sink_capture([&](const qvr::SinkEntry& entry) { entries.push_back(entry); });
    sink_Report(".", 1, "LoadDeviceConfig: XML parse error");
    sink_Report(nullptr, 4, nullptr);
    qvr::set_sink_capture({});
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].server, ".");
    EXPECT_EQ(entries[0].source, "Quorvane");
    EXPECT_EQ(entries[0].type, 1);
    EXPECT_EQ(entries[0].event_id, 102u);
    EXPECT_EQ(entries[0].message, "LoadDeviceConfig: XML parse error");
    EXPECT_EQ(entries[1].server, ".");
    EXPECT_EQ(entries[1].message, "");
}

TEST(Sink, ReportsReachTheSystemLogUnderTheProductName) {
    LogSocket log;
    sink_Report(".", 1, "Disk full\r\n");
    const std::string pid = std::to_string(::getpid());
    const std::string entry = log.next();
    EXPECT_TRUE(has_shape(entry, "<11>??? ?# ##:##:## Quorvane[" + pid + "]: [102] Disk full")) << entry;
    sink_Report("\\\\localhost", 4, "started");
    EXPECT_NE(log.next().find("<14>"), std::string::npos);
    sink_Report(".", 2, "low");
    EXPECT_EQ(log.next().substr(0, 4), "<12>");
}

TEST(Sink, AnotherComputersLogIsOutOfReach) {
    LogSocket log;
    sink_Report("far-away-host", 1, "dropped");
    EXPECT_EQ(log.next(), "");
}

TEST(Sink, WithoutALogDaemonTheEntryGoesToTheProductLogFile) {
    qvr_test::TempDir root;
    const std::string previous = platform::set_event_log_socket(root.str() + "/no-daemon.sock");
    setenv("QVR_", (root.str() + "/").c_str(), 1);
    sink_Report(".", 1, "first");
    sink_Report(".", 4, "second\n");
    platform::set_event_log_socket(previous);
    const std::string text = qvr_test::read_file(root / "Quorvane.log");
    EXPECT_TRUE(has_shape(text, "##:##:## ##/##/## first\n##:##:## ##/##/## second\n")) << text;
}
