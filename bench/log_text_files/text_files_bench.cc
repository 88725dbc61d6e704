// AddTextLine into a run's companion of 1,000 and 10,000 event lines: the time per call of
// a line that goes at the end (the logger's usual case) and of one that goes in the middle.
// Every call is a whole-file save under the edit lock, synced to disk, so the disk shows.
#include <stdlib.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "log_stores/text_files/logger_text_files.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace log_stores::text_files;

constexpr std::int32_t kStart = 1236262029;  // 2009-03-05 14:07:09 UTC

void write_companion(const fs::path& file, int lines) {
    std::string text = "[HEADER]\r\nrun\r\n[TEXT]\r\n";
    for (int i = 0; i < lines; ++i)
        text += format_event_line({kStart + 2 * i, 0, 0}, "event " + std::to_string(i), EventLineForm::DateFirst) +
                "\r\n";
    text += "[POSITIONS]\r\n";
    std::ofstream(file, std::ios::binary) << text;
}

// Microseconds per call of `calls` additions; `at(i)` gives the time of the i-th.
template <class At>
double per_call(const fs::path& file, int calls, At at) {
    const auto begin = Clock::now();
    for (int i = 0; i < calls; ++i)
        if (AddTextLine(file.string(), "TEXT", at(i), "added " + std::to_string(i), nullptr) != 0) {
            std::fprintf(stderr, "AddTextLine failed: errno %d\n", errno);
            std::exit(1);
        }
    return std::chrono::duration<double, std::micro>(Clock::now() - begin).count() / calls;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/bench_log_text_files.XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    const fs::path root(pattern);
    fs::create_directories(root / "registry");
    setenv("BREVANTIC_REGISTRY_DIR", (root / "registry").c_str(), 1);

    std::printf("AddTextLine (events in the run's companion, whole-file save synced each call)\n");
    std::printf("%8s %10s %14s %14s\n", "lines", "file KiB", "end us/call", "middle us/call");
    for (const int lines : {1000, 10000}) {
        const int calls = lines >= 10000 ? 50 : 200;
        const fs::path file = root / ("L090305_140709_" + std::to_string(lines) + ".txt");
        write_companion(file, lines);
        const double kib = static_cast<double>(fs::file_size(file)) / 1024.0;
        const double end = per_call(file, calls, [&](int i) { return TimeStamp{kStart + 2 * lines + i, 0, 0}; });
        write_companion(file, lines);
        const double middle = per_call(file, calls, [&](int i) { return TimeStamp{kStart + lines + 1, 0, static_cast<std::int16_t>(i % 1000)}; });
        std::printf("%8d %10.0f %14.1f %14.1f\n", lines, kib, end, middle);
    }
    fs::remove_all(root);
    return 0;
}
