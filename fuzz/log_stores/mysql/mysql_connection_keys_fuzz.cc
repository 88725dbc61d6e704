// The MySQL connection string keys and the Base64 password text: any text gives keys within
// their capacities or one of the two refusals, and decoding never reads past its input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "log_stores/mysql/base64_text.h"
#include "log_stores/mysql/connection_keys.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto result = log_stores::mysql::parse_connection_keys(text);
    if (result.keys) {
        if (result.keys->host.size() > 255 || result.keys->user.size() > 99 ||
            result.keys->database.size() > 99 || result.keys->port > 65535)
            std::abort();
    } else if (result.context != "NO USER IN CONNECTION STRING" &&
               result.context != "NO DB IN CONNECTION STRING") {
        std::abort();
    }
    const std::string decoded = log_stores::Base64DecodeText(text);
    if (decoded.size() > size) std::abort();
    // What was encoded decodes to itself.
    if (log_stores::Base64DecodeText(log_stores::Base64EncodeText(text)) != text) std::abort();
    return 0;
}
