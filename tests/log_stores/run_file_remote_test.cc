// A run file that no path of this machine reaches, read through the server stand-in's file
// requests: the header, the channel configurations and the records, 65,512 bytes at most
// per request.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "log_stores/run_file/run_file_format.h"
#include "log_stores/run_file_store/run_file_store.h"
#include "platform/last_error.h"
#include "platform/registry_key.h"
#include "platform/remote_path.h"
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

TEST_F(RemoteRunFile, TheRunsTextIsReadThroughTheServerAndUtf16FormsNeedALocalRun) {
    qvr_test::write_file(fs::path(local_).replace_extension(".txt"), "[HEADER]\r\nLine 4\r\n");
    CLogFileStore store;
    ASSERT_EQ(store.Open(".", kRemoteRun, kGenericRead), 0);
    char out[64] = {};
    std::size_t size = sizeof out;
    EXPECT_EQ(store.ReadSection("HEADER", out, &size, 0, 0), 1);
    EXPECT_STREQ(out, "Line 4\r\n");
    char16_t wide[64];
    size = 64;
    EXPECT_EQ(store.ReadSectionW("HEADER", wide, &size, 0, 0), -1);
    EXPECT_EQ(store.AddTextW(1, u"x", nullptr, nullptr), -1);
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

// Paths of another machine open through its RemoteMachines folder: given as such, or made
// from a pipe server's name when the path alone opens nothing here.
TEST_F(RemoteRunFile, MappedMachinesAreReachedThroughTheirFolder) {
    const fs::path mount = temp_.path() / "mnt" / "plant2";
    fs::create_directories(mount / "QVR_LOGGED_DATA");
    fs::copy_file(local_, mount / "QVR_LOGGED_DATA" / "LG_201120_080000.qdl");
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, platform::kRemoteMachinesKey,
                                            platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string("PLANT2", mount.string()), 0);

    for (const auto& [server, path] : {std::pair<const char*, const char*>{nullptr, "\\\\plant2\\QVR_LOGGED_DATA\\LG_201120_080000.qdl"},
                                       {"plant2", kRemoteRun}}) {
        CLogFileStore store;
        ASSERT_EQ(store.Open(server, path, kGenericRead), 0) << path;
        EXPECT_FALSE(store.is_remote());
        LogHeader h;
        ASSERT_EQ(store.ReadHeader(h), 0);
        EXPECT_EQ(h.recordCount, kRecords);
    }
    CLogFileStore unmapped;
    EXPECT_EQ(unmapped.Open(nullptr, "\\\\plant3\\QVR_LOGGED_DATA\\LG_201120_080000.qdl", kGenericRead), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorBadNetPath);
    EXPECT_EQ(requests("RF"), 0u);
}

// A run logged for another machine's server takes that server's channel configurations.
TEST_F(RemoteRunFile, ANewRunForAnotherServerFetchesItsChannelConfigurations) {
    requests_test::RequestServer plant((temp_.path() / "plant").string(), "PLANT2");
    ASSERT_EQ(plant.start(), 0);
    const LogHeader h = make_header(2, 3);
    for (std::size_t k = 0; k < 2; ++k)
        for (std::size_t j = 0; j < 3; ++j) {
            const qvr::ChannelRecord r = configuration(k + 5, j);
            plant.dispatcher().script_reply("CV", "1,000216" + std::string(reinterpret_cast<const char*>(r.bytes), 216));
        }
    CLogFileStore store;
    const std::string path = (temp_.path() / "LG_201120_100000.qdl").string();
    ASSERT_EQ(store.CreateRunFile(path.c_str(), h, "PLANT2", nullptr), 0) << errno;
    EXPECT_EQ(plant.sent(), (std::vector<std::string>{requests_test::bytes("CV,B0,1"), requests_test::bytes("CV,B0,2"),
                                                      requests_test::bytes("CV,B0,3"), requests_test::bytes("CV,B1,1"),
                                                      requests_test::bytes("CV,B1,2"), requests_test::bytes("CV,B1,3")}));
    // The run keeps them byte for byte.
    store.Close();
    const std::string file = qvr_test::read_file(path);
    for (std::size_t j = 0; j < 3; ++j) {
        const std::size_t at = log_stores::run_file::channel_config_offset(h, 1, static_cast<std::uint32_t>(j));
        ASSERT_LE(at + qvr::kChannelRecordSize, file.size());
        EXPECT_EQ(std::memcmp(file.data() + at, configuration(6, j).bytes, qvr::kChannelRecordSize), 0) << j;
    }

    // A reply too short to hold a configuration fails the create and leaves no run.
    plant.dispatcher().script_reply("CV", "1,short");
    CLogFileStore other;
    const std::string second = (temp_.path() / "LG_201120_110000.qdl").string();
    EXPECT_EQ(other.CreateRunFile(second.c_str(), h, "PLANT2", nullptr), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorInvalidData);
    EXPECT_FALSE(fs::exists(second));
}

}  // namespace
