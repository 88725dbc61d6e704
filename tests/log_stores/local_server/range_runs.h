#pragma once
// Runs for the range requests' tests: the stand-in logger makes, in a data folder, two
// finished runs and one still logging, with blocks AI, AI again and DI, every sample known
// from its record index; a reader's run array is made from them as the handler keeps it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "log_stores/local_server/local_data_server.h"
#include "log_stores/local_server/local_range_fields.h"
#include "log_stores/log_factory.h"
#include "logger/logged_values.h"
#include "logger/stand_in_logger.h"
#include "platform/ascii_text.h"
#include "support/temp_dir.h"

namespace range_test {

namespace fs = std::filesystem;
namespace rf = log_stores::run_file;

inline constexpr std::int32_t kStartA = 1'700'000'000;
inline constexpr std::int32_t kStartB = kStartA + 100;
inline constexpr std::int32_t kStartC = kStartA + 200;
inline constexpr int kRecordsA = 40;
inline constexpr int kRecordsB = 40;
inline constexpr int kRecordsC = 20;
inline constexpr std::uint32_t kPeriodMs = 250;

struct RunSpec {
    std::int32_t start;
    int records;
    std::int32_t stop;  // 0: still logging
};
inline const std::vector<RunSpec> kRuns = {
    {kStartA, kRecordsA, kStartA + 10}, {kStartB, kRecordsB, kStartB + 10}, {kStartC, kRecordsC, 0}};

inline std::vector<sim_logger::LoggerBlock> blocks() {
    std::vector<sim_logger::LoggerBlock> b(3);
    b[0] = {"AI", 1, 4, false, std::vector<qvr::ChannelRecord>(4)};
    b[1] = {"AI", 5, 8, false, std::vector<qvr::ChannelRecord>(4)};
    b[2] = {"DI", 1, 4, true, std::vector<qvr::ChannelRecord>(4)};
    return b;
}

// The data folder, its logger (kept open: the last run is still logging) and a reader's
// collection on it.
class RangeRuns {
  public:
    RangeRuns() {
        folder_ = temp_.path() / "LOGGED_DATA" / "L1";
        fs::create_directories(folder_);
        sim_logger::LoggerOptions o;
        o.location = folder_.string();
        o.blocks = blocks();
        o.period_ms = kPeriodMs;
        o.header_text = "[HEADER]\r\nLine one\r\nLine two\r\n";
        ok_ = logger_.open(o) == 0;
        for (const RunSpec& run : kRuns) {
            ok_ = ok_ && logger_.start_run(run.start) == 0 && logger_.append(run.records, 8) == 0;
            if (run.stop != 0) ok_ = ok_ && logger_.finish_run(run.stop) == 0;
        }
        reader_ = log_stores::CreateLogCollection(folder_.string().c_str());
        ok_ = ok_ && reader_ &&
              reader_->Open(nullptr, folder_.c_str(), "L1", "", log_stores::kGenericRead) == 0;
    }
    bool ok() const { return ok_; }
    const fs::path& folder() const { return folder_; }
    sim_logger::StandInLogger& logger() { return logger_; }

    // The run array as the handler keeps it: sorted by name, each with its store and times.
    std::vector<log_stores::local::RunEntry> run_array() {
        auto runs = log_stores::local::ranges::list_runs(*reader_);
        std::sort(runs.begin(), runs.end(), [](const auto& a, const auto& b) {
            return platform::ascii_lower_copy(a.name) < platform::ascii_lower_copy(b.name);
        });
        return runs;
    }

  private:
    qvr_test::TempDir temp_;
    fs::path folder_;
    sim_logger::StandInLogger logger_;
    std::unique_ptr<log_stores::CLogCollection> reader_;
    bool ok_ = false;
};

// What the logger wrote: record `index` of run `run`.
inline TimeStamp time_of(std::size_t run, std::int64_t index) {
    return sim_logger::record_time(kRuns[run].start, index, kPeriodMs);
}
inline std::uint64_t micros(const TimeStamp& t) {
    return log_stores::local::ranges::micros_of(t);
}

}  // namespace range_test
