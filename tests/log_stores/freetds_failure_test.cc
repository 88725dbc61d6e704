// SQL Server through FreeTDS: nothing serves it here, so only its failure path runs, against
// a loopback port that nothing listens on.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "log_stores/db_access/log_db_data_acc.h"
#include "platform/ado/text_codec.h"
#include "platform/last_error.h"

namespace {

// A port that was free a moment ago and has no listener.
int closed_port() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return -1;
    ::close(fd);
    return ntohs(a.sin_port);
}

TEST(FreeTdsFailure, OpenConnectionFailsWithItsCodeAndTheDriversTextInTime) {
    setenv("QUORVANE_DB_TIMEOUT", "3", 1);
    const int port = closed_port();
    ASSERT_GT(port, 0);
    const std::string cs = "Provider=SQLOLEDB.1;Data Source=127.0.0.1," + std::to_string(port) +
                           ";Initial Catalog=Logs;User ID=sa;Password=not-shown";
    CLogDbDataAcc acc;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(static_cast<uint32_t>(acc.OpenConnection(ado::utf16_from_utf8(cs), u"", 0)), 0x80040207u);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(3 + 5)) << "bounded by the shortened time-out";
    const std::string text = acc.GetLastErrorText();
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(text.find("not-shown"), std::string::npos) << text;
    EXPECT_EQ(platform::last_error(), 0) << "a connection failure is 0x80004005";
    EXPECT_EQ(acc.GetConnectionState(), 0);
}

TEST(FreeTdsFailure, IntegratedSecurityIsRefusedWithAClearText) {
    CLogDbDataAcc acc;
    EXPECT_EQ(static_cast<uint32_t>(
                  acc.OpenConnection(u"Provider=SQLOLEDB;Data Source=127.0.0.2;Integrated Security=SSPI", u"", 0)),
              0x80040207u);
    EXPECT_NE(std::string(acc.GetLastErrorText()).find("integrated security"), std::string::npos);
}

}  // namespace
