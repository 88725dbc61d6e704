// Channel addresses are typed by users in the address dialog and read from channel tables.
#include <cstddef>
#include <cstdint>
#include <string>

#include "qvr/util/util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    char prefix[3] = {'x', 'x', 'x'};
    int number = -1;
    // At most five digits; a "1K" restarts the number at 1000, digits after it go on from there.
    constexpr int kLargest = 10009999;
    if (util_ParseChannelAddress(text.c_str(), prefix, &number) == 0) {
        if (prefix[2] != 0 || prefix[0] == 0 || number < 0 || number > kLargest) __builtin_trap();
    }
    if (util_ParseChannelNumber(text.c_str(), &number) == 0 && (number < 0 || number > kLargest))
        __builtin_trap();
    return 0;
}
