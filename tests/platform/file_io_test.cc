#include "platform/file_io.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/unique_fd.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using platform::UniqueFd;

std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 131 + i / 251) & 0xFF);
    return bytes;
}

struct Pipe {
    UniqueFd read, write;
    Pipe() {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            read.reset(fds[0]);
            write.reset(fds[1]);
        }
    }
};

// A timer signal without SA_RESTART, so that blocking reads and writes return early with
// EINTR or a short count while it runs.
class InterruptingTimer {
  public:
    InterruptingTimer() {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGALRM, &action, &old_);
        const itimerval every{{0, 200}, {0, 200}};
        ::setitimer(ITIMER_REAL, &every, nullptr);
    }
    ~InterruptingTimer() {
        const itimerval off{};
        ::setitimer(ITIMER_REAL, &off, nullptr);
        ::sigaction(SIGALRM, &old_, nullptr);
    }

  private:
    struct sigaction old_ {};
};

bool is_open(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

}  // namespace

TEST(UniqueFd, OwnsOneDescriptorAndHandsItOnWhenMoved) {
    Pipe pipe;
    ASSERT_TRUE(pipe.read && pipe.write);
    const int raw = pipe.read.get();
    UniqueFd moved(std::move(pipe.read));
    EXPECT_FALSE(pipe.read.valid());
    EXPECT_EQ(moved.get(), raw);
    UniqueFd assigned;
    assigned = std::move(moved);
    EXPECT_EQ(assigned.get(), raw);
    EXPECT_TRUE(is_open(raw));
    assigned = UniqueFd();  // the old one is closed
    EXPECT_FALSE(is_open(raw));

    const int w = pipe.write.get();
    const int released = pipe.write.release();
    EXPECT_EQ(released, w);
    EXPECT_TRUE(is_open(w));  // released, not closed
    UniqueFd again(released);
    EXPECT_EQ(again.close(), 0);
    EXPECT_FALSE(is_open(w));
    EXPECT_EQ(again.close(), 0);  // nothing held any more
    { UniqueFd scoped = platform::open_file("/dev/null", O_RDONLY); ASSERT_TRUE(scoped); }
}

TEST(UniqueFd, OpenedDescriptorsAreClosedOnExec) {
    const UniqueFd fd = platform::open_file("/dev/null", O_RDONLY);
    ASSERT_TRUE(fd);
    EXPECT_NE(::fcntl(fd.get(), F_GETFD) & FD_CLOEXEC, 0);
    const UniqueFd missing = platform::open_file("/nonexistent/x", O_RDONLY);
    EXPECT_FALSE(missing);
    EXPECT_EQ(errno, ENOENT);
}

