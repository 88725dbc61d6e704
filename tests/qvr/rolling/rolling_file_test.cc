#include "qvr/rolling/rolling_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "qvr/rolling/rolling_names.h"
#include "platform/registry_key.h"
#include "qvr/settings/env.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/rolling_testing.h"
#include "qvr/time/timestamp.h"
#include "support/child_process.h"
#include "support/temp_dir.h"
#include "support/test_env.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int32_t kStart = 1'000'000'000;  // 010909_014640
constexpr int32_t kEnd = kStart + 3600;

// Counts the writer's writes (their sizes), passing each to the real write.
class WriteCounter {
  public:
    WriteCounter() {
        qvr::rolling_testing::set_write_hook([this](int fd, std::span<const std::uint8_t> bytes) {
            {
                const std::lock_guard lock(mutex_);
                sizes_.push_back(bytes.size());
                if (during_write_) during_write_();
            }
            return qvr::rolling_testing::real_write(fd, bytes);
        });
    }
    ~WriteCounter() { qvr::rolling_testing::set_write_hook({}); }
    std::vector<std::size_t> sizes() {
        const std::lock_guard lock(mutex_);
        return sizes_;
    }
    void during_write(std::function<void()> check) {
        const std::lock_guard lock(mutex_);
        during_write_ = std::move(check);
    }

  private:
    std::mutex mutex_;
    std::vector<std::size_t> sizes_;
    std::function<void()> during_write_;
};

class RollingFile : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(rf_Setup(nullptr, dir_.str().c_str(), nullptr, ".dat", "LOG"), 0); }
    void TearDown() override { qvr::rolling_testing::reset(); }

    std::string path(const std::string& name) const { return (dir_ / name).string(); }
    std::string running(int32_t start = kStart) const {
        return path(qvr::rolling::running_name("LOG", start, ".dat"));
    }
    std::string finished(int32_t start = kStart, int32_t end = kEnd) const {
        return path(qvr::rolling::finished_name("LOG", start, end, ".dat"));
    }

    // Asks another process whether a byte range of the file is locked: the reader's view.
    static bool locked_for_reader(const std::string& file, uint64_t offset, uint64_t length = 1) {
        auto child = qvr_test::ChildProcess::spawn(
            qvr_test::bin_path("rolling_test_helper"),
            {"probe", file, std::to_string(offset), std::to_string(length)});
        const auto code = child.wait_exit_code(10s);
        EXPECT_TRUE(code == 0 || code == 1) << "probe failed";
        return code == 1;
    }

    static bool wait_written(uint32_t position, uint32_t length) {
        for (int i = 0; i < 500; ++i) {
            if (rf_IsPending(position, length) == 0) return true;
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    qvr_test::TempDir dir_;
};

std::vector<std::uint8_t> pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{1});
    return bytes;
}

std::string bytes_text(const std::vector<std::uint8_t>& bytes, std::size_t from, std::size_t length) {
    return std::string(reinterpret_cast<const char*>(bytes.data()) + from, length);
}

TEST(RollingNames, StampsAreReadFromTheirPlacesOnly) {
    using qvr::rolling::last_stamp;
    using qvr::rolling::start_stamp;
    using qvr::rolling::stamp_seconds;
    EXPECT_EQ(stamp_seconds("010909_014640"), kStart);
    EXPECT_EQ(stamp_seconds("700101_000000"), 0);
    EXPECT_GT(*stamp_seconds("000101_000000"), *stamp_seconds("991231_235959"));  // 2000 after 1999
    for (const char* bad : {"010909-014640", "0109090014640", "011309_014640", "010230_000000", "010909_240000",
                            "010909_01464", "01a909_014640"}) {
        EXPECT_FALSE(stamp_seconds(bad)) << bad;
    }
    EXPECT_EQ(start_stamp("log010909_014640.dat", "LOG"), kStart);
    EXPECT_EQ(start_stamp("LOG010909_014640_010909_024640.dat", "LOG"), kStart);
    EXPECT_FALSE(start_stamp("XLOG010909_014640.dat", "LOG"));
    EXPECT_EQ(last_stamp("LOG010909_014640_010909_024640.DAT", ".dat"), kStart + 3600);
    EXPECT_EQ(last_stamp("LOG010909_014640.dat", ".dat"), kStart);
    EXPECT_FALSE(last_stamp("LOG010909_014640.txt", ".dat"));
    EXPECT_FALSE(last_stamp(".dat", ".dat"));
}

