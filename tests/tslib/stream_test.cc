#include "tslib/stream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>

#include "support/temp_dir.h"

namespace {

TEST(GrowingFormatter, TextsOfAnyLengthAreFormattedWhole) {
    for (const std::size_t length : {std::size_t{0}, std::size_t{998}, std::size_t{999}, std::size_t{1000},
                                     std::size_t{14999}, std::size_t{20000}, std::size_t{1} << 20}) {
        const std::string text(length, 'z');
        char* out = nullptr;
        ASSERT_EQ(stream_print_new_text(&out, "%s", text.c_str()), static_cast<int>(length));
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(std::string(out), text);
        std::free(out);
    }
}

TEST(GrowingFormatter, FormattingErrorGivesMinusOneAndNoText) {
    char* out = reinterpret_cast<char*>(1);
    // A wide string that cannot be converted in the C locale.
    const wchar_t bad[] = {static_cast<wchar_t>(0xD800), 0};
    EXPECT_EQ(stream_print_new_text(&out, "%ls", bad), -1);
    EXPECT_EQ(out, nullptr);
}

// A connected loopback TCP pair.
struct SocketPair {
    int client = -1;
    int server = -1;
    SocketPair() {
        const int listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(listener, 1) != 0 ||
            getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            close(listener);
            return;
        }
        client = socket(AF_INET, SOCK_STREAM, 0);
        if (connect(client, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
            server = accept(listener, nullptr, nullptr);
        }
        close(listener);
    }
    ~SocketPair() {
        if (client >= 0) close(client);
        if (server >= 0) close(server);
    }
    // Closes the server end with a reset instead of an orderly shutdown.
    void reset_server() {
        linger lg{1, 0};
        setsockopt(server, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        close(server);
        server = -1;
    }
};

TEST(DescriptorHelpers, SocketReadAndWrite) {
    SocketPair pair;
    ASSERT_GE(pair.server, 0);
    ASSERT_EQ(stream_fd_write(pair.client, "ping", 4), 4);
    char buf[8] = {};
    ASSERT_EQ(stream_fd_read(pair.server, buf, sizeof buf), 4);
    EXPECT_STREQ(buf, "ping");
}

TEST(DescriptorHelpers, ConnectionResetByThePeerReadsAsEndOfFile) {
    SocketPair pair;
    ASSERT_GE(pair.server, 0);
    pair.reset_server();
    char buf[8];
    EXPECT_EQ(stream_fd_read(pair.client, buf, sizeof buf), 0);
}

TEST(DescriptorHelpers, WritingToAClosedPeerFailsInsteadOfRaisingSigpipe) {
    SocketPair pair;
    ASSERT_GE(pair.server, 0);
    pair.reset_server();
    const std::string chunk(4096, 'w');
    ssize_t r = 0;
    for (int i = 0; i < 100 && r >= 0; ++i) r = stream_fd_write(pair.client, chunk.data(), chunk.size());
    EXPECT_EQ(r, -1);
    EXPECT_TRUE(errno == EPIPE || errno == ECONNRESET) << errno;
}

TEST(DescriptorHelpers, FilesReadWriteTruncateAndClose) {
    qvr_test::TempDir dir;
    const std::string path = dir.path() / "data.bin";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    const std::string bytes(100, 'b');
    ASSERT_EQ(stream_fd_write(fd, bytes.data(), bytes.size()), 100);
    ASSERT_EQ(lseek(fd, 50, SEEK_SET), 50);
    ASSERT_EQ(stream_fd_truncate(fd, 10), 0);
    struct stat st {};
    ASSERT_EQ(fstat(fd, &st), 0);
    EXPECT_EQ(st.st_size, 10);
    EXPECT_EQ(lseek(fd, 0, SEEK_CUR), 50) << "the position stays";
    ASSERT_EQ(lseek(fd, 0, SEEK_SET), 0);
    char buf[32];
    EXPECT_EQ(stream_fd_read(fd, buf, sizeof buf), 10);
    EXPECT_EQ(stream_fd_close(fd), 0);
    errno = 0;
    EXPECT_EQ(stream_fd_close(fd), -1);
    EXPECT_EQ(errno, EBADF);
}

}  // namespace
