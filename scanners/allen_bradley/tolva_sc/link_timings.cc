#include "tolva_sc/link_timings.h"

#include <algorithm>

namespace tolva {

int64_t character_time_ms(uint32_t baud, uint32_t characters) {
    const double rate = baud != 0 ? baud : kDefaultBaudRate;
    // The same expression as always, so a budget never moves by the last millisecond.
    const double ms = 10000.0 / rate * characters;
    if (ms >= static_cast<double>(kMaxLinkBudgetMs)) return kMaxLinkBudgetMs;
    return static_cast<int64_t>(ms);
}

LinkTimings link_timings(const CommSettings& comm) {
    LinkTimings t;
    t.max_retries = std::clamp<uint32_t>(comm.MaxRetries, 1, kMaxRetriesLimit);
    t.max_enquires = comm.MaxEnquires;
    t.ack_timeout_ms = character_time_ms(comm.BaudRate, comm.ReplyAck);
    t.control_write_ms = t.ack_timeout_ms;
    t.reply_timeout_ms = std::min<int64_t>(static_cast<int64_t>(comm.ReplyTimeout) * 1000, kMaxLinkBudgetMs);
    t.message_write_ms = t.reply_timeout_ms;
    return t;
}

}  // namespace tolva
