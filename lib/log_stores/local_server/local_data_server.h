#pragma once
// The local data server: a server string that names a data folder or a "PROVIDER=" connection
// is answered in this process from the logged data there, with the request texts of the host
// request protocol. One object per link; used under the link's entry lock, one request at a
// time, so it keeps no lock of its own.
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "log_stores/log_collection.h"
#include "log_stores/log_header.h"
#include "log_stores/log_store.h"
#include "qvr/records/channel_record.h"
#include "qvr/time/timestamp.h"

namespace log_stores::local {

// Milliseconds of a monotonic clock. Tests inject their own to advance the timers.
using TickClock = std::function<std::uint64_t()>;
TickClock monotonic_clock();

inline constexpr int kStatusChannelCount = 56;
inline constexpr int kPublishedStatusChannels = 32;
inline constexpr std::uint32_t kCurrentRunsPeriodMs = 500;
inline constexpr std::uint32_t kLatestRunCheckMs = 30'000;
inline constexpr std::uint32_t kRefreshPeriodMs = 1'000;
inline constexpr std::int32_t kCacheBlockRecords = 50'000;
inline constexpr std::size_t kMaxTokenLength = 99;

// Sample flags as they travel in CV/RV answers and the range buffers.
inline constexpr std::uint32_t kFlagDigitalState = 0x01;
inline constexpr std::uint32_t kFlagNoValue = 0x20;
inline constexpr std::uint32_t kFlagCleared = 0x40;
inline constexpr std::uint32_t kFlagHasValue = 0x80;

// A channel named by its 2-letter prefix and number.
struct ChannelKey {
    std::array<char, 2> prefix{};
    std::uint16_t number = 0;
};
// Prefix (2 characters, case-insensitive) first, then number.
bool key_less(const ChannelKey& a, const ChannelKey& b);
bool key_equal(const ChannelKey& a, const ChannelKey& b);

// What a channel-list token is.
struct ChannelToken {
    enum Kind { kNone, kNumber, kPrefix } kind = kNone;
    int number = 0;                 // kNumber
    std::array<char, 2> prefix{};   // kPrefix (one letter: second is NUL)
};
// 1..5 digits: a number; 1 or 2 letters: a prefix; anything else: kNone.
ChannelToken ParseChannelToken(std::string_view token);

// One run of the main collection, as the range requests see it.
struct RunEntry {
    std::string name;                   // as listed by the collection
    TimeStamp start{};
    TimeStamp stop{};                   // seconds 0 while logging
    std::unique_ptr<CLogStore> store;   // null: it failed to open, kept without store
    LogHeader header{};
    std::int32_t records = 0;           // records read into the cache
    std::vector<TimeStamp> times;       // one per cached record, in record order
    // Per cached record, one sample per channel of `LocalDataServer::dashboard_` that the
    // run holds, in that order (flags 0x20 where the run does not hold it).
    std::vector<std::uint64_t> dashboard_samples;
};

// The open latest run of one collection.
struct CurrentRun {
    std::unique_ptr<CLogStore> store;
    LogHeader header{};
    std::string name;
    std::int32_t record_count = 0;      // at the last update
    std::int32_t last_readable = -1;    // index; -1 none, -2 the search failed
    std::vector<std::uint8_t> last_record;  // its bytes (recordSize)
    std::string header_text;            // the run's HEADER section
};

class LocalDataServer {
  public:
    LocalDataServer();
    explicit LocalDataServer(TickClock clock);
    ~LocalDataServer();
    LocalDataServer(const LocalDataServer&) = delete;
    LocalDataServer& operator=(const LocalDataServer&) = delete;

    // 0, or -1 with the last error (a database location without LoggerName: -1, errno 0).
    int Open(const char* location);
    void Close();
    // *replyLength: in, the capacity of `reply`; out, the reply's length (NUL included). 1 with
    // a reply (text, binary after "1," for CV/RV/TC, "-1,122" when the answer does not fit);
    // 0 with no reply.
    int HandleRequest(const char* request, std::uint32_t length, char* reply, std::uint32_t* replyLength);

    // Before every request but "5S".."8S".
    void UpdateCurrentRuns();
    void UpdateLoggerStatus();
    // Before "5S".."8S".
    void Refresh();

    // The operations behind "5S".."8S" and "NS". Each gives the reply text in `reply`.
    std::string GetStoreSummary(std::string_view fields);
    std::string CountAllRecords();
    std::string GetSectionText(std::string_view fields);
    std::string ReadRecordRange(std::string_view fields);
    std::string ReadRecordRangeEx(std::string_view fields);
    // Parses a channel list into the selection (unknown channels kept too); the keys in list
    // order.
    std::vector<ChannelKey> SelectChannels(std::string_view list);

    // --- state shared by the files of the handler (not part of the request interface) ---
    struct Collection {
        // Declared so that std::optional<Collection> is constructible inside this class too.
        Collection() {}
        std::unique_ptr<CLogCollection> collection;
        std::string folder;        // folder locations (260 characters at most)
        std::string logger_name;   // database locations (100 characters at most)
        CurrentRun current;
        bool latest_opened = false;
    };

