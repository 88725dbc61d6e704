// Figures of configuration access through the server over the pipe, against an in-process
// stand-in with a product tree: a read of 10,000 channels by one "IF" request (target under
// 50 ms) and by the "RF" fallback after the server refused the request.
//   bench_qvr_config_remote [--quick]
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pipe_server_bench.h"
#include "qvr/config_remote/config_remote.h"
#include "qvr/testing/config_remote_testing.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kChannels = 10000;
constexpr std::size_t kRecord = 216;

double millis(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
    int status = 0;
    {
        bench_qvr::PipeServerBench server("bench_qvr_config_remote", "qvrbenchcr");
        sim_server::ProductTree& tree = server.tree;
        sim_server::Dispatcher& dispatcher = server.dispatcher;
        if (server.front.start() != 0) {
            std::perror("start");
            return 1;
        }
        const std::string device = tree.folder("QVR_CURRENT_CONFIG") + "/DEV";
        std::filesystem::create_directories(device);
        std::string table(8 + kChannels * kRecord, '\0');
        for (std::size_t i = 8; i < table.size(); ++i) table[i] = static_cast<char>(i * 131 + 7);
        std::ofstream(device + "/ai", std::ios::binary)
            .write(table.data(), static_cast<std::streamsize>(table.size()));

        // The pipe server is served by its requests, as a socket or web server would be.
        qvr::config_remote_testing::set_requests_for_every_server(true);
        std::vector<qvr::ChannelRecord> records(kChannels);
        const int rounds = quick ? 3 : 20;
        double best[2] = {1e9, 1e9};
        std::size_t requests[2] = {0, 0};
        for (int fallback = 0; fallback < 2; ++fallback) {
            for (int i = 0; i < rounds; ++i) {
                if (fallback != 0) dispatcher.script_reply("IF", std::string("-1,5", 5));
                dispatcher.clear_requests();
                std::memset(records.data(), 0, kChannels * kRecord);
                const auto start = Clock::now();
                if (cfg_ReadChannels(".", "DEV", 0, records.data(), 0, kChannels) != 0) {
                    std::fprintf(stderr, "read failed: %d\n", errno);
                    return 1;
                }
                const double ms = millis(Clock::now() - start);
                if (ms < best[fallback]) best[fallback] = ms;
                requests[fallback] = dispatcher.request_count();
                if (std::memcmp(records.data(), table.data() + 8, kChannels * kRecord) != 0) {
                    std::fprintf(stderr, "records differ\n");
                    return 1;
                }
            }
        }
        std::printf("read 10,000 channels by IF over the pipe: best %.1f ms, %zu request (target < 50) %s\n",
                    best[0], requests[0], best[0] < 50 ? "ok" : "ABOVE TARGET");
        std::printf("read 10,000 channels by the RF fallback over the pipe: best %.1f ms, %zu requests\n",
                    best[1], requests[1]);
        if (best[0] >= 50) status = 1;
        qvr::config_remote_testing::set_requests_for_every_server(false);
    }
    return status;
}
