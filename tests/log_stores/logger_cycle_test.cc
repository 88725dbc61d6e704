// A whole logger cycle: the stand-in logger in a process of its own makes runs, writes them at
// its rate and finishes them, while this process reads the run being written; then every run
// is listed, read back whole and purged.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "collection_fixture.h"
#include "host/runtime_host.h"
#include "log_stores/status_channels/logger_status.h"
#include "log_stores/run_file_collection/run_file_collection.h"
#include "logger/logged_values.h"
#include "logger/stand_in_logger.h"
#include "platform/last_error.h"
#include "support/child_process.h"

namespace {

using namespace collection_test;
using namespace std::chrono_literals;
using log_stores::CLogFileCollection;
using log_stores::LogHeader;

constexpr std::int32_t kFirstStart = 1'700'000'000;
constexpr int kRuns = 3;
constexpr int kRecords = 60;
constexpr std::uint32_t kPeriodMs = 20;

// The records of a run that a reader sees, each checked against what the logger wrote.
struct ReadBack {
    std::int32_t records = -1;
    bool all_exact = false;
    LogHeader header{};
};

ReadBack read_run(CLogFileCollection& collection, const std::string& name) {
    ReadBack out;
    auto store = collection.OpenStore(name.c_str(), kRead);
    if (!store || store->ReadHeader(out.header) != 0) return out;
    const LogHeader& h = out.header;
    std::vector<std::uint8_t> records(static_cast<std::size_t>(h.recordSize) * static_cast<std::size_t>(h.recordCount));
    const int got = h.recordCount == 0 ? 0 : store->ReadLogs(0, h, records.data(), h.recordCount, 0, nullptr, 0);
    out.records = got;
    out.all_exact = true;
    const sim_logger::DigitalBlocks digital = 0b10;  // the tool's second block is digital
    for (int i = 0; i < got; ++i) {
        const auto one = std::span(records).subspan(static_cast<std::size_t>(i) * h.recordSize, h.recordSize);
        if (!sim_logger::is_record(h, digital, i, kPeriodMs, one)) out.all_exact = false;
    }
    return out;
}

class LoggerCycle : public CollectionTest {};

TEST_F(LoggerCycle, RunsAreMadeWrittenFinishedListedReadBackAndPurged) {
    const fs::path folder = root_ / "cycle" / "L1";
    fs::create_directories(folder.parent_path());
    auto logger = qvr_test::ChildProcess::spawn(
        qvr_test::bin_path("qvr_logger"),
        {"--folder", folder.string(), "--logger", "L1", "--prefix", "L1_", "--runs", std::to_string(kRuns),
         "--records", std::to_string(kRecords), "--period-ms", std::to_string(kPeriodMs), "--paced", "--batch", "3",
         "--channels", "6", "--digital", "3", "--events", "4", "--start", std::to_string(kFirstStart)},
        {}, true);

    // Read the run being written while the logger works: only whole records ever come back.
    CLogFileCollection reader;
    int reads_while_logging = 0;
    bool torn = false;
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (logger.running() && std::chrono::steady_clock::now() < deadline) {
        if (!fs::is_directory(folder) || reader.Open(nullptr, folder.c_str(), "L1", "L1_", kRead) != 0) {
            std::this_thread::sleep_for(5ms);
            continue;
        }
        char name[log_stores::kRunListNameSize];
        std::size_t size = sizeof name;
        TimeStamp start{}, stop{};
        if (reader.GetLatestRun(name, &size, &start, &stop, false) == 1 && stop.seconds == 0) {
            const ReadBack seen = read_run(reader, name);
            if (seen.records > 0) {
                ++reads_while_logging;
                torn = torn || !seen.all_exact;
            }
        }
        std::this_thread::sleep_for(7ms);
        if (logger.wait(0ms)) break;
    }
    ASSERT_EQ(logger.wait_exit_code(30s), 0);
    const std::string out = logger.read_stdout(1s, "done");
    EXPECT_NE(out.find("done"), std::string::npos) << out;
    EXPECT_GT(reads_while_logging, 0) << "the reader saw no run being written";
    EXPECT_FALSE(torn) << "a reader was handed a record the logger had not finished";

    // Every run listed, finished, read back whole.
    ASSERT_EQ(reader.Open(nullptr, folder.c_str(), "L1", "L1_", kRead), 0);
    const std::vector<ListedRun> runs = list(reader);
    ASSERT_EQ(runs.size(), static_cast<std::size_t>(kRuns));
    for (const ListedRun& run : runs) {
        SCOPED_TRACE(run.name);
        EXPECT_NE(run.stop, 0);
        const ReadBack back = read_run(reader, run.name);
        EXPECT_EQ(back.records, kRecords);
        EXPECT_TRUE(back.all_exact);
        EXPECT_EQ(back.header.blockCount, 2);
        EXPECT_EQ(back.header.start.seconds, run.start);
        EXPECT_FALSE(writable(folder / run.name)) << "finished runs are read-only";
        auto store = reader.OpenStore(run.name.c_str(), kRead);
        ASSERT_NE(store, nullptr);
        qvr::ChannelRecord channels[3];
        ASSERT_EQ(store->ReadChannelConfig(back.header, channels, 1, 0, 3), 0);
        std::size_t text_size = 4096;
        std::vector<char> text(text_size);
        EXPECT_EQ(store->ReadSection("TEXT", text.data(), &text_size, 0, 0), 4) << "the four events";
        text_size = text.size();
        EXPECT_EQ(store->ReadSection("HEADER", text.data(), &text_size, 0, 0), 1);
        EXPECT_EQ(std::string(text.data()), "Stand-in logger\r\n");
    }
    char latest[log_stores::kRunListNameSize];
    std::size_t size = sizeof latest;
    ASSERT_EQ(reader.GetLatestRun(latest, &size, nullptr, nullptr, false), 1);
    EXPECT_EQ(latest, runs.back().name);

    // Purged up to the second run's stop: only the last run is left, with its companion.
    sim_logger::LoggerOptions options;
    options.location = folder.string();
    sim_logger::StandInLogger purger;
    ASSERT_EQ(purger.open(options), 0);
    purger.purge(runs[1].stop + 1);
    const std::string last_stem = runs.back().name.substr(0, runs.back().name.size() - 4);
    EXPECT_EQ(entries(folder), (std::set<std::string>{runs.back().name, last_stem + ".txt"}));
}

TEST_F(LoggerCycle, TheLoggerPublishesItsStateOnTheStatusChannels) {
    sim_host::RuntimeHost host;
    sim_host::ProcessSpec status;
    status.name = "logst";
    status.code = "LS";
    status.analog = true;
    status.channels.assign(32, qvr::ChannelRecord{});
    ASSERT_GE(host.add_process(status), 0);
    ASSERT_EQ(host.add_logger({"stand", "CYCLE"}), 1);

    sim_logger::LoggerOptions options;
    fs::create_directories(root_ / "status");
    options.location = (root_ / "status" / "L1").string();
    options.status_logger = 1;
    options.blocks[0].last = 2;
    options.blocks[0].channels = {sim_host::analog_input("AI1"), sim_host::analog_input("AI2")};
    sim_logger::StandInLogger logger;
    ASSERT_EQ(logger.open(options), 0);
    ASSERT_EQ(logger.start_run(kFirstStart), 0);
    ASSERT_EQ(logger.append(10, 2), 0);
    EXPECT_EQ(host.value("LS", kStatusRealTimeNumber), 1.0f) << "the first run";
    EXPECT_EQ(host.value("LS", kStatusRealTimeDate), 231114.0f) << "the last record's date";
    EXPECT_EQ(host.value("LS", kStatusWriteCount), 5.0f) << "one write per batch";
    EXPECT_EQ(host.value("LS", kStatusBytesWritten), static_cast<float>(10 * logger.header().recordSize));
    ASSERT_EQ(logger.finish_run(kFirstStart + 10), 0);
    logger.stop();
}

}  // namespace
