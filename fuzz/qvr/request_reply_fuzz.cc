// Replies of the processor, device, logger, value and file requests come from a server: the
// first byte picks a parser and a capacity, the rest is the reply, copied to a buffer of
// exactly its length so that any read past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "qvr/requests/reply_parsers.h"
#include "qvr/time/timestamp.h"

using namespace qvr::requests;

namespace {

template <typename Record>
void list(int (*parse)(std::string_view, Record*, int), std::string_view text, int capacity) {
    std::vector<Record> records(static_cast<std::size_t>(capacity));
    const int n = parse(text, records.data(), capacity);
    if (n > capacity || n < -1) __builtin_trap();
}

void terminated(const char* text, std::size_t size) {
    if (std::memchr(text, '\0', size) == nullptr) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t pick = data[0];
    auto copy = std::make_unique<char[]>(size - 1);
    if (size > 1) std::memcpy(copy.get(), data + 1, size - 1);
    const std::string_view reply(copy.get(), size - 1);
    const std::string_view text = reply.substr(0, reply.find('\0'));
    const int capacity = 1 + (pick >> 4);
    switch (pick % 12) {
        case 0:
            list(parse_processor_list, text, capacity);
            break;
        case 1:
            list(parse_device_list, text, capacity);
            break;
        case 2:
            list(parse_processor_state, text, capacity);
            break;
        case 3:
            list(parse_device_state, text, capacity);
            break;
        case 4:
            list(parse_logger_list, text, capacity);
            break;
        case 5:
            list(parse_logger_state, text, capacity);
            break;
        case 6: {
            int number = 0;
            char a[8], b[8];
            parse_server_state(text, number, a, sizeof a, b, sizeof b);
            terminated(a, sizeof a);
            terminated(b, sizeof b);
            break;
        }
        case 7: {
            std::vector<uint8_t> out(static_cast<std::size_t>(capacity) * 4);
            parse_tag_channels(reply, capacity, out.data());
            break;
        }
        case 8: {
            TimeStamp stamp{};
            uint8_t zone[172];
            parse_server_time(reply, &stamp, zone);
            break;
        }
        case 9: {
            int names = 0;
            parse_directory_page(
                text, names, [](void*, std::string_view name) { return name.size() < 256; }, nullptr);
            break;
        }
        case 10: {
            const uint32_t asked = static_cast<uint32_t>(pick) * 3;
            const long long got = parse_read_reply(reply, asked);
            if (got > asked || (got >= 0 && reply.size() <= static_cast<std::size_t>(asked) + 3))
                __builtin_trap();
            break;
        }
        default: {
            uint32_t parts[6];
            parse_file_times(text, parts);
            break;
        }
    }
    return 0;
}
