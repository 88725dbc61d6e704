#include "platform/event_log.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/testing/event_log_testing.h"
#include "support/test_env.h"

TEST(EventLog, EntriesAreOneDatagramEachWithSourceAndEventNumber) {
    const std::string path = qvr_test::test_root() + "/log.sock";
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string previous = platform::set_event_log_socket(path);

    ASSERT_EQ(platform::event_log_report("My Product:x", platform::kEventInformation, 102, "one\ntwo\r\n"),
              0);
    ASSERT_EQ(platform::event_log_report("P", 16, 7, std::string(20000, 'z')), 0);
    char buffer[30000];
    ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    std::string entry(buffer, static_cast<size_t>(n));
    EXPECT_EQ(entry.substr(0, 4), "<14>");
    EXPECT_NE(entry.find(" My_Product_x[" + std::to_string(::getpid()) + "]: [102] one\ntwo"),
              std::string::npos)
        << entry;
    EXPECT_NE(entry.back(), '\n');
    n = ::recv(fd, buffer, sizeof buffer, 0);
    entry.assign(buffer, static_cast<size_t>(n));
    EXPECT_EQ(entry.substr(0, 4), "<13>");
    EXPECT_LT(entry.size(), 8100u) << "long messages are cut";

    ::close(fd);
    ::unlink(path.c_str());
    EXPECT_EQ(platform::event_log_report("P", 1, 102, "nobody listens"), -1);
    EXPECT_TRUE(errno == ENOENT || errno == ECONNREFUSED);
    platform::set_event_log_socket(previous);
}

TEST(EventLog, OnlyThisComputerIsLocal) {
    char host[256] = {};
    ASSERT_EQ(::gethostname(host, sizeof host - 1), 0);
    for (std::string name : {std::string(), std::string("."), std::string("LocalHost"), std::string(host),
                             "\\\\" + std::string(host)})
        EXPECT_TRUE(platform::event_log_is_local(name)) << name;
    EXPECT_FALSE(platform::event_log_is_local("elsewhere"));
    EXPECT_FALSE(platform::event_log_is_local("\\\\elsewhere"));
}
