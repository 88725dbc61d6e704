// qvr_controller: runs the interface-module stand-in on a new pseudo-terminal, maps a port
// name to it for the scanner, prints "<port> <device>" and then one line per link event and
// per command until interrupted; the mapping is removed on the way out. Stations, their files,
// directories and values are given as options; while it runs it takes commands (set, get,
// mode, protect, type, program) from a file or FIFO and prints the answers, and runs the
// stations' programs every 100 ms.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controller/interface_module.h"
#include "controller/pccc_network.h"
#include "controller/pseudo_terminal.h"
#include "controller/tool_commands.h"
#include "platform/monotonic_clock.h"
#include "platform/stop_signals.h"

namespace {

constexpr const char* kUsage =
    "usage: qvr_controller [--port COMn] [--baud rate] [--paced] [--quiet]\n"
    "         [--module-address n] [--commands path|-]\n"
    "         [--station n[:type] [--file N7:100] [--slot in,outbytes,out] [--set N7:0=5] ...] ...\n"
    "  Opens a pseudo-terminal, maps the port name (default COM1) to it in the registry's\n"
    "  SerialPorts key (so a scanner whose CommPort is that name opens it), prints\n"
    "  \"<port> <device>\", and answers on it as the interface module until interrupted,\n"
    "  printing one line per link event and command unless --quiet. --file, --slot and --set\n"
    "  apply to the station before them (type: processor type byte, default 0x4E).\n"
    "  Commands, one a line: set S ADDR VALUE | get S ADDR | mode S MODE [CODE [COUNT]]\n"
    "  | protect S FILE [STS] | unprotect S FILE | type S TYPE\n"
    "  | program S ADDR add [N] | program S ADDR toggle; modes normal, silent,\n"
    "  module-status, extended, short-reply, wrong-tns. Programs run every 100 ms.\n"
    "  --help  this text. Exit code 0, 1 when the line cannot be set up, 2 for bad arguments.\n";

int usage_error(const std::string& why) {
    std::fprintf(stderr, "qvr_controller: %s\n%s", why.c_str(), kUsage);
    return 2;
}

struct StationSpec {
    uint8_t station = 0;
    uint8_t type = 0x4E;
    std::vector<std::string> files;
    std::vector<sim_controller::DirectorySlot> slots;
    std::vector<std::string> sets;
};

std::optional<sim_controller::DirectorySlot> parse_slot(const std::string& text) {
    unsigned a = 0, b = 0, c = 0;
    char tail = 0;
    if (std::sscanf(text.c_str(), "%u,%u,%u%c", &a, &b, &c, &tail) != 3 || a > 255 || b > 255 || c > 255) {
        return std::nullopt;
    }
    return sim_controller::DirectorySlot{static_cast<uint8_t>(a), static_cast<uint8_t>(b),
                                         static_cast<uint8_t>(c)};
}

bool set_up(sim_controller::ControllerNetwork& network, const StationSpec& spec) {
    network.add_station(spec.station, spec.type);
    for (const auto& f : spec.files) {
        if (!sim_controller::add_file_from_argument(network, spec.station, f)) {
            std::fprintf(stderr, "qvr_controller: bad file %s\n", f.c_str());
            return false;
        }
    }
    if (!spec.slots.empty()) network.set_directory(spec.station, spec.slots);
    for (const auto& s : spec.sets) {
        const size_t eq = s.find('=');
        const std::string answer =
            eq == std::string::npos
                ? "! missing ="
                : sim_controller::run_tool_command(network, "set " + std::to_string(spec.station) + " " +
                                                                s.substr(0, eq) + " " + s.substr(eq + 1));
        if (answer.starts_with("!")) {
            std::fprintf(stderr, "qvr_controller: --set %s: %s\n", s.c_str(), answer.c_str() + 2);
            return false;
        }
    }
    return true;
}

// Reads what arrived on the command descriptor and runs every whole line; false at its end.
bool serve_commands(int fd, std::string& pending, sim_controller::ControllerNetwork& network) {
    char buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) return false;
    if (n < 0) return errno == EAGAIN || errno == EINTR;
    pending.append(buffer, static_cast<size_t>(n));
    for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        std::printf("%s\n", sim_controller::run_tool_command(network, line).c_str());
        std::fflush(stdout);
    }
    return true;
}

struct ToolOptions {
    std::string port = "COM1";
    sim_controller::ModuleOptions module;
    bool quiet = false;
    unsigned module_address = 0;
    std::string commands_path;
    std::vector<StationSpec> specs;
};

// "n" or "n:type".
std::optional<StationSpec> parse_station(const std::string& text) {
    const size_t colon = text.find(':');
    const auto n = sim_controller::parse_tool_number(text.substr(0, colon), 255);
    if (!n) return std::nullopt;
    StationSpec spec;
    spec.station = static_cast<uint8_t>(*n);
    if (colon != std::string::npos) {
        const auto type = sim_controller::parse_tool_number(text.substr(colon + 1), 255);
        if (!type) return std::nullopt;
        spec.type = static_cast<uint8_t>(*type);
    }
    return spec;
}

// --file, --slot and --set belong to the station named before them.
bool add_station_option(std::string_view option, const std::string& value, std::vector<StationSpec>& specs) {
    if (specs.empty()) return false;
    if (option == "--file") {
        specs.back().files.push_back(value);
    } else if (option == "--set") {
        specs.back().sets.push_back(value);
    } else {
        const auto slot = parse_slot(value);
        if (!slot) return false;
        specs.back().slots.push_back(*slot);
    }
    return true;
}