// Through a pipe, a reader that takes small pieces and a timer signal that interrupts the
// writer: every byte arrives once and in order.
TEST(CompleteTransfers, WriteAllAndReadAllSurviveShortTransfersAndInterruptions) {
    const std::vector<std::uint8_t> sent = pattern(4 << 20);
    Pipe pipe;
    std::vector<std::uint8_t> received;
    std::thread reader([&] {
        std::vector<std::uint8_t> piece(777);
        for (;;) {
            const ssize_t n = ::read(pipe.read.get(), piece.data(), piece.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            received.insert(received.end(), piece.begin(), piece.begin() + n);
        }
    });
    {
        InterruptingTimer timer;
        EXPECT_EQ(platform::write_all(pipe.write.get(), sent), 0);
    }
    pipe.write.reset();
    reader.join();
    EXPECT_TRUE(received == sent);

    // The other way: a writer that sends small pieces, a reader interrupted by the timer.
    Pipe back;
    std::thread writer([&] {
        for (std::size_t at = 0; at < sent.size(); at += 1000)
            ASSERT_EQ(platform::write_all(back.write.get(), std::span(sent).subspan(at, std::min<std::size_t>(1000, sent.size() - at))), 0);
        back.write.reset();
    });
    std::vector<std::uint8_t> got(sent.size() + 10);
    ssize_t n = 0;
    {
        InterruptingTimer timer;
        n = platform::read_all(back.read.get(), got);
    }
    writer.join();
    ASSERT_EQ(n, static_cast<ssize_t>(sent.size()));  // short only at the end
    got.resize(static_cast<std::size_t>(n));
    EXPECT_TRUE(got == sent);
}

TEST(CompleteTransfers, PositionedFormsReadAndWriteAtTheirOffset) {
    qvr_test::TempDir dir;
    const std::string path = (dir / "data").string();
    const UniqueFd fd = platform::open_file(path, O_RDWR | O_CREAT, 0644);
    ASSERT_TRUE(fd);
    const std::vector<std::uint8_t> bytes = pattern(100000);
    ASSERT_EQ(platform::pwrite_all(fd.get(), bytes, 5), 0);
    std::vector<std::uint8_t> back(bytes.size() + 100, 0xEE);
    EXPECT_EQ(platform::pread_all(fd.get(), back, 5), static_cast<ssize_t>(bytes.size()));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), back.begin()));
    std::vector<std::uint8_t> head(5, 0xEE);
    EXPECT_EQ(platform::pread_all(fd.get(), head, 0), 5);
    EXPECT_EQ(head, std::vector<std::uint8_t>(5, 0));  // the gap before the offset
    EXPECT_EQ(platform::pread_all(fd.get(), head, 1u << 30), 0);  // past the end

    // An offset that cannot be a file position is refused, not wrapped.
    EXPECT_EQ(platform::pwrite_all(fd.get(), bytes, UINT64_MAX - 10), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(platform::pread_all(fd.get(), back, UINT64_MAX), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST(CompleteTransfers, AFailedWriteIsReportedNeverRetriedForEver) {
    const UniqueFd full = platform::open_file("/dev/full", O_WRONLY);
    ASSERT_TRUE(full);
    EXPECT_EQ(platform::write_all(full.get(), std::string_view("x")), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(platform::append_whole(full.get(), "line\n"), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(platform::write_all(full.get(), std::string_view()), 0);  // nothing to write
    EXPECT_EQ(platform::write_all(-1, std::string_view("x")), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST(CompleteTransfers, ReadFileStopsAtItsLimit) {
    qvr_test::TempDir dir;
    const std::string path = (dir / "text").string();
    qvr_test::write_file(path, std::string(200000, 'q'));
    std::string text;
    ASSERT_EQ(platform::read_file(path, text, 200000), 0);
    EXPECT_EQ(text, std::string(200000, 'q'));
    ASSERT_EQ(platform::read_file(path, text, SIZE_MAX), 0);  // no limit at all
    EXPECT_EQ(text.size(), 200000u);
    EXPECT_EQ(platform::read_file(path, text, 199999), -1);
    EXPECT_EQ(errno, EFBIG);
    EXPECT_TRUE(text.empty());
    EXPECT_EQ(platform::read_file((dir / "none").string(), text, 10), -1);
    EXPECT_EQ(errno, ENOENT);
    qvr_test::write_file(path, "");
    EXPECT_EQ(platform::read_file(path, text, 0), 0);
    EXPECT_TRUE(text.empty());
}

// Four processes append lines of varying length (up to 3000 bytes) to one file: every
// line is whole, none falls inside another, and each process's lines keep their order.
TEST(AppendWhole, LinesOfSeveralProcessesNeverMix) {
    qvr_test::TempDir dir;
    const std::string path = (dir / "trail.txt").string();
    constexpr int kLines = 400;
    std::vector<qvr_test::ChildProcess> children;
    for (const char* id : {"a", "b", "c", "d"})
        children.push_back(qvr_test::ChildProcess::spawn(qvr_test::bin_path("file_save_client"),
                                                         {"append", path, id, std::to_string(kLines)}, {}, true));
    for (auto& child : children) EXPECT_EQ(child.wait_exit_code(std::chrono::seconds(60)), 0);

    std::istringstream in(qvr_test::read_file(path));
    std::map<std::string, int> next;
    std::string line;
    int count = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, filler;
        int i = -1;
        fields >> id >> i >> filler;
        ASSERT_EQ(id.size(), 1u) << line.substr(0, 40);
        EXPECT_EQ(i, next[id]++) << id;
        EXPECT_EQ(filler, std::string(static_cast<std::size_t>(1 + (i * 37) % 3000), id[0])) << id << " " << i;
        ++count;
    }
    EXPECT_EQ(count, 4 * kLines);
}

// A file size limit lets the line's write take only its first bytes: reported as a full
// disk, not continued.
TEST(AppendWhole, APartlyWrittenLineIsReportedAsAFullDisk) {
    qvr_test::TempDir dir;
    const std::string path = (dir / "log").string();
    auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("file_save_client"),
                                               {"limit", "4", "append", path, "a", "3"}, {}, true);
    child.wait_exit_code(std::chrono::seconds(30));
    EXPECT_EQ(child.read_stdout(std::chrono::milliseconds(0)), "result " + std::to_string(ENOSPC) + "\n");
    EXPECT_EQ(qvr_test::read_file(path), "a 0 ");
}
