// Watches a module from another process: claims a waiter slot of its data module, says
// "watching", and at each wake-up looks at the value of channel UNTIL_CH. Once it equals
// UNTIL_VALUE it prints the status words of channels FIRST..LAST as "seen: w w w ..." and
// ends. Each wake-up is counted on a line "woken K".
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "qvr/host/device_module_layout.h"
#include "qvr/host/device_modules.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"

namespace {

int on_code(uint32_t) {
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 7) {
        std::fprintf(stderr, "usage: status_watcher CODE SLOT FIRST LAST UNTIL_CH UNTIL_VALUE\n");
        return 2;
    }
    const char* code = argv[1];
    const int slot = std::atoi(argv[2]);
    const int first = std::atoi(argv[3]);
    const int last = std::atoi(argv[4]);
    const int until_channel = std::atoi(argv[5]);
    const float until_value = std::strtof(argv[6], nullptr);
    slot_Open(on_code);
    void* data = shm_OpenDeviceData(code);
    if (data == nullptr || shm_ResetWaiters(data, slot) < 0) return 2;
    const auto bytes = qvr::section_bytes(data);
    const auto layout = qvr::data_module_layout(bytes, false);
    if (!layout || !layout->values || first < 1 || last < first || last > layout->channel_count ||
        until_channel < 1 || until_channel > layout->channel_count)
        return 2;
    std::printf("watching\n");
    std::fflush(stdout);
    for (int k = 1;; ++k) {
        if (shm_WaitSignal(data, slot) != 0) return 2;
        std::printf("woken %d\n", k);
        float value = 0;
        std::memcpy(&value, bytes.data() + *layout->values + 4 * static_cast<size_t>(until_channel - 1), 4);
        if (value != until_value) continue;
        const uint32_t* words = shm_StatusWords(code);
        std::printf("seen:");
        for (int ch = first; ch <= last; ++ch) std::printf(" %u", words[ch - 1]);
        std::printf("\n");
        std::fflush(stdout);
        break;
    }
    slot_Close();
    return 0;
}
