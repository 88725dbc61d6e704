#include "controller/frame_codec.h"

#include <utility>

namespace sim_controller {

uint8_t block_check(std::span<const uint8_t> body) {
    unsigned sum = 0;
    for (uint8_t b : body) sum += b;
    return static_cast<uint8_t>((0x100 - (sum & 0xFF)) & 0xFF);
}

std::vector<uint8_t> frame_bytes(std::span<const uint8_t> body) {
    std::vector<uint8_t> out{kDle, kStx};
    for (uint8_t b : body) {
        out.push_back(b);
        if (b == kDle) out.push_back(kDle);
    }
    out.push_back(kDle);
    out.push_back(kEtx);
    out.push_back(block_check(body));
    return out;
}

ParsedEvent StreamParser::take(ParsedEvent::Kind kind, uint8_t byte) {
    ParsedEvent event{kind, {}, std::exchange(skipped_, 0), byte};
    if (kind == ParsedEvent::Kind::frame || kind == ParsedEvent::Kind::bad_bcc ||
        kind == ParsedEvent::Kind::bad_pair || kind == ParsedEvent::Kind::overflow) {
        event.body = std::move(body_);
        body_.clear();
    }
    return event;
}

std::optional<ParsedEvent> StreamParser::feed(uint8_t byte) {
    using Kind = ParsedEvent::Kind;
    switch (state_) {
        case State::idle:
            if (byte == kDle) {
                state_ = State::idle_dle;
            } else {
                ++skipped_;
            }
            return std::nullopt;
        case State::idle_dle:
            state_ = State::idle;
            switch (byte) {
                case kStx:
                    body_.clear();
                    state_ = State::body;
                    return std::nullopt;
                case kAck:
                    return take(Kind::ack);
                case kNak:
                    return take(Kind::nak);
                case kEnq:
                    return take(Kind::enq);
                default:
                    skipped_ += 2;
                    return std::nullopt;
            }
        case State::body:
            if (byte == kDle) {
                state_ = State::body_dle;
                return std::nullopt;
            }
            break;
        case State::body_dle:
            state_ = State::body;
            switch (byte) {
                case kDle:
                    break;
                case kEtx:
                    state_ = State::bcc;
                    return std::nullopt;
                case kAck:
                    return take(Kind::ack);
                case kNak:
                    return take(Kind::nak);
                case kEnq:
                    return take(Kind::enq);
                default:
                    state_ = State::idle;
                    return take(Kind::bad_pair, byte);
            }
            break;
        case State::bcc:
            state_ = State::idle;
            if (static_cast<uint8_t>(block_check(body_) - byte) != 0) {
                // Keep the received body for the log, reported as bad.
                return take(Kind::bad_bcc, byte);
            }
            return take(Kind::frame, byte);
    }
    if (body_.size() >= max_body_) {
        state_ = State::idle;
        return take(Kind::overflow);
    }
    body_.push_back(byte);
    return std::nullopt;
}

}  // namespace sim_controller
