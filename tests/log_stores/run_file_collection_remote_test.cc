// Folders of another machine: listed and read through that machine's server (the stand-in)
// when no mapping reaches them, and worked on through the RemoteMachines mapping when one does.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "collection_fixture.h"
#include "log_stores/run_file_collection/run_file_collection.h"
#include "log_stores/run_file_store/run_file_store.h"
#include "platform/last_error.h"
#include "platform/registry_key.h"
#include "platform/remote_path.h"
#include "qvr/testing/link_testing.h"
#include "requests/requests_fixture.h"
#include "run_file_fixture.h"

namespace {

using namespace collection_test;
using log_stores::CLogFileCollection;

constexpr std::int32_t kStart = 1704164645;  // 240102_030405
constexpr const char* kRemoteFolder = "\\\\PLANT2\\QVR_LOGGED_DATA\\L1";

class RemoteCollection : public CollectionTest {
  protected:
    void SetUp() override {
        CollectionTest::SetUp();
        qvr::link_testing::reset_table();
        server_ = std::make_unique<requests_test::RequestServer>((root_ / "plant2").string(), "PLANT2");
        ASSERT_EQ(server_->start(), 0);
        remote_ = fs::path(server_->tree.folder("QVR_LOGGED_DATA")) / "L1";
    }
    void TearDown() override {
        qvr::link_testing::reset_table();
        server_.reset();
    }
    std::size_t listings() const {
        const auto codes = server_->codes();
        return static_cast<std::size_t>(std::count(codes.begin(), codes.end(), "DF"));
    }
    void make_run(const fs::path& path, std::int32_t records) {
        log_stores::CLogFileStore store;
        ASSERT_EQ(store.CreateRunFile(path.c_str(), header_, nullptr, configs_.get()), 0);
        const auto bytes = run_file_test::make_records(header_, 0, records);
        ASSERT_EQ(store.WriteLogs(header_, bytes.data(), records), 0);
        store.Close();
    }

    std::unique_ptr<requests_test::RequestServer> server_;
    fs::path remote_;
    log_stores::LogHeader header_ = run_file_test::make_header(1, 4, kStart);
    run_file_test::Configurations configs_ = run_file_test::make_configurations(header_);
};

TEST_F(RemoteCollection, AnUnmappedFolderIsListedAndReadThroughItsServer) {
    fs::create_directories(remote_);
    make_run(remote_ / "L1_240102_030405_240102_040000.qdl", 7);
    qvr_test::write_file(remote_ / "L1_240102_050000.qdl", "");
    qvr_test::write_file(remote_ / "notes.txt", "");
    qvr_test::write_file(remote_ / "L1_500101_000000.qdl", "");  // past 32-bit seconds: no run

    CLogFileCollection writing;
    EXPECT_EQ(writing.Open(nullptr, kRemoteFolder, "L1", "L1_", kReadWrite), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorBadNetPath);

    CLogFileCollection collection;
    ASSERT_EQ(collection.Open(nullptr, kRemoteFolder, "L1", "L1_", kRead), 0) << platform::last_error();
    EXPECT_TRUE(collection.is_remote());
    EXPECT_EQ(listings(), 1u);
    EXPECT_EQ(server_->sent().back(), requests_test::bytes("DF,QVR_LOGGED_DATA\\L1\t*.qdl\t0"));

    const std::vector<ListedRun> expected = {
        {"L1_240102_030405_240102_040000.qdl", kStart, 1704168000},
        {"L1_240102_050000.qdl", 1704171600, 0},
    };
    EXPECT_EQ(list(collection), expected);
    EXPECT_EQ(listings(), 2u) << "one pass: the names take the room of the names that arrived";
    EXPECT_EQ(server_->sent().back(), requests_test::bytes("DF,QVR_LOGGED_DATA\\L1\t*\t0"));

    char name[log_stores::kRunListNameSize];
    std::size_t size = sizeof name;
    ASSERT_EQ(collection.GetLatestRun(name, &size, nullptr, nullptr, false), 1);
    EXPECT_STREQ(name, "L1_240102_050000.qdl");

    auto store = collection.OpenStore("L1_240102_030405_240102_040000.qdl", kRead);
    ASSERT_NE(store, nullptr) << platform::last_error();
    log_stores::LogHeader h;
    ASSERT_EQ(store->ReadHeader(h), 0);
    EXPECT_EQ(h.recordCount, 7);

    std::size_t location_size = 0;
    collection.GetStoreLocation("x.qdl", nullptr, &location_size);
    std::string location(location_size, '\0');
    collection.GetStoreLocation("x.qdl", location.data(), &location_size);
    EXPECT_STREQ(location.c_str(), "\\\\PLANT2\\QVR_LOGGED_DATA\\L1\\x.qdl");
}

TEST_F(RemoteCollection, AListingTheServerRefusesOpensNothing) {
    CLogFileCollection collection;
    EXPECT_EQ(collection.Open(nullptr, "\\\\PLANT2\\QVR_LOGGED_DATA\\NONE", "L1", "", kRead), -1);
    EXPECT_EQ(platform::last_error(), platform::kErrorPathNotFound);
    EXPECT_FALSE(collection.is_remote());
    CLogFileCollection unknown;
    EXPECT_EQ(unknown.Open(nullptr, "\\\\PLANT3\\QVR_LOGGED_DATA\\L1", "L1", "", kRead), -1)
        << "no server answers for that machine";
}

TEST_F(RemoteCollection, AMappedFolderIsWorkedOnHere) {
    const fs::path mount = root_ / "mounts" / "plant2";
    fs::create_directories(mount / "QVR_LOGGED_DATA");
    platform::RegistryKey key;
    ASSERT_EQ(platform::RegistryKey::create(platform::RegistryHive::machine, platform::kRemoteMachinesKey,
                                            platform::kKeyAllAccess, key),
              0);
    ASSERT_EQ(key.set_string("PLANT2", mount.string()), 0);

    CLogFileCollection collection;
    ASSERT_EQ(collection.Open(nullptr, "\\\\PLANT2\\QVR_LOGGED_DATA\\L9", "L9", "L9_", kReadWrite), 0)
        << platform::last_error();
    EXPECT_FALSE(collection.is_remote());
    EXPECT_TRUE(fs::is_directory(mount / "QVR_LOGGED_DATA" / "L9"));
    EXPECT_EQ(server_->dispatcher().request_count(), 0u);

    std::int32_t start = kStart;
    auto store = collection.NewRun(&start, false, 0, header_, "text", false, nullptr, false, configs_.get());
    ASSERT_NE(store, nullptr) << platform::last_error();
    const TimeStamp begin{kStart, 0, 0}, end{kStart + 60, 0, 0};
    ASSERT_EQ(collection.FinishRun(*store, &begin, &end, false), 0);
    EXPECT_EQ(entries(mount / "QVR_LOGGED_DATA" / "L9"),
              (std::set<std::string>{"L9_240102_030405_240102_030505.qdl", "L9_240102_030405_240102_030505.txt"}));
    EXPECT_EQ(list(collection).size(), 1u);

    // The share itself is never made.
    CLogFileCollection other;
    EXPECT_EQ(other.Open(nullptr, "\\\\PLANT2\\QVR_OTHER\\L9", "L9", "", kReadWrite), -1);
    EXPECT_FALSE(fs::exists(mount / "QVR_OTHER"));
}

}  // namespace
