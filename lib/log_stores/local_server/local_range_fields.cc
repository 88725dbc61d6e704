// Fields, buffers and run times of the range requests.
#include "log_stores/local_server/local_range_fields.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "platform/debug_output.h"
#include "platform/last_error.h"
#include "qvr/requests/request_text.h"

namespace log_stores::local::ranges {

std::uint64_t micros_of(const TimeStamp& t) {
    const auto ms = static_cast<std::uint64_t>(std::clamp<int>(t.milliseconds, 0, 999));
    const auto us = static_cast<std::uint64_t>(std::clamp<int>(t.microseconds, 0, 999));
    return std::uint64_t{static_cast<std::uint32_t>(t.seconds)} * 1'000'000u + ms * 1000u + us;
}

TimeStamp stamp_of(std::uint64_t micros) {
    const std::uint64_t seconds = std::min<std::uint64_t>(micros / 1'000'000u, 0xFFFFFFFFu);
    TimeStamp t{};
    t.seconds = static_cast<std::int32_t>(static_cast<std::uint32_t>(seconds));
    t.milliseconds = static_cast<std::int16_t>(micros / 1000u % 1000u);
    t.microseconds = static_cast<std::int16_t>(micros % 1000u);
    return t;
}

std::optional<std::vector<std::int64_t>> numbers_of(std::string_view fields, std::size_t count) {
    const auto parts = qvr::requests::split(fields, ',');
    if (parts.size() != count) return std::nullopt;
    std::vector<std::int64_t> out;
    out.reserve(count);
    for (const std::string_view part : parts) {
        const auto n = qvr::requests::number_of(part);
        if (!n) return std::nullopt;
        out.push_back(*n);
    }
    return out;
}

std::string failure(int code) {
    platform::set_last_error(code);
    return "-1," + std::to_string(code);
}

std::optional<Named> named_buffer(std::int64_t handle) {
    if (handle == 0) return Named{};
    const auto buffer = qvr::local_buffers::resolve(handle);
    if (!buffer) return std::nullopt;
    return Named{{static_cast<std::uint8_t*>(buffer->address), buffer->capacity}};
}

std::uint64_t run_end_micros(const RunEntry& run) {
    if (run.stop.seconds != 0) return micros_of(run.stop);
    if (!run.times.empty()) return std::max(micros_of(run.times.back()), micros_of(run.start));
    return micros_of(run.start);
}

std::pair<std::size_t, std::size_t> records_within(const RunEntry& run, std::uint64_t from,
                                                   std::uint64_t to) {
    const auto before = [](const TimeStamp& t, std::uint64_t m) { return micros_of(t) < m; };
    const auto first = std::lower_bound(run.times.begin(), run.times.end(), from, before);
    const auto last = std::lower_bound(first, run.times.end(), to, before);
    return {static_cast<std::size_t>(first - run.times.begin()),
            static_cast<std::size_t>(last - run.times.begin())};
}

Summary summarise(std::span<const RunEntry> runs, std::uint64_t from, std::uint64_t to) {
    Summary s;
    s.first_start = std::numeric_limits<std::uint64_t>::max();
    for (const RunEntry& run : runs) {
        const std::uint64_t start = micros_of(run.start);
        const std::uint64_t end = run_end_micros(run);
        if (start >= to || end < from) continue;
        s.first_start = std::min(s.first_start, start);
        s.last_end = std::max(s.last_end, end);
        const auto [a, b] = records_within(run, from, to);
        s.records += b - a;
        ++s.runs;
    }
    if (s.runs == 0) s.first_start = 0;
    return s;
}

std::size_t usable_record_size(const RunEntry& run) {
    constexpr std::int32_t kMaxRecordSize = 1 << 20;
    const std::int32_t size = run.header.recordSize;
    if (!run.store || size < static_cast<std::int32_t>(kRecordHeadBytes) || size > kMaxRecordSize) return 0;
    return static_cast<std::size_t>(size);
}

bool read_records(const RunEntry& run, std::size_t first, std::size_t count, std::vector<std::uint8_t>& out) {
    const std::size_t size = usable_record_size(run);
    if (size == 0 || count == 0 ||
        first > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()) ||
        count > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        return false;
    out.resize(size * count);
    const int n = run.store->ReadLogs(static_cast<std::int32_t>(first), run.header, out.data(),
                                      static_cast<std::int32_t>(count), 0, nullptr, 0);
    return n == static_cast<int>(count);
}

std::vector<RunEntry> list_runs(CLogCollection& collection) {
    std::vector<RunEntry> runs;
    std::size_t name_size = 0;
    if (collection.BeginRunList(&name_size) != 1) return runs;
    std::vector<char> name(std::max<std::size_t>(name_size, 1) + 1, '\0');
    TimeStamp start{}, stop{};
    while (collection.GetNextRun(name.data(), &start, &stop) == 1) {
        name.back() = '\0';
        RunEntry run;
        run.name = name.data();
        run.start = start;
        run.stop = stop;
        runs.push_back(std::move(run));
    }
    constexpr std::size_t kBlock = 4096;
    std::vector<std::uint8_t> records;
    for (RunEntry& run : runs) {
        run.store = collection.OpenStore(run.name.c_str(), kGenericRead);
        if (!run.store || run.store->ReadHeader(run.header) != 0) {
            run.store.reset();
            continue;
        }
        const int total = run.store->GetNoLogs(run.header);
        const std::size_t size = usable_record_size(run);
        if (total <= 0 || size == 0) continue;
        for (std::size_t at = 0; at < static_cast<std::size_t>(total); at += kBlock) {
            const std::size_t count = std::min(kBlock, static_cast<std::size_t>(total) - at);
            if (!read_records(run, at, count, records)) break;
            for (std::size_t i = 0; i < count; ++i) {
                TimeStamp t{};
                std::memcpy(&t, records.data() + i * size + kRecordTimeOffset, sizeof t);
                run.times.push_back(t);
            }
        }
        run.records = static_cast<std::int32_t>(run.times.size());
    }
    return runs;
}

std::string no_runs(int index) {
    platform::debug_output("No RT Records GraphFiltered for " + std::to_string(index) + ":d\r\n");
    return {};
}

int logging_bit(const LocalDataServer& server) {
    return (server.status_flags_[0] & 1u) != 0 ? 1 : 0;
}

std::vector<const RunEntry*> in_time_order(std::span<const RunEntry> runs) {
    std::vector<const RunEntry*> out;
    out.reserve(runs.size());
    for (const RunEntry& run : runs) out.push_back(&run);
    std::stable_sort(out.begin(), out.end(), [](const RunEntry* a, const RunEntry* b) {
        return micros_of(a->start) < micros_of(b->start);
    });
    return out;
}

}  // namespace log_stores::local::ranges
