// The run file store's speed:
// - WriteLogs with write-through for 16, 64 and 256 channels in batches of 1, 10 and 100
//   records, against a plain write-through pwrite loop of the same sizes in the same folder
//   (goal: within 10%);
// - ReadLogs of 100,000 records from the page cache, sanitising included (goal: 1 GB/s).
// bench_run_file_store [folder] [seconds per figure]; the folder (default: the current one)
// decides the disk.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "log_stores/run_file_store/run_file_store.h"
#include "platform/file_io.h"
#include "run_file_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;
using log_stores::CLogFileStore;
using log_stores::LogHeader;
namespace fs = std::filesystem;

struct Rate {
    double records_per_second = 0;
    double megabytes_per_second = 0;
};

Rate rate(std::int64_t records, std::size_t record_size, Clock::duration took) {
    const double seconds = std::chrono::duration<double>(took).count();
    return {records / seconds, records * double(record_size) / seconds / 1e6};
}

bool create(const std::string& path, const LogHeader& h, CLogFileStore& store) {
    fs::remove(path);
    const run_file_test::Configurations configs = run_file_test::make_configurations(h);
    return store.CreateRunFile(path.c_str(), h, nullptr, configs.get()) == 0;
}

Rate store_writes(const std::string& path, const LogHeader& h, int batch, double seconds) {
    CLogFileStore store;
    if (!create(path, h, store)) return {};
    const auto records = run_file_test::make_records(h, 0, batch);
    std::int64_t written = 0;
    const auto start = Clock::now();
    const auto until = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < until) {
        if (store.WriteLogs(h, records.data(), batch) != 0) return {};
        written += batch;
    }
    const auto took = Clock::now() - start;
    store.Close();
    return rate(written, static_cast<std::size_t>(h.recordSize), took);
}

Rate plain_writes(const std::string& path, const LogHeader& h, int batch, double seconds) {
    fs::remove(path);
    platform::UniqueFd fd = platform::open_file(path, O_RDWR | O_CREAT | O_DSYNC, 0666);
    if (!fd) return {};
    const auto records = run_file_test::make_records(h, 0, batch);
    std::uint64_t offset = static_cast<std::uint64_t>(h.dataStart);
    std::int64_t written = 0;
    const auto start = Clock::now();
    const auto until = start + std::chrono::duration<double>(seconds);
    while (Clock::now() < until) {
        if (platform::pwrite_all(fd.get(), records, offset) != 0) return {};
        offset += records.size();
        written += batch;
    }
    return rate(written, static_cast<std::size_t>(h.recordSize), Clock::now() - start);
}

double read_gigabytes_per_second(const std::string& path) {
    constexpr std::int32_t kRecords = 100'000;
    constexpr std::int32_t kChunk = 1'000;
    const LogHeader h = run_file_test::make_header(4, 16);
    {
        CLogFileStore writer;
        if (!create(path, h, writer)) return 0;
        for (std::int32_t at = 0; at < kRecords; at += kChunk) {
            const auto records = run_file_test::make_records(h, at, kChunk);
            if (writer.WriteLogs(h, records.data(), kChunk) != 0) return 0;
        }
    }
    CLogFileStore reader;
    if (reader.Open(nullptr, path.c_str(), log_stores::kGenericRead) != 0) return 0;
    std::vector<std::uint8_t> out(std::size_t(kChunk) * h.recordSize);
    double best = 0;
    for (int round = 0; round < 6; ++round) {  // the first round fills the page cache
        std::int64_t bytes = 0;
        const auto start = Clock::now();
        for (std::int32_t at = 0; at < kRecords; at += kChunk) {
            const int got = reader.ReadLogs(at, h, out.data(), kChunk, 0, nullptr, 0);
            if (got != kChunk) return 0;
            bytes += std::int64_t(got) * h.recordSize;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        if (round > 0) best = std::max(best, bytes / seconds / 1e9);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::current_path();
    const double seconds = argc > 2 ? std::atof(argv[2]) : 1.0;
    const std::string path = (folder / "run_file_bench_200101_000000.qdl").string();
    std::printf("WriteLogs (write-through) against a plain write-through pwrite loop, %s\n", folder.c_str());
    std::printf("%9s %6s %12s %10s %12s %10s %8s\n", "channels", "batch", "store rec/s", "store MB/s", "plain rec/s",
                "plain MB/s", "store %");
    for (const std::uint16_t channels : {16, 64, 256}) {
        const LogHeader h = run_file_test::make_header(1, channels);
        for (const int batch : {1, 10, 100}) {
            const Rate plain = plain_writes(path, h, batch, seconds);
            const Rate store = store_writes(path, h, batch, seconds);
            std::printf("%9u %6d %12.0f %10.2f %12.0f %10.2f %7.1f%%\n", unsigned{channels}, batch,
                        store.records_per_second, store.megabytes_per_second, plain.records_per_second,
                        plain.megabytes_per_second,
                        plain.records_per_second > 0 ? 100.0 * store.records_per_second / plain.records_per_second : 0);
        }
    }
    const double read = read_gigabytes_per_second(path);
    std::printf("ReadLogs of 100,000 records of 528 bytes from the page cache, sanitised: %.2f GB/s (goal 1)\n", read);
    fs::remove(path);
    return read > 0 ? 0 : 1;
}