TEST_F(RollingFile, AdjacentBlocksGoInOneWriteAndAGapStartsASecondWriteOfTheSameFlush) {
    WriteCounter counter;
    ASSERT_EQ(rf_Create(kStart), 0);
    const auto data = pattern(128);
    ASSERT_EQ(rf_StartWriter(16, 128, 1), 0);
    ASSERT_EQ(rf_Queue(data.data(), 16, 1, 0), 1);
    ASSERT_EQ(rf_Queue(data.data() + 16, 4, 4, 16), 1);
    ASSERT_EQ(rf_Queue(data.data() + 40, 2, 8, 40), 1);  // 8 bytes left out
    ASSERT_TRUE(wait_written(0, 56));
    EXPECT_EQ(counter.sizes(), (std::vector<std::size_t>{32, 16}));

    // A reader finds the data complete up to 48 and the byte just past it held.
    EXPECT_TRUE(locked_for_reader(running(), 48));
    EXPECT_FALSE(locked_for_reader(running(), 0, 48));

    ASSERT_EQ(rf_Queue(data.data() + 56, 16, 1, 56), 1);
    ASSERT_EQ(rf_StopWriter(), 0);
    EXPECT_EQ(counter.sizes(), (std::vector<std::size_t>{32, 16, 16}));
    EXPECT_FALSE(locked_for_reader(running(), 0, 1000));  // stop gives the end free
    ASSERT_EQ(rf_Close(&kStart, &kEnd, 0), 0);
    EXPECT_EQ(qvr_test::read_file(finished()),
              bytes_text(data, 0, 32) + bytes_text(data, 40, 16) + bytes_text(data, 56, 16));
}

TEST_F(RollingFile, AFullRingBlocksTheCallerUntilTheWriterFreesAnEntry) {
    WriteCounter counter;
    ASSERT_EQ(rf_Create(kStart), 0);
    const auto data = pattern(64);
    ASSERT_EQ(rf_StartWriter(2, 64, 1), 0);
    ASSERT_EQ(rf_Queue(data.data(), 8, 1, 0), 1);
    ASSERT_EQ(rf_Queue(data.data() + 16, 8, 1, 16), 1);
    std::atomic<bool> returned{false};
    std::size_t writes_when_returned = 0;
    std::thread caller([&] {
        EXPECT_EQ(rf_Queue(data.data() + 32, 8, 1, 32), 1);
        writes_when_returned = counter.sizes().size();
        returned = true;
    });
    std::this_thread::sleep_for(50ms);
    caller.join();
    EXPECT_TRUE(returned);
    EXPECT_GE(writes_when_returned, 1u) << "the third block went in before the writer freed an entry";
    ASSERT_EQ(rf_StopWriter(), 0);
    ASSERT_EQ(rf_Close(&kStart, &kEnd, 0), 0);
    EXPECT_EQ(qvr_test::read_file(finished()),
              bytes_text(data, 0, 8) + bytes_text(data, 16, 8) + bytes_text(data, 32, 8));
}

TEST_F(RollingFile, StopWritesEverythingQueued) {
    WriteCounter counter;
    ASSERT_EQ(rf_Create(kStart), 0);
    const auto data = pattern(4096);
    ASSERT_EQ(rf_StartWriter(256, 4096, 3600), 0);
    std::string expected;
    for (uint32_t i = 0; i < 200; ++i) {
        const uint32_t at = i * 20 + (i % 3 == 0 ? 4 : 0);  // every third block after a gap
        ASSERT_EQ(rf_Queue(data.data() + at, 16, 1, at), 1);
        expected += bytes_text(data, at, 16);
    }
    ASSERT_EQ(rf_StopWriter(), 0);
    ASSERT_EQ(rf_Close(&kStart, &kEnd, 0), 0);
    EXPECT_EQ(qvr_test::read_file(finished()), expected);
}

TEST_F(RollingFile, AFailedWriteIsKeptAndNothingIsWrittenAfterIt) {
    auto child = qvr_test::ChildProcess::spawn(qvr_test::bin_path("rolling_test_helper"),
                                               {"limited", dir_.str(), "600"}, {}, true);
    ASSERT_EQ(child.wait_exit_code(20s), 0);
    const std::string out = child.read_stdout(1s);
    EXPECT_EQ(out,
              "first=1\nsecond=1\nlater=-1 errno=27\nlater=-1 errno=27\nstop=-1 errno=27\n");
    // The first block alone, nothing of the blocks after the failed one.
    const std::string file = qvr_test::read_file(dir_ / qvr::rolling::running_name("LIM", 1'000'000, ".dat"));
    EXPECT_EQ(file, std::string(600, 'A'));
}

