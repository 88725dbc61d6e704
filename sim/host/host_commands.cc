#include "host/host_commands.h"

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

#include "host/runtime_host.h"
#include "platform/process_spawn.h"
#include "qvr/util/fixed_text.h"
#include "qvr/host/host_table_layout.h"
#include "qvr/ipc/section_layout.h"
#include "qvr/ipc/shm.h"

namespace sim_host {

const char* const kHostCommandsUsage =
    "  create-tables [--short-errors]  the host's four tables with SYSER, ALARM, DERIVED and processors\n"
    "  add-device NUMBER KIND=N,...    a TOLVA device (kinds AI DI AO DO CI, N channels each) with\n"
    "                                  its modules and configuration folder; codes <letter>1..6\n"
    "  add-logger TYPE LABEL           a logger whose process is the receiving host\n"
    "  tables                          devices, processes, loggers and status texts\n"
    "  receive SECONDS                 prints alarm messages, derived notices and slot codes\n"
    "  run PROGRAM [ARGS...]           runs PROGRAM in the configuration folder with its environment\n"
    "The configuration tree lives in $QVR_HOST_ROOT (default ./qvr_host).\n";

namespace {

TableOptions cli_options(bool receive) {
    TableOptions o;
    const char* root = std::getenv("QVR_HOST_ROOT");
    o.tree_root = root != nullptr && *root != '\0' ? std::filesystem::path(root)
                                                   : std::filesystem::current_path() / "qvr_host";
    o.receive = receive;
    return o;
}

bool parse_kinds(const std::string& text, DeviceSpec& spec) {
    static const std::map<std::string, int> kinds{{"AI", 0}, {"DI", 1}, {"AO", 2}, {"DO", 3}, {"CI", 4}};
    spec.codes = {"", "", "", "", ""};
    size_t start = 0;
    while (start < text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string part = text.substr(start, comma - start);
        const size_t eq = part.find('=');
        if (eq == std::string::npos || !kinds.contains(part.substr(0, eq))) return false;
        const int k = kinds.at(part.substr(0, eq));
        const int count = std::atoi(part.c_str() + eq + 1);
        if (count < 0 || count > 10000) return false;
        const auto kind = static_cast<qvr::ChannelKind>(k);
        for (int i = 0; i < count; ++i) {
            const std::string tag = part.substr(0, eq) + std::to_string(i + 1);
            qvr::ChannelRecord r = k == 0   ? analog_input(tag)
                                   : k == 1 ? digital_input(tag)
                                   : k == 2 ? analog_output(tag)
                                   : k == 3 ? digital_output(tag)
                                            : analog_input(tag);
            r.head.Type = kind;
            spec.channels[k].push_back(r);
        }
        spec.codes[k] = "x";  // filled in below
        start = comma + 1;
    }
    return true;
}

void print_alarm(const qvr::AlarmMessage& m) {
    const auto value = qvr::message_value(m);
    std::printf(
        "alarm form %u code \"%.2s\" channel 0x%04x priority %u delay %u%s value %s computer \"%s\" user "
        "\"%s\"%s%s\n",
        qvr::form_of(m.form), m.code, m.channel, qvr::priority_of(m.form), m.delay,
        (m.form & qvr::kFormHighSide) != 0 ? " high" : "", value ? std::to_string(*value).c_str() : "none",
        m.computer, m.user, m.text[0] != 0 ? " text " : "", m.text);
}

int tables() {
    RuntimeHost host(cli_options(false));
    for (int i = 0; DeviceRecord* d = host.device(i); ++i)
        std::printf("device %d: %.9s %u \"%.25s\" config %.12s codes %.10s pid %u attached %u\n", i,
                    d->TypeName, d->DeviceNumber, d->DeviceName, d->ConfigName, d->KindCodes, d->ProcessId,
                    d->Attached);
    const auto p = qvr::section_bytes(shm_OpenSection(qvr::kProcessTableName));
    for (uint32_t i = 0; i < qvr::table_record_count(p, qvr::kProcessRecordSize); ++i) {
        const auto* r = reinterpret_cast<const ProcessRecord*>(p.data() + qvr::kTableRecordsOffset +
                                                               i * qvr::kProcessRecordSize);
        std::printf("process %u: %.9s \"%.25s\" code %.2s runs %u enabled %u value-records %u pid %d\n", i,
                    r->ProcName, r->ProcText, r->ProcCode, r->RunsProcess, r->ProcEnabled, r->HasValueRecords,
                    r->ProcPid);
    }
    for (int i = 1; LoggerRecord* l = host.logger(i); ++i)
        std::printf("logger %d: %.5s \"%.135s\" enabled %u pid %u\n", i, l->LoggerType, l->LoggerLabel,
                    l->LoggerEnabled & 1, l->LoggerPid);
    for (const auto& e : host.status_entries())
        std::printf("status %d \"%s\": \"%s\"\n", e.type, e.name.c_str(), e.text.c_str());
    return 0;
}

int receive(int seconds) {
    RuntimeHost host(cli_options(true));
    // Logger codes come to the host that receives.
    for (int i = 1; LoggerRecord* l = host.logger(i); ++i) l->LoggerPid = static_cast<uint32_t>(getpid());
    std::printf("receiving as process %d\n", static_cast<int>(getpid()));
    std::fflush(stdout);
    size_t alarms = 0, derived = 0, codes = 0;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        const auto a = host.alarms().alarms();
        for (; alarms < a.size(); ++alarms) print_alarm(a[alarms]);
        const auto d = host.derived().codes();
        for (; derived < d.size(); ++derived) std::printf("derived \"%s\"\n", d[derived].c_str());
        const auto c = slot_codes();
        for (; codes < c.size(); ++codes) std::printf("code %u (0x%08x)\n", c[codes], c[codes]);
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

}  // namespace

int run_host_command(const std::vector<std::string>& args) {
    const std::string command = args.empty() ? "" : args[0];
    if (command == "create-tables" && args.size() <= 2) {
        TableOptions o = cli_options(false);
        if (args.size() == 2) {
            if (args[1] != "--short-errors") return -1;
            o.short_error_table = true;
        }
        RuntimeHost host(o);
        std::printf("tables created (configuration tree %s)\n", host.config_tree().root.c_str());
        return 0;
    }
    if (command == "add-device" && args.size() == 3) {
        const int number = std::atoi(args[1].c_str());
        DeviceSpec spec;
        if (number < 1 || number > 65535 || !parse_kinds(args[2], spec)) return -1;
        const char letter = static_cast<char>('A' + (number - 1) % 26);
        for (size_t k = 0; k < spec.codes.size(); ++k)
            if (!spec.codes[k].empty()) spec.codes[k] = std::string{letter, static_cast<char>('1' + k)};
        spec.stats_code = std::string{letter, '6'};
        spec.number = static_cast<uint16_t>(number);
        spec.name = "TOLVA DEVICE " + std::to_string(number);
        spec.config_name = "TOLVA_" + std::to_string(number);
        RuntimeHost host(cli_options(false));
        const int index = host.add_device(spec);
        if (index < 0) {
            std::fprintf(stderr, "qvr_host: cannot add the device\n");
            return 1;
        }
        std::printf("device %d: TOLVA %d, folder %s\n", index, number,
                    (host.config_tree().current_config() / spec.config_name).c_str());
        return 0;
    }
    if (command == "add-logger" && args.size() == 3) {
        RuntimeHost host(cli_options(false));
        LoggerSpec spec{args[1], args[2]};
        const int n = host.add_logger(spec);
        if (n < 0) return 1;
        std::printf("logger %d\n", n);
        return 0;
    }
    if (command == "tables" && args.size() == 1) return tables();
    if (command == "receive" && args.size() == 2) return receive(std::atoi(args[1].c_str()));
    if (command == "run" && args.size() >= 2) {
        RuntimeHost host(cli_options(false));
        auto process = host.start(args[1], {args.begin() + 2, args.end()});
        if (!process) {
            std::fprintf(stderr, "qvr_host: cannot start %s\n", args[1].c_str());
            return 1;
        }
        const auto status = process->wait(std::chrono::milliseconds(-1));
        return status && WIFEXITED(*status) ? WEXITSTATUS(*status) : 1;
    }
    return -1;
}

}  // namespace sim_host
