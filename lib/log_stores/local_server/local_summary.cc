// "5S": the runs of a time window and their records inside it.
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "log_stores/local_server/local_data_server.h"
#include "log_stores/local_server/local_range_fields.h"
#include "platform/last_error.h"

namespace log_stores::local {

using namespace ranges;

std::string LocalDataServer::GetStoreSummary(std::string_view fields) {
    // index, start, flags (bit 0: start given, bit 1: end given), end
    const auto n = numbers_of(fields, 4);
    if (!n) return failure(platform::kErrorInvalidParameter);
    const std::int64_t index = (*n)[0];
    const std::int64_t start = (*n)[1];
    const std::int64_t flags = (*n)[2];
    const std::int64_t end = (*n)[3];
    if (index < 0 || index > 1 || start < 0 || start > 0xFFFFFFFFLL || end < 0 || end > 0xFFFFFFFFLL)
        return failure(platform::kErrorInvalidParameter);
    // Only the main collection keeps a run array; the second one is summarised from its own
    // list when it exists.
    if (index == 1 && !(collections_[1] && collections_[1]->collection))
        return failure(platform::kErrorInvalidParameter);
    const std::uint64_t from = (flags & 1) != 0 ? static_cast<std::uint64_t>(start) * 1'000'000u : 0;
    const std::uint64_t to = (flags & 2) != 0 ? static_cast<std::uint64_t>(end) * 1'000'000u
                                              : std::numeric_limits<std::uint64_t>::max();
    if (index == 0 && runs_.empty()) return no_runs(0);
    const Summary s = index == 0 ? summarise(runs_, from, to)
                                 : summarise(list_runs(*collections_[1]->collection), from, to);
    char reply[96];
    std::snprintf(reply, sizeof reply, "1,%" PRIu32 ",%" PRIu32 ",%" PRIu32 ",%" PRIu32 ",%d",
                  static_cast<std::uint32_t>(s.first_start / 1'000'000u),
                  static_cast<std::uint32_t>(s.last_end / 1'000'000u),
                  static_cast<std::uint32_t>(std::min<std::uint64_t>(s.records, 0xFFFFFFFFu)), s.runs,
                  logging_bit(*this));
    return reply;
}

}  // namespace log_stores::local
