// The run list behind the range requests: rescanned when the data folder changed (a database
// every time), each run with its own store and record cache, plus the folder's event lines.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "log_stores/local_server/dashboard_scan.h"
#include "log_stores/local_server/refresh_parts.h"
#include "log_stores/text_files/remote_text_io.h"
#include "platform/ascii_text.h"
#include "platform/file_io.h"

namespace log_stores::local {
namespace {

constexpr std::size_t kMaxEventsText = 64u << 20;
constexpr std::size_t kRunNameCapacity = 1300;
constexpr std::int64_t kRecentChangeNs = 2'000'000'000;

struct ListedRun {
    std::string name;
    TimeStamp start{};
    TimeStamp stop{};
};

// By name ignoring case; names that differ only in case keep a fixed order.
bool run_name_less(const std::string& a, const std::string& b) {
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const char x = platform::ascii_upper(a[i]), y = platform::ascii_upper(b[i]);
        if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

std::optional<std::int64_t> write_time_ns(const std::string& path, std::int64_t* size = nullptr) {
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0) return std::nullopt;
    if (size != nullptr) *size = static_cast<std::int64_t>(st.st_size);
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

// A folder is listed again only when its last-write time moved (a run added, renamed or
// removed); a database, or a folder read through its server, every time.
bool needs_rescan(LocalDataServer& server) {
    if (server.database_ || !server.server_name_.empty() || server.runs_.empty()) {
        if (!server.database_ && server.server_name_.empty())
            server.folder_write_time_ = write_time_ns(server.collections_[0]->folder);
        return true;
    }
    const auto now = write_time_ns(server.collections_[0]->folder);
    // File times move in clock ticks: a change in the tick of the last look leaves the time
    // as it was, so a folder changed in the last moments is listed again all the same.
    const auto wall = std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::system_clock::now().time_since_epoch())
                          .count();
    if (now && server.folder_write_time_ == now && wall - *now > kRecentChangeNs) return false;
    server.folder_write_time_ = now;
    return true;
}

std::optional<std::vector<ListedRun>> list_runs(CLogCollection& collection) {
    std::size_t name_size = 0;
    if (collection.BeginRunList(&name_size) != 1) return std::nullopt;
    std::vector<char> name(std::max(name_size, kRunNameCapacity) + 1, '\0');
    std::vector<ListedRun> runs;
    ListedRun run;
    while (collection.GetNextRun(name.data(), &run.start, &run.stop) == 1) {
        run.name.assign(name.data(), strnlen(name.data(), name.size() - 1));
        if (!run.name.empty()) runs.push_back(run);
    }
    std::sort(runs.begin(), runs.end(), [](const ListedRun& a, const ListedRun& b) {
        return run_name_less(a.name, b.name);
    });
    runs.erase(std::unique(runs.begin(), runs.end(),
                           [](const ListedRun& a, const ListedRun& b) { return a.name == b.name; }),
               runs.end());
    return runs;
}

void rescan_runs(LocalDataServer& server) {
    CLogCollection& collection = *server.collections_[0]->collection;
    auto listed = list_runs(collection);
    if (!listed) {
        // Not listed is not gone: the runs stay, and the next refresh lists again.
        server.folder_write_time_.reset();
        return;
    }
    std::unordered_map<std::string, std::size_t> known;
    for (std::size_t i = 0; i < server.runs_.size(); ++i) known.emplace(server.runs_[i].name, i);
    std::vector<bool> kept(server.runs_.size(), false);
    std::vector<RunEntry> runs;
    std::vector<RunScan> scans;
    runs.reserve(listed->size());
    scans.reserve(listed->size());
    std::vector<std::size_t> added;
    for (ListedRun& l : *listed) {
        const auto it = known.find(l.name);
        if (it != known.end()) {
            kept[it->second] = true;
            runs.push_back(std::move(server.runs_[it->second]));
            scans.push_back(std::move(server.run_scans_[it->second]));
            runs.back().start = l.start;
            runs.back().stop = l.stop;
            continue;
        }
        RunEntry entry;
        entry.name = std::move(l.name);
        entry.start = l.start;
        entry.stop = l.stop;
        // A store that does not open leaves the run listed without records.
        entry.store = collection.OpenStore(entry.name.c_str(), kGenericRead);
        added.push_back(runs.size());
        runs.push_back(std::move(entry));
        scans.emplace_back();
    }
    // A run that finished under a new name (a run file is renamed) keeps what was cached of it.
    for (const std::size_t a : added) {
        for (std::size_t i = 0; i < server.runs_.size(); ++i) {
            RunEntry& gone = server.runs_[i];
            if (kept[i] || gone.stop.seconds != 0 || gone.start.seconds != runs[a].start.seconds) continue;
            if (TakeOverCache(gone, server.run_scans_[i], runs[a], scans[a])) {
                kept[i] = true;
                break;
            }
        }
    }
    server.runs_ = std::move(runs);
    server.run_scans_ = std::move(scans);
}

void read_events_file(LocalDataServer& server) {
    if (server.database_ || server.collections_[0]->folder.empty()) return;
    const std::string& folder = server.collections_[0]->folder;
    if (!server.server_name_.empty()) {
        std::string text;
        const std::string path = folder + (folder.find('\\') != std::string::npos ? "\\" : "/") + "events.txt";
        if (text_files::read_remote_text(server.server_name_.c_str(), path, text) == 0)
            server.events_text_ = std::move(text);
        else
            server.events_text_.clear();
        return;
    }
    const std::string path = folder + "/events.txt";
    std::int64_t size = -1;
    const auto time = write_time_ns(path, &size);
    if (time == server.events_write_time_ && size == server.events_size_) return;
    std::string text;
    if (!time || platform::read_file(path, text, kMaxEventsText) != 0) text.clear();
    server.events_text_ = std::move(text);
    server.events_write_time_ = time;
    server.events_size_ = size;
}

void load_dashboard(LocalDataServer& server) {
    server.dashboard_loaded_ = true;
    server.dashboard_ = LoadWebHmiChannels(server.collections_[0]->folder);
    if (!server.dashboard_) return;
    server.selection_.insert(server.selection_.end(), server.dashboard_->begin(), server.dashboard_->end());
    SortUniqueKeys(server.selection_);
}

}  // namespace

std::string RunLocation(LocalDataServer& server, const RunEntry& run) {
    CLogCollection* collection = server.collections_[0] ? server.collections_[0]->collection.get() : nullptr;
    if (collection == nullptr) return run.name;
    std::size_t size = 0;
    collection->GetStoreLocation(run.name.c_str(), nullptr, &size);
    if (size == 0) return run.name;
    std::string location(size, '\0');
    collection->GetStoreLocation(run.name.c_str(), location.data(), &size);
    location.resize(strnlen(location.data(), location.size()));
    return location;
}

void LocalDataServer::Refresh() {
    if (!collections_[0] || !collections_[0]->collection) return;
    const std::uint64_t now = clock_();
    if (last_refresh_ && !runs_.empty() && now - *last_refresh_ < kRefreshPeriodMs) return;
    if (!last_refresh_ || run_scans_.size() != runs_.size()) {
        // The first refresh since an open: nothing kept from an earlier location counts.
        runs_.clear();
        run_scans_.clear();
        events_write_time_.reset();
        events_size_ = -1;
    }
    last_refresh_ = now;
    if (!dashboard_loaded_) load_dashboard(*this);
    if (needs_rescan(*this)) rescan_runs(*this);
    for (std::size_t i = 0; i < runs_.size(); ++i) {
        // A run being logged may have been listed before its file could be opened.
        if (!runs_[i].store && runs_[i].stop.seconds == 0)
            runs_[i].store = collections_[0]->collection->OpenStore(runs_[i].name.c_str(), kGenericRead);
        // Texts first: a new database run reads them before its record reader has a place.
        RefreshRunTexts(*this, runs_[i], run_scans_[i]);
        CacheNewRecords(*this, runs_[i], run_scans_[i]);
    }
    read_events_file(*this);
}

}  // namespace log_stores::local
