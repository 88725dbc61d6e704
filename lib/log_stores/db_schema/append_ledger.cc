#include "log_stores/db_schema/append_ledger.h"

#include <algorithm>

namespace log_stores::db_schema {

std::uint64_t fingerprint(std::span<const std::uint8_t> record) {
    // FNV-1a: only the records of a failed call are hashed, never those of a call that works.
    std::uint64_t h = 14695981039346656037ull;
    for (const std::uint8_t b : record) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return h;
}

void AppendLedger::start(std::optional<Tail> tail) {
    tail_ = tail;
    started_ = true;
}

std::optional<Batch> AppendLedger::batch(std::span<const TimeKey> keys, std::size_t first,
                                         const std::function<std::optional<std::int64_t>(TimeKey)>& count_at) const {
    Batch b;
    b.first = first;
    b.count = keys.size();
    if (keys.empty()) return b;
    b.latest = *std::max_element(keys.begin(), keys.end());
    b.latestInBatch = std::count(keys.begin(), keys.end(), b.latest);
    if (started_ && (!tail_ || b.latest > tail_->key)) {
        b.rowsBefore = 0;
    } else if (started_ && b.latest == tail_->key) {
        b.rowsBefore = tail_->rows;
    } else {
        // Older than the table's latest time: only the table can say.
        const auto n = count_at(b.latest);
        if (!n) return std::nullopt;
        b.rowsBefore = *n;
    }
    return b;
}

void AppendLedger::stored(const Batch& batch) {
    if (batch.count == 0) return;
    if (!tail_ || batch.latest > tail_->key) {
        tail_ = Tail{batch.latest, batch.latestInBatch};
    } else if (batch.latest == tail_->key) {
        tail_->rows += batch.latestInBatch;
    }
}

AppendLedger::Outcome AppendLedger::outcome(const Batch& batch, std::int64_t rowsNow) {
    if (rowsNow == batch.rowsBefore + batch.latestInBatch) return Outcome::stored;
    if (rowsNow == batch.rowsBefore) return Outcome::not_stored;
    return Outcome::unknown;
}

std::size_t AppendLedger::begin_call(std::size_t count,
                                     const std::function<std::span<const std::uint8_t>(std::size_t)>& records) {
    std::size_t k = 0;
    while (k < count && k < carried_.size() && fingerprint(records(k)) == carried_[k]) ++k;
    carried_.clear();
    return k;
}

void AppendLedger::end_call(std::size_t stored_up_to,
                            const std::function<std::span<const std::uint8_t>(std::size_t)>& records,
                            std::optional<Batch> pending) {
    carried_.clear();
    pendingPrints_.clear();
    pending_ = pending;
    if (!pending && !records) return;
    if (records) {
        // Only a failed call's records are hashed: a retry of that call skips them.
        for (std::size_t i = 0; i < stored_up_to; ++i) carried_.push_back(fingerprint(records(i)));
        if (pending)
            for (std::size_t i = 0; i < pending->count; ++i)
                pendingPrints_.push_back(fingerprint(records(pending->first + i)));
    }
}

AppendLedger::Outcome AppendLedger::resolve_pending(std::int64_t rowsNow) {
    if (!pending_) return Outcome::not_stored;
    const Outcome o = outcome(*pending_, rowsNow);
    if (o == Outcome::unknown) return o;
    if (o == Outcome::stored) {
        stored(*pending_);
        carried_.insert(carried_.end(), pendingPrints_.begin(), pendingPrints_.end());
    }
    pending_.reset();
    pendingPrints_.clear();
    return o;
}

}  // namespace log_stores::db_schema