    // The store that answers: the second collection's current store when open, else the main.
    CurrentRun* answering_run();
    CurrentRun* other_run();

    TickClock clock_;
    std::array<std::optional<Collection>, 2> collections_;
    std::unique_ptr<CLogCollection> spare_;   // same kind, on the main location
    bool database_ = false;
    std::string connection_;                  // database locations
    std::string server_name_;                 // a remote UNC folder's server
    std::vector<RunEntry> runs_;              // main collection, sorted by name (case-insensitive)

    std::array<qvr::ChannelRecord, kStatusChannelCount> status_configs_{};
    std::array<std::uint32_t, kStatusChannelCount> status_flags_{};
    std::array<std::uint32_t, kStatusChannelCount> status_values_{};  // 4-byte value (float bits or integer)

    std::vector<ChannelKey> selection_;   // dashboard set + channels named by 7S/8S, sorted, unique
    std::optional<std::vector<ChannelKey>> dashboard_;  // unknown until the first Refresh found it
    bool dashboard_loaded_ = false;

    std::optional<std::uint64_t> last_current_update_;
    std::optional<std::uint64_t> last_latest_check_;
    std::optional<std::uint64_t> last_refresh_;
    std::optional<std::int64_t> folder_write_time_;  // data folder's last-write time at the last scan
    std::string events_text_;                        // "events.txt" of the data folder at the last scan

    // What the refresh keeps of each run beside its RunEntry: run_scans_[i] goes with runs_[i].
    struct RunScan {
        struct SamplePlace {
            int block = -1;  // -1: the run does not hold the channel
            std::uint32_t index = 0;
        };
        std::vector<SamplePlace> dashboard_places;  // per channel of dashboard_
        std::string text_section;                   // the run's "TEXT" section at the last read
        std::string header_section;                 // its "HEADER" section
        bool texts_read = false;
        bool texts_final = false;                   // read after the run stopped logging: not read again
        std::optional<std::int32_t> text_time;      // the store's text time at the last read
        bool texts_recheck = false;                 // read once more: text times count whole seconds
        std::unique_ptr<CLogStore> text_store;      // a logging database run: its texts, beside the readers of records
        bool header_read = false;
        bool damaged = false;                       // reported and skipped
        bool size_reported = false;
        bool corrupt_reported = false;              // a logging run's header that did not hold, said once
        // A database run: the refresh's own store for its records, so that requests reading
        // through the run's store do not move the place the next refresh goes on from.
        std::unique_ptr<CLogStore> record_reader;
        bool records_complete = false;              // finished and read to its end: not read again
    };
    std::vector<RunScan> run_scans_;                 // parallel to runs_
    std::optional<std::int64_t> events_write_time_;  // "events.txt" last-write time (ns) and size at the last read
    std::int64_t events_size_ = -1;

    // Opens each collection's latest run where none is open or a newer one exists; 0, or -1
    // when the main collection's latest run is listed but cannot be opened.
    int OpenLatestRuns();
    std::optional<std::uint64_t> last_status_update_;  // UpdateLoggerStatus's 500 ms gate
    std::string status_place_run_;                      // the run whose place LS20 shows
    std::int32_t status_place_ = 0;                     // its 1-based place in the run list
    std::string read_range(std::string_view fields, bool ex);  // "7S" (ex false) and "8S" (ex true) alike
    // Channel configurations of a current run, per block, read once per run (CV, TC, IP, TP).
    struct RunConfigs {
        const CLogStore* store = nullptr;
        std::string run;  // the store's location
        std::vector<std::vector<qvr::ChannelRecord>> blocks;
        std::vector<std::pair<std::string, ChannelKey>> tags;  // upper-case tags, sorted
    };
    std::array<RunConfigs, 2> run_configs_;  // one per collection
    const RunConfigs& configs_of(const CurrentRun& run);  // reads them when the run changed
};

// The dashboard channel set of a data folder (menu.xml, then each dashboard it lists), sorted
// and unique; nullopt when the menu cannot be read. Trace lines as the handler writes them.
std::optional<std::vector<ChannelKey>> LoadWebHmiChannels(const std::string& data_folder);

// A cached sample: the flags word (0x40 cleared) in the low half and the value's bits in the
// high half, so that in memory it is the {u32 flags, f32 value} pair of the range buffers.
std::uint64_t PackSample(std::uint32_t flags, float value);
std::uint32_t SampleFlags(std::uint64_t sample);
float SampleValue(std::uint64_t sample);

// The location of the second collection beside `name` (a folder or a logger name): without a
// "_FAST_LOG" suffix, or with "FAST_LOG" made "SLOW_LOG" (letter case ignored); nullopt when
// neither applies.
std::optional<std::string> SecondCollectionName(std::string_view name);

}  // namespace log_stores::local
