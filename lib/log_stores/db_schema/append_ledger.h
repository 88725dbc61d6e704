#pragma once
// What a store that appends records to a DATA table (which has no key) knows of what it has
// stored, so that a lost connection never stores a record twice. Each batch is one
// transaction. When its commit goes unanswered, the rows of the batch's latest time tell
// whether it is in: the store knows how many rows of that time the table held before it.
// When a call fails part-way, the records it stored are recognised if the caller hands the
// same records in again, and are not sent twice.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace log_stores::db_schema {

// A row's place in time: DT seconds and MS as the table keeps it.
struct TimeKey {
    std::int64_t seconds = 0;
    double ms = 0;
    friend auto operator<=>(const TimeKey&, const TimeKey&) = default;
};

// The rows of the table's latest time.
struct Tail {
    TimeKey key;
    std::int64_t rows = 0;
};

// One batch: the keys of its records in order, and the rows of its latest time the table held
// before it.
struct Batch {
    TimeKey latest;
    std::int64_t latestInBatch = 0;
    std::int64_t rowsBefore = 0;
    std::size_t first = 0;  // its first record's index in the call
    std::size_t count = 0;
};

// A record's fingerprint (its bytes hashed), to recognise it when handed in again.
std::uint64_t fingerprint(std::span<const std::uint8_t> record);

class AppendLedger {
  public:
    enum class Outcome { stored, not_stored, unknown };

    // Whether the table's tail is known; until then the store asks the table (start()).
    bool started() const { return started_; }
    // The table's latest time and its rows as the store finds them (nothing: no rows).
    void start(std::optional<Tail> tail);
    // Forgets the tail (a reopened table, another writer): the store asks again.
    void forget_tail() { started_ = false; }

    // A batch of the records with `keys`; `count_at` gives the rows the table holds of a time,
    // asked only when the tail cannot tell (a batch older than the table's latest time).
    // Nothing when that count fails.
    std::optional<Batch> batch(std::span<const TimeKey> keys, std::size_t first,
                               const std::function<std::optional<std::int64_t>(TimeKey)>& count_at) const;
    // The batch is in the table.
    void stored(const Batch& batch);
    // From the rows of the batch's latest time now: in or not, or unknown when the table holds
    // neither count (someone else changed those rows).
    static Outcome outcome(const Batch& batch, std::int64_t rowsNow);

    // A call begins: how many of its leading records a failed call stored already (compared by
    // fingerprint; `records` gives record i). Those records count as stored by this call.
    std::size_t begin_call(std::size_t count, const std::function<std::span<const std::uint8_t>(std::size_t)>& records);
    // The call ends having stored its records up to `stored_up_to` (of `records`), with
    // `pending` left unanswered when given: the next call resolves it and skips what is in.
    void end_call(std::size_t stored_up_to, const std::function<std::span<const std::uint8_t>(std::size_t)>& records,
                  std::optional<Batch> pending);
    // A batch of an earlier call whose commit went unanswered; resolve_pending settles it with
    // the rows of its latest time now.
    const std::optional<Batch>& pending() const { return pending_; }
    Outcome resolve_pending(std::int64_t rowsNow);

  private:
    bool started_ = false;
    std::optional<Tail> tail_;
    std::vector<std::uint64_t> carried_;  // fingerprints of a failed call's stored records
    std::optional<Batch> pending_;
    std::vector<std::uint64_t> pendingPrints_;
};

}  // namespace log_stores::db_schema
