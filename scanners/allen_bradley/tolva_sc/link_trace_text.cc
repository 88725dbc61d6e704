#include "tolva_sc/link_trace_text.h"

#include <cstdio>

#include "tolva_sc/df1_frame.h"

namespace tolva {

std::string hex_bytes(std::span<const uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (uint8_t b : bytes) {
        if (!text.empty()) text.push_back(' ');
        text.push_back(kDigits[b >> 4]);
        text.push_back(kDigits[b & 0x0F]);
    }
    return text;
}

std::string describe_message(std::span<const uint8_t> message) {
    char head[64];
    int n = 0;
    if (message.size() >= df1::kHeaderSize) {
        n = std::snprintf(head, sizeof head, "DST=%02X SRC=%02X CMD=%02X STS=%02X TNS=%02X%02X ",
                          message[df1::kDstPos], message[df1::kSrcPos], message[df1::kCmdPos],
                          message[df1::kStsPos], message[df1::kTnsHighPos], message[df1::kTnsLowPos]);
    }
    std::string text(head, static_cast<size_t>(n > 0 ? n : 0));
    text += '[';
    text += std::to_string(message.size());
    text += ']';
    if (!message.empty()) {
        text += ' ';
        text += hex_bytes(message);
    }
    return text;
}

}  // namespace tolva
