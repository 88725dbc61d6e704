// qvr_demo: the whole road on an embedded sample device. The host stand-in creates its
// tables and the device, the controllers answer on a pseudo-terminal with changing inputs,
// the real tolva_sc (beside this program) is started as the host starts it and scanned at
// the device's scan rate, and each channel's tag, value, units and status are shown live
// with the alarm messages as they arrive. Ends on Ctrl-C, SIGTERM or after --seconds N and
// leaves nothing behind.
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>

#include "channel_table.h"
#include "rig/rig_environment.h"
#include "demo_run.h"
#include "display.h"
#include "platform/stop_signals.h"

namespace {

constexpr const char* kUsage =
    "usage: qvr_demo [--seconds N]\n"
    "  Runs the sample device until Ctrl-C (or SIGTERM), or for N seconds of scanning once\n"
    "  the device is open: the host stand-in's tables, two controllers on a pseudo-terminal\n"
    "  and the real tolva_sc beside this program, under a fresh IPC prefix and a temporary\n"
    "  folder that are removed on the way out. Exit code 0 when the scanner ran and stopped\n"
    "  cleanly, 1 otherwise, 2 for bad arguments.\n";

int usage_error(const std::string& why) {
    std::fprintf(stderr, "qvr_demo: %s\n%s", why.c_str(), kUsage);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    sim_demo::DemoOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--seconds" && i + 1 < argc) {
            char* end = nullptr;
            options.seconds = std::strtod(argv[++i], &end);
            if (end == argv[i] || *end != '\0' || !(options.seconds > 0) || options.seconds > 1e7)
                return usage_error("--seconds needs a number of seconds above 0");
        } else {
            return usage_error("unknown argument " + arg);
        }
    }
    options.scanner_program = std::filesystem::read_symlink("/proc/self/exe").parent_path() / "tolva_sc";
    // Before any thread exists, so that only the signal thread receives them.
    platform::StopSignals::block();
    std::atomic<bool> stop{false};
    platform::StopSignals stop_signals;
    if (stop_signals.start([&stop](int) { stop = true; }) != 0) {
        std::fprintf(stderr, "qvr_demo: cannot watch for Ctrl-C and SIGTERM: %s\n", std::strerror(errno));
        return 1;
    }
    // A reader that goes away (a pipe into head) ends the demo through the failed write, as
    // Ctrl-C does, so that it still stops the scanner and removes what it made.
    std::signal(SIGPIPE, SIG_IGN);
    // Tests and the demo run the scanner without real-time scheduling.
    setenv("TOLVA_NO_REALTIME", "1", 1);

    const char* term = std::getenv("TERM");
    const bool terminal = isatty(STDOUT_FILENO) == 1 && term != nullptr && std::strcmp(term, "dumb") != 0;
    try {
        sim_rig::RigEnvironment environment("qvrdemo");
        int code = 1;
        {
            sim_demo::Display display(terminal, sim_demo::table_legend());
            code = sim_demo::run_demo(options, environment, display, stop);
        }
        std::printf("demo: %s\n", environment.remove_all().c_str());
        return code;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qvr_demo: %s\n", e.what());
        return 1;
    }
}
