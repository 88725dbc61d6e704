// Prints the figures of the rolling file writer: one caller queueing adjacent 64-byte
// entries through a buffer it cycles, a flush every second. Entries per second, writes per
// flush (one per adjacent run is the goal), and the time one rf_Queue call takes.
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "qvr/rolling/rolling_file.h"
#include "qvr/testing/rolling_testing.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kEntryBytes = 64;
constexpr uint32_t kSlots = 1u << 20;  // 64 MiB of caller data, one ring entry per slot
constexpr auto kRunTime = std::chrono::milliseconds(3500);
// Writes further apart than this belong to different flushes.
constexpr auto kFlushGap = std::chrono::milliseconds(300);

struct WriteLog {
    std::mutex mutex;
    std::vector<Clock::time_point> times;
    std::vector<const std::uint8_t*> starts;
    std::vector<std::size_t> sizes;
};

}  // namespace

int main() {
    char folder_template[] = "/tmp/rolling_bench_XXXXXX";
    if (mkdtemp(folder_template) == nullptr) return 1;
    const std::string folder = folder_template;
    WriteLog log;
    qvr::rolling_testing::set_write_hook([&log](int fd, std::span<const std::uint8_t> bytes) {
        {
            const std::lock_guard lock(log.mutex);
            log.times.push_back(Clock::now());
            log.starts.push_back(bytes.data());
            log.sizes.push_back(bytes.size());
        }
        return qvr::rolling_testing::real_write(fd, bytes);
    });
    if (rf_Setup(nullptr, folder.c_str(), nullptr, ".dat", "BENCH") != 0 || rf_Create(1'000'000) != 0) return 1;
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(kSlots) * kEntryBytes, 0x5A);
    if (rf_StartWriter(kSlots, static_cast<uint32_t>(buffer.size()), 1) != 0) return 1;

    std::vector<uint32_t> latency_ns;
    latency_ns.reserve(16u << 20);
    uint64_t queued = 0;
    const auto begin = Clock::now();
    auto now = begin;
    while (now - begin < kRunTime) {
        for (int i = 0; i < 1024; ++i) {
            const uint32_t slot = static_cast<uint32_t>(queued % kSlots);
            const auto before = Clock::now();
            if (rf_Queue(buffer.data() + static_cast<std::size_t>(slot) * kEntryBytes, kEntryBytes, 1,
                         slot * kEntryBytes) != 1) {
                std::fprintf(stderr, "rf_Queue failed\n");
                return 1;
            }
            now = Clock::now();
            latency_ns.push_back(static_cast<uint32_t>(std::min<int64_t>(
                std::chrono::duration_cast<std::chrono::nanoseconds>(now - before).count(), UINT32_MAX)));
            ++queued;
        }
    }
    const double seconds = std::chrono::duration<double>(now - begin).count();
    if (rf_StopWriter() != 0) return 1;
    rf_Close(nullptr, nullptr, 0);
    qvr::rolling_testing::set_write_hook({});
    std::filesystem::remove_all(folder);

    // Writes, flushes, and writes that continue the previous one of their flush (a run split
    // into two writes; the goal is none). A run ends where the caller's buffer wraps.
    std::size_t flushes = 0;
    std::size_t split_runs = 0;
    uint64_t written = 0;
    for (std::size_t i = 0; i < log.times.size(); ++i) {
        written += log.sizes[i];
        const bool new_flush = i == 0 || log.times[i] - log.times[i - 1] > kFlushGap;
        if (new_flush) {
            ++flushes;
        } else if (log.starts[i] == log.starts[i - 1] + log.sizes[i - 1]) {
            ++split_runs;
        }
    }
    const uint64_t wraps = queued / kSlots;
    std::sort(latency_ns.begin(), latency_ns.end());
    const auto percentile = [&](double p) {
        return latency_ns[static_cast<std::size_t>(p * static_cast<double>(latency_ns.size() - 1))];
    };
    std::printf("rolling writer, %u-byte adjacent entries, 1 s period, %u-entry ring over a %u MiB buffer\n",
                kEntryBytes, kSlots, static_cast<unsigned>(buffer.size() >> 20));
    std::printf("  entries queued:         %llu in %.2f s = %.0f entries/s (goal: at least 1,000,000)\n",
                static_cast<unsigned long long>(queued), seconds, static_cast<double>(queued) / seconds);
    std::printf("  bytes written:          %llu (queued %llu)\n", static_cast<unsigned long long>(written),
                static_cast<unsigned long long>(queued * kEntryBytes));
    std::printf("  writes:                 %zu in %zu flushes = %.2f writes per flush\n", log.times.size(), flushes,
                flushes ? static_cast<double>(log.times.size()) / static_cast<double>(flushes) : 0.0);
    std::printf("  adjacent runs:          %llu (buffer wraps + 1); runs split into two writes: %zu (goal: 0)\n",
                static_cast<unsigned long long>(wraps + 1), split_runs);
    std::printf("  rf_Queue latency:       p50 %u ns, p99 %u ns, max %u ns\n", percentile(0.50), percentile(0.99),
                latency_ns.back());
    return written == queued * kEntryBytes && split_runs == 0 ? 0 : 2;
}
