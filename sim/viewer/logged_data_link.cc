#include "viewer/logged_data_link.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "platform/windows_1252.h"
#include "qvr/link/link.h"
#include "qvr/records/channel_record.h"
#include "qvr/requests/logged_data_requests.h"
#include "qvr/requests/processor_requests.h"
#include "qvr/requests/value_requests.h"
#include "viewer/error_text.h"
#include "viewer/location_text.h"
#include "viewer/open_diagnosis.h"
#include "viewer/time_text.h"

namespace viewer {
namespace {

namespace fs = std::filesystem;
using time_text::micros_of;
using time_text::stamp_of;

constexpr std::size_t kHeadBytes = 16;   // a record's head: marker, marks, time, value
constexpr std::size_t kHeadTimeOffset = 4;
constexpr std::size_t kSampleBytes = 8;  // u32 flags, f32 value
constexpr std::size_t kRunEntryBytes = 20;  // u32 first record of the page, start, stop
constexpr std::uint32_t kFlagBad = 0x20;
// About this much of records and values per request.
constexpr std::size_t kPageBytes = 4u << 20;
constexpr std::size_t kMaxPageRecords = 1u << 16;
constexpr std::size_t kMaxPageBytes = 256u << 20;
constexpr int kFirstRunCapacity = 256;
// Channel configurations per "CV" request: 216 bytes each within the reply's 32,768.
constexpr std::size_t kConfigsPerRequest = 120;
constexpr std::size_t kHeaderTextBytes = 1u << 20;
// More channel groups than one list answer ("IP", 32,768 bytes) could name.
constexpr int kMaxGroups = 4096;

std::uint32_t u32_at(const std::uint8_t* at) {
    std::uint32_t v;
    std::memcpy(&v, at, sizeof v);
    return v;
}
TimeStamp stamp_at(const std::uint8_t* at) {
    TimeStamp t;
    std::memcpy(&t, at, sizeof t);
    return t;
}

std::string prefix_text(const std::array<char, 2>& prefix) {
    std::string text(prefix.data(), 2);
    text.resize(std::min(text.find('\0'), text.size()));
    return text;
}

std::string text_of(const qvr::ChannelRecord& record, qvr::ChannelText which) {
    return platform::utf8_from_windows_1252(qvr::join_text(record, which));
}

bool all_zero(const qvr::ChannelRecord& record) {
    return std::all_of(std::begin(record.bytes), std::end(record.bytes), [](std::uint8_t b) { return b == 0; });
}

// A location's text as the link takes it: a folder as an absolute path without a trailing
// separator, a connection string unchanged.
std::string server_string(const std::string& location) {
    if (is_database_location(location)) return location;
    std::string path = fs::absolute(fs::path(location)).lexically_normal().string();
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

}  // namespace

std::string Channel::key() const {
    return prefix_text(prefix) + std::to_string(number);
}

std::string Channel::name() const {
    return tag.empty() ? key() : tag;
}

bool Sample::good() const {
    return (flags & kFlagBad) == 0;
}

std::string channel_list_of(const std::vector<Channel>& channels) {
    std::string list;
    std::string group;
    for (const Channel& c : channels) {
        const std::string prefix = prefix_text(c.prefix);
        if (list.empty() || prefix != group) {
            if (!list.empty()) list += ',';
            list += prefix;
            group = prefix;
        }
        list += ',' + std::to_string(c.number);
    }
    return list;
}

bool LoggedDataLink::fail(const std::string& what) {
    error_ = what;
    return false;
}

bool LoggedDataLink::open(const std::string& location) {
    const std::string shown = shown_location(location);
    if (location.empty()) return fail("no location given");
    if (is_database_location(location)) {
        if (platform::ascii_upper_copy(location).find(";LOGGERNAME=") == std::string::npos)
            return fail("the database location " + shown + " names no logger: add ;LoggerName=<logger>");
    } else {
        std::error_code ec;
        const fs::path folder = server_string(location);
        if (!fs::is_directory(folder, ec)) return fail("no such data folder: " + folder.string());
    }
    server_ = server_string(location);
    if (link_GetServerKind(server_.c_str()) != kServerLocalData)
        return fail(shown + " is neither a data folder nor a database location");
    if (link_Open(server_.c_str()) != 1) {
        const int code = platform::last_error();
        std::string why = code == 0 && is_database_location(server_) ? database_open_reason(server_) : "";
        if (why.empty()) why = error_text(code);
        return fail("cannot open " + shown + ": " + why);
    }
    return true;
}

bool LoggedDataLink::reopen() {
    link_CloseAll();
    if (link_Open(server_.c_str()) == 1) return true;
    return fail("cannot open " + shown_location(server_) + " again: " + error_text(platform::last_error()));
}

bool LoggedDataLink::read_pages(const Window& window, const std::string& list, std::size_t channels,
                                const PageVisitor& each) {
    const std::size_t record_bytes = kHeadBytes + channels * kSampleBytes;
    std::size_t capacity = std::clamp<std::size_t>(kPageBytes / record_bytes, 64, kMaxPageRecords);
    int run_capacity = kFirstRunCapacity;
    std::optional<std::uint64_t> from = window.from;
    std::vector<std::uint8_t> heads, values, entries;
    std::vector<Sample> samples(channels);
    while (true) {
        heads.assign(capacity * kHeadBytes, 0);
        values.assign(capacity * channels * kSampleBytes, 0);
        entries.assign(static_cast<std::size_t>(run_capacity) * kRunEntryBytes, 0);
        TimeStamp start = from ? stamp_of(*from) : TimeStamp{};
        TimeStamp end = window.to ? stamp_of(*window.to) : TimeStamp{};
        std::uint32_t count = 0, runs = 0;
        int logging = 0;
        platform::set_last_error(0);
        const int rc = ldc_ReadRecordRange(nullptr, server_.c_str(), from ? 1 : 0, &start, window.to ? 1 : 0, &end,
                                           list.c_str(), static_cast<std::uint32_t>(capacity), heads.data(),
                                           channels > 0 ? values.data() : nullptr, entries.data(), run_capacity,
                                           &count, &runs, &logging);
        if (rc != 1) {
            // No runs at all: nothing to read.
            if (platform::last_error() == kErrorNoResult) return true;
            return fail("cannot read records: " + error_text(platform::last_error()));
        }
        if (count > capacity || runs > static_cast<std::uint32_t>(run_capacity))
            return fail("cannot read records: the answer counts more than was asked for");
        const bool full = count == capacity || runs == static_cast<std::uint32_t>(run_capacity);
        const auto time_of = [&](std::size_t i) { return micros_of(stamp_at(&heads[i * kHeadBytes + kHeadTimeOffset])); };

        // Records that share the page's last time wait for the next page, which starts at
        // that time: a page that ends inside such a group loses none of it.
        std::size_t keep = count;
        if (full && count > 0) {
            const std::uint64_t last = time_of(count - 1);
            while (keep > 0 && time_of(keep - 1) == last) --keep;
            if (keep == 0) {
                const bool more_records = count == capacity;
                if ((more_records ? capacity * 2 * record_bytes : capacity * record_bytes) > kMaxPageBytes ||
                    run_capacity > (1 << 20))
                    return fail("cannot read records: too many records share one time");
                if (more_records)
                    capacity *= 2;
                else
                    run_capacity *= 2;
                continue;
            }
        }
        std::size_t entry = 0;
        for (std::size_t i = 0; i < keep; ++i) {
            while (entry + 1 < runs && u32_at(&entries[(entry + 1) * kRunEntryBytes]) <= i) ++entry;
            std::uint64_t run_start = 0;
            std::optional<std::uint64_t> run_stop;
            if (runs > 0) {
                const std::uint8_t* e = &entries[entry * kRunEntryBytes];
                run_start = micros_of(stamp_at(e + 4));
                const TimeStamp stop = stamp_at(e + 12);
                if (stop.seconds != 0) run_stop = micros_of(stop);
            }
            for (std::size_t k = 0; k < channels; ++k) {
                const std::uint8_t* s = &values[(i * channels + k) * kSampleBytes];
                samples[k].flags = u32_at(s);
                std::memcpy(&samples[k].value, s + 4, sizeof(float));
            }
            each(run_start, run_stop, time_of(i), samples);
        }
        if (!full) return true;
        from = time_of(keep);
    }
}

std::optional<RunList> LoggedDataLink::runs() {
    std::uint32_t first = 0, last = 0, records = 0, total = 0;
    int logging = 0;  // not known yet: "5S" does not bring the logger's state up to date
    platform::set_last_error(0);
    if (ldc_GetSummary(nullptr, server_.c_str(), 0, &first, 0, &last, &records, &total, &logging) != 1) {
        if (platform::last_error() == kErrorNoResult) return RunList{};
        fail("cannot summarise the runs: " + error_text(platform::last_error()));
        return std::nullopt;
    }
    std::map<std::uint64_t, Run> seen;  // by start
    const bool read = read_pages({}, "", 0, [&](std::uint64_t start, std::optional<std::uint64_t> stop,
                                                std::uint64_t time, std::span<const Sample>) {
        Run& run = seen[start];
        if (run.records == 0) {
            run.start = start;
            run.first_record = time;
        }
        run.stop = stop;
        ++run.records;
        run.last_record = time;
    });
    if (!read) return std::nullopt;

    RunList list;
    for (auto& [start, run] : seen) {
        run.logging = !run.stop;
        list.runs.push_back(run);
    }
    std::uint32_t missing = total > list.runs.size() ? total - static_cast<std::uint32_t>(list.runs.size()) : 0;
    if (missing > 0) {
        // The latest run may be one without records yet: the current run's time is then its
        // start, later than everything listed.
        TimeStamp now{};
        if (ldc_GetServerTime(nullptr, server_.c_str(), &now) != 0) {
            fail("cannot ask for the latest run: " + error_text(platform::last_error()));
            return std::nullopt;
        }
        const std::uint64_t current = micros_of(now);
        const Run* newest = list.runs.empty() ? nullptr : &list.runs.back();
        if (now.seconds != 0 &&
            (!newest || (newest->stop && current >= *newest->stop && current > newest->last_record))) {
            Run empty;
            empty.start = current;
            // "RS": 1 while the current run has no end.
            empty.logging = RequestRS(server_.c_str()) == 1;
            list.runs.push_back(empty);
            --missing;
        }
    }
    list.without_records = missing;
    for (std::size_t i = 0; i < list.runs.size(); ++i) list.runs[i].number = static_cast<int>(i + 1);
    return list;
}

std::optional<std::vector<Channel>> LoggedDataLink::channels() {
    platform::set_last_error(0);
    const int groups = CountProcessors(server_.c_str());
    if (groups < 0) {
        fail("cannot count the channel groups: " + error_text(platform::last_error()));
        return std::nullopt;
    }
    if (groups > kMaxGroups) {
        fail("cannot list the channel groups: the location counts " + std::to_string(groups) + ", more than " +
             std::to_string(kMaxGroups));
        return std::nullopt;
    }
    std::vector<ProcessorRecord> processors(static_cast<std::size_t>(groups));
    const int listed =
        groups == 0 ? 0
                    : GetProcessorInfo(server_.c_str(), ("*," + std::to_string(groups)).c_str(), processors.data(), groups);
    if (listed < 0) {
        fail("cannot list the channel groups: " + error_text(platform::last_error()));
        return std::nullopt;
    }
    std::vector<Channel> out;
    std::vector<char> reply(kValueReplySize);
    for (int p = 0; p < listed; ++p) {
        const ProcessorRecord& group = processors[static_cast<std::size_t>(p)];
        // The logger's status channels are no channels of the run.
        if (platform::equal_ignoring_case(group.name, "logst")) continue;
        const std::array<char, 2> prefix{group.prefix[0], group.prefix[1]};
        for (std::uint32_t first = 1; first <= group.channel_count; first += kConfigsPerRequest) {
            const std::uint32_t last =
                std::min<std::uint32_t>(group.channel_count, first + kConfigsPerRequest - 1);
            std::string list = prefix_text(prefix);
            for (std::uint32_t n = first; n <= last; ++n) list += "," + std::to_string(n);
            std::fill(reply.begin(), reply.end(), 0);
            if (ldc_RequestCurrentValue(nullptr, server_.c_str(), list.c_str(), reply.data()) != 1) {
                fail("cannot read the channel configurations: " + error_text(platform::last_error()));
                return std::nullopt;
            }
            // Any other answer ("0") holds no configurations.
            if (reply[0] != '1' || reply[1] != ',') continue;
            // "1,", the group's time (6 bytes), then one configuration per number.
            const std::size_t head = 2 + 6;
            for (std::uint32_t n = first; n <= last; ++n) {
                qvr::ChannelRecord record{};
                std::memcpy(record.bytes, reply.data() + head + (n - first) * qvr::kChannelRecordSize,
                            qvr::kChannelRecordSize);
                if (all_zero(record)) continue;  // not held by the run
                Channel c;
                c.prefix = prefix;
                c.number = static_cast<std::uint16_t>(n);
                c.digital = qvr::is_digital(record.head.Type) || group.type == 3;
                c.tag = text_of(record, qvr::ChannelText::Tag);
                c.description = text_of(record, qvr::ChannelText::Description);
                if (!c.digital) c.units = text_of(record, qvr::ChannelText::Units);
                out.push_back(std::move(c));
            }
        }
    }
    return out;
}

std::optional<std::string> LoggedDataLink::header_text() {
    std::vector<char> buffer(kHeaderTextBytes);
    int length = static_cast<int>(buffer.size());
    platform::set_last_error(0);
    if (ldc_GetSectionText(nullptr, server_.c_str(), "HEADER", buffer.data(), &length) != 1) {
        if (platform::last_error() == kErrorNoResult) return std::string();
        fail("cannot read the header text: " + error_text(platform::last_error()));
        return std::nullopt;
    }
    std::string text = platform::utf8_from_windows_1252(std::string_view(buffer.data(), static_cast<std::size_t>(length)));
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

bool LoggedDataLink::read(const Run& run, bool latest, const Window& window, const std::vector<Channel>& channels,
                          const RecordVisitor& each) {
    Window within = window;
    const std::uint64_t first = run.records > 0 ? std::min(run.start, run.first_record) : run.start;
    within.from = std::max(window.from.value_or(0), first);
    // The latest run is read to its end as it is now; another ends with its last record.
    if (!latest) within.to = std::min(window.to.value_or(UINT64_MAX), run.last_record + 1);
    return read_pages(within, channel_list_of(channels), channels.size(),
                      [&](std::uint64_t start, std::optional<std::uint64_t>, std::uint64_t time,
                          std::span<const Sample> samples) {
                          if (start == run.start) each(time, samples);
                      });
}

bool LoggedDataLink::read_window(const Window& window, const std::vector<Channel>& channels,
                                 const RecordVisitor& each) {
    return read_pages(window, channel_list_of(channels), channels.size(),
                      [&](std::uint64_t, std::optional<std::uint64_t>, std::uint64_t time,
                          std::span<const Sample> samples) { each(time, samples); });
}

}  // namespace viewer