// The options, or nullopt with what is wrong in `why`.
std::optional<ToolOptions> parse_options(int argc, char** argv, std::string& why) {
    const auto wrong = [&why](std::string text) {
        why = std::move(text);
        return std::optional<ToolOptions>{};
    };
    ToolOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool has_value = i + 1 < argc;
        const std::string value = has_value ? argv[i + 1] : "";
        if (arg == "--module-address" && has_value) {
            const auto v = sim_controller::parse_tool_number(argv[++i], 255);
            if (!v) return wrong("--module-address needs 0..255");
            o.module_address = *v;
        } else if (arg == "--commands" && has_value) {
            o.commands_path = argv[++i];
        } else if (arg == "--station" && has_value) {
            auto spec = parse_station(argv[++i]);
            if (!spec) return wrong("--station needs n or n:type (0..255)");
            o.specs.push_back(std::move(*spec));
        } else if ((arg == "--file" || arg == "--slot" || arg == "--set") && has_value) {
            if (!add_station_option(arg, argv[++i], o.specs))
                return wrong(std::string(arg) + " " + value + ": needs a --station before it" +
                             (arg == "--slot" ? " and the form in,outbytes,out" : ""));
        } else if (arg == "--port" && has_value) {
            o.port = argv[++i];
        } else if (arg == "--baud" && has_value) {
            char* end = nullptr;
            const unsigned long baud = std::strtoul(argv[++i], &end, 10);
            if (*end != '\0' || baud == 0 || baud > 1'000'000) return wrong("--baud needs 1..1000000");
            o.module.baud = static_cast<uint32_t>(baud);
        } else if (arg == "--paced") {
            o.module.paced = true;
        } else if (arg == "--quiet") {
            o.quiet = true;
        } else {
            return wrong("unknown option " + std::string(arg) + (has_value ? "" : " or a value missing"));
        }
    }
    return o;
}

// The descriptor commands are read from: -1 for none, stdin for "-"; -2 when it cannot be opened.
int open_commands(const std::string& path) {
    if (path.empty()) return -1;
    if (path == "-") return STDIN_FILENO;
    // Read and write, so a FIFO has a writer for as long as the tool runs and never ends.
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        std::fprintf(stderr, "qvr_controller: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return -2;
    }
    return fd;
}

void print_events(sim_controller::InterfaceModule& module, sim_controller::ControllerNetwork& network) {
    const int64_t start = platform::monotonic_ns();
    module.set_log_observer([start](const sim_controller::LogEntry& entry) {
        std::printf("%10.6f %s\n", static_cast<double>(entry.time_ns - start) / 1e9, entry.text().c_str());
        std::fflush(stdout);
    });
    network.set_command_observer([start](const sim_controller::CommandRecord& record) {
        std::printf("%10.6f cmd %s\n", static_cast<double>(record.time_ns - start) / 1e9,
                    record.text().c_str());
        std::fflush(stdout);
    });
}

// Answers on the line and runs commands until a stop signal or the module's end.
void serve(sim_controller::InterfaceModule& module, sim_controller::ControllerNetwork& network,
           int commands_fd, const std::atomic<bool>& stop) {
    constexpr int64_t kProgramPeriodNs = 100'000'000;
    std::string pending;
    int64_t next_program = platform::monotonic_ns() + kProgramPeriodNs;
    while (!stop && module.running()) {
        if (const int64_t now = platform::monotonic_ns(); now >= next_program) {
            network.run_programs();
            next_program = now + kProgramPeriodNs;
        }
        if (commands_fd < 0) {
            ::usleep(50'000);
            continue;
        }
        pollfd p{commands_fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0 && !serve_commands(commands_fd, pending, network)) commands_fd = -1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        }
    }
    std::string why;
    const std::optional<ToolOptions> options = parse_options(argc, argv, why);
    if (!options) return usage_error(why);
    // Before the module's threads exist, so that only the signal thread receives them.
    platform::StopSignals::block();
    std::atomic<bool> stop{false};
    platform::StopSignals signals;
    if (signals.start([&stop](int) { stop = true; }) != 0) {
        std::fprintf(stderr, "qvr_controller: cannot watch for stop signals: %s\n", std::strerror(errno));
        return 1;
    }

    sim_controller::ControllerNetwork network(static_cast<uint8_t>(options->module_address));
    for (const auto& spec : options->specs) {
        if (!set_up(network, spec)) return 2;
    }
    const int commands_fd = open_commands(options->commands_path);
    if (commands_fd == -2) return 1;

    sim_controller::PseudoTerminal line;
    if (line.open() != 0) {
        std::fprintf(stderr, "qvr_controller: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return 1;
    }
    const std::string& port = options->port;
    if (sim_controller::map_port_name(port, line.device_path()) != 0) {
        std::fprintf(stderr, "qvr_controller: cannot map %s: error %d\n", port.c_str(), errno);
        return 1;
    }
    std::printf("%s %s\n", port.c_str(), line.device_path().c_str());
    std::fflush(stdout);

    sim_controller::InterfaceModule module(options->module);
    network.attach(module);
    if (!options->quiet) print_events(module, network);
    int rc = 0;
    if (module.start(line.take_module_side()) != 0) {
        std::fprintf(stderr, "qvr_controller: cannot start: %s\n", std::strerror(errno));
        rc = 1;
    } else {
        serve(module, network, commands_fd, stop);
        module.stop();
        network.set_command_observer({});
    }
    sim_controller::unmap_port_name(port);
    signals.stop();
    return rc;
}
