#include "qvr/util/rt.h"

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/debug_output.h"
#include "platform/last_error.h"

const SecurityAttributes* rt_GetOpenSecurityAttributes() {
    static const SecurityAttributes attributes{sizeof(SecurityAttributes), 0660, 0770, 0};
    return &attributes;
}

void* rt_Alloc(size_t size) {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p == nullptr) platform::fail(platform::kErrorNotEnoughMemory);
    return p;
}

void rt_Free(void* pointer) {
    std::free(pointer);
}

const char* rt_KindDisplayName(int kind) {
    static constexpr const char* kNames[7] = {"ANALOG INPUTS",   "DIGITAL INPUTS", "ANALOG OUTPUTS",
                                              "DIGITAL OUTPUTS", "COUNTER INPUTS", "DIAGNOSTICS",
                                              "DIAGNOSTICS"};
    if (kind < 0 || kind > 6) return "";
    return kNames[kind];
}

int rt_CopyBytes(const void* source, void* destination, size_t length) {
    if (length > 0) std::memmove(destination, source, length);
    return 0;
}

void rt_DumpHeap() {
    const struct mallinfo2 info = mallinfo2();
    if (info.uordblks == 0 && info.hblkhd == 0) {
        platform::debug_output("OK - empty heap\n");
        return;
    }
    char text[256];
    std::snprintf(text, sizeof text,
                  "heap arena %zu bytes: %zu used, %zu free in %zu blocks; %zu bytes in %zu mapped blocks\n",
                  info.arena, info.uordblks, info.fordblks, info.ordblks, info.hblkhd, info.hblks);
    platform::debug_output(text);
}
