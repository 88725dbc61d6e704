#pragma once
// Retry limits and time budgets of the link, derived from the device's serial settings.
#include <cstdint>

#include "tolva_ex/records.h"

namespace tolva {

// Settings are u32 and come from a file: every budget is computed in 64 bits and held to
// this, so no product overflows and every wait stays bounded (about 24 days).
inline constexpr int64_t kMaxLinkBudgetMs = 0x7FFFFFFF;

struct LinkTimings {
    uint32_t max_retries = 2;      // transmissions of one message, and NAKs tolerated per receive
    uint32_t max_enquires = 3;     // enquiries per message sent
    int64_t ack_timeout_ms = 100;  // wait for the peer's ACK or NAK
    int64_t control_write_ms = 100;
    int64_t reply_timeout_ms = 1000;  // one receive, all retries included
    int64_t message_write_ms = 1000;  // one send, all retransmissions included
};

// Time of `characters` characters of 10 bits at `baud`, in whole milliseconds (truncated,
// as the line has always been timed). A zero rate counts as the default rate.
int64_t character_time_ms(uint32_t baud, uint32_t characters);

// The timings for settings whose defaults have been applied (zero transmissions count as one,
// more than kMaxRetriesLimit as that many).
LinkTimings link_timings(const CommSettings& comm);

}  // namespace tolva
