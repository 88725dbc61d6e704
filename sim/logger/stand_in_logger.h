#pragma once
// A stand-in for the product's logger program, for tests and benchmarks: it owns one
// collection, makes runs with a laid-out header and channel configurations (given records, or
// the live device modules the host stand-in made), appends records of changing values at a
// set rate, adds event lines and positions, finishes and purges runs, and publishes its
// state on the status channels when it has a logger number there.
//
//   sim_logger::LoggerOptions o;
//   o.location = folder; o.blocks = {{"AA", 1, 8}};
//   sim_logger::StandInLogger logger;
//   logger.open(o); logger.start_run(start); logger.append(100); logger.finish_run(stop);
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "log_stores/log_collection.h"
#include "log_stores/log_header.h"
#include "log_stores/log_store.h"
#include "logger/logged_values.h"
#include "qvr/records/channel_record.h"

namespace sim_logger {

struct LoggerBlock {
    std::string prefix = "AA";  // the device's 2-letter code
    std::uint16_t first = 1;
    std::uint16_t last = 8;
    bool digital = false;
    // One record per channel; empty: CreateRunFile copies the live device module's.
    std::vector<qvr::ChannelRecord> channels;
};

struct LoggerOptions {
    std::string location;  // a folder text ("" the logger's folder) or a "PROVIDER=" connection
    std::string logger = "L1";
    std::string prefix = "L1_";
    std::vector<LoggerBlock> blocks = {LoggerBlock{}};
    std::string header_text = "[HEADER]\r\nStand-in logger\r\n";
    bool utf16_text = false;      // header text written as UTF-16
    bool archive = false;         // pack the configuration into each run's ".qvr"
    bool read_only = true;        // finished runs made read-only
    std::uint32_t period_ms = 1000;  // between records (also the recorded time step)
    bool paced = false;           // wait the period between records (else as fast as possible)
    int status_logger = 0;        // logger number on the status channels; 0: none
};

class StandInLogger {
  public:
    StandInLogger();
    ~StandInLogger();
    StandInLogger(const StandInLogger&) = delete;
    StandInLogger& operator=(const StandInLogger&) = delete;

    // Creates and opens the collection (write access). 0, or -1 with the last error.
    int open(const LoggerOptions& options);
    // A new run that starts at `start` (UTC seconds). 0 / -1.
    int start_run(std::int32_t start);
    // Appends `count` records, one per period, the header's end offset written after each
    // batch so that readers see them. 0 / -1.
    int append(std::int64_t count, std::int64_t batch = 1);
    int add_event(const TimeStamp& time, const std::string& text);
    int add_position(std::int32_t seconds, float value);
    // Finishes the current run at `stop` (its finished name). 0 / -1.
    int finish_run(std::int32_t stop);
    // Deletes the current run and its companions. 0 / -1.
    int discard_run();
    // Deletes the finished runs that stopped before `seconds`.
    void purge(std::int32_t seconds);
    // Ends publishing on the status channels.
    void stop();

    const log_stores::LogHeader& header() const { return header_; }
    DigitalBlocks digital_blocks() const { return digital_; }
    std::int64_t records_written() const { return written_; }
    // The current (or last finished) run's location.
    std::string run_location() const;
    log_stores::CLogCollection* collection() { return collection_.get(); }
    // The run being made; null between runs.
    log_stores::CLogStore* store() { return store_.get(); }

  private:
    int lay_out(std::int32_t start);

    LoggerOptions options_;
    std::unique_ptr<log_stores::CLogCollection> collection_;
    std::unique_ptr<log_stores::CLogStore> store_;
    log_stores::LogHeader header_{};
    DigitalBlocks digital_ = 0;
    std::int64_t written_ = 0;
    std::uint32_t runs_ = 0;  // runs made: the real-time log number
    std::string last_location_;
    bool status_ = false;
};

// The header of a run laid out for `blocks` (no records), starting at `start`.
log_stores::LogHeader make_header(const std::vector<LoggerBlock>& blocks, std::int32_t start);
DigitalBlocks digital_of(const std::vector<LoggerBlock>& blocks);

}  // namespace sim_logger
