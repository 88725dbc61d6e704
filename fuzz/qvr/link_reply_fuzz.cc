// Replies come from a server: parse any bytes of any length, reading only within them (the
// input is copied to a buffer of exactly its length, so a read past it is caught).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "qvr/link/link.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    auto reply = std::make_unique<char[]>(size);
    if (size != 0) std::memcpy(reply.get(), data, size);
    const LinkReply parsed = link_ParseReply(reply.get(), static_cast<uint32_t>(size));
    if (parsed.result != -1) {
        if (parsed.error != 0 || parsed.text != nullptr) __builtin_trap();
        return 0;
    }
    if (parsed.text != nullptr) {
        if (parsed.text < reply.get() || parsed.text + parsed.text_length > reply.get() + size) __builtin_trap();
        if (std::memchr(parsed.text, '\0', parsed.text_length) != nullptr) __builtin_trap();
    } else if (parsed.text_length != 0) {
        __builtin_trap();
    }
    return 0;
}
