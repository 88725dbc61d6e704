// The run file store between processes: a logger and a reader at once, a logger killed in
// the middle of a batch, and batches cut short by a real file size limit.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <thread>
#include <filesystem>

#include "log_stores/run_file_store/run_file_store.h"
#include "platform/last_error.h"
#include "run_file_fixture.h"
#include "support/child_process.h"
#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;
using log_stores::CLogFileStore;
using log_stores::kGenericRead;
using log_stores::kGenericWrite;
using log_stores::LogHeader;
using namespace run_file_test;
namespace fs = std::filesystem;

class RunFileProcesses : public testing::Test {
  protected:
    void create(const LogHeader& h, std::int64_t records) {
        CLogFileStore store;
        const Configurations configs = make_configurations(h);
        ASSERT_EQ(store.CreateRunFile(path_.c_str(), h, nullptr, configs.get()), 0);
        const auto bytes = make_records(h, 0, records);
        if (records > 0) {
            ASSERT_EQ(store.WriteLogs(h, bytes.data(), static_cast<std::int32_t>(records)), 0);
        }
    }
    qvr_test::ChildProcess client(const std::vector<std::string>& args) {
        return qvr_test::ChildProcess::spawn(qvr_test::bin_path("run_file_client"), args, {}, true);
    }

    qvr_test::TempDir dir_;
    std::string path_ = (dir_ / "LG_201120_080000.qdl").string();
};

// The reader goes by the file's size, so it keeps meeting batches that are still being
// written; it must never hand out a record the logger has not finished.
TEST_F(RunFileProcesses, AReaderBesideALoggerSeesOnlyFinishedRecords) {
    const LogHeader h = make_header(4, 48);
    create(h, 0);
    auto writer = client({"write", path_, "400", "40"});
    CLogFileStore reader;
    ASSERT_EQ(reader.Open(nullptr, path_.c_str(), kGenericRead), 0);
    std::vector<std::uint8_t> out;
    std::int64_t next = 0;
    int short_reads = 0;
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (std::chrono::steady_clock::now() < deadline) {
        const bool finished = !writer.running() || writer.wait(0ms).has_value();
        const int available = reader.GetNoLogs(h);
        ASSERT_GE(available, 0);
        if (available > next) {
            const auto count = static_cast<std::int32_t>(available - next);
            out.resize(static_cast<std::size_t>(count) * h.recordSize);
            const int got = reader.ReadLogs(static_cast<std::int32_t>(next), h, out.data(), count, 0, nullptr, 0);
            if (got < count) {
                ++short_reads;
                std::this_thread::sleep_for(20us);
            }
            for (int i = 0; i < got; ++i)
                ASSERT_TRUE(is_record(h, next + i, std::span(out).subspan(std::size_t(i) * h.recordSize)))
                    << "record " << next + i;
            next += got;
        }
        if (finished && reader.GetNoLogs(h) == next) break;
    }
    const std::string said = writer.read_stdout(10s, "\n");
    EXPECT_EQ(said, "done " + std::to_string(next) + "\n");
    LogHeader final_header;
    ASSERT_EQ(reader.ReadHeader(final_header), 0);
    EXPECT_EQ(final_header.recordCount, next);
    // The reader kept meeting batches in progress (hundreds of thousands of times here).
    RecordProperty("ReadsCutShortByTheLock", short_reads);
}

TEST_F(RunFileProcesses, ALoggerKilledInABatchLeavesAPartialRecordThatReopeningCuts) {
    const LogHeader h = make_header(2, 10);
    create(h, 3);
    {
        auto killed = client({"partial", path_, "4", "5"});
        ASSERT_EQ(killed.read_stdout(30s, "\n"), "partial\n");
        killed.kill(SIGKILL);
        killed.wait(10s);
    }
    const std::uint64_t complete = h.dataStart + 23ull * h.recordSize;
    EXPECT_EQ(fs::file_size(path_), complete + h.recordSize / 2);

    CLogFileStore store;
    ASSERT_EQ(store.Open(nullptr, path_.c_str(), kGenericRead | kGenericWrite), 0);
    LogHeader read;
    ASSERT_EQ(store.ReadHeader(read), 0);
    EXPECT_EQ(read.recordCount, 23);
    // The killed logger's lock went with it.
    ASSERT_EQ(store.OpenForLogging(read), 0);
    EXPECT_EQ(fs::file_size(path_), complete);
    const auto more = make_records(read, 23, 2);
    ASSERT_EQ(store.WriteLogs(read, more.data(), 2), 0);
    std::vector<std::uint8_t> out(25u * read.recordSize);
    ASSERT_EQ(store.ReadLogs(0, read, out.data(), 25, 0, nullptr, 0), 25);
    for (int i = 0; i < 25; ++i) EXPECT_TRUE(is_record(read, i, std::span(out).subspan(std::size_t(i) * read.recordSize)));
}

// A batch the disk takes only part of is cut back: the next batch lands where it belongs.
TEST_F(RunFileProcesses, ABatchCutShortIsTakenBackAndTheNextOneFits) {
    const LogHeader h = make_header(1, 30);
    create(h, 2);
    const std::uint64_t end = h.dataStart + 2ull * h.recordSize;
    // The limit falls inside the third record of the batch.
    auto child = client({"fsize", path_, std::to_string(end + 2 * h.recordSize + 100)});
    const std::string said = child.read_stdout(30s, "second");
    EXPECT_EQ(child.wait_exit_code(30s), 0);
    EXPECT_NE(said.find("first -1 27 0\n"), std::string::npos) << said;
    EXPECT_NE(said.find("second 0"), std::string::npos) << said;
    EXPECT_EQ(fs::file_size(path_), end + 2ull * h.recordSize);

    CLogFileStore store;
    ASSERT_EQ(store.Open(nullptr, path_.c_str(), kGenericRead), 0);
    LogHeader read;
    ASSERT_EQ(store.ReadHeader(read), 0);
    ASSERT_EQ(read.recordCount, 4);
    std::vector<std::uint8_t> out(4u * read.recordSize);
    ASSERT_EQ(store.ReadLogs(0, read, out.data(), 4, 0, nullptr, 0), 4);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(is_record(read, i, std::span(out).subspan(std::size_t(i) * read.recordSize)));
}

}  // namespace
