#include "platform/mailslot.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

#include "platform/event.h"
#include "platform/ipc_names.h"

using platform::MailslotReceiver;
using platform::MailslotSender;

namespace {

std::vector<std::byte> bytes_of(std::string_view text) {
    std::vector<std::byte> out(text.size());
    if (!text.empty()) std::memcpy(out.data(), text.data(), text.size());
    return out;
}

std::string take(const MailslotReceiver& receiver) {
    const int fds[1] = {receiver.fd()};
    if (platform::wait_any_readable(fds, 10000) != 0) return "<nothing>";
    std::byte buffer[512];
    const ssize_t n = receiver.receive(buffer);
    if (n < 0) return "<error>";
    return std::string(reinterpret_cast<const char*>(buffer), std::min<size_t>(n, sizeof buffer));
}

// Binds a socket file and closes it without removing the file, as a killed receiver does.
void leave_stale_socket_file(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
}

}  // namespace

TEST(Mailslot, MessagesArriveWholeAndInOrder) {
    auto receiver = MailslotReceiver::create("box");
    ASSERT_TRUE(receiver);
    auto sender = MailslotSender::open("box");
    ASSERT_TRUE(sender);
    const std::vector<std::string> texts{"a", "four", std::string(296, 'x'), "", "last one"};
    for (const auto& t : texts) ASSERT_EQ(sender->send(bytes_of(t)), 0);
    for (const auto& t : texts) EXPECT_EQ(take(*receiver), t);
}

TEST(Mailslot, ReceiveReportsTheFullLengthOfAMessageTooLongForTheBuffer) {
    auto receiver = MailslotReceiver::create("cut");
    auto sender = MailslotSender::open("cut");
    ASSERT_TRUE(receiver && sender);
    ASSERT_EQ(sender->send(bytes_of("12345678")), 0);
    ASSERT_EQ(sender->send(bytes_of("abcd")), 0);
    const int fds[1] = {receiver->fd()};
    ASSERT_EQ(platform::wait_any_readable(fds, 10000), 0);
    EXPECT_EQ(receiver->next_message_size(), 8);
    std::byte four[4];
    EXPECT_EQ(receiver->receive(four), 8) << "the caller sees it was cut";
    EXPECT_EQ(receiver->receive(four), 4) << "the next message is untouched";
    EXPECT_EQ(std::memcmp(four, "abcd", 4), 0);
    errno = 0;
    EXPECT_EQ(receiver->receive(four), -1);
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(receiver->next_message_size(), -1);
}

TEST(Mailslot, SendingToNobodyFailsAtOnceWithEnoent) {
    errno = 0;
    EXPECT_FALSE(MailslotSender::open("nobody"));
    EXPECT_EQ(errno, ENOENT);

    auto receiver = MailslotReceiver::create("gone");
    auto sender = MailslotSender::open("gone");
    ASSERT_TRUE(receiver && sender);
    *receiver = MailslotReceiver();
    errno = 0;
    EXPECT_EQ(sender->send(bytes_of("late")), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(Mailslot, StaleFileIsReplacedButALiveReceiverIsNot) {
    const std::string path = platform::mailslot_file("stale");
    ASSERT_EQ(platform::ensure_runtime_dir(), 0);
    leave_stale_socket_file(path);
    auto receiver = MailslotReceiver::create("stale");
    ASSERT_TRUE(receiver) << std::strerror(errno);
    errno = 0;
    EXPECT_FALSE(MailslotReceiver::create("stale"));
    EXPECT_EQ(errno, EEXIST);
    auto sender = MailslotSender::open("stale");
    ASSERT_TRUE(sender);
    ASSERT_EQ(sender->send(bytes_of("still mine")), 0);
    EXPECT_EQ(take(*receiver), "still mine");
}

TEST(Mailslot, SocketFileAllowsOwnerAndGroupOnlyAndGoesAwayOnClose) {
    std::string path;
    {
        auto receiver = MailslotReceiver::create("modes");
        ASSERT_TRUE(receiver);
        path = receiver->path();
        struct stat st {};
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        EXPECT_TRUE(S_ISSOCK(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0660u);
    }
    EXPECT_NE(access(path.c_str(), F_OK), 0);
}

TEST(Mailslot, ClosingAnOldReceiverNeverRemovesItsSuccessorsFile) {
    auto old_receiver = MailslotReceiver::create("reused");
    ASSERT_TRUE(old_receiver);
    unlink(old_receiver->path().c_str());  // as if a restarted owner cleaned up
    auto successor = MailslotReceiver::create("reused");
    ASSERT_TRUE(successor);
    *old_receiver = MailslotReceiver();
    auto sender = MailslotSender::open("reused");
    ASSERT_TRUE(sender);
    ASSERT_EQ(sender->send(bytes_of("hi")), 0);
    EXPECT_EQ(take(*successor), "hi");
}

TEST(Mailslot, SenderToAReceiverThatDoesNotReadGivesUpWithEtimedout) {
    auto receiver = MailslotReceiver::create("deaf");
    auto sender = MailslotSender::open("deaf", std::chrono::milliseconds(50));
    ASSERT_TRUE(receiver && sender);
    int sent = 0;
    int rc = 0;
    auto started = std::chrono::steady_clock::now();
    while ((rc = sender->send(bytes_of("code"))) == 0) {
        ASSERT_LT(++sent, 100000) << "the socket queue never filled";
        started = std::chrono::steady_clock::now();
    }
    const auto took = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(errno, ETIMEDOUT);
    // A generous bound on the 50 ms time-out, for a loaded machine.
    EXPECT_LT(took, std::chrono::seconds(2)) << "the failing send outlasted its time-out";
    EXPECT_GT(sent, 0);
    // Once the receiver reads, sending works again and nothing sent before was lost.
    int drained = 0;
    std::byte buffer[8];
    while (receiver->receive(buffer) == 4) ++drained;
    EXPECT_EQ(drained, sent);
    EXPECT_EQ(sender->send(bytes_of("more")), 0);
}

TEST(Mailslot, RemovePrefixedTakesOnlySocketFilesUnderThePrefix) {
    auto one = MailslotReceiver::create("one");
    auto two = MailslotReceiver::create("two");
    ASSERT_TRUE(one && two);
    const std::string unrelated = platform::runtime_dir() + "/unrelated";
    leave_stale_socket_file(unrelated);
    EXPECT_EQ(platform::mailslot_remove_prefixed(), 2);
    EXPECT_EQ(access(unrelated.c_str(), F_OK), 0);
    EXPECT_FALSE(MailslotSender::open("one"));
}
