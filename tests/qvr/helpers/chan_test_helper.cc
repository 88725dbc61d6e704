// The other process of the channel-writer and program-start tests. Each mode reports on
// standard output, one line per step. Started under a name ending in "_ru" it plays a
// processor program started by proc_Start.
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <string_view>

#include "qvr/host/alarm.h"
#include "qvr/host/chan.h"
#include "qvr/host/device_modules.h"
#include "qvr/host/host_tables.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"

namespace {

std::atomic<bool> g_stop{false};

void say(const char* format, auto... args) {
    std::printf(format, args...);
    std::fflush(stdout);
}

int on_code(uint32_t code) {
    if (code == kScanCommandStop) g_stop = true;
    return 0;
}

int processor_program(std::string_view program, int argc, char** argv) {
    {
        std::ofstream out("started.txt");
        out << program;
        for (int i = 1; i < argc; ++i) out << ' ' << argv[i];
        out << '\n';
    }
    if (std::getenv("HELPER_EXIT_BEFORE_READY") != nullptr) return 3;
    slot_Open(on_code);
    const std::string name(program.substr(0, 5));
    // HELPER_READY_WHEN names a file in the program's folder that must appear first.
    if (const char* when = std::getenv("HELPER_READY_WHEN"); when != nullptr) {
        for (int i = 0; i < 3000 && !g_stop && access(when, F_OK) != 0; ++i) usleep(10000);
    }
    ProcessRecord* record = shm_FindProcess(name.c_str());
    if (record != nullptr && std::getenv("HELPER_NEVER_READY") == nullptr) record->ProcReady = 1;
    while (!g_stop) slot_Wait(100);
    slot_Close();
    return 0;
}

int watch(const char* code, int slot) {
    slot_Open(on_code);
    void* data = shm_OpenDeviceData(code);
    if (data == nullptr || shm_ResetWaiters(data, slot) < 0) return 2;
    say("watching\n");
    if (shm_WaitSignal(data, slot) != 0) return 2;
    const uint32_t* words = shm_StatusWords(code);
    say("woken status=%u\n", words[0]);
    slot_Close();
    return 0;
}

int hold_batch(const char* code) {
    void* data = shm_OpenDeviceData(code);
    if (data == nullptr || shm_Lock(data) != 0) return 2;
    if (alarm_BeginBatch(shm_DataArea(code)) != 0) return 2;
    alarm_LoggerTriggerUp(0);
    say("holding\n");
    for (;;) pause();
}

}  // namespace

int main(int argc, char** argv) {
    std::string_view program = argv[0];
    program = program.substr(program.rfind('/') + 1);
    if (program.ends_with("_ru")) return processor_program(program, argc, argv);
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "watch" && argc == 4) return watch(argv[2], std::atoi(argv[3]));
    if (mode == "hold-batch" && argc == 3) return hold_batch(argv[2]);
    if (mode == "write-analog" && argc == 5) {
        const float value = std::strtof(argv[4], nullptr);
        const int channel = std::atoi(argv[3]);
        const int rc = chan_SetAnalogValues(argv[2], channel, channel, &value);
        say("written %d\n", rc);
        return rc == 0 ? 0 : 2;
    }
    std::fprintf(stderr,
                 "usage: chan_test_helper watch CODE SLOT | hold-batch CODE | write-analog CODE CH VALUE\n");
    return 2;
}