TEST_F(RollingFile, EveryByteOfAQueuedBlockStaysPendingUntilItIsWritten) {
    WriteCounter counter;
    std::atomic<int> pending_during_write{-2};
    counter.during_write([&] { pending_during_write = rf_IsPending(31, 1); });
    ASSERT_EQ(rf_Create(kStart), 0);
    const auto data = pattern(64);
    ASSERT_EQ(rf_StartWriter(4, 32, 1), 0);
    ASSERT_EQ(rf_Queue(data.data(), 4, 8, 0), 1);
    EXPECT_EQ(rf_IsPending(31, 1), 1);
    ASSERT_TRUE(wait_written(0, 32));
    EXPECT_EQ(pending_during_write, 1);
    EXPECT_EQ(rf_IsPending(0, 32), 0);

    struct Case {
        uint32_t count, size, position;
    };
    for (const Case c : {Case{5, 8, 0}, Case{1, 4, 30}, Case{1, 1, 33}, Case{0xFFFFFFFF, 0xFFFFFFFF, 0},
                         Case{0, 8, 0}}) {
        errno = 0;
        EXPECT_EQ(rf_Queue(data.data(), c.count, c.size, c.position), -1) << c.count << "x" << c.size << "@" << c.position;
        EXPECT_EQ(errno, 87);
    }
    EXPECT_EQ(rf_IsPending(30, 3), -1);
    ASSERT_EQ(rf_StopWriter(), 0);
}

TEST_F(RollingFile, CloseWithoutAnEndTimeDeletesTheFile) {
    ASSERT_EQ(rf_Create(kStart), 0);
    ASSERT_EQ(rf_Write("data", 4), 0);
    errno = 1234;
    EXPECT_EQ(rf_Close(&kStart, nullptr, 0), 0);
    EXPECT_EQ(errno, 1234);
    EXPECT_FALSE(fs::exists(running()));
    EXPECT_TRUE(fs::is_empty(dir_.path()));
}

