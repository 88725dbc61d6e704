// Server fields come from configuration files: read any text into the field, then its text
// form back and read that again. Nothing may be written past the field and the message is
// always terminated.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "qvr/records/server_type.h"
#include "tslib/typed_mem.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    constexpr size_t kGuard = 16;
    std::array<char, kStructsServerSize + kGuard> field;
    field.fill('\x5a');
    std::array<char, 64 + kGuard> ebuf;
    ebuf.fill('\x5a');
    const int rc = structs_server_binify(&structs_type_server, text.c_str(), field.data(), ebuf.data(), 64);
    for (size_t i = 0; i < kGuard; ++i)
        if (field[kStructsServerSize + i] != '\x5a' || ebuf[64 + i] != '\x5a') __builtin_trap();
    if (rc != 0) {
        if (std::memchr(ebuf.data(), '\0', 64) == nullptr) __builtin_trap();
        return 0;
    }
    if (std::memchr(field.data(), '\0', kStructsServerSize) == nullptr) __builtin_trap();
    char* shown = structs_server_ascify(&structs_type_server, "fuzz", field.data());
    if (shown == nullptr) return 0;
    std::array<char, kStructsServerSize> again{};
    std::array<char, 64> message{};
    (void)structs_server_binify(&structs_type_server, shown, again.data(), message.data(), message.size());
    if (std::memchr(message.data(), '\0', message.size()) == nullptr) __builtin_trap();
    typed_mem_release("fuzz", shown);
    return 0;
}
