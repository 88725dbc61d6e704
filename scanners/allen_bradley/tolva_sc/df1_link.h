#pragma once
// The DF1 full-duplex link to the interface module: one message out with ACK, NAK and ENQ
// handling, one message in with block-check test, ACK and NAK answers and a duplicate
// filter. One link per process, used from the main thread only.
//
// send_message and receive_message return 1, or 0 with the reason as the thread's last
// error (platform::last_error() and errno): a code of link_codes.h, or the platform error
// of a port call that failed (EIO when the device went away).
#include <sys/types.h>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "tolva_ex/records.h"
#include "tolva_sc/df1_frame.h"
#include "tolva_sc/link_counters.h"
#include "tolva_sc/link_port.h"
#include "tolva_sc/link_timings.h"

namespace tolva {

// Receives one readable line per link event (frames decoded, ACK, NAK, ENQ, time-outs),
// without a line end.
using LinkTrace = std::function<void(std::string_view line)>;
// Tells whether anyone reads the trace now; lines are only built when a trace is connected
// and this (when given) says yes.
using LinkTraceOn = std::function<bool()>;

class Df1Link {
  public:
    Df1Link() = default;
    Df1Link(const Df1Link&) = delete;
    Df1Link& operator=(const Df1Link&) = delete;

    // Sets the link up from the device's serial settings: an empty port name becomes "COM"
    // and `device_number`, a zero baud rate 19200; the port is opened; zero limits and time
    // settings get their defaults; all of it is written back into `comm`. Returns 0, or -1
    // with errno: EINVAL when the default port name does not fit the field (nothing is
    // written then), else the port's open error (ENOENT, EBUSY, EINVAL, ENOTTY ...).
    int setup(CommSettings& comm, int32_t device_number);

    // Puts another transport under the link, keeping the timings.
    void attach(std::unique_ptr<LinkPort> port);
    void close();
    bool is_open() const { return port_ != nullptr; }
    LinkPort* port() { return port_.get(); }
    // A port call failed (the device went away, e.g. an unplugged adapter): the port should be
    // closed and opened again. Cleared when another port is attached.
    bool port_failed() const { return port_failed_; }

    void set_timings(const LinkTimings& timings) { timings_ = timings; }
    const LinkTimings& timings() const { return timings_; }

    // Sends one message: 1 when the peer acknowledged it. Failures: kTimeout (the enquiries
    // are used up, or the message write budget ran out, also between transmissions), kNak
    // (every transmission was refused), a platform error. A message the peer sends while the
    // answer is awaited is taken in as receive_message would (ACK or NAK, repeats dropped) and
    // kept for the next receive_message.
    int send_message(std::span<const uint8_t> message);

    // Receives one message into `buffer` and its length into `length`: 1 for a new message
    // of at least 6 bytes. A repeat of the last accepted message is acknowledged and dropped
    // whatever its length. Failures: kTimeout, kBadDlePair, kBcc (after the NAKs allowed),
    // kTooLong (a new message longer than `buffer`, acknowledged, or one longer than
    // df1::kMaxMessage), kTooShort, a platform error.
    int receive_message(std::span<uint8_t> buffer, size_t& length);

    const LinkCounters& counters() const { return counters_; }
    void set_trace(LinkTrace trace, LinkTraceOn on = {}) {
        trace_ = std::move(trace);
        trace_on_ = std::move(on);
    }

  private:
    enum class Got { byte, timeout, failed };
    enum class Answer { ack, nak, timeout, failed };
    enum class Body { ended, bad_pair, too_long, timeout, failed };
    // What became of a frame once its DLE STX was read. accepted: a new message, acknowledged,
    // in message_; repeated: acknowledged and dropped; refused: answered with NAK.
    enum class Frame { accepted, repeated, refused, too_short, too_long, timeout, failed };

    Got next_byte(int64_t deadline_us, uint8_t& byte);
    bool buffered() const { return in_pos_ < in_len_; }
    // After a byte that settles nothing: true when the budget is spent and nothing more
    // waits in the buffer, so a stream of noise cannot hold a wait open.
    bool out_of_time(int64_t deadline_us) { return !buffered() && port_->now_us() >= deadline_us; }
    int64_t deadline_after(int64_t start_us, int64_t budget_ms) const { return start_us + budget_ms * 1000; }

    bool timed_write(std::span<const uint8_t> bytes, int64_t budget_ms);
    bool write_control(uint8_t code);
    Answer wait_answer(int64_t send_deadline_us);
    Body read_body(std::span<uint8_t> buffer, size_t& length, int64_t deadline_us);
    // The rest of a frame: its body into message_, the block check, the answer and the
    // duplicate filter. `length` is the body's length, `error` the reason of a refusal.
    Frame take_frame(int64_t deadline_us, size_t& length, int& error);
    void keep_pending(size_t length);
    int deliver(std::span<const uint8_t> message, std::span<uint8_t> buffer, size_t& length);
    bool is_duplicate(std::span<const uint8_t> message) const;
    int fail(int code);

    bool tracing() const { return trace_ && (!trace_on_ || trace_on_()); }
    void trace(std::string_view line) const {
        if (tracing()) trace_(line);
    }
    // For lines built after tracing() said yes.
    void emit(std::string_view line) const { trace_(line); }

    std::unique_ptr<LinkPort> port_;
    LinkTimings timings_;
    LinkCounters counters_;
    LinkTrace trace_;
    LinkTraceOn trace_on_;

    // What arrived and is not parsed yet; it outlives a call as the port's queue would.
    std::array<uint8_t, 256> in_{};
    size_t in_pos_ = 0;
    size_t in_len_ = 0;

    std::vector<uint8_t> frame_;
    // The frame being read, whatever the caller's buffer: a repeat is judged whole.
    std::array<uint8_t, df1::kMaxMessage> message_{};
    // Messages accepted while a send awaited its answer, oldest first; a few at most.
    std::deque<std::vector<uint8_t>> pending_;
    uint8_t last_response_ = 0x15;  // DLE NAK until a message is accepted
    std::array<uint8_t, 6> previous_{};
    uint32_t naks_sent_ = 0;  // refusals in this receive (or while this send awaits its answer)
    int failure_ = 0;         // reason of the last failed port call
    bool port_failed_ = false;
};

}  // namespace tolva
