// The run file store on local files: creating, logging, reading back, the end-of-data lock
// seen by a second store, and the repairs of a run's end.
#include "log_stores/run_file_store/run_file_store.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "platform/file_io.h"
#include "platform/last_error.h"
#include "qvr/ipc/shm.h"
#include "run_file_fixture.h"
#include "host/host.h"
#include "support/temp_dir.h"

namespace {

using log_stores::CLogFileStore;
using log_stores::kGenericRead;
using log_stores::kGenericWrite;
using log_stores::LogHeader;
namespace rf = log_stores::run_file;
namespace fs = std::filesystem;
using namespace run_file_test;

constexpr std::uint32_t kReadWrite = kGenericRead | kGenericWrite;

std::uint64_t size_of(const fs::path& p) { return fs::file_size(p); }
std::int32_t stored_end(const fs::path& p) {
    const std::string bytes = qvr_test::read_file(p);
    std::int32_t v = 0;
    std::memcpy(&v, bytes.data(), 4);
    return v;
}

class RunFileStore : public testing::Test {
  protected:
    RunFileStore() : header_(make_header(3, 4)), configs_(make_configurations(header_)) {}

    std::string path(const std::string& name = "LG_200913_142709.qdl") const { return (dir_ / name).string(); }
    // A run of `count` records, still open for logging in `store`.
    void create(CLogFileStore& store, std::int64_t count, const std::string& name = "LG_200913_142709.qdl") {
        ASSERT_EQ(store.CreateRunFile(path(name).c_str(), header_, nullptr, configs_.get()), 0) << errno;
        if (count > 0) {
            const auto records = make_records(header_, 0, count);
            ASSERT_EQ(store.WriteLogs(header_, records.data(), static_cast<std::int32_t>(count)), 0);
        }
    }
    std::vector<std::uint8_t> read(CLogFileStore& store, std::int32_t first, std::int32_t count, std::int32_t slots,
                                   int& got) {
        std::vector<std::uint8_t> out(static_cast<std::size_t>(count) * (header_.recordSize + 8 * slots));
        got = store.ReadLogs(first, header_, out.data(), count, slots, nullptr, 0);
        return out;
    }

