// The pipe socket against real sockets in the runtime folder: names, the frame form on the
// wire, and every error number a caller can see.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/ipc_names.h"
#include "platform/last_error.h"
#include "platform/pipe_socket.h"
#include "support/test_env.h"

namespace {

using platform::Deadline;
using platform::PipeAddress;
using platform::PipeConnection;
using platform::PipeListener;

std::span<const std::byte> bytes(const std::string& s) {
    return std::as_bytes(std::span(s.data(), s.size()));
}

struct NameCase {
    const char* name;
    int error;              // 0: valid
    const char* file_name;  // below the runtime folder, without the prefix
    bool this_machine;
};

class PipeNames : public testing::TestWithParam<NameCase> {};

TEST_P(PipeNames, MapToTheRuntimeFolderOrFailWithoutTouchingIt) {
    const NameCase& c = GetParam();
    PipeAddress address;
    const int rc = platform::pipe_address(c.name, address);
    if (c.error != 0) {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(platform::last_error(), c.error);
        EXPECT_EQ(errno, c.error);
        return;
    }
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(address.path, platform::mailslot_file(c.file_name));
    EXPECT_EQ(address.this_machine, c.this_machine);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PipeNames,
    testing::Values(NameCase{"\\\\.\\pipe\\quorvane", 0, ".\\pipe\\quorvane", true},
                    NameCase{"\\\\Plant2\\pipe\\quorvane", 0, "plant2\\pipe\\quorvane", false},
                    NameCase{"\\\\plant-2_a.site\\pipe\\quorvane", 0, "plant-2_a.site\\pipe\\quorvane", false},
                    NameCase{"\\\\..\\pipe\\quorvane", 53, "", false},
                    NameCase{"\\\\a/b\\pipe\\quorvane", 53, "", false},
                    NameCase{"\\\\a b\\pipe\\quorvane", 53, "", false},
                    NameCase{"\\\\\\pipe\\quorvane", 53, "", false},
                    NameCase{"\\\\plant2", 53, "", false},
                    NameCase{"\\\\plant2\\share\\x", 53, "", false},
                    NameCase{"\\\\plant2\\pipe\\", 53, "", false},
                    NameCase{"\\\\plant2\\pipe\\a/b", 53, "", false},
                    NameCase{"plant2\\pipe\\quorvane", 53, "", false}));

TEST(PipeNames, SixtyThreeCharacterMachineIsValidUnlessThePathGetsTooLong) {
    const std::string machine(63, 'm');
    PipeAddress address;
    const std::string name = "\\\\" + machine + "\\pipe\\quorvane";
    const int rc = platform::pipe_address(name, address);
    if (platform::mailslot_file(machine + "\\pipe\\quorvane").size() < 108) {
        EXPECT_EQ(rc, 0);
    } else {
        EXPECT_EQ(rc, -1);
        EXPECT_EQ(platform::last_error(), platform::kErrorFilenameTooLong);
    }
    EXPECT_EQ(platform::pipe_address("\\\\" + std::string(64, 'm') + "\\pipe\\quorvane", address), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorBadNetPath);
    EXPECT_EQ(platform::pipe_address("\\\\.\\pipe\\" + std::string(200, 'p'), address), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorFilenameTooLong);
}

// A listener that answers each request with the request reversed, on one thread.
class Echo {
  public:
    explicit Echo(PipeListener& listener) : thread_([&listener] {
        const int fd = listener.accept(5000);
        if (fd < 0) return;
        std::vector<std::byte> buffer(1 << 22);
        for (;;) {
            size_t n = 0;
            if (platform::pipe_read_frame(fd, buffer, n, Deadline::after_ms(5000)) != 0) break;
            std::vector<std::byte> reply(buffer.rbegin() + static_cast<long>(buffer.size() - n), buffer.rend());
            if (platform::pipe_write_frame(fd, reply, Deadline::after_ms(5000)) != 0) break;
        }
        close(fd);
    }) {}
    ~Echo() { thread_.join(); }

