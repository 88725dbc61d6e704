#pragma once
// Faults the module can put on the line, scripted for one incoming frame or drawn at random.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace sim_controller {

enum class FaultKind : uint8_t {
    drop_response,    // the next `count` ACK, NAK or ENQ answers are not sent
    nak,              // this and the next good frames, `count` in all, are refused with NAK
    corrupt_byte,     // the reply's first `count` transmissions get byte `position` of the frame flipped
    corrupt_bcc,      // the reply's first `count` transmissions carry a wrong block check
    delay_ack,        // the ACK goes `delay` late (an enquiry meanwhile is answered at once)
    delay_reply,      // the reply goes `delay` after the request
    duplicate_reply,  // the previous reply, whichever station sent it, once more before this one
    inject_enq,       // DLE ENQ before the reply
    inject_garbage,   // `bytes` before the reply
    close_line,       // the module's end of the line is closed on this frame
};

std::string_view fault_name(FaultKind kind);

struct FaultAction {
    FaultKind kind;
    unsigned count = 1;
    std::chrono::milliseconds delay{0};
    size_t position = 2;  // in the framed bytes: 0 and 1 are DLE STX
    std::vector<uint8_t> bytes;
};

// Probabilities per good request frame, except the noise rates, which are per byte. A byte
// after a corrupted one stays clean for `noise_gap` bytes: one error per frame, which the
// block check is there to see; two could cancel in the sum.
struct RandomFaults {
    uint64_t seed = 1;
    double noise_in = 0;   // bytes from the master
    double noise_out = 0;  // bytes to the master
    size_t noise_gap = 64;
    double drop_response = 0;
    double nak = 0;
    double delay_ack = 0;
    double delay_reply = 0;
    std::chrono::milliseconds delay{20};
    double duplicate_reply = 0;
    double inject_enq = 0;
    double inject_garbage = 0;
};

}  // namespace sim_controller
