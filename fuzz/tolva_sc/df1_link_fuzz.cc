// Whatever the line delivers, the link must stay inside its buffer, end every call, answer
// only with ACK and NAK while receiving (and besides its own frames and enquiries while
// sending), and accept only messages that really were framed with a right block check. The port is a byte
// stream on a virtual clock: a read with nothing left waits one whole call bound.
//
// Input: mode (bit 0: send instead of receive), receive capacity, largest read chunk, limits
// (retries in the low nibble, enquiries in the high one), then the peer's bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "platform/last_error.h"
#include "tolva_sc/df1_frame.h"
#include "tolva_sc/df1_link.h"
#include "tolva_sc/link_codes.h"

namespace {

namespace codes = tolva::link_error;
using Bytes = std::vector<uint8_t>;

class StreamPort final : public tolva::LinkPort {
  public:
    StreamPort(std::span<const uint8_t> stream, size_t chunk) : stream_(stream), chunk_(chunk) {}

    ssize_t read_some(std::span<uint8_t> buffer) override {
        if (++reads_ > stream_.size() + 1000) std::abort();  // a loop that no budget ends
        if (pos_ == stream_.size()) {
            now_us_ += 1'000'000;
            return 0;
        }
        const size_t n = std::min({buffer.size(), chunk_, stream_.size() - pos_});
        std::copy_n(stream_.begin() + static_cast<ptrdiff_t>(pos_), n, buffer.begin());
        pos_ += n;
        now_us_ += static_cast<int64_t>(n) * 500;
        return static_cast<ssize_t>(n);
    }
    ssize_t write_some(std::span<const uint8_t> bytes) override {
        writes_.emplace_back(bytes.begin(), bytes.end());
        return static_cast<ssize_t>(bytes.size());
    }
    int64_t now_us() override { return now_us_; }

    bool exhausted() const { return pos_ == stream_.size(); }
    std::vector<Bytes>& writes() { return writes_; }

  private:
    std::span<const uint8_t> stream_;
    size_t chunk_;
    size_t pos_ = 0;
    size_t reads_ = 0;
    int64_t now_us_ = 1'000'000;
    std::vector<Bytes> writes_;
};

bool is_pair(const Bytes& w, uint8_t code) {
    return w.size() == 2 && w[0] == tolva::df1::kDle && w[1] == code;
}

void check(bool ok) {
    if (!ok) std::abort();
}

// True when `message` was on the line as a frame: DLE STX, its bytes (DLE doubled), DLE ETX
// and its block check, with enquiries (DLE ENQ) allowed between the message's tokens as the
// link allows them there.
bool was_framed(std::span<const uint8_t> stream, std::span<const uint8_t> message) {
    using tolva::df1::kDle;
    struct Token {
        uint8_t a;
        int b;  // -1 for a single byte
        bool enquiry_before;
    };
    std::vector<Token> tokens{{kDle, tolva::df1::kStx, false}};
    for (uint8_t m : message) tokens.push_back({m, m == kDle ? kDle : -1, true});
    tokens.push_back({kDle, tolva::df1::kEtx, true});
    tokens.push_back({tolva::df1::block_check(message), -1, false});
    for (size_t start = 0; start < stream.size(); ++start) {
        size_t i = start;
        size_t t = 0;
        for (; t < tokens.size(); ++t) {
            if (tokens[t].enquiry_before) {
                while (i + 1 < stream.size() && stream[i] == kDle && stream[i + 1] == tolva::df1::kEnq)
                    i += 2;
            }
            if (i >= stream.size() || stream[i] != tokens[t].a) break;
            if (tokens[t].b >= 0) {
                if (i + 1 >= stream.size() || stream[i + 1] != tokens[t].b) break;
                i += 2;
            } else {
                ++i;
            }
        }
        if (t == tokens.size()) return true;
    }
    return false;
}

void fuzz_receive(tolva::Df1Link& link, StreamPort& port, std::span<const uint8_t> stream, size_t capacity) {
    Bytes buffer(capacity + 16, 0xEE);
    for (int call = 0; call < 64 && !port.exhausted(); ++call) {
        port.writes().clear();
        size_t length = 12345;
        const int rc = link.receive_message(std::span<uint8_t>(buffer.data(), capacity), length);
        for (size_t i = capacity; i < buffer.size(); ++i) check(buffer[i] == 0xEE);
        for (const Bytes& w : port.writes())
            check(is_pair(w, tolva::df1::kAck) || is_pair(w, tolva::df1::kNak));
        if (rc == 1) {
            check(length >= 6 && length <= capacity);
            check(!port.writes().empty() && is_pair(port.writes().back(), tolva::df1::kAck));
            check(was_framed(stream, std::span<const uint8_t>(buffer.data(), length)));
            continue;
        }
        check(length == 0);
        const int code = platform::last_error();
        if (code == codes::kBcc || code == codes::kBadDlePair) {
            check(!port.writes().empty() && is_pair(port.writes().back(), tolva::df1::kNak));
        } else {
            check(code == codes::kTimeout || code == codes::kTooShort || code == codes::kTooLong);
        }
    }
}

void fuzz_send(tolva::Df1Link& link, StreamPort& port, std::span<const uint8_t> stream) {
    const Bytes message{0x10, 0x00, 0x0F, 0x00, 0x10, 0x10, 0xA2, 0x02, 0x07, 0x89, 0x10, 0x03};
    Bytes framed;
    tolva::df1::encode_frame(message, framed);
    for (int call = 0; call < 16 && !port.exhausted(); ++call) {
        port.writes().clear();
        const int rc = link.send_message(message);
        unsigned frames = 0;
        unsigned enquiries = 0;
        for (const Bytes& w : port.writes()) {
            if (w == framed) {
                ++frames;
            } else if (is_pair(w, tolva::df1::kEnq)) {
                ++enquiries;
            } else {
                // The answer to a message of the peer's that came while ours awaited its own.
                check(is_pair(w, tolva::df1::kAck) || is_pair(w, tolva::df1::kNak));
            }
        }
        check(frames >= 1 && frames <= std::max<uint32_t>(link.timings().max_retries, 1));
        check(enquiries <= link.timings().max_enquires);
        if (rc == 1) {
            const Bytes ack{tolva::df1::kDle, tolva::df1::kAck};
            check(std::search(stream.begin(), stream.end(), ack.begin(), ack.end()) != stream.end());
        } else {
            const int code = platform::last_error();
            check(code == codes::kTimeout || code == codes::kNak);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const bool send = (data[0] & 1) != 0;
    const size_t capacity = data[1];
    const size_t chunk = 1 + data[2] % 64;
    tolva::LinkTimings timings;
    timings.max_retries = data[3] & 0x0F;
    timings.max_enquires = data[3] >> 4;
    timings.ack_timeout_ms = 10;
    timings.control_write_ms = 10;
    timings.reply_timeout_ms = 2000;
    timings.message_write_ms = 2000;
    const std::span<const uint8_t> stream(data + 4, size - 4);

    tolva::Df1Link link;
    auto owned = std::make_unique<StreamPort>(stream, chunk);
    StreamPort& port = *owned;
    link.attach(std::move(owned));
    link.set_timings(timings);
    if (send) {
        fuzz_send(link, port, stream);
    } else {
        fuzz_receive(link, port, stream, capacity);
    }
    return 0;
}
