#pragma once
// Data locations for the local data server's tests, written by the stand-in logger: a folder
// of run files, a SQLite database and a MySQL database on the MariaDB test server. Each holds
// the runs of one logger with blocks AI 1..4 (analog), AI 5..8 (analog) and DI 1..4
// (digital): a finished run and, after it, a run still logging, with event lines in both and
// the same header text.
//
//   auto where = local_server_test::DataLocation::make(Kind::kFolder);
//   LocalDataServer server;
//   server.Open(where->location().c_str());
//
// Everything a location made is removed with it (the MySQL database is dropped). In binaries
// that link these fixtures, closing a kind-3 link does not pause 1,000 ms (see
// log_stores/local_server/local_backend_testing.h); a test of the pause sets it itself.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "logger/stand_in_logger.h"
#include "qvr/time/timestamp.h"

namespace qvr_test {
class TempDir;
}

namespace local_server_test {

enum class Kind { kFolder, kSqlite, kMySql };
const char* kind_name(Kind kind);
// The kinds a test table runs over: MySQL only when the test server is there.
std::vector<Kind> available_kinds();
// True once the close pause is removed (at start-up).
bool close_wait_removed();
// Why a kind cannot be made here ("" when it can): for GTEST_SKIP.
std::string unavailable_reason(Kind kind);

// 2024-03-05 10:00:00 UTC.
inline constexpr std::int32_t kFinishedStart = 1'709'632'800;
inline constexpr std::int64_t kFinishedRecords = 30;
inline constexpr std::int32_t kFinishedStop = kFinishedStart + 31;
// An hour later.
inline constexpr std::int32_t kLoggingStart = kFinishedStart + 3'600;
inline constexpr std::int64_t kLoggingRecords = 20;
inline constexpr std::uint32_t kPeriodMs = 1'000;
inline constexpr const char* kHeaderText = "[HEADER]\r\nPLANT NORTH\r\nKILN 2\r\n\r\nSHIFT B\r\n";
// The run name prefix of a logger's runs: its name and "_" (loggers sharing a database
// need prefixes of their own).
std::string run_prefix_of(const std::string& logger);

// AI 1..4 and AI 5..8 analog, DI 1..4 digital, with channel configurations of their own
// (tags "AI1".."AI8", "DI1".."DI4").
std::vector<sim_logger::LoggerBlock> fixture_blocks();
// The stand-in logger's options for `logger` at `location` with the fixture's blocks.
sim_logger::LoggerOptions fixture_options(const std::string& location, const std::string& logger);

// An event line of the fixture: run 0 finished, 1 logging.
struct FixtureEvent {
    TimeStamp time{};
    std::string text;
};
std::vector<FixtureEvent> fixture_events(int run);

struct LocationOptions {
    std::string logger = "PLANT";
    bool finished_run = true;
    bool logging_run = true;
};

class DataLocation {
  public:
    // Null with a failed assertion in the calling test when it cannot be made; check
    // unavailable_reason first for the MySQL kind.
    static std::unique_ptr<DataLocation> make(Kind kind, const LocationOptions& options = {});
    ~DataLocation();
    DataLocation(const DataLocation&) = delete;
    DataLocation& operator=(const DataLocation&) = delete;

    Kind kind() const { return kind_; }
    // The string the handler opens: the data folder, or the connection with ";LoggerName=".
    const std::string& location() const { return location_; }
    // The location of another logger beside this one (a sibling folder, or another LoggerName
    // in the same database), whether or not it has been written.
    std::string location_of(const std::string& logger) const;
    // Folder kind: the data folder; "" for the database kinds.
    const std::string& folder() const { return folder_; }
    // Folder kind: the folder that holds the data folder and its siblings.
    const std::filesystem::path& parent() const { return parent_; }
    // Database kinds: the connection string without a logger name; "" for folders.
    const std::string& connection() const { return connection_; }
    const std::string& logger_name() const { return logger_name_; }

    // Writes the fixture's runs for another logger beside this one. 0, or -1.
    int add_logger(const std::string& logger, const LocationOptions& options);
    // The logger that keeps the logging run open (null when the location has none): append
    // to it, finish it, start the next run.
    sim_logger::StandInLogger* live_logger() { return live_.get(); }
    // Finished runs' and the logging run's locations, in the order they were made.
    const std::vector<std::string>& run_locations() const { return runs_; }

  private:
    DataLocation() = default;
    int write_logger(const std::string& location, const std::string& logger, const LocationOptions& options,
                     bool keep_live);

    Kind kind_ = Kind::kFolder;
    std::unique_ptr<qvr_test::TempDir> dir_;
    std::filesystem::path parent_;
    std::string folder_;
    std::string connection_;
    std::string logger_name_;
    std::string location_;
    std::string mysql_database_;
    std::vector<std::string> runs_;
    std::unique_ptr<sim_logger::StandInLogger> live_;
    std::vector<std::unique_ptr<sim_logger::StandInLogger>> siblings_;
};

}  // namespace local_server_test
