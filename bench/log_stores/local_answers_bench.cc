// CV, RV and TC requests per second over the kind-3 link (a data folder answered in this
// process), for 10 and 500 channels of a run that is still logging. Goal: at least 50,000 RV
// requests/s at 10 channels.
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host/runtime_host.h"
#include "log_stores/local_server/local_backend.h"
#include "logger/stand_in_logger.h"
#include "platform/last_error.h"
#include "qvr/link/link.h"
#include "qvr/requests/value_requests.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kChannels = 500;
constexpr std::int32_t kStart = 1'709'632'800;
constexpr double kSeconds = 1.0;

struct Folder {
    fs::path root;
    Folder() {
        char pattern[] = "/tmp/local_answers_bench.XXXXXX";
        if (::mkdtemp(pattern) == nullptr) std::exit(1);
        root = pattern;
    }
    ~Folder() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

// Calls f until kSeconds passed; requests per second.
template <typename F>
double rate(F&& f) {
    // Warm up: the first request opens the latest run and reads its configurations.
    for (int i = 0; i < 100; ++i) f();
    long count = 0;
    const auto start = Clock::now();
    double elapsed = 0;
    do {
        for (int i = 0; i < 200; ++i) f();
        count += 200;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < kSeconds);
    return static_cast<double>(count) / elapsed;
}

std::string channel_list(int n) {
    std::string list = "AI";
    for (int i = 1; i <= n; ++i) list += "," + std::to_string(i);
    return list;
}

}  // namespace

int main() {
    Folder folder;
    const std::string data = (folder.root / "LOGGED_DATA" / "BENCH").string();
    fs::create_directories(data);

    sim_logger::LoggerOptions o;
    o.location = data;
    o.logger = "BENCH";
    o.prefix = "BENCH_";
    sim_logger::LoggerBlock block{"AI", 1, kChannels, false, {}};
    for (int i = 1; i <= kChannels; ++i)
        block.channels.push_back(sim_host::analog_input("TAG" + std::to_string(i)));
    o.blocks = {block};
    sim_logger::StandInLogger logger;
    if (logger.open(o) != 0 || logger.start_run(kStart) != 0 || logger.append(100, 100) != 0) {
        std::fprintf(stderr, "the stand-in logger failed: error %d\n", platform::last_error());
        return 1;
    }

    log_stores::RegisterLocalDataServer();
    if (link_Open(data.c_str()) != 1) {
        std::fprintf(stderr, "link_Open failed: error %d\n", platform::last_error());
        return 1;
    }

    std::printf("%-34s %14s\n", "request (kind-3 link)", "requests/s");
    std::vector<char> reply(256 * 1024);
    for (int n : {10, kChannels}) {
        const std::string list = channel_list(n);
        const std::string cv = "CV," + list;
        bool ok = true;
        const double cv_rate = rate([&] {
            std::uint32_t length = static_cast<std::uint32_t>(reply.size());
            if (link_SendText(data.c_str(), cv.c_str(), reply.data(), &length) == -1 || reply[0] != '1')
                ok = false;
        });
        std::vector<char> values(kValueReplySize);
        const double rv_rate = rate([&] {
            if (RequestRV(data.c_str(), list.c_str(), values.data()) == -1 || values[0] != '1') ok = false;
        });
        std::vector<std::string> tag_texts;
        for (int i = 1; i <= n; ++i) tag_texts.push_back("TAG" + std::to_string(i));
        std::vector<const char*> tags;
        for (const auto& t : tag_texts) tags.push_back(t.c_str());
        std::vector<std::uint8_t> keys(4 * tags.size());
        const double tc_rate = rate([&] {
            if (RequestTagChannels(data.c_str(), tags.data(), static_cast<int>(tags.size()), keys.data()) ==
                -1)
                ok = false;
        });
        std::uint16_t last = 0;
        std::memcpy(&last, keys.data() + keys.size() - 2, 2);
        if (!ok || last != n) {
            std::fprintf(stderr, "a request failed at %d channels\n", n);
            return 1;
        }
        std::printf("CV, %3d channels (%6zu-byte reply) %14.0f\n", n,
                    2 + 6 + static_cast<std::size_t>(n) * 216, cv_rate);
        std::printf("RV, %3d channels                   %14.0f%s\n", n, rv_rate,
                    n == 10 ? (rv_rate >= 50'000 ? "  (goal 50,000: met)" : "  (goal 50,000: MISSED)") : "");
        std::printf("TC, %3d tags                       %14.0f\n", n, tc_rate);
    }
    link_CloseAll();
    return 0;
}
