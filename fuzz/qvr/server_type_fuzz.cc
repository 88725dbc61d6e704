// Arbitrary text read as a "server" field, as configuration files give it: nothing is written
// past the field, the error buffer is always terminated, and an accepted value reads back
// through its text form to the same stored value.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "qvr/records/server_type.h"
#include "tslib/typed_mem.h"

namespace {

constexpr std::size_t kGuardBytes = 16;
constexpr std::uint8_t kGuard = 0xA5;
constexpr std::size_t kMaxText = 5000;

void check(bool holds, unsigned line = __builtin_LINE()) {
    if (holds) return;
    std::fprintf(stderr, "check failed at line %u\n", line);
    std::abort();
}

struct Field {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(kStructsServerSize + kGuardBytes, kGuard);
    Field() { std::memset(bytes.data(), 0, kStructsServerSize); }
    bool guard_intact() const {
        for (std::size_t i = kStructsServerSize; i < bytes.size(); ++i)
            if (bytes[i] != kGuard) return false;
        return true;
    }
};

int binify(const std::string& text, Field& field) {
    char ebuf[64];
    std::memset(ebuf, 'x', sizeof ebuf);
    const int rc = structs_server_binify(&structs_type_server, text.c_str(), field.bytes.data(), ebuf, sizeof ebuf);
    check(field.guard_intact());
    check(rc == 0 || rc == -1);
    if (rc != 0) check(std::memchr(ebuf, '\0', sizeof ebuf) != nullptr);
    return rc;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxText) return 0;
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();  // a field text ends at its first zero
    Field first;
    if (binify(text, first) != 0) return 0;
    check(first.bytes[kStructsServerSize - 1] == 0);

    char* shown = structs_server_ascify(&structs_type_server, "fuzz", first.bytes.data());
    check(shown != nullptr);
    Field second;
    const int rc = binify(shown, second);
    typed_mem_release("fuzz", shown);
    check(rc == 0);
    check(std::memcmp(first.bytes.data(), second.bytes.data(), kStructsServerSize) == 0);
    return 0;
}
