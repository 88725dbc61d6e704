#pragma once
// What the link counts, for the port-statistics channels. Counts only grow; the publisher
// takes differences between two snapshots.
#include <cstdint>

namespace tolva {

struct LinkCounters {
    uint64_t received_bytes = 0;   // every byte read from the port
    uint64_t received_frames = 0;  // messages with a good block check, duplicates included
    uint64_t reply_timeouts = 0;   // receives that ran out of time
    uint64_t ack_timeouts = 0;     // waits for an ACK or NAK that ran out (each one)
    uint64_t bad_dle_pairs = 0;
    uint64_t length_errors = 0;  // messages too long for the buffer or of 5 bytes or fewer
    uint64_t bcc_errors = 0;
    uint64_t duplicates = 0;  // good messages dropped as repeats
    uint64_t sent_bytes = 0;
    uint64_t sent_frames = 0;  // transmissions of messages
    uint64_t enquiries_sent = 0;
    uint64_t naks_sent = 0;
    uint64_t naks_received = 0;
    uint64_t write_failures = 0;  // writes that failed or did not finish within their budget

    friend LinkCounters operator-(const LinkCounters& now, const LinkCounters& before) {
        return {now.received_bytes - before.received_bytes, now.received_frames - before.received_frames,
                now.reply_timeouts - before.reply_timeouts, now.ack_timeouts - before.ack_timeouts,
                now.bad_dle_pairs - before.bad_dle_pairs,   now.length_errors - before.length_errors,
                now.bcc_errors - before.bcc_errors,         now.duplicates - before.duplicates,
                now.sent_bytes - before.sent_bytes,         now.sent_frames - before.sent_frames,
                now.enquiries_sent - before.enquiries_sent, now.naks_sent - before.naks_sent,
                now.naks_received - before.naks_received,   now.write_failures - before.write_failures};
    }
    bool operator==(const LinkCounters&) const = default;
};

}  // namespace tolva
