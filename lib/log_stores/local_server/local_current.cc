// Keeping the current runs up to date: the newest run of each collection, its record count
// and the last record that can be read whole.
#include <algorithm>
#include <cstring>
#include <vector>

#include "log_stores/local_server/local_data_server.h"
#include "log_stores/run_file/run_file_format.h"

namespace log_stores::local {
namespace {

bool elapsed(const std::optional<std::uint64_t>& since, std::uint64_t now, std::uint64_t period) {
    return !since || now < *since || now - *since >= period;
}

// A record as every store hands it out: whole, with its marker.
bool readable(CLogStore& store, const LogHeader& header, std::int32_t index, std::vector<std::uint8_t>& out) {
    if (header.recordSize < static_cast<std::int32_t>(run_file::kRecordHeadSize)) return false;
    out.assign(static_cast<std::size_t>(header.recordSize), 0);
    if (store.ReadLog(index, header, out.data(), header.recordSize, 0, 0, nullptr, 0, false) != 0)
        return false;
    return run_file::decode_record_head(out).marker == run_file::kRecordMarker;
}

// Records tried per update when looking back for a readable one: a store that reads nothing
// must not cost a pass over the whole run at every request.
constexpr std::int32_t kMaxRecordsTried = 1'000;

// The record count now, and the last readable record. Records up to the last one found
// readable were whole then and stay so; only those behind it are tried again.
void update_last_readable(CurrentRun& run) {
    const int count = run.store->GetNoLogs(run.header);
    if (count < 0) {
        run.last_readable = -2;
        return;
    }
    run.record_count = count;
    const bool known = run.last_readable >= 0 && run.last_readable < count;
    if (known && run.last_readable == count - 1) return;
    // A run that shrank, or one whose search failed, is searched from its newest record down.
    const std::int32_t floor = known ? run.last_readable + 1 : 0;
    std::vector<std::uint8_t> record;
    std::int32_t tried = 0;
    for (std::int32_t i = count - 1; i >= floor; --i) {
        if (tried++ == kMaxRecordsTried) {
            run.last_readable = -2;
            return;
        }
        if (readable(*run.store, run.header, i, record)) {
            run.last_readable = i;
            run.last_record = std::move(record);
            return;
        }
    }
    if (!known) {
        run.last_readable = -1;
        run.last_record.clear();
    }
}

}  // namespace

void LocalDataServer::UpdateCurrentRuns() {
    const std::uint64_t now = clock_();
    if (!elapsed(last_current_update_, now, kCurrentRunsPeriodMs)) return;
    last_current_update_ = now;

    const bool first = !last_latest_check_;
    // More than 29,999 ms since the last look for a newer run.
    if (first || elapsed(last_latest_check_, now, kLatestRunCheckMs)) {
        last_latest_check_ = now;
        bool all_opened = true;
        for (const auto& c : collections_)
            if (c && !c->latest_opened) all_opened = false;
        if (!first || !all_opened) (void)OpenLatestRuns();
        // A run may have finished since its header was read: its stop time is news.
        for (auto& c : collections_) {
            if (!c || !c->current.store) continue;
            LogHeader header{};
            if (c->current.store->ReadHeader(header) == 0) c->current.header = header;
        }
    }

    for (auto& c : collections_)
        if (c && c->current.store) update_last_readable(c->current);
}

}  // namespace log_stores::local
