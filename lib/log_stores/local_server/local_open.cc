// Opening and closing the handler's collections and their latest runs.
#include <algorithm>
#include <cctype>
#include <chrono>

#include "log_stores/local_server/local_data_server.h"
#include "log_stores/log_factory.h"
#include "log_stores/log_location.h"
#include "log_stores/status_channels/logger_status.h"
#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "qvr/diag/trace.h"
#include "qvr/link/link.h"

namespace log_stores::local {

TickClock monotonic_clock() {
    return [] {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    };
}

bool key_less(const ChannelKey& a, const ChannelKey& b) {
    for (int i = 0; i < 2; ++i) {
        const int x = std::toupper(static_cast<unsigned char>(a.prefix[i]));
        const int y = std::toupper(static_cast<unsigned char>(b.prefix[i]));
        if (x != y) return x < y;
    }
    return a.number < b.number;
}

bool key_equal(const ChannelKey& a, const ChannelKey& b) {
    return !key_less(a, b) && !key_less(b, a);
}

LocalDataServer::LocalDataServer() : LocalDataServer(monotonic_clock()) {}
LocalDataServer::LocalDataServer(TickClock clock) : clock_(std::move(clock)) {
    status_FillRecords(1, kPublishedStatusChannels, status_configs_.data());
    status_flags_.fill(kFlagNoValue);
}
LocalDataServer::~LocalDataServer() {
    Close();
}

std::optional<std::string> SecondCollectionName(std::string_view name) {
    constexpr std::string_view kFast = "_FAST_LOG";
    constexpr std::string_view kFastBare = "FAST_LOG";
    const auto ends_with = [&](std::string_view suffix) {
        return name.size() > suffix.size() && platform::ends_with_ignoring_case(name, suffix);
    };
    if (ends_with(kFast)) return std::string(name.substr(0, name.size() - kFast.size()));
    if (ends_with(kFastBare)) return std::string(name.substr(0, name.size() - kFastBare.size())) + "SLOW_LOG";
    return std::nullopt;
}

namespace {

constexpr std::size_t kMaxFolder = 260;
constexpr std::size_t kMaxLoggerName = 100;
constexpr std::size_t kMaxRunName = 1285;

bool is_separator(char c) {
    return c == '\\' || c == '/';
}

// The machine of a "\\machine\..." path, or "".
std::string unc_machine(std::string_view path) {
    if (path.size() < 3 || !is_separator(path[0]) || !is_separator(path[1]) || is_separator(path[2]))
        return {};
    std::size_t end = 2;
    while (end < path.size() && !is_separator(path[end])) ++end;
    return std::string(path.substr(2, end - 2));
}

// The run's HEADER section, or "" when it has none.
std::string read_header_text(CLogStore& store) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::size_t size = 0;
        if (store.ReadSection("HEADER", nullptr, &size, 0, 0) < 0 || size <= 1) return {};
        std::string text(size, '\0');
        std::size_t filled = size;
        if (store.ReadSection("HEADER", text.data(), &filled, 0, 0) < 0) return {};
        // The section grew between the two reads: ask again.
        if (filled > size) continue;
        text.resize(std::min(text.find('\0'), text.size()));
        return text;
    }
    return {};
}

}  // namespace

