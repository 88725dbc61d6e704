#pragma once
// The viewer's only way to logged data: the logged-data requests over the link of a data
// folder or a database connection, which the local data server answers in this process. It
// never opens a store itself.
//
//   viewer::LoggedDataLink link;
//   if (!link.open(location)) fail(link.error());
//   auto runs = link.runs();  auto channels = link.channels();
//   link.read(runs->back(), {}, *channels, [](std::uint64_t time, std::span<const Sample> s) { ... });
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace viewer {

// One channel of the latest run, as its configuration names it (texts in UTF-8).
struct Channel {
    std::array<char, 2> prefix{};
    std::uint16_t number = 0;
    std::string tag;
    std::string description;
    std::string units;  // empty for a digital channel
    bool digital = false;

    std::string key() const;   // "AA3": prefix and number
    std::string name() const;  // the tag, or the key when the tag is empty
};

// A run, in start order. Times are microseconds since 1970 (UTC).
struct Run {
    int number = 0;  // 1 for the oldest listed
    std::uint64_t start = 0;
    std::optional<std::uint64_t> stop;  // none while logging, or for a finished run without records
    bool logging = false;               // no end yet (also a run whose logger died)
    std::uint64_t records = 0;
    std::uint64_t first_record = 0;  // records > 0 only
    std::uint64_t last_record = 0;
};

struct RunList {
    std::vector<Run> runs;
    // Runs the location holds that have no record and are not the latest: they have no times
    // a reader could show, so they are only counted.
    std::uint32_t without_records = 0;
};

// A value as a run holds it: flag 0x20 marks a bad value, or a channel the run does not hold.
struct Sample {
    std::uint32_t flags = 0;
    float value = 0;
    bool good() const;
};

// [from, to) in microseconds; a bound not given is open.
struct Window {
    std::optional<std::uint64_t> from;
    std::optional<std::uint64_t> to;
};

class LoggedDataLink {
  public:
    // `location`: a data folder (a relative one is taken from the current folder) or a
    // "PROVIDER=" connection string with ";LoggerName=". False with error().
    bool open(const std::string& location);

    // Every run with records, and the latest one even without. Nullopt with error().
    std::optional<RunList> runs();
    // The channels of the latest run, in the order the location lists them.
    std::optional<std::vector<Channel>> channels();
    // Opens the link afresh. The location's first run can appear between opening the link
    // and listing the runs; the link then knows no current run, and so no channels, until it
    // looks again half a minute later.
    bool reopen();
    // The latest run's HEADER text (lines end with LF, UTF-8).
    std::optional<std::string> header_text();

    using RecordVisitor = std::function<void(std::uint64_t time, std::span<const Sample> samples)>;
    // Calls `each` for every record of `run` inside `window`, in time order, with one sample
    // per channel of `channels`. The latest run is read up to what it holds at that moment.
    bool read(const Run& run, bool latest, const Window& window, const std::vector<Channel>& channels,
              const RecordVisitor& each);
    // The records of every run inside `window`, likewise.
    bool read_window(const Window& window, const std::vector<Channel>& channels, const RecordVisitor& each);

    // What the last failing call could not do, and why.
    const std::string& error() const { return error_; }

  private:
    struct RunSeen;
    using PageVisitor = std::function<void(std::uint64_t run_start, std::optional<std::uint64_t> run_stop,
                                           std::uint64_t time, std::span<const Sample> samples)>;
    bool read_pages(const Window& window, const std::string& list, std::size_t channels, const PageVisitor& each);
    bool fail(const std::string& what);

    std::string server_;
    std::string error_;
};

// The channel list of the logged-data requests for `channels` ("AA,1,2,DD,1").
std::string channel_list_of(const std::vector<Channel>& channels);

}  // namespace viewer
