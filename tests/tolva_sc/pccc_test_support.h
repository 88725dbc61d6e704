#pragma once
// A link straight into the controller stand-in, for tests of the command layer and above
// that need no serial line: each request goes to the network's answer at once, replies
// queue up, and a receive with nothing queued times out on a virtual clock.
#include <cerrno>
#include <cstring>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "controller/pccc_network.h"
#include "platform/last_error.h"
#include "qvr/records/channel_record.h"
#include "tolva_ex/records.h"
#include "tolva_sc/link_codes.h"
#include "tolva_sc/message_link.h"

namespace pccc_test {

using Bytes = std::vector<uint8_t>;

class NetworkLink : public tolva::MessageLink {
  public:
    explicit NetworkLink(sim_controller::ControllerNetwork& network) : network_(network) {}

    int send(std::span<const uint8_t> message) override {
        sent.emplace_back(message.begin(), message.end());
        if (auto reply = network_.answer(message)) replies.push_back(*reply);
        if (after_send) after_send(sent.back());
        return 1;
    }
    int receive(std::span<uint8_t> buffer, size_t& length, int64_t budget_ms) override {
        if (replies.empty()) {
            now_ += budget_ms;
            ++timeouts;
            platform::set_last_error(tolva::link_error::kTimeout);
            return 0;
        }
        Bytes r = std::move(replies.front());
        replies.pop_front();
        if (r.size() > buffer.size()) {
            platform::set_last_error(tolva::link_error::kTooLong);
            return 0;
        }
        std::memcpy(buffer.data(), r.data(), r.size());
        length = r.size();
        now_ += 1;
        return 1;
    }
    int64_t now_ms() override { return now_; }
    int64_t reply_budget_ms() const override { return 1000; }
    uint32_t max_retries() const override { return retries; }

    std::vector<Bytes> sent;
    std::deque<Bytes> replies;
    std::function<void(const Bytes&)> after_send;
    uint32_t retries = 2;
    int timeouts = 0;

  private:
    sim_controller::ControllerNetwork& network_;
    int64_t now_ = 0;
};

// A channel record of `kind` (0 AI ... 3 DO), enabled, with tag `tag` and address `hw`.
inline qvr::ChannelRecord channel(int kind, tolva::ChannelHwRecord hw, const char* tag = "",
                                  bool enabled = true) {
    qvr::ChannelRecord r{};
    r.head.Type = static_cast<qvr::ChannelKind>(kind);
    r.head.Flags.set(qvr::AnalogFlag::Enable, enabled);
    qvr::split_text(r, qvr::ChannelText::Tag, tag);
    tolva::write_channel_hw(r.bytes, hw);
    return r;
}

// An address: station, type, file, element, sub-element, mnemonic, slot.
inline tolva::ChannelHwRecord hw(uint8_t station, int8_t type, int16_t file, int16_t element,
                                 int16_t sub = -1, int16_t mnemonic = -1,
                                 std::optional<int16_t> slot = std::nullopt) {
    tolva::ChannelHwRecord h{};
    h.StationNumber = station;
    h.FileType = type;
    h.FileNumber = file;
    h.ElementNumber = element;
    h.SubElementNumber = sub;
    h.MnemonicNumber = mnemonic;
    h.SlotNumber = slot.value_or(element);
    return h;
}

}  // namespace pccc_test