  private:
    std::thread thread_;
};

TEST(PipeTransfer, RequestAndReplyTravelWholeIncludingEmptyAndLargeMessages) {
    auto listener = PipeListener::create("\\\\.\\pipe\\quorvane");
    ASSERT_TRUE(listener) << errno;
    {
        Echo echo(*listener);
        auto connection = PipeConnection::connect("\\\\.\\pipe\\quorvane", Deadline::after_ms(2000));
        ASSERT_TRUE(connection) << errno;
        for (size_t size : {size_t{0}, size_t{1}, size_t{4093}, size_t{65536}, size_t{2u << 20}}) {
            std::string request(size, '\0');
            for (size_t i = 0; i < size; ++i) request[i] = static_cast<char>('a' + i % 26);
            std::vector<std::byte> reply(size + 1);
            size_t received = 99;
            ASSERT_EQ(connection->transact(bytes(request), reply, received, Deadline::after_ms(5000)), 0) << size;
            ASSERT_EQ(received, size);
            EXPECT_TRUE(std::equal(request.rbegin(), request.rend(), reinterpret_cast<const char*>(reply.data())));
        }
    }
}

TEST(PipeTransfer, ReplyLongerThanTheCapacityFailsWith234AndCopiesNothing) {
    auto listener = PipeListener::create("\\\\.\\pipe\\quorvane");
    ASSERT_TRUE(listener);
    Echo echo(*listener);
    auto connection = PipeConnection::connect("\\\\.\\pipe\\quorvane", Deadline::after_ms(2000));
    ASSERT_TRUE(connection);
    std::vector<std::byte> reply(8, std::byte{0x55});
    size_t received = 7;
    EXPECT_EQ(connection->transact(bytes("123456789"), reply, received, Deadline::after_ms(2000)), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorMoreData);
    EXPECT_EQ(received, 0u);
    for (std::byte b : reply) EXPECT_EQ(b, std::byte{0x55});
}

TEST(PipeConnect, MissingSocketIs2HereAnd53ForAnotherMachine) {
    EXPECT_FALSE(PipeConnection::connect("\\\\.\\pipe\\quorvane", Deadline::after_ms(500)));
    EXPECT_EQ(platform::last_error(), platform::kErrorFileNotFound);
    EXPECT_FALSE(PipeConnection::connect("\\\\plant2\\pipe\\quorvane", Deadline::after_ms(500)));
    EXPECT_EQ(platform::last_error(), platform::kErrorBadNetPath);
}

TEST(PipeConnect, StaleSocketFileIsRefusedAs2AndReplacedByTheNextListener) {
    {
        auto first = PipeListener::create("\\\\.\\pipe\\quorvane");
        ASSERT_TRUE(first);
        // A second server cannot take a live pipe.
        EXPECT_FALSE(PipeListener::create("\\\\.\\pipe\\quorvane"));
        EXPECT_EQ(errno, EEXIST);
    }
    // A file left behind by a server that crashed: bound once, nobody listens.
    PipeAddress address;
    ASSERT_EQ(platform::pipe_address("\\\\.\\pipe\\quorvane", address), 0);
    const int stale = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un sun{};
    sun.sun_family = AF_UNIX;
    std::snprintf(sun.sun_path, sizeof sun.sun_path, "%s", address.path.c_str());
    ASSERT_EQ(bind(stale, reinterpret_cast<sockaddr*>(&sun), sizeof sun), 0);
    close(stale);
    EXPECT_FALSE(PipeConnection::connect("\\\\.\\pipe\\quorvane", Deadline::after_ms(500)));
    EXPECT_EQ(platform::last_error(), platform::kErrorFileNotFound);
    auto again = PipeListener::create("\\\\.\\pipe\\quorvane");
    EXPECT_TRUE(again);
}

TEST(PipeTransfer, PeerThatClosesMidReplyGives109AndSilenceGives10060) {
    auto listener = PipeListener::create("\\\\plant2\\pipe\\quorvane");
    ASSERT_TRUE(listener);
    std::thread server([&] {
        // First connection: half a reply, then gone. Second: reads and never answers.
        for (int round = 0; round < 2; ++round) {
            const int fd = listener->accept(5000);
            ASSERT_GE(fd, 0);
            std::vector<std::byte> buffer(64);
            size_t n = 0;
            ASSERT_EQ(platform::pipe_read_frame(fd, buffer, n, Deadline::after_ms(5000)), 0);
            if (round == 0) {
                const unsigned char partial[] = {10, 0, 0, 0, '1', '2'};
                platform::pipe_write_all(fd, std::as_bytes(std::span(partial)), Deadline::after_ms(1000));
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
            close(fd);
        }
    });
    std::vector<std::byte> reply(64);
    size_t received = 0;
    {
        auto c = PipeConnection::connect("\\\\plant2\\pipe\\quorvane", Deadline::after_ms(1000));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->transact(bytes("RS"), reply, received, Deadline::after_ms(2000)), -1);
        EXPECT_EQ(platform::last_error(), platform::kErrorBrokenPipe);
    }
    {
        auto c = PipeConnection::connect("\\\\plant2\\pipe\\quorvane", Deadline::after_ms(1000));
        ASSERT_TRUE(c);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(c->transact(bytes("RS"), reply, received, Deadline::after_ms(100)), -1);
        EXPECT_EQ(platform::last_error(), platform::kErrorWsaTimedOut);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
    }
    server.join();
}

TEST(PipeFrame, ShortHeaderAndShortBodyAreBrokenPipe) {
    for (const std::string& wire : {std::string("\x03\x00", 2), std::string("\x05\x00\x00\x00" "abc", 7)}) {
        int sv[2];
        ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, sv), 0);
        ASSERT_EQ(platform::pipe_write_all(sv[1], bytes(wire), Deadline::after_ms(100)), 0);
        close(sv[1]);
        std::vector<std::byte> buffer(16);
        size_t n = 0;
        EXPECT_EQ(platform::pipe_read_frame(sv[0], buffer, n, Deadline::after_ms(500)), -1);
        EXPECT_EQ(platform::last_error(), platform::kErrorBrokenPipe);
        close(sv[0]);
    }
}

}  // namespace
