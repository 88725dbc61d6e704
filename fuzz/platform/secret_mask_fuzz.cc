// The secret mask over any text a trace or an error may carry. The input is a password,
// a zero byte, then the text around it. A password put in a URL's user information or in
// a braced PWD value never survives; masking twice changes nothing; a text with neither
// "://" nor '=' stays as it is.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/secret_mask.h"

namespace {

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

std::string braced(std::string_view value) {
    std::string out = "{";
    for (const char c : value) {
        out += c;
        if (c == '}') out += '}';
    }
    return out + "}";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string masked = platform::mask_secrets(input);
    if (platform::mask_secrets(masked) != masked) __builtin_trap();
    if (input.find("://") == std::string::npos && input.find('=') == std::string::npos && masked != input)
        __builtin_trap();

    const std::size_t zero = input.find('\0');
    if (zero == std::string::npos) return 0;
    const std::string password = input.substr(0, zero);
    const std::string around = input.substr(zero + 1);
    // A password that also stands elsewhere in the text is not only a password there.
    if (password.empty() || password == platform::kMaskedSecret || contains(around, password)) return 0;

    // A URL's authority ends at these; a password holding one is not a password of a URL.
    if (password.find_first_of("/?#\r\n") == std::string::npos) {
        const std::string url = "tcp://user:" + password + "@host:1";
        if (contains(platform::mask_secrets(url + " " + around), ":" + password + "@")) __builtin_trap();
        if (contains(platform::mask_secrets(around + url), ":" + password + "@")) __builtin_trap();
    }
    const std::string value = braced(password);
    const std::string line = platform::mask_secrets(around + ";PWD=" + value + ";" + around);
    if (contains(line, ";PWD=" + value)) __builtin_trap();
    return 0;
}
