// qvr_host: the runtime-host stand-in on the command line. Every command works under the
// QUORVANE_IPC_PREFIX of its environment, so a demo or a test never meets a real host.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "host/host.h"
#include "host/host_commands.h"
#include "platform/ipc_names.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"
#include "qvr/ipc/slot.h"

namespace {

constexpr const char* kUsage =
    "usage: qvr_host COMMAND ...\n"
    "  create-section NAME DATA_SIZE   plain section and its mutex\n"
    "  create-module NAME DATA_LENGTH  data module (section, mutex, waiter and request areas)\n"
    "  list                            shared objects under the prefix\n"
    "  dump NAME [BYTES]               header, waiters, requests and the first BYTES of data\n"
    "  write NAME OFFSET TEXT          writes TEXT into the data under the lock, wakes all waiters\n"
    "  signal NAME SLOT                wakes waiter slot SLOT (0: all slots and requests)\n"
    "  send PID CODE                   sends CODE to the process slot of PID\n"
    "  watch NAME SLOT                 waits on SLOT of NAME and prints codes and data until code 31\n"
    "  remove-all                      removes every shared object and mailslot under the prefix\n"
    "  --help                          this text\n"
    "Every command works under the environment's QUORVANE_IPC_PREFIX, QUORVANE_RUNTIME_DIR and\n"
    "BREVANTIC_REGISTRY_DIR; exit code 0, 1 when a command fails, 2 for bad arguments.\n";

int fail(const char* what) {
    std::fprintf(stderr, "qvr_host: %s: %s (error %d)\n", what, std::strerror(errno), errno);
    return 1;
}

bool parse(std::string_view text, uint32_t& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size();
}

std::atomic<bool> g_stop{false};

int print_code(uint32_t code) {
    std::printf("code %u%s\n", code, code == kScanCommandStop ? ": stopping" : "");
    std::fflush(stdout);
    if (code == kScanCommandStop) g_stop = true;
    return 0;
}

// A process that receives codes on its process slot and watches one waiter slot.
int watch(const std::string& name, int slot) {
    errno = 0;
    slot_Open(print_code);
    if (errno != 0) return fail("cannot open the process slot");
    void* section = shm_OpenSection(name.c_str());
    if (section == nullptr) return fail("cannot open the section");
    if (shm_ResetWaiters(section, slot) < 0) return fail("cannot claim the waiter slot");
    std::printf("watching %s slot %d as process %d\n", name.c_str(), slot, static_cast<int>(getpid()));
    std::fflush(stdout);
    while (!g_stop) {
        if (shm_WaitSignal(section, slot) != 0) return fail("wait failed");
        if (g_stop) break;
        char text[65] = {};
        const uint32_t length =
            std::min<uint32_t>(64, qvr::load_u32(qvr::section_bytes(section), qvr::kOffDataLength));
        if (shm_ReadData(section, text, length, 0) != 0) return fail("cannot read");
        std::printf("%s data: \"%s\"\n", name.c_str(), text);
        std::fflush(stdout);
    }
    shm_ResetWaiters(section, 0);
    slot_Close();
    return 0;
}

int run(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    uint32_t a = 0, b = 0;
    if (command == "create-section" && argc == 4 && parse(argv[3], a)) {
        if (sim_host::create_section(argv[2], a) == nullptr) return fail("cannot create the section");
        std::printf("created section %s (%u data bytes)\n", argv[2], a);
        return 0;
    }
    if (command == "create-module" && argc == 4 && parse(argv[3], a)) {
        if (sim_host::create_module(argv[2], a) == nullptr) return fail("cannot create the data module");
        std::printf("created data module %s (%u data bytes)\n", argv[2], a);
        return 0;
    }
    if (command == "list" && argc == 2) {
        const auto list = sim_host::list_objects();
        for (const auto& s : list.sections) std::printf("section %s\n", s.c_str());
        for (const auto& m : list.mutexes) std::printf("mutex   %s\n", m.c_str());
        for (const auto& o : list.others) std::printf("other   %s\n", o.c_str());
        if (list.sections.empty() && list.mutexes.empty() && list.others.empty()) std::printf("(nothing)\n");
        return 0;
    }
    if (command == "dump" && (argc == 3 || (argc == 4 && parse(argv[3], a)))) {
        const auto text = sim_host::describe(argv[2], argc == 4 ? a : 64);
        if (!text) return fail("cannot open the section");
        std::fputs(text->c_str(), stdout);
        return 0;
    }
    if (command == "write" && argc == 5 && parse(argv[3], a)) {
        if (sim_host::write_and_signal(argv[2], a, argv[4]) != 0) return fail("cannot write");
        return 0;
    }
    if (command == "signal" && argc == 4 && parse(argv[3], a)) {
        void* section = shm_OpenSection(argv[2]);
        if (section == nullptr) return fail("cannot open the section");
        if (shm_SignalWaiters(section, static_cast<int>(a)) != 0) return fail("cannot signal");
        return 0;
    }
    if (command == "send" && argc == 4 && parse(argv[2], a) && parse(argv[3], b)) {
        if (slot_SendCode(a, b) != 0) return fail("cannot send");
        return 0;
    }
    if (command == "watch" && argc == 4 && parse(argv[3], a)) return watch(argv[2], static_cast<int>(a));
    if (command == "remove-all" && argc == 2) {
        const auto removed = sim_host::remove_all();
        if (!removed) return fail("refused (an IPC prefix must be set)");
        std::printf("removed %d shared objects and %d mailslots under prefix %s\n", removed->objects,
                    removed->mailslots, platform::ipc_prefix().c_str());
        return 0;
    }
    if (command == "--help" || command == "help") {
        std::fputs(kUsage, stdout);
        std::fputs(sim_host::kHostCommandsUsage, stdout);
        return 0;
    }
    if (const int rc = sim_host::run_host_command({argv + 1, argv + argc}); rc >= 0) return rc;
    std::fprintf(stderr, "qvr_host: %s\n",
                 command.empty() ? "no command" : ("unknown command or wrong arguments: " + std::string(command)).c_str());
    std::fputs(kUsage, stderr);
    std::fputs(sim_host::kHostCommandsUsage, stderr);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    return run(argc, argv);
}
