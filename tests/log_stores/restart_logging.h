#pragma once
// A logging run through stops and restarts of its server: calls of a number of records each,
// a failed call handed in again (as a logger does) until it is taken, while another thread
// kills or stops the server and starts it again on the same data, over and over. Every record
// must then be in the table exactly once, whatever moment each stop struck.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <thread>
#include <vector>

#include "log_stores/log_store.h"
#include "log_stores/run_file/run_file_format.h"
#include "own_server.h"

namespace log_stores_test {

// `count` records a second apart with `channels` analog values each, laid out by `h`.
inline std::vector<std::uint8_t> numbered_records(const log_stores::LogHeader& h, int count, std::int32_t start) {
    std::vector<std::uint8_t> out(static_cast<std::size_t>(count) * static_cast<std::size_t>(h.recordSize));
    for (int i = 0; i < count; ++i) {
        const std::span<std::uint8_t> r(out.data() + static_cast<std::size_t>(i) * h.recordSize,
                                        static_cast<std::size_t>(h.recordSize));
        log_stores::run_file::RecordHead head;
        head.time = {start + i, static_cast<std::int16_t>(i % 1000), 0};
        log_stores::run_file::encode_record_head(head, r);
        for (std::size_t b = 0; b < h.blockCount; ++b)
            for (std::uint32_t k = 0; k < h.blocks[b].channel_count(); ++k)
                log_stores::run_file::write_sample(r, h.blocks[b], k,
                                                   {log_stores::run_file::kSampleAnalog, static_cast<float>(i) + 0.25f * k});
    }
    return out;
}

struct RestartRun {
    int failedCalls = 0;  // calls that failed and were handed in again
    int restarts = 0;
    bool gaveUp = false;  // a call never taken (the run is then incomplete)
};

// Logs `data` through `store` in calls of `perCall` records; `cycles` times another thread
// waits for the run to move on, then kills (SIGKILL) or stops (SIGTERM) the server by turns and
// starts it again. Every wait is bounded.
inline RestartRun log_through_restarts(log_stores::CLogStore& store, const log_stores::LogHeader& h,
                                       const std::vector<std::uint8_t>& data, std::size_t perCall, OwnServer& server,
                                       int cycles) {
    RestartRun run;
    const auto size = static_cast<std::size_t>(h.recordSize);
    const std::size_t total = data.size() / size;
    const std::size_t calls = (total + perCall - 1) / perCall;
    std::atomic<std::size_t> callsDone{0};
    std::atomic<bool> finished{false};
    std::atomic<int> restarts{0};
    std::thread stopper([&] {
        std::mt19937 random(static_cast<unsigned>(cycles * 7919));
        for (int c = 0; c < cycles && !finished; ++c) {
            // Somewhere inside the run: after a share of its calls, a few milliseconds into the next.
            const std::size_t wanted = (static_cast<std::size_t>(c) + 1) * calls / (static_cast<std::size_t>(cycles) + 2);
            for (int i = 0; i < 6000 && callsDone < wanted && !finished; ++i) ::usleep(10000);
            ::usleep(std::uniform_int_distribution<unsigned>(0, 30000)(random));
            if (!server.kill(c % 2 == 0 ? SIGKILL : SIGTERM)) ADD_FAILURE() << "the server did not go";
            ::usleep(std::uniform_int_distribution<unsigned>(0, 300000)(random));
            if (!server.restart()) {
                ADD_FAILURE() << "the server did not come back";
                return;
            }
            ++restarts;
        }
    });
    for (std::size_t call = 0; call < calls; ++call) {
        const std::size_t first = call * perCall;
        const auto n = static_cast<std::int32_t>(std::min(perCall, total - first));
        int tries = 0;
        while (store.WriteLogs(h, data.data() + first * size, n) != 0) {
            ++run.failedCalls;
            if (++tries > 1200) {
                run.gaveUp = true;
                break;
            }
            ::usleep(50000);
        }
        if (run.gaveUp) break;
        ++callsDone;
    }
    finished = true;
    stopper.join();
    run.restarts = restarts;
    return run;
}

// Every record read back in order with its time and values: nothing missing, nothing twice.
inline void expect_every_record_once(log_stores::CLogStore& reader, const log_stores::LogHeader& h,
                                     const std::vector<std::uint8_t>& data) {
    const auto size = static_cast<std::size_t>(h.recordSize);
    const auto total = static_cast<std::int32_t>(data.size() / size);
    EXPECT_EQ(reader.GetNoLogs(h), total) << reader.GetErrorContext() << ": " << reader.GetErrorText();
    std::vector<std::uint8_t> back(data.size());
    ASSERT_EQ(reader.ReadLogs(0, h, back.data(), total, 0, nullptr, 0), total)
        << reader.GetErrorContext() << ": " << reader.GetErrorText();
    int wrong = 0;
    for (std::int32_t i = 0; i < total && wrong < 5; ++i) {
        const std::span<const std::uint8_t> a(data.data() + static_cast<std::size_t>(i) * size, size);
        const std::span<const std::uint8_t> b(back.data() + static_cast<std::size_t>(i) * size, size);
        bool same = log_stores::run_file::decode_record_head(a).time.seconds ==
                    log_stores::run_file::decode_record_head(b).time.seconds;
        for (std::size_t k = 0; same && k < h.blockCount; ++k)
            for (std::uint32_t j = 0; same && j < h.blocks[k].channel_count(); ++j) {
                log_stores::run_file::ChannelSample x{}, y{};
                log_stores::run_file::read_sample(a, h.blocks[k], j, x);
                log_stores::run_file::read_sample(b, h.blocks[k], j, y);
                same = x.flags == y.flags && x.value == y.value;
            }
        if (!same) {
            ++wrong;
            ADD_FAILURE() << "record " << i << " is not the one written";
        }
    }
}

}  // namespace log_stores_test
