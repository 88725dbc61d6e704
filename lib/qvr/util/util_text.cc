#include "qvr/util/util.h"

#include "platform/ascii_text.h"

char* util_ToLower(char* text, size_t n) {
    if (text == nullptr) return text;
    for (size_t i = 0; i < n && text[i] != 0; ++i)
        text[i] = platform::ascii_lower(text[i]);
    return text;
}

char* util_ToUpper(char* text, size_t n) {
    if (text == nullptr) return text;
    for (size_t i = 0; i < n && text[i] != 0; ++i)
        text[i] = platform::ascii_upper(text[i]);
    return text;
}

void util_BitClear(uint8_t* bitmap, uint32_t n) {
    bitmap[n / 8] &= static_cast<uint8_t>(~(0x80u >> (n % 8)));
}

void util_BitSet(uint8_t* bitmap, uint32_t n) {
    bitmap[n / 8] |= static_cast<uint8_t>(0x80u >> (n % 8));
}

int util_BitTest(const uint8_t* bitmap, uint32_t n) {
    return (bitmap[n / 8] & (0x80u >> (n % 8))) != 0 ? 1 : 0;
}

int util_NoOp() {
    return 0;
}
