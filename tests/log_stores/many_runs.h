#pragma once
// A process with many runs open at once on one MariaDB server that accepts its default 151
// connections: a thousand runs open for reading and fifty logging, every record read back
// right. Runs are made through a collection of either database kind.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "db_schema_fixtures.h"
#include "log_stores/log_collection.h"
#include "log_stores/log_store.h"
#include "log_stores/run_file/run_file_format.h"

namespace log_stores_test {

inline constexpr std::int32_t kManyRunsStart = 1709632800;  // 2024-03-05 10:00:00 UTC

// Three records of run `run`: channel k of record i holds run * 100 + i * 10 + k.
inline std::vector<std::uint8_t> run_records(const log_stores::LogHeader& h, int run) {
    std::vector<std::uint8_t> out;
    for (int i = 0; i < 3; ++i) {
        const auto r = record_of(h, {kManyRunsStart + run * 10 + i, 0, 0},
                                 {{0x80, static_cast<float>(run * 100 + i * 10)}, {0x80, static_cast<float>(run * 100 + i * 10 + 1)}});
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

inline void expect_run_records(log_stores::CLogStore& store, const log_stores::LogHeader& h, int run) {
    const auto want = run_records(h, run);
    std::vector<std::uint8_t> back(want.size());
    ASSERT_EQ(store.ReadLogs(0, h, back.data(), 3, 0, nullptr, 0), 3)
        << "run " << run << ": " << store.GetErrorContext() << ": " << store.GetErrorText();
    const auto size = static_cast<std::size_t>(h.recordSize);
    for (std::size_t i = 0; i < 3; ++i)
        for (std::uint32_t k = 0; k < 2; ++k) {
            log_stores::run_file::ChannelSample a{}, b{};
            log_stores::run_file::read_sample(std::span(want).subspan(i * size, size), h.blocks[0], k, a);
            log_stores::run_file::read_sample(std::span(back).subspan(i * size, size), h.blocks[0], k, b);
            EXPECT_EQ(b.value, a.value) << "run " << run << " record " << i;
        }
}

// `finished` runs made and finished one after the other, then every one of them open for
// reading at once, and `logging` more runs made and kept open for logging beside them.
// `while_open` runs with all of them open.
inline void many_runs_at_once(const std::function<std::unique_ptr<log_stores::CLogCollection>()>& open, int finished,
                              int logging, const std::function<void()>& while_open) {
    auto collection = open();
    ASSERT_TRUE(collection);
    const log_stores::LogHeader h = header_of({{"AI", 1, 2}}, false, false);
    const std::vector<qvr::ChannelRecord> configs{analog_channel("T1"), analog_channel("T2")};
    const qvr::ChannelRecord* table[] = {configs.data()};
    const auto make = [&](int run) -> std::unique_ptr<log_stores::CLogStore> {
        log_stores::LogHeader made = h;
        std::int32_t start = kManyRunsStart + run * 10;
        made.start = {start, 0, 0};
        auto store = collection->NewRun(&start, false, 0, made, nullptr, false, nullptr, false, table);
        EXPECT_TRUE(store) << "run " << run << ": " << collection->GetErrorContext() << ": " << collection->GetErrorText();
        if (!store) return store;
        const auto records = run_records(h, run);
        EXPECT_EQ(store->WriteLogs(h, records.data(), 3), 0) << store->GetErrorContext() << ": " << store->GetErrorText();
        return store;
    };
    for (int run = 0; run < finished; ++run) {
        auto store = make(run);
        ASSERT_TRUE(store);
        const TimeStamp start{kManyRunsStart + run * 10, 0, 0}, stop{kManyRunsStart + run * 10 + 3, 0, 0};
        collection->FinishRun(*store, &start, &stop, false);
    }
    std::vector<std::unique_ptr<log_stores::CLogStore>> readers;
    for (int run = 0; run < finished; ++run) {
        char name[32];
        std::snprintf(name, sizeof name, "LoggerSeq=%08d", run + 1);
        readers.push_back(collection->OpenStore(name, log_stores::kGenericRead));
        ASSERT_TRUE(readers.back()) << name << ": " << collection->GetErrorContext() << ": " << collection->GetErrorText();
    }
    std::vector<std::unique_ptr<log_stores::CLogStore>> loggers;
    for (int run = finished; run < finished + logging; ++run) {
        loggers.push_back(make(run));
        ASSERT_TRUE(loggers.back());
    }
    for (int run = 0; run < finished; ++run) {
        log_stores::LogHeader read{};
        ASSERT_EQ(readers[static_cast<std::size_t>(run)]->ReadHeader(read), 0) << "run " << run;
        EXPECT_EQ(read.recordCount, 3) << "run " << run;
        expect_run_records(*readers[static_cast<std::size_t>(run)], h, run);
    }
    for (int k = 0; k < logging; ++k) {
        expect_run_records(*loggers[static_cast<std::size_t>(k)], h, finished + k);
        // Logging goes on beside the readers.
        const auto more = record_of(h, {kManyRunsStart + (finished + k) * 10 + 5, 0, 0}, {{0x80, 1}, {0x80, 2}});
        EXPECT_EQ(loggers[static_cast<std::size_t>(k)]->WriteLogs(h, more.data(), 1), 0);
        EXPECT_EQ(loggers[static_cast<std::size_t>(k)]->GetNoLogs(h), 4);
    }
    while_open();
}

}  // namespace log_stores_test