TEST_F(RollingFile, CloseRenamesWithTheEndStampAndHeaderModeKeepsTheEndOffset) {
    rf_SetHeaderMode(1);
    ASSERT_EQ(rf_Create(kStart), 0);
    ASSERT_EQ(rf_Seek(4), 0);
    ASSERT_EQ(rf_Write("0123456789", 10), 0);
    ASSERT_EQ(rf_Seek(6), 0);  // a rewrite inside keeps the high-water mark
    ASSERT_EQ(rf_Write("ab", 2), 0);
    ASSERT_EQ(rf_Close(&kStart, &kEnd, 1), 0);
    const std::string name = fs::path(finished()).filename().string();
    EXPECT_EQ(name, "LOG010909_014640_010909_024640.dat");
    const std::string file = qvr_test::read_file(finished());
    ASSERT_EQ(file.size(), 14u);
    uint32_t end = 0;
    std::memcpy(&end, file.data(), 4);
    EXPECT_EQ(end, 14u);
    EXPECT_EQ(file.substr(4), "01ab456789");
    struct stat info {};
    ASSERT_EQ(stat(finished().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0222, 0u);
    EXPECT_FALSE(fs::exists(running()));
}

TEST_F(RollingFile, ResumeReopensAFinishedFileAsTheRunningOneAtItsOffset) {
    ASSERT_EQ(rf_Create(kStart), 0);
    ASSERT_EQ(rf_Write("first", 5), 0);
    ASSERT_EQ(rf_Close(&kStart, &kEnd, 1), 0);
    ASSERT_EQ(rf_ResumeFinished(), 0);
    EXPECT_FALSE(fs::exists(finished()));
    ASSERT_TRUE(fs::exists(running()));
    ASSERT_EQ(rf_Write("+more", 5), 0);
    const int32_t later = kEnd + 60;
    ASSERT_EQ(rf_Close(&kStart, &later, 0), 0);
    EXPECT_EQ(qvr_test::read_file(finished(kStart, later)), "first+more");
    // A running file is not a finished one.
    ASSERT_EQ(rf_Create(kStart + 1), 0);
    EXPECT_EQ(rf_ResumeFinished(), -1);
}

TEST_F(RollingFile, OpenLatestTakesTheGreatestStampAfterThePrefix) {
    const std::string header("\x20\x00\x00\x00\x01\x80", 6);  // declared length 32, a valid tag
    qvr_test::write_file(dir_ / "LOG991231_235959.dat", header);
    qvr_test::write_file(dir_ / "log000101_000000_000101_010000.dat", header);  // 2000: the latest
    qvr_test::write_file(dir_ / "OTHER200101_000000.dat", header);
    qvr_test::write_file(dir_ / ".LOG300101_000000.dat", header);
    char name[64] = {};
    ASSERT_EQ(rf_OpenLatest(name, sizeof name), 0);
    EXPECT_STREQ(name, "log000101_000000_000101_010000.dat");
    char small[8] = {};
    EXPECT_EQ(rf_OpenLatest(small, sizeof small), -1);
    EXPECT_EQ(errno, 122);

    // The latest with a bad header is refused, not passed over.
    qvr_test::write_file(dir_ / "LOG010101_000000.dat", "junk");
    EXPECT_EQ(rf_OpenLatestNoName(), -1);
    const auto empty = dir_ / "empty";
    fs::create_directories(empty);
    ASSERT_EQ(rf_Setup(nullptr, empty.c_str(), nullptr, ".dat", "LOG"), 0);
    EXPECT_EQ(rf_OpenLatestNoName(), -1);
    EXPECT_EQ(errno, 2);
}

TEST_F(RollingFile, PurgeKeepsAFileOneSecondYoungerThanTheCutoff) {
    TimeStamp now{};
    rt_GetLocalStamp(&now);
    const PeriodSpec day{0, 0, 1, 0, 0, 0};
    const int32_t cutoff = time_SubtractPeriod(&now, &day)->seconds;
    const std::string older = finished(cutoff - 7200, cutoff - 1);
    const std::string younger = finished(cutoff - 7200, cutoff + 1);
    const std::string old_running = running(cutoff - 10);
    const std::string other_suffix = path(qvr::rolling::running_name("LOG", cutoff - 10, ".txt"));
    for (const auto& file : {older, younger, old_running, other_suffix}) qvr_test::write_file(file, "x");
    chmod(older.c_str(), 0444);
    // The file being written started long ago: it stays however old it is.
    ASSERT_EQ(rf_Create(cutoff - 86400), 0);

    ASSERT_EQ(rf_Purge(&day, ".dat"), 0);
    EXPECT_FALSE(fs::exists(older));
    EXPECT_FALSE(fs::exists(old_running));
    EXPECT_TRUE(fs::exists(younger));
    EXPECT_TRUE(fs::exists(other_suffix));
    EXPECT_TRUE(fs::exists(running(cutoff - 86400)));
}

TEST_F(RollingFile, ARestartWithinTheSameSecondNeverReplacesAFileHoldingData) {
    struct Case {
        std::size_t size;
        bool replaced;
    };
    for (const Case c : {Case{0, true}, Case{4, true}, Case{5, false}}) {
        SCOPED_TRACE(c.size);
        qvr_test::write_file(running(), std::string(c.size, 'd'));
        errno = 0;
        EXPECT_EQ(rf_Create(kStart), c.replaced ? 0 : -1);
        if (c.replaced) {
            EXPECT_EQ(fs::file_size(running()), 0u);
        } else {
            EXPECT_EQ(errno, 80);
            EXPECT_EQ(qvr_test::read_file(running()), std::string(c.size, 'd'));
        }
        fs::remove(running());
    }
}

TEST_F(RollingFile, AFinishedNameThatIsTakenKeepsBothFiles) {
    qvr_test::write_file(finished(), "earlier");
    ASSERT_EQ(rf_Create(kStart), 0);
    ASSERT_EQ(rf_Write("later", 5), 0);
    errno = 1234;
    EXPECT_EQ(rf_Close(&kStart, &kEnd, 0), -1);
    EXPECT_EQ(errno, 1234);
    EXPECT_EQ(qvr_test::read_file(finished()), "earlier");
    EXPECT_EQ(qvr_test::read_file(running()), "later");
}

TEST_F(RollingFile, CloseOfAFileOpenedByNamePutsTheEndStampInPlace) {
    const std::string header("\x06\x00\x00\x00\x01\x80", 6);
    qvr_test::write_file(running(), header);
    ASSERT_GE(rf_OpenExisting(fs::path(running()).filename().string().c_str()), 0);
    ASSERT_EQ(rf_Close(nullptr, &kEnd, 0), 0);
    EXPECT_TRUE(fs::exists(finished()));
    // A name of another form keeps its name.
    qvr_test::write_file(dir_ / "LOGnotes.dat", header);
    ASSERT_GE(rf_OpenExisting("LOGnotes.dat"), 0);
    ASSERT_EQ(rf_Close(nullptr, &kEnd, 0), 0);
    EXPECT_TRUE(fs::exists(dir_ / "LOGnotes.dat"));
}

}  // namespace

namespace {

TEST(RollingSetup, TheFolderIsMadeBelowTheProductFolderOfTheVariable) {
    const qvr_test::TempDir root;
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey, platform::kKeyAllAccess, key), 0);
    ASSERT_EQ(key.set_string("Root:", root.str()), 0);
    const std::string product = env_GetProductFolder("QVR_DATA");
    ASSERT_EQ(product, root.str() + "/DATA");
    ASSERT_EQ(rf_Setup("QVR_DATA", nullptr, "rolling", ".dat", "LOG"), 0);
    EXPECT_EQ(std::string(rf_Folder()), product + "/rolling");
    EXPECT_TRUE(fs::is_directory(rf_Folder()));
    qvr_test::write_file(fs::path(qvr_test::test_root()) / "plain", "x");
    const std::string below_file = qvr_test::test_root() + "/plain/sub";
    EXPECT_EQ(rf_Setup(nullptr, below_file.c_str(), nullptr, ".dat", "LOG"), -1);
    qvr::rolling_testing::reset();
}

}  // namespace
