#pragma once
// The module's side of the wire format, written apart from the scanner's so that each checks
// the other: framing of outgoing messages and a parser of the incoming byte stream.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sim_controller {

inline constexpr uint8_t kDle = 0x10;
inline constexpr uint8_t kStx = 0x02;
inline constexpr uint8_t kEtx = 0x03;
inline constexpr uint8_t kEnq = 0x05;
inline constexpr uint8_t kAck = 0x06;
inline constexpr uint8_t kNak = 0x15;

uint8_t block_check(std::span<const uint8_t> body);
// DLE STX, the body with DLEs doubled, DLE ETX, the block check.
std::vector<uint8_t> frame_bytes(std::span<const uint8_t> body);

struct ParsedEvent {
    enum class Kind : uint8_t { frame, bad_bcc, bad_pair, overflow, ack, nak, enq };
    Kind kind;
    std::vector<uint8_t> body;  // frame, bad_bcc, bad_pair: the message bytes read
    size_t skipped = 0;         // stray bytes before this event
    uint8_t byte = 0;           // bad_pair: the byte after DLE; bad_bcc: the check byte received
};

// Turns the incoming bytes into frames and control pairs. Control pairs inside a frame are
// reported and the frame goes on, as full duplex allows.
class StreamParser {
  public:
    explicit StreamParser(size_t max_body = 1024) : max_body_(max_body) {}
    std::optional<ParsedEvent> feed(uint8_t byte);

  private:
    enum class State : uint8_t { idle, idle_dle, body, body_dle, bcc };
    ParsedEvent take(ParsedEvent::Kind kind, uint8_t byte = 0);

    State state_ = State::idle;
    std::vector<uint8_t> body_;
    size_t skipped_ = 0;
    size_t max_body_;
};

}  // namespace sim_controller
