#pragma once
// What the command layer needs of the serial link: one message out, one message in within
// a budget, a clock, and the link's reply time-out and retry limit. The DF1 link is the real
// one; tests and fuzz targets script their own.
#include <cstddef>
#include <cstdint>
#include <span>

#include "tolva_sc/df1_link.h"

namespace tolva {

class MessageLink {
  public:
    virtual ~MessageLink() = default;
    // 1, or 0 with the reason as the thread's last error.
    virtual int send(std::span<const uint8_t> message) = 0;
    // 1 with the message's length, or 0 with the reason; waits at most `budget_ms`.
    virtual int receive(std::span<uint8_t> buffer, size_t& length, int64_t budget_ms) = 0;
    virtual int64_t now_ms() = 0;
    // The wait for one reply, and how often a command may be sent again.
    virtual int64_t reply_budget_ms() const = 0;
    virtual uint32_t max_retries() const = 0;
};

class Df1MessageLink final : public MessageLink {
  public:
    explicit Df1MessageLink(Df1Link& link) : link_(link) {}
    int send(std::span<const uint8_t> message) override { return link_.send_message(message); }
    int receive(std::span<uint8_t> buffer, size_t& length, int64_t budget_ms) override;
    int64_t now_ms() override;
    int64_t reply_budget_ms() const override { return link_.timings().reply_timeout_ms; }
    uint32_t max_retries() const override { return link_.timings().max_retries; }

  private:
    Df1Link& link_;
};

}  // namespace tolva