int LocalDataServer::Open(const char* location) {
    Close();
    if (location == nullptr || *location == '\0') return platform::fail(platform::kErrorInvalidParameter);
    const std::string text(location);
    database_ = GetLocationKind(location) != LocationKind::File;

    std::array<std::string, 2> names;  // folder or logger name of each collection
    if (database_) {
        std::string connection = text;
        std::size_t size = 0;
        GetLoggerNameFromLocation(connection, &size, nullptr);
        if (size <= 1) return platform::fail(0);  // no logger name: nothing to open
        if (size - 1 > kMaxLoggerName) return platform::fail(platform::kErrorInvalidParameter);
        std::array<char, kMaxLoggerName + 1> name{};
        size = name.size();
        if (GetLoggerNameFromLocation(connection, &size, name.data()) != 1) return platform::fail(0);
        connection_ = connection;
        names[0] = name.data();
    } else {
        if (text.size() > kMaxFolder) return platform::fail(platform::kErrorInvalidParameter);
        names[0] = text;
    }
    if (auto second = SecondCollectionName(names[0])) names[1] = std::move(*second);

    const auto open_collection = [&](const std::string& name) -> std::unique_ptr<CLogCollection> {
        auto made = CreateLogCollection(location);
        if (!made) {
            if (platform::last_error() == 0) platform::set_last_error(kErrorNotSupported);
            return nullptr;
        }
        const int rc = database_ ? made->Open(connection_.c_str(), "", name.c_str(), "", kGenericRead)
                                 : made->Open(location, name.c_str(), "", "", kGenericRead);
        if (rc != 0) return nullptr;
        return made;
    };

    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i].empty()) continue;
        auto collection = open_collection(names[i]);
        if (!collection) {
            if (i == 0) {
                const int code = platform::last_error();
                Close();
                return platform::fail(code);
            }
            continue;
        }
        Collection& c = collections_[i].emplace();
        c.collection = std::move(collection);
        (database_ ? c.logger_name : c.folder) = names[i];
        if (i == 0) {
            spare_ = open_collection(names[i]);
            if (!spare_) {
                const int code = platform::last_error();
                Close();
                return platform::fail(code);
            }
        }
    }

    if (OpenLatestRuns() != 0) {
        const int code = platform::last_error();
        Close();
        return platform::fail(code);
    }

    if (!database_) {
        const std::string machine = unc_machine(collections_[0]->folder);
        // The folder keeps its "\\machine\" form: the collection and the run stores read it
        // through that machine's server.
        if (!machine.empty() && link_IsRemoteServer(machine.c_str()) == 1) server_name_ = machine;
    }
    trace_Create("Store");
    return 0;
}

int LocalDataServer::OpenLatestRuns() {
    int result = 0;
    int error = 0;
    for (std::size_t i = 0; i < collections_.size(); ++i) {
        if (!collections_[i]) continue;
        Collection& c = *collections_[i];
        std::array<char, kMaxRunName> name{};
        std::size_t size = name.size();
        TimeStamp start{}, stop{};
        if (c.collection->GetLatestRun(name.data(), &size, &start, &stop, true) != 1) {
            // No run yet (a logger not started): nothing to show, not a failure.
            c.latest_opened = true;
            continue;
        }
        if (c.current.store && platform::equal_ignoring_case(c.current.name, name.data())) {
            c.latest_opened = true;
            continue;
        }
        auto store = c.collection->OpenStore(name.data(), kGenericRead);
        LogHeader header{};
        if (!store || store->ReadHeader(header) != 0) {
            if (i == 0 && !c.current.store) {
                error = platform::last_error() != 0 ? platform::last_error() : platform::kErrorInvalidData;
                result = -1;
            }
            // Keep the run shown until the newer one can be read.
            continue;
        }
        if (c.current.store) c.current.store->Close();
        c.current = CurrentRun{};
        c.current.store = std::move(store);
        c.current.header = header;
        c.current.name = name.data();
        c.current.header_text = read_header_text(*c.current.store);
        c.latest_opened = true;
    }
    if (result != 0) platform::set_last_error(error);
    return result;
}

void LocalDataServer::Close() {
    for (auto& c : collections_) {
        if (c && c->current.store) c->current.store->Close();
        c.reset();
    }
    for (RunEntry& run : runs_)
        if (run.store) run.store->Close();
    runs_.clear();
    spare_.reset();
    database_ = false;
    connection_.clear();
    server_name_.clear();
    selection_.clear();
    dashboard_.reset();
    dashboard_loaded_ = false;
    last_current_update_.reset();
    last_latest_check_.reset();
    last_refresh_.reset();
    folder_write_time_.reset();
    events_text_.clear();
}

CurrentRun* LocalDataServer::answering_run() {
    if (collections_[1] && collections_[1]->current.store) return &collections_[1]->current;
    if (collections_[0] && collections_[0]->current.store) return &collections_[0]->current;
    return nullptr;
}

CurrentRun* LocalDataServer::other_run() {
    CurrentRun* answering = answering_run();
    for (auto& c : collections_)
        if (c && c->current.store && &c->current != answering) return &c->current;
    return nullptr;
}

}  // namespace log_stores::local
