// A data folder of another machine: the handler opens it by its UNC name, and every listing,
// header and record comes through that machine's server (the stand-in), also while a run grows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "local_fixtures.h"
#include "log_stores/local_server/local_data_server.h"
#include "logger/stand_in_logger.h"
#include "platform/last_error.h"
#include "qvr/testing/link_testing.h"
#include "requests/requests_fixture.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using log_stores::local::LocalDataServer;
using namespace local_server_test;

constexpr const char* kRemoteFolder = "\\\\PLANT2\\QVR_LOGGED_DATA\\PLANT";

struct TestClock {
    std::uint64_t now = 1'000'000;
    log_stores::local::TickClock clock() {
        return [this] { return now; };
    }
};

std::string ask(LocalDataServer& server, const std::string& request) {
    std::vector<char> reply(32'768);
    std::uint32_t length = static_cast<std::uint32_t>(reply.size());
    if (server.HandleRequest(request.data(), static_cast<std::uint32_t>(request.size()), reply.data(), &length) != 1)
        return "(no reply)";
    return std::string(reply.data());
}

class LocalRemoteFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        qvr::link_testing::reset_table();
        server_ = std::make_unique<requests_test::RequestServer>((dir_.path() / "plant2").string(), "PLANT2");
        ASSERT_EQ(server_->start(), 0);
        const fs::path folder = fs::path(server_->tree.folder("QVR_LOGGED_DATA")) / "PLANT";
        fs::create_directories(folder);
        ASSERT_EQ(finished_.open(fixture_options(folder.string(), "PLANT")), 0);
        ASSERT_EQ(finished_.start_run(kFinishedStart), 0);
        ASSERT_EQ(finished_.append(kFinishedRecords, 10), 0);
        ASSERT_EQ(finished_.finish_run(kFinishedStop), 0);
        ASSERT_EQ(logging_.open(fixture_options(folder.string(), "PLANT")), 0);
        ASSERT_EQ(logging_.start_run(kLoggingStart), 0);
        ASSERT_EQ(logging_.append(kLoggingRecords, 10), 0);
    }
    void TearDown() override {
        qvr::link_testing::reset_table();
        server_.reset();
    }
    std::size_t requests_of(const std::string& code) const {
        const auto codes = server_->codes();
        return static_cast<std::size_t>(std::count(codes.begin(), codes.end(), code));
    }

    qvr_test::TempDir dir_;
    std::unique_ptr<requests_test::RequestServer> server_;
    sim_logger::StandInLogger finished_;
    sim_logger::StandInLogger logging_;
    TestClock time_;
};

TEST_F(LocalRemoteFolder, RunsAreListedAndReadThroughTheMachinesServer) {
    LocalDataServer server(time_.clock());
    ASSERT_EQ(server.Open(kRemoteFolder), 0) << platform::last_error();
    EXPECT_GT(requests_of("DF"), 0u) << "the folder is listed by its server";

    EXPECT_EQ(ask(server, "IS"), "1," + std::to_string(kFinishedStart));
    EXPECT_EQ(ask(server, "NS"), "1," + std::to_string(kFinishedRecords + kLoggingRecords) + ",2");
    EXPECT_EQ(ask(server, "RS"), "1") << "the newest run is still logging";

    server.Refresh();
    ASSERT_EQ(server.runs_.size(), 2u);
    EXPECT_EQ(server.runs_[0].start.seconds, kFinishedStart);
    EXPECT_EQ(server.runs_[0].records, kFinishedRecords);
    EXPECT_EQ(server.runs_[1].records, kLoggingRecords);
    EXPECT_GT(requests_of("RF"), 0u) << "headers and records are read by its server";

    // Records the logger adds there arrive with the next refresh after the gate.
    ASSERT_EQ(logging_.append(7, 7), 0);
    time_.now += log_stores::local::kRefreshPeriodMs + 1;
    server.Refresh();
    EXPECT_EQ(server.runs_[1].records, kLoggingRecords + 7);
    ASSERT_FALSE(server.runs_[1].times.empty());
    EXPECT_EQ(server.runs_[1].times.back().seconds,
              kLoggingStart + static_cast<std::int32_t>((kLoggingRecords + 6) * kPeriodMs / 1000));
}

TEST_F(LocalRemoteFolder, AFolderItsServerDoesNotHaveFailsToOpen) {
    LocalDataServer server(time_.clock());
    EXPECT_EQ(server.Open("\\\\PLANT2\\QVR_LOGGED_DATA\\NONE"), -1);
    EXPECT_NE(platform::last_error(), 0);
    EXPECT_EQ(server.Open("\\\\PLANT3\\QVR_LOGGED_DATA\\PLANT"), -1) << "no server answers for that machine";
}

}  // namespace
