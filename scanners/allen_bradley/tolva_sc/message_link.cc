#include "tolva_sc/message_link.h"

#include <algorithm>

#include "platform/monotonic_clock.h"

namespace tolva {

int Df1MessageLink::receive(std::span<uint8_t> buffer, size_t& length, int64_t budget_ms) {
    // The link times one receive by its reply time-out; a command that already waited part
    // of it lends the link only what is left.
    const LinkTimings configured = link_.timings();
    LinkTimings bounded = configured;
    bounded.reply_timeout_ms = std::clamp<int64_t>(budget_ms, 0, configured.reply_timeout_ms);
    link_.set_timings(bounded);
    const int rc = link_.receive_message(buffer, length);
    link_.set_timings(configured);
    return rc;
}

int64_t Df1MessageLink::now_ms() {
    if (LinkPort* port = link_.port()) return port->now_us() / 1000;
    return platform::monotonic_ms();
}

}  // namespace tolva
