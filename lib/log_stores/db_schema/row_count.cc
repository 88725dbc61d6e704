#include "log_stores/db_schema/row_count.h"

namespace log_stores::db_schema {

std::optional<std::int64_t> RowCount::rows(const CountQueries& q) {
    const auto first = q.first();
    const auto last = first ? q.last() : std::nullopt;
    if (!first || !last) return std::nullopt;
    Mark next;
    next.first = *first;
    next.last = *last;
    if (mark_ && *first == mark_->first) {
        if (!mark_->last) {
            // No rows then, and the oldest is still none: none now.
            return mark_->total;
        }
        // Only the rows from the time last counted on: every one before it was counted then.
        const auto counted = q.count(mark_->last, *last);
        if (!counted) return std::nullopt;
        next.total = mark_->total - mark_->fromLast + counted->first;
        next.fromLast = counted->second;
    } else {
        // The first count, or the oldest rows changed: every row.
        const auto counted = q.count(std::nullopt, *last);
        if (!counted) return std::nullopt;
        next.total = counted->first;
        next.fromLast = counted->second;
    }
    mark_ = next;
    return next.total;
}

}  // namespace log_stores::db_schema
