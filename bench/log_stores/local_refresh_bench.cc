// The local data server's refresh of a run being logged: after the first refresh has cached
// the run, 10 records are appended and the next refresh reads them. The time of that refresh
// on a run of 1,000,000 records against the same on a run of 1,000 (goal: within 2 times),
// for a run file and for a SQLite run.
//
//   bench_local_refresh [rounds]          rounds of 10 records per run (default 50)
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "log_stores/local_server/local_data_server.h"
#include "logger/stand_in_logger.h"
#include "platform/ado/catalog.h"
#include "platform/ado/text_codec.h"

namespace {

using Clock = std::chrono::steady_clock;
using log_stores::local::LocalDataServer;

constexpr std::int32_t kStart = 1'709'632'800;  // 2024-03-05 10:00:00 UTC

struct Figures {
    double first_s = 0;      // the first refresh: the whole run read into the cache
    double median_us = 0;    // a refresh after 10 new records
    double best_us = 0;
    std::int32_t cached = 0;
};

double micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

// A run of `records` being logged at `location`, the server refreshed once over it, then
// `rounds` times 10 records more and one refresh each.
Figures measure(const std::string& location, const std::string& open_text, std::int64_t records, int rounds) {
    sim_logger::LoggerOptions options;
    options.location = location;
    options.logger = "PLANT";
    options.prefix = "PLANT_";
    options.blocks = {{"AI", 1, 8, false, {}}, {"DI", 1, 8, true, {}}};
    for (auto& block : options.blocks)
        for (int i = block.first; i <= block.last; ++i) {
            qvr::ChannelRecord record{};
            block.channels.push_back(record);
        }
    sim_logger::StandInLogger logger;
    Figures f;
    if (logger.open(options) != 0 || logger.start_run(kStart) != 0 || logger.append(records, 10'000) != 0) {
        std::fprintf(stderr, "the stand-in logger could not write %s\n", location.c_str());
        return f;
    }
    std::uint64_t ticks = 1'000'000;
    LocalDataServer server([&ticks] { return ticks; });
    if (server.Open(open_text.c_str()) != 0) {
        std::fprintf(stderr, "cannot open %s\n", open_text.c_str());
        return f;
    }
    auto t = Clock::now();
    server.Refresh();
    f.first_s = micros(Clock::now() - t) / 1e6;
    // The texts' second look and the first appends are not what is measured.
    for (int i = 0; i < 3; ++i) {
        logger.append(10, 10);
        ticks += log_stores::local::kRefreshPeriodMs;
        server.Refresh();
    }
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        logger.append(10, 10);
        ticks += log_stores::local::kRefreshPeriodMs;
        t = Clock::now();
        server.Refresh();
        times.push_back(micros(Clock::now() - t));
    }
    std::sort(times.begin(), times.end());
    f.median_us = times[times.size() / 2];
    f.best_us = times.front();
    for (const auto& run : server.runs_) f.cached = std::max(f.cached, run.records);
    server.Close();
    return f;
}

void report(const char* kind, const Figures& small, const Figures& large, std::int64_t large_records) {
    std::printf("%-9s 1,000 records:     first refresh %8.3f s, refresh after 10 records: median %8.1f us, best %8.1f us\n",
                kind, small.first_s, small.median_us, small.best_us);
    std::printf("%-9s 1,000,000 records: first refresh %8.3f s, refresh after 10 records: median %8.1f us, best %8.1f us\n",
                kind, large.first_s, large.median_us, large.best_us);
    const double ratio = small.median_us > 0 ? large.median_us / small.median_us : 0;
    std::printf("%-9s ratio %.2f (goal: at most 2)%s; cached %d of %lld\n", kind, ratio,
                ratio <= 2.0 ? "" : "  MISSED", large.cached, static_cast<long long>(large_records));
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 50;
    char dir_template[] = "/tmp/qvr-localrefresh-XXXXXX";
    const char* dir = ::mkdtemp(dir_template);
    if (dir == nullptr) return 1;
    const std::filesystem::path root(dir);
    // A dashboard of two channels, so that the caches hold samples as they do on a site.
    std::filesystem::create_directories(root / "web" / "DASHBOARDS");
    std::ofstream(root / "web" / "menu.xml") << "<menu><Item>d.xml</Item></menu>";
    std::ofstream(root / "web" / "DASHBOARDS" / "d.xml")
        << "<channel><prefix>AI</prefix><no>2</no></channel><channel><prefix>DI</prefix><no>5</no></channel>";
    ::setenv("QVR_WEBHMI", (root / "web").c_str(), 1);

    constexpr std::int64_t kSmall = 1'000, kLarge = 1'000'000;
    for (const char* kind : {"run file", "SQLite"}) {
        Figures figures[2];
        for (int k = 0; k < 2; ++k) {
            const std::int64_t records = k == 0 ? kSmall : kLarge;
            const std::string name = std::string(kind == std::string("SQLite") ? "db" : "folder") + std::to_string(k);
            if (kind == std::string("SQLite")) {
                const std::string cs = "Provider=SQLite.File;Data Source=" + (root / (name + ".db")).string();
                ado::Catalog catalog;
                catalog.create(ado::utf16_from_utf8(cs));
                figures[k] = measure(cs, cs + ";LoggerName=PLANT", records, rounds);
            } else {
                const std::string folder = (root / "LOGGED_DATA" / name / "PLANT").string();
                std::filesystem::create_directories(folder);
                figures[k] = measure(folder, folder, records, rounds);
            }
        }
        report(kind, figures[0], figures[1], kLarge + 10 * (rounds + 3));
    }
    std::filesystem::remove_all(root);
    return 0;
}
