// The run file collection over folders of 1,000 to 10,000 run files: GetLatestRun and a
// whole listing (BeginRunList, then GetNextRun to the end). Both must grow linearly with the
// number of files: the time per file is printed beside each figure.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "log_stores/run_file/run_name.h"
#include "log_stores/run_file_collection/run_file_collection.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::int32_t kFirstStart = 1'600'000'000;

// `count` runs of one logger, every other one finished, with a text companion each and a
// few files that are not runs.
void fill_folder(const fs::path& folder, int count) {
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i) {
        const std::int32_t start = kFirstStart + i * 3600;
        const std::string name = i % 2 == 0 ? log_stores::run_file::finished_run_name("L1_", start, start + 1800)
                                            : log_stores::run_file::running_run_name("L1_", start);
        std::ofstream(folder / name).put('\0');
        if (i % 10 == 0) std::ofstream(folder / log_stores::run_file::companion_name(name, ".txt")) << "[HEADER]\r\n";
    }
    std::ofstream(folder / "notes.txt") << "n";
}

template <typename F>
double best_ms(int rounds, F&& f) {
    double best = 1e300;
    for (int r = 0; r < rounds; ++r) {
        const auto start = Clock::now();
        f();
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    return best;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/run_listing_bench_XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const fs::path root(pattern);
    setenv("BREVANTIC_REGISTRY_DIR", (root / "registry").c_str(), 1);

    std::printf("%8s  %16s %12s  %16s %12s\n", "files", "GetLatestRun ms", "us per file", "whole list ms",
                "us per file");
    int status = 0;
    for (const int count : {1000, 2500, 5000, 10000}) {
        const fs::path folder = root / ("L" + std::to_string(count));
        fill_folder(folder, count);
        log_stores::CLogFileCollection collection;
        if (collection.Open(nullptr, folder.c_str(), "L1", "L1_", log_stores::kGenericRead) != 0) {
            std::fprintf(stderr, "cannot open %s\n", folder.c_str());
            status = 1;
            break;
        }
        char name[log_stores::kRunListNameSize];
        int found = 0;
        const double latest = best_ms(5, [&] {
            std::size_t size = sizeof name;
            found += collection.GetLatestRun(name, &size, nullptr, nullptr, false);
        });
        int listed = 0;
        const double whole = best_ms(5, [&] {
            listed = 0;
            std::size_t size = 0;
            if (collection.BeginRunList(&size) != 1) return;
            TimeStamp start{}, stop{};
            while (collection.GetNextRun(name, &start, &stop) == 1) ++listed;
        });
        if (found != 5 || listed != count) {
            std::fprintf(stderr, "%d files: latest found %d times, %d listed\n", count, found, listed);
            status = 1;
        }
        std::printf("%8d  %16.2f %12.3f  %16.2f %12.3f\n", count, latest, latest * 1000.0 / count, whole,
                    whole * 1000.0 / count);
    }
    std::error_code ec;
    fs::remove_all(root, ec);
    return status;
}