    qvr_test::TempDir dir_;
    LogHeader header_;
    Configurations configs_;
};

TEST_F(RunFileStore, ACreatedRunIsLoggedAndReadBack) {
    {
        CLogFileStore writer;
        create(writer, 5);
        const auto more = make_records(header_, 5, 7);
        ASSERT_EQ(writer.WriteLogs(header_, more.data(), 7), 0);
        EXPECT_EQ(writer.end_offset(), header_.dataStart + 12u * header_.recordSize);
        EXPECT_EQ(writer.Close(), 0);
    }
    EXPECT_EQ(stored_end(path()), header_.dataStart + 12 * header_.recordSize);

    CLogFileStore reader;
    ASSERT_EQ(reader.Open(nullptr, path().c_str(), kGenericRead), 0);
    LogHeader h;
    ASSERT_EQ(reader.ReadHeader(h), 0);
    EXPECT_EQ(h.recordCount, 12);
    EXPECT_EQ(h.endOfData, header_.dataStart + 12 * header_.recordSize);
    EXPECT_EQ(h.blockCount, 3);
    EXPECT_EQ(reader.GetNoLogs(h), 12);

    for (std::size_t k = 0; k < 3; ++k) {
        qvr::ChannelRecord channels[4];
        ASSERT_EQ(reader.ReadChannelConfig(h, channels, k, 1, 3), 0);
        for (std::size_t j = 0; j < 3; ++j) EXPECT_EQ(channels[j], configuration(k, j + 1));
    }

    int got = 0;
    const auto plain = read(reader, 2, 20, 0, got);
    ASSERT_EQ(got, 10);
    for (int i = 0; i < got; ++i)
        EXPECT_TRUE(is_record(h, 2 + i, std::span(plain).subspan(i * h.recordSize, h.recordSize))) << i;

    // Each record takes its size and 8 bytes per extra slot, the slots marked bad with value 0.
    const auto spread = read(reader, 0, 4, 2, got);
    ASSERT_EQ(got, 4);
    const std::size_t stride = h.recordSize + 16;
    for (std::size_t i = 0; i < 4; ++i) {
        const auto record = std::span(spread).subspan(i * stride, stride);
        EXPECT_TRUE(is_record(h, static_cast<std::int64_t>(i), record));
        for (std::size_t slot = 0; slot < 2; ++slot) {
            EXPECT_EQ(log_stores::le::i32(record, h.recordSize + 8 * slot), rf::kSampleBad);
            EXPECT_EQ(log_stores::le::f32(record, h.recordSize + 8 * slot + 4), 0.0f);
        }
    }

    std::vector<std::uint8_t> one(h.recordSize);
    EXPECT_EQ(reader.ReadLog(11, h, one.data(), h.recordSize, 0, 0, nullptr, 0, false), 0);
    EXPECT_TRUE(is_record(h, 11, one));
    EXPECT_EQ(reader.ReadLog(12, h, one.data(), h.recordSize, 0, 0, nullptr, 0, false), -1);

    char location[300];
    std::size_t size = sizeof location;
    reader.GetLocation(location, &size);
    EXPECT_STREQ(location, path().c_str());
    EXPECT_EQ(size, path().size() + 1);
}

TEST_F(RunFileStore, TheHeaderAndItsCountsAreRewrittenInPlace) {
    CLogFileStore store;
    create(store, 3);
    LogHeader finished = header_;
    finished.stop = {header_.start.seconds + 60, 0, 0};
    EXPECT_EQ(store.WriteHeader(finished, true), 1);
    EXPECT_EQ(store.WriteEndOffset(3), 0);
    const std::string bytes = qvr_test::read_file(path());
    std::int32_t stop = 0, count = 0;
    std::memcpy(&stop, bytes.data() + rf::kHdrStop, 4);
    std::memcpy(&count, bytes.data() + rf::kHdrRecordCount, 4);
    EXPECT_EQ(stop, header_.start.seconds + 60);
    EXPECT_EQ(count, 3);
    LogHeader h;
    ASSERT_EQ(store.ReadHeader(h), 0);
    EXPECT_EQ(h.stop.seconds, header_.start.seconds + 60);
    EXPECT_EQ(h.recordCount, 3);

    CLogFileStore closed;
    EXPECT_EQ(closed.WriteHeader(finished, true), -1);
    EXPECT_EQ(closed.WriteEndOffset(0), -1);
}

TEST_F(RunFileStore, ChannelConfigurationsOutsideTheBlocksAreRefused) {
    CLogFileStore store;
    create(store, 0);
    qvr::ChannelRecord channels[8];
    struct Case {
        std::size_t block, first, count;
    };
    for (const Case& c : {Case{3, 0, 1}, Case{64, 0, 1}, Case{0, 4, 1}, Case{0, 2, 3}, Case{1, 0, 5}}) {
        EXPECT_EQ(store.ReadChannelConfig(header_, channels, c.block, c.first, c.count), -1) << c.block << c.first;
        EXPECT_EQ(platform::last_error(), 0);
    }
    EXPECT_EQ(store.ReadChannelConfig(header_, channels, 2, 0, 4), 0);
}

TEST_F(RunFileStore, ABatchWithOneUnmarkedRecordWritesNothing) {
    CLogFileStore store;
    create(store, 2);
    auto batch = make_records(header_, 2, 3);
    batch[2 * header_.recordSize + 1] = 0x7F;
    EXPECT_EQ(store.WriteLogs(header_, batch.data(), 3), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    EXPECT_EQ(size_of(path()), header_.dataStart + 2u * header_.recordSize);

    CLogFileStore reader;
    ASSERT_EQ(reader.Open(nullptr, path().c_str(), kGenericRead), 0);
    EXPECT_EQ(reader.WriteLogs(header_, batch.data(), 1), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
}

// A restart within the same second, or a clock set back, names the new run like the old one.
TEST_F(RunFileStore, CreatingNeverReplacesARunThatHoldsRecords) {
    {
        CLogFileStore first;
        create(first, 1);
    }
    const std::string before = qvr_test::read_file(path());
    CLogFileStore second;
    EXPECT_EQ(second.CreateRunFile(path().c_str(), header_, nullptr, configs_.get()), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorFileExists);
    EXPECT_EQ(qvr_test::read_file(path()), before);
    EXPECT_EQ(second.end_offset(), 0u);

    // What a failed create left behind (no complete record) is replaced.
    qvr_test::write_file(path("LG_200913_142710.qdl"), std::string(1000, 'x'));
    ASSERT_EQ(second.CreateRunFile(path("LG_200913_142710.qdl").c_str(), header_, nullptr, configs_.get()), 0);
    EXPECT_EQ(size_of(path("LG_200913_142710.qdl")), static_cast<std::uint64_t>(header_.dataStart));
}

TEST_F(RunFileStore, CreatingNeverRewritesARunALoggerIsWriting) {
    // A logger that has made its run but written no record yet still holds the run's end.
    CLogFileStore logger;
    ASSERT_EQ(logger.CreateRunFile(path().c_str(), header_, nullptr, configs_.get()), 0);
    const std::string before = qvr_test::read_file(path());
    CLogFileStore second;
    EXPECT_EQ(second.CreateRunFile(path().c_str(), header_, nullptr, configs_.get()), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorLockViolation);
    EXPECT_EQ(qvr_test::read_file(path()), before);
    const auto records = make_records(header_, 0, 2);
    EXPECT_EQ(logger.WriteLogs(header_, records.data(), 2), 0);
    EXPECT_EQ(logger.Close(), 0);
}

TEST_F(RunFileStore, TruncatedRecordsLeaveTheStoredEndAtTheNewEnd) {
    {
        CLogFileStore store;
        create(store, 10);
        EXPECT_EQ(store.TruncateLogs(header_, 11), -1);
        EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
        EXPECT_EQ(store.TruncateLogs(header_, -1), -1);
        EXPECT_EQ(store.TruncateLogs(header_, 3), 0);
        EXPECT_EQ(size_of(path()), header_.dataStart + 7u * header_.recordSize);
        // Logging goes on behind the records that are left.
        const auto more = make_records(header_, 7, 2);
        ASSERT_EQ(store.WriteLogs(header_, more.data(), 2), 0);
        EXPECT_EQ(store.TruncateLogs(header_, 2), 0);
        EXPECT_EQ(store.TruncateLogs(header_, 0), 0);
        EXPECT_EQ(store.Close(), 0);
    }
    EXPECT_EQ(stored_end(path()), header_.dataStart + 7 * header_.recordSize);
    CLogFileStore reader;
    ASSERT_EQ(reader.Open(nullptr, path().c_str(), kGenericRead), 0);
    EXPECT_EQ(reader.TruncateLogs(header_, 1), -1);
    LogHeader h;
    ASSERT_EQ(reader.ReadHeader(h), 0);
    EXPECT_EQ(h.recordCount, 7);
}

// A second store reading the run sees the writer's lock on the byte behind its data: bytes a
// batch in progress has put there already are never handed out.
TEST_F(RunFileStore, ReadersStopShortOfTheWritersEnd) {
    CLogFileStore writer;
    create(writer, 6);
    const auto in_progress = make_records(header_, 6, 1);
    ASSERT_EQ(platform::pwrite_all(platform::open_file(path(), O_WRONLY).get(), in_progress, writer.end_offset()), 0);

    CLogFileStore reader;
    ASSERT_EQ(reader.Open(nullptr, path().c_str(), kGenericRead), 0);
    int got = 0;
    read(reader, 0, 7, 0, got);
    EXPECT_EQ(got, 3);  // 7 -> 3 records: the first count whose range ends before the lock
    read(reader, 3, 4, 0, got);
    EXPECT_EQ(got, 2);
    read(reader, 5, 2, 0, got);
    EXPECT_EQ(got, 1);
    read(reader, 6, 1, 0, got);
    EXPECT_EQ(got, 0);
    // The writer's own store reads its records through its second handle, stopping the same way.
    read(writer, 0, 12, 0, got);
    EXPECT_EQ(got, 6);
}

TEST_F(RunFileStore, AFinishedReadOnlyRunGoesBackToItsRunningNameForLogging) {
    const std::string finished = path("LG_200913_142709_200913_150000.qdl");
    {
        CLogFileStore store;
        create(store, 4, "LG_200913_142709_200913_150000.qdl");
    }
    ASSERT_EQ(::chmod(finished.c_str(), 0444), 0);
    CLogFileStore store;
    ASSERT_EQ(store.Open(nullptr, finished.c_str(), kReadWrite), 0);
    EXPECT_NE(fs::status(finished).permissions() & fs::perms::owner_write, fs::perms::none);
    LogHeader h;
    ASSERT_EQ(store.ReadHeader(h), 0);
    ASSERT_EQ(store.OpenForLogging(h), 0);
    EXPECT_FALSE(fs::exists(finished));
    ASSERT_TRUE(fs::exists(path()));
    char location[300];
    std::size_t size = sizeof location;
    store.GetLocation(location, &size);
    EXPECT_STREQ(location, path().c_str());
    const auto more = make_records(h, 4, 2);
    ASSERT_EQ(store.WriteLogs(h, more.data(), 2), 0);
    store.Close();
    EXPECT_EQ(stored_end(path()), h.dataStart + 6 * h.recordSize);
}

TEST_F(RunFileStore, OpeningForLoggingCutsAHalfWrittenRecord) {
    {
        CLogFileStore store;
        create(store, 3);
    }
    {
        std::ofstream tail(path(), std::ios::binary | std::ios::app);
        tail << std::string(static_cast<std::size_t>(header_.recordSize / 2), '\x04');
    }
    CLogFileStore store;
    ASSERT_EQ(store.Open(nullptr, path().c_str(), kReadWrite), 0);
    LogHeader h;
    ASSERT_EQ(store.ReadHeader(h), 0);
    EXPECT_EQ(h.recordCount, 3);
    ASSERT_EQ(store.OpenForLogging(h), 0);
    EXPECT_EQ(size_of(path()), header_.dataStart + 3u * header_.recordSize);
    const auto more = make_records(h, 3, 1);
    ASSERT_EQ(store.WriteLogs(h, more.data(), 1), 0);
    int got = 0;
    const auto all = read(store, 0, 4, 0, got);
    ASSERT_EQ(got, 4);
    EXPECT_TRUE(is_record(h, 3, std::span(all).subspan(3 * h.recordSize)));
}

TEST_F(RunFileStore, OpeningForLoggingNeedsARunName) {
    {
        CLogFileStore store;
        create(store, 1, "notes.qdl");
    }
    CLogFileStore store;
    ASSERT_EQ(store.Open(nullptr, path("notes.qdl").c_str(), kReadWrite), 0);
    LogHeader h;
    ASSERT_EQ(store.ReadHeader(h), 0);
    EXPECT_EQ(store.OpenForLogging(h), -1);
    EXPECT_EQ(store.end_offset(), 0u);
    EXPECT_TRUE(fs::exists(path("notes.qdl")));
}

TEST_F(RunFileStore, MarkedRecordsAreCountedUpToTheFirstUnmarked) {
    CLogFileStore store;
    ASSERT_EQ(store.CreateRunFile(path().c_str(), header_, nullptr, configs_.get()), 0);
    const auto records = make_records(header_, 0, 9, 6);
    ASSERT_EQ(store.WriteLogs(header_, records.data(), 9), 0);
    EXPECT_EQ(store.GetNoMarkedLogs(header_), 6);
    LogHeader unmarked = header_;
    unmarked.sigChange = 0;
    EXPECT_EQ(store.GetNoMarkedLogs(unmarked), 0);
}

TEST_F(RunFileStore, RewritingTakesOnlyMarkedRecordsThatExist) {
    CLogFileStore store;
    create(store, 4);
    const auto replacement = make_records(header_, 9, 2);
    ASSERT_EQ(store.RewriteLogs(1, header_, replacement.data(), static_cast<std::int32_t>(replacement.size())), 0);
    EXPECT_EQ(store.RewriteLogs(3, header_, replacement.data(), static_cast<std::int32_t>(replacement.size())), -1);
    auto bad = replacement;
    bad[header_.recordSize] = 0;
    EXPECT_EQ(store.RewriteLogs(0, header_, bad.data(), static_cast<std::int32_t>(bad.size())), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    int got = 0;
    const auto all = read(store, 0, 4, 0, got);
    ASSERT_EQ(got, 4);
    EXPECT_TRUE(is_record(header_, 0, all));
    EXPECT_TRUE(is_record(header_, 9, std::span(all).subspan(header_.recordSize)));
    EXPECT_TRUE(is_record(header_, 10, std::span(all).subspan(2 * header_.recordSize)));
    EXPECT_TRUE(is_record(header_, 3, std::span(all).subspan(3 * header_.recordSize)));
}

TEST_F(RunFileStore, FilesThatAreNoRunsAreRefusedOnOpen) {
    CLogFileStore store;
    EXPECT_EQ(store.Open(nullptr, path().c_str(), kGenericRead), -1);
    EXPECT_EQ(platform::last_error(), ENOENT);
    qvr_test::write_file(path(), std::string(2000, '\0'));
    EXPECT_EQ(store.Open(nullptr, path().c_str(), kGenericRead), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidData);
    LogHeader h;
    EXPECT_EQ(store.ReadHeader(h), -1);
}

TEST_F(RunFileStore, RenamingMovesTheRunAndItsTextCompanion) {
    {
        CLogFileStore store;
        create(store, 1);
    }
    qvr_test::write_file(path("LG_200913_142709.txt"), "[TEXT]\r\n");
    CLogFileStore store;
    ASSERT_EQ(store.Open(nullptr, path().c_str(), kGenericRead), 0);
    EXPECT_EQ(store.Rename("lg"), 1);  // already so named, letter case ignored
    EXPECT_TRUE(fs::exists(path()));
    EXPECT_EQ(store.Rename("NEW_"), 1);
    EXPECT_TRUE(fs::exists(path("NEW_200913_142709.qdl")));
    EXPECT_TRUE(fs::exists(path("NEW_200913_142709.txt")));
    EXPECT_FALSE(fs::exists(path()));
    EXPECT_FALSE(fs::exists(path("LG_200913_142709.txt")));

    // A run whose new name is taken stays where it is.
    {
        CLogFileStore other;
        create(other, 1);
    }
    qvr_test::write_file(path("NEW_200913_142709.qdl"), "taken");
    CLogFileStore again;
    ASSERT_EQ(again.Open(nullptr, path().c_str(), kGenericRead), 0);
    EXPECT_EQ(again.Rename("NEW_"), 0);
    EXPECT_TRUE(fs::exists(path()));
    EXPECT_EQ(qvr_test::read_file(path("NEW_200913_142709.qdl")), "taken");
}

TEST_F(RunFileStore, TheTextTimeIsTheCompanionsLastWrite) {
    CLogFileStore store;
    create(store, 0);
    std::int32_t seconds = 0;
    EXPECT_EQ(store.GetTextTime(seconds), -1);
    qvr_test::write_file(path("LG_200913_142709.txt"), "[TEXT]\r\n");
    const struct timespec times[2] = {{1'700'000'000, 0}, {1'700'000'123, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path("LG_200913_142709.txt").c_str(), times, 0), 0);
    ASSERT_EQ(store.GetTextTime(seconds), 0);
    EXPECT_EQ(seconds, 1'700'000'123);
}

// Without given configurations a run copies the live ones of each block's device.
TEST_F(RunFileStore, LiveConfigurationsComeFromTheDeviceModules) {
    for (const char* code : {"B0", "B1", "B2"}) {
        void* conf = sim_host::create_module(std::string("dm_") + code + "_conf", 6 * 216);
        ASSERT_NE(conf, nullptr) << code;
        for (std::uint32_t channel = 1; channel <= 6; ++channel) {
            const qvr::ChannelRecord r = configuration(code[1] - '0' + 10, channel);
            ASSERT_EQ(shm_WriteData(conf, r.bytes, 216, (channel - 1) * 216), 0);
        }
    }
    CLogFileStore store;
    ASSERT_EQ(store.CreateRunFile(path().c_str(), header_, nullptr, nullptr), 0) << errno;
    qvr::ChannelRecord channels[4];
    ASSERT_EQ(store.ReadChannelConfig(header_, channels, 1, 0, 4), 0);
    for (std::uint32_t j = 0; j < 4; ++j) EXPECT_EQ(channels[j], configuration(11, j + 1));

    // A channel the module does not have fails the create.
    LogHeader wide = make_header(1, 7);
    CLogFileStore other;
    EXPECT_EQ(other.CreateRunFile(path("LG_200913_142710.qdl").c_str(), wide, nullptr, nullptr), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidParameter);
    EXPECT_FALSE(fs::exists(path("LG_200913_142710.qdl")));
}

}  // namespace
