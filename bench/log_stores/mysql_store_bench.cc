// The MySQL store on the MariaDB test server: WriteLogs of 10,000 records for 16, 64 and 256
// channels (records/s), and a run of 100,000 records of 16 channels read through ReadLogs in
// blocks of 1,000 (records/s, and the microseconds per record of the first block, of the first
// and the last ten, of the last block and of the slowest).
//
//   QUORVANE_TEST_MARIADB=<state> bench_mysql_store     (scripts/test-mariadb start <state>)
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <variant>
#include <vector>

#include "log_stores/mysql/mysql_collection.h"
#include "log_stores/mysql/mysql_session.h"
#include "log_stores/run_file/run_file_format.h"
#include "support/mariadb_state.h"

namespace {

using namespace log_stores;
using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

constexpr std::int32_t kStart = 1709632800;  // 2024-03-05 10:00:00 UTC

LogHeader header_with(int channels) {
    LogHeader h{};
    h.formatTag = 0x8001;
    h.start.seconds = kStart;
    h.blockCount = 1;
    h.blocks[0].prefix = {'A', 'I'};
    h.blocks[0].firstChannel = 1;
    h.blocks[0].lastChannel = static_cast<std::uint16_t>(channels);
    h.blocks[0].blockKind = 8;
    h.blocks[0].recordOffset = 18;
    h.recordSize = 18 + 8 * channels + 2;
    return h;
}

std::vector<std::uint8_t> records_of(const LogHeader& h, int count, int first) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(count) * static_cast<std::size_t>(h.recordSize));
    for (int i = 0; i < count; ++i) {
        std::span<std::uint8_t> r(out.data() + static_cast<std::size_t>(i) * h.recordSize, h.recordSize);
        run_file::RecordHead head;
        head.time = {kStart + (first + i) / 10, static_cast<std::int16_t>(((first + i) % 10) * 100), 0};
        run_file::encode_record_head(head, r);
        for (std::uint32_t k = 0; k < h.blocks[0].channel_count(); ++k)
            run_file::write_sample(r, h.blocks[0], k, {run_file::kSampleAnalog, static_cast<float>(i + k)});
    }
    return out;
}

}  // namespace

int main() {
    auto state = qvr_test::mariadb_state();
    if (!state) {
        std::fprintf(stderr, "QUORVANE_TEST_MARIADB names no server state file\n");
        return 1;
    }
    auto& values = *state;
    ::setenv("MYSQL_UNIX_PORT", values["socket"].c_str(), 1);
    const std::string db = "qvr_bench_" + std::to_string(::getpid());
    mysql::Session root;
    mysql::ConnectionKeys keys;
    keys.user = "root";
    if (root.connect(keys) || std::holds_alternative<mysql::Failure>(root.run("CREATE DATABASE " + db))) {
        std::fprintf(stderr, "cannot reach the server as root through its socket\n");
        return 1;
    }
    const std::string cs = "PROVIDER=MYSQL;USER=root;DB=" + db;
    int rc = 0;
    std::printf("%-34s %12s\n", "case", "records/s");
    for (const int channels : {16, 64, 256}) {
        CLogDbMySQLCollection c;
        const std::string logger = "W" + std::to_string(channels);
        if (c.Open(cs.c_str(), "", logger.c_str(), "", kGenericRead | kGenericWrite) != 0) return 1;
        LogHeader h = header_with(channels);
        std::vector<qvr::ChannelRecord> configs(static_cast<std::size_t>(channels));
        for (auto& r : configs) r.head.Type = qvr::ChannelKind::AI;
        const qvr::ChannelRecord* table[] = {configs.data()};
        std::int32_t start = kStart;
        auto store = c.NewRun(&start, true, 0, h, nullptr, false, nullptr, false, table);
        if (!store) {
            std::fprintf(stderr, "no run: %s %s\n", c.GetErrorContext(), c.GetErrorText());
            return 1;
        }
        LogHeader read;
        store->ReadHeader(read);
        const auto data = records_of(read, 10000, 0);
        const auto t = Clock::now();
        if (store->WriteLogs(read, data.data(), 10000) != 0) rc = 1;
        std::printf("WriteLogs 10,000 x %3d channels    %12.0f\n", channels, 10000 / seconds_since(t));
        if (channels != 16) continue;
        for (int done = 10000; done < 100000; done += 10000) {
            const auto more = records_of(read, 10000, done);
            store->WriteLogs(read, more.data(), 10000);
        }
        store->ReadHeader(read);
        std::vector<std::uint8_t> block(static_cast<std::size_t>(1000) * read.recordSize);
        std::vector<double> blocks;
        const auto all = Clock::now();
        for (int b = 0; b < 100; ++b) {
            const auto tb = Clock::now();
            if (store->ReadLogs(b * 1000, read, block.data(), 1000, 0, nullptr, 0) != 1000) rc = 1;
            blocks.push_back(seconds_since(tb));
        }
        std::printf("ReadLogs 100,000 x 16, blocks of 1,000 %8.0f\n", 100000 / seconds_since(all));
        // A block's milliseconds are its microseconds per record; ten blocks' mean is less
        // at the mercy of a busy machine than one block.
        const auto mean_us = [&](std::size_t from, std::size_t to) {
            double sum = 0;
            for (std::size_t i = from; i < to; ++i) sum += blocks[i];
            return sum / static_cast<double>(to - from) * 1e3;
        };
        std::printf(
            "  us per record: first block %.2f, first ten %.2f, last ten %.2f, last block %.2f, slowest "
            "%.2f\n",
            blocks.front() * 1e3, mean_us(0, 10), mean_us(90, 100), blocks.back() * 1e3,
            *std::max_element(blocks.begin(), blocks.end()) * 1e3);
    }
    root.run("DROP DATABASE " + db);
    return rc;
}
