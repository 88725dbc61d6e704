// A run file that no path of this machine reaches, read through the server stand-in's file
// requests: the header, the channel configurations and the records, 65,512 bytes at most
// per request.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "log_stores/run_file_store/run_file_store.h"
#include "platform/last_error.h"
#include "requests/requests_fixture.h"
#include "run_file_fixture.h"

namespace {

using log_stores::CLogFileStore;
using log_stores::kGenericRead;
using log_stores::LogHeader;
using namespace run_file_test;
namespace fs = std::filesystem;

constexpr const char* kRemoteRun = "QVR_LOGGED_DATA\\LG_201120_080000.qdl";

class RemoteRunFile : public requests_test::RequestTest {
  protected:
    void SetUp() override {
        RequestTest::SetUp();
        header_ = make_header(1, 10);
        header_.recordSize = 100;  // room the blocks leave unused
        local_ = fs::path(server().tree.folder("QVR_LOGGED_DATA")) / "LG_201120_080000.qdl";
        CLogFileStore writer;
        const Configurations configs = make_configurations(header_);
        ASSERT_EQ(writer.CreateRunFile(local_.c_str(), header_, nullptr, configs.get()), 0);
        const auto records = make_records(header_, 0, kRecords);
        ASSERT_EQ(writer.WriteLogs(header_, records.data(), kRecords), 0);
    }
    std::size_t requests(const std::string& code) const {
        const auto codes = server_->codes();
        return static_cast<std::size_t>(std::count(codes.begin(), codes.end(), code));
    }

    static constexpr std::int32_t kRecords = 10'000;
    LogHeader header_;
    fs::path local_;
};

TEST_F(RemoteRunFile, ARunIsReadThroughTheServersFileRequests) {
    CLogFileStore store;
    ASSERT_EQ(store.Open(".", kRemoteRun, kGenericRead), 0) << errno;
    EXPECT_TRUE(store.is_remote());
    LogHeader h;
    ASSERT_EQ(store.ReadHeader(h), 0);
    EXPECT_EQ(h.recordCount, kRecords);
    EXPECT_EQ(h.recordSize, 100);
    EXPECT_EQ(h.dataStart, header_.dataStart);

    qvr::ChannelRecord channels[10];
    ASSERT_EQ(store.ReadChannelConfig(h, channels, 0, 0, 10), 0);
    for (std::size_t j = 0; j < 10; ++j) EXPECT_EQ(channels[j], configuration(0, j));

    const std::size_t before = requests("RF");
    std::vector<std::uint8_t> out(std::size_t(kRecords) * 100);
    std::int32_t next = 0;
    std::vector<int> per_call;
    while (next < kRecords) {
        const int got = store.ReadLogs(next, h, out.data() + std::size_t(next) * 100, kRecords - next, 0, nullptr, 0);
        ASSERT_GT(got, 0) << next;
        per_call.push_back(got);
        next += got;
    }
    EXPECT_EQ(requests("RF") - before, 16u);
    EXPECT_EQ(per_call.front(), 655);
    EXPECT_EQ(per_call.back(), kRecords - 15 * 655);
    for (std::int32_t i = 0; i < kRecords; ++i)
        ASSERT_TRUE(is_record(h, i, std::span(out).subspan(std::size_t(i) * 100, 100))) << i;
    EXPECT_EQ(store.GetNoLogs(h), kRecords);
}

TEST_F(RemoteRunFile, TheTextTimeComesFromTheServersCompanion) {
    const fs::path companion = fs::path(local_).replace_extension(".txt");
    qvr_test::write_file(companion, "[TEXT]\r\n");
    const struct timespec times[2] = {{1'700'000'000, 0}, {1'700'000'321, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, companion.c_str(), times, 0), 0);
    CLogFileStore store;
    ASSERT_EQ(store.Open(".", kRemoteRun, kGenericRead), 0);
    std::int32_t seconds = 0;
    ASSERT_EQ(store.GetTextTime(seconds), 0);
    EXPECT_EQ(seconds, 1'700'000'321);
}

TEST_F(RemoteRunFile, ARunTheServerDoesNotHaveIsNotOpened) {
    CLogFileStore store;
    EXPECT_EQ(store.Open(".", "QVR_LOGGED_DATA\\LG_201120_090000.qdl", kGenericRead), -1);
    EXPECT_EQ(platform::last_error(), 2);
    EXPECT_FALSE(store.is_remote());
    // Without a server the missing local file is the answer.
    EXPECT_EQ(store.Open(nullptr, kRemoteRun, kGenericRead), -1);
    EXPECT_EQ(platform::last_error(), ENOENT);
}

}  // namespace
