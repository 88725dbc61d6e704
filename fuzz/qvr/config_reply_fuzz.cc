// "IF" and "GF" replies come from a server: any bytes of any length, for requests of any
// small size. A reply is taken only when its result is 0 and its length is exactly what was
// asked; then every output holds the reply's bytes at its place. Otherwise no output changes.
// Reads stay within the reply (copied to a buffer of exactly its length).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "qvr/config_remote/config_replies.h"
#include "qvr/link/link.h"

using namespace qvr::config_remote;

namespace {

constexpr uint8_t kUntouched = 0xA5;

void check_untouched(const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes)
        if (b != kUntouched) __builtin_trap();
}

void check_copied(const std::vector<uint8_t>& out, const char* reply, std::size_t at) {
    if (!out.empty() && std::memcmp(out.data(), reply + at, out.size()) != 0) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > UINT32_MAX) return 0;
    const bool settings = (data[0] & 1) != 0;
    const std::size_t records = data[1] % 4 * 216;
    const std::size_t extra = data[2] % 32;
    data += 3;
    size -= 3;
    auto reply = std::make_unique<char[]>(size);
    if (size != 0) std::memcpy(reply.get(), data, size);
    const int result = link_ParseReply(reply.get(), static_cast<uint32_t>(size)).result;
    const std::span<const char> arrived(reply.get(), size);

    std::vector<uint8_t> main(records, kUntouched), more(extra, kUntouched);
    if (!settings) {
        if (take_channels_reply(result, arrived, main, more)) {
            if (size != kChannelsReplyHead + records + extra || result != 0) __builtin_trap();
            check_copied(main, reply.get(), kChannelsReplyHead);
            check_copied(more, reply.get(), kChannelsReplyHead + records);
        } else {
            check_untouched(main);
            check_untouched(more);
        }
        return 0;
    }
    uint8_t flags[3] = {kUntouched, kUntouched, kUntouched};
    int32_t rate = 0x5A5A5A5A;
    const SettingsOutputs out{&flags[0], &flags[1], &flags[2], &rate};
    if (take_settings_reply(result, arrived, main, more, out)) {
        if (size != kSettingsReplyHead + records + extra || result != 0) __builtin_trap();
        for (int i = 0; i < 3; ++i)
            if (flags[i] != static_cast<uint8_t>(reply[2 + i])) __builtin_trap();
        if (std::memcmp(&rate, reply.get() + 5, 4) != 0) __builtin_trap();
        check_copied(main, reply.get(), kSettingsReplyHead);
        check_copied(more, reply.get(), kSettingsReplyHead + records);
    } else {
        if (flags[0] != kUntouched || flags[1] != kUntouched || flags[2] != kUntouched || rate != 0x5A5A5A5A)
            __builtin_trap();
        check_untouched(main);
        check_untouched(more);
    }
    return 0;
}
