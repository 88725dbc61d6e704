#include <cstring>

#include "platform/last_error.h"
#include "qvr/util/util.h"

namespace {

bool is_letter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

constexpr int kMaxDigits = 5;

// The library's "invalid argument" number.
int refuse() {
    return platform::fail(platform::kErrorInvalidArgument);
}

}  // namespace

int util_ParseChannelAddress(const char* text, char prefix[3], int* number) {
    if (text == nullptr || prefix == nullptr || number == nullptr) return refuse();
    char letters[2] = {0, 0};
    int letter_count = 0;
    int digit_count = 0;
    int value = 0;
    char previous_digit = 0;
    for (const char* p = text; *p != 0; ++p) {
        const char c = *p;
        if (is_letter(c)) {
            if (digit_count == 0) {
                if (letter_count == 2) return refuse();
                letters[letter_count++] = c;
            } else if ((c == 'K' || c == 'k') && previous_digit == '1') {
                value = 1000;
                previous_digit = 0;
            } else {
                return refuse();
            }
        } else if (is_digit(c)) {
            if (letter_count == 0) return refuse();
            if (++digit_count > kMaxDigits) return refuse();
            value = value * 10 + (c - '0');
            previous_digit = c;
        } else {
            previous_digit = 0;
        }
    }
    if (letter_count == 0 || digit_count == 0) return refuse();
    prefix[0] = letters[0];
    prefix[1] = letters[1];
    prefix[2] = 0;
    *number = value;
    return 0;
}

int util_ParseChannelNumber(const char* text, int* number) {
    if (text == nullptr || number == nullptr) return refuse();
    int digit_count = 0;
    int value = 0;
    char previous_digit = 0;
    for (const char* p = text; *p != 0; ++p) {
        const char c = *p;
        if (is_digit(c)) {
            if (++digit_count > kMaxDigits) return refuse();
            value = value * 10 + (c - '0');
            previous_digit = c;
        } else if ((c == 'K' || c == 'k') && previous_digit == '1') {
            value = 1000;
            previous_digit = 0;
        } else {
            return refuse();
        }
    }
    if (digit_count == 0) return refuse();
    *number = value;
    return 0;
}
