#include "tolva_sc/df1_frame.h"

namespace tolva::df1 {

uint8_t block_check(std::span<const uint8_t> message) {
    uint8_t sum = 0;
    for (uint8_t b : message) sum = static_cast<uint8_t>(sum + b);
    return static_cast<uint8_t>(-sum);
}

void encode_frame(std::span<const uint8_t> message, std::vector<uint8_t>& frame) {
    frame.clear();
    frame.reserve(message.size() * 2 + 5);
    frame.push_back(kDle);
    frame.push_back(kStx);
    for (uint8_t b : message) {
        frame.push_back(b);
        if (b == kDle) frame.push_back(kDle);
    }
    frame.push_back(kDle);
    frame.push_back(kEtx);
    frame.push_back(block_check(message));
}

}  // namespace tolva::df1
