// qvr_controller: runs the interface-module stand-in on a new pseudo-terminal, maps a port
// name to it for the scanner, prints "<port> <device>" and then one line per link event
// until interrupted; the mapping is removed on the way out.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "controller/interface_module.h"
#include "controller/pseudo_terminal.h"
#include "platform/monotonic_clock.h"

namespace {

std::atomic<bool> g_stop{false};

void on_signal(int) {
    g_stop = true;
}

int usage() {
    std::fprintf(stderr,
                 "usage: qvr_controller [--port COMn] [--baud rate] [--paced] [--quiet]\n"
                 "  Opens a pseudo-terminal, maps the port name (default COM1) to it and answers\n"
                 "  on it as the interface module until interrupted.\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string port = "COM1";
    sim_controller::ModuleOptions options;
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--port" && i + 1 < argc) {
            port = argv[++i];
        } else if (arg == "--baud" && i + 1 < argc) {
            char* end = nullptr;
            const unsigned long baud = std::strtoul(argv[++i], &end, 10);
            if (*end != '\0' || baud == 0 || baud > 1'000'000) return usage();
            options.baud = static_cast<uint32_t>(baud);
        } else if (arg == "--paced") {
            options.paced = true;
        } else if (arg == "--quiet") {
            quiet = true;
        } else {
            return usage();
        }
    }

    sim_controller::PseudoTerminal line;
    if (line.open() != 0) {
        std::fprintf(stderr, "qvr_controller: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    if (sim_controller::map_port_name(port, line.device_path()) != 0) {
        std::fprintf(stderr, "qvr_controller: cannot map %s: error %d\n", port.c_str(), errno);
        return 1;
    }
    std::printf("%s %s\n", port.c_str(), line.device_path().c_str());
    std::fflush(stdout);

    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    sim_controller::InterfaceModule module(options);
    const int64_t start = platform::monotonic_ns();
    if (!quiet) {
        module.set_log_observer([start](const sim_controller::LogEntry& entry) {
            std::printf("%10.6f %s\n", static_cast<double>(entry.time_ns - start) / 1e9,
                        entry.text().c_str());
            std::fflush(stdout);
        });
    }
    int rc = 0;
    if (module.start(line.take_module_side()) != 0) {
        std::fprintf(stderr, "qvr_controller: cannot start: %s\n", std::strerror(errno));
        rc = 1;
    } else {
        while (!g_stop && module.running()) ::usleep(50'000);
        module.stop();
    }
    sim_controller::unmap_port_name(port);
    return rc;
}
