// sim_config: the configuration program's side of TOLVA_CF, on records kept in files (the
// usage below says which). The dialogs print "modified=0" or "modified=1". The print commands
// print each page of the recording printer as its lines and a form feed line, then
// "result=N"; a failure's reason goes to standard error.
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TOLVA_CF/logic/recording_print_target.h"
#include "config_library.h"
#include "platform/error_text.h"
#include "platform/last_error.h"
#include "qvr/settings/env.h"
#include "sample_files.h"
#include "dialog_closer.h"

namespace {

QvrHostApplication g_host{1, {}};

constexpr const char* kUsage =
    "usage: sim_config [OPTIONS] COMMAND ...\n"
    "  The configuration program's side of TOLVA_CF.so: its dialogs, channel paste and printout\n"
    "  on records kept in files.\n"
    "commands:\n"
    "  sample FOLDER           writes the demo's sample device into FOLDER: device.rec, config.rec,\n"
    "                          channel.rec, ai.tab di.tab ao.tab do.tab, and the configuration\n"
    "                          folder FOLDER/CURRENT_CONFIG/TOLVA_1 as a configuration server keeps it\n"
    "  comm DEVICE             the communication dialog on DEVICE's settings\n"
    "  channel RECORD FLAGS    the address dialog on one channel (FLAGS bit 0: digital layout)\n"
    "  paste SOURCE DEST FLAGS copies channel SOURCE onto DEST as kind FLAGS (0 AI, 1 DI, 2 AO, 3 DO)\n"
    "  print-all DEVICE STATUS AUTOSAVE BY-TAG SAVE-RATE-MS [CONFIG [TABLE-AI [TABLE-DI ...]]]\n"
    "                          the whole device: its block, settings and every kind's listing\n"
    "  print DEVICE KIND FIRST LAST [TABLE]\n"
    "                          channels FIRST..LAST of KIND (0 AI .. 4 CI; 0 0 = all)\n"
    "files:\n"
    "  DEVICE  the configuration program's device record, 924 bytes: name at 12, configuration\n"
    "          folder at 37, per kind AI..CI its module code and channel count (4 bytes) at 50,\n"
    "          the device configuration at 220; rewritten when the dialog changes it\n"
    "  RECORD, SOURCE, DEST  one channel record, 216 bytes\n"
    "  CONFIG  a device configuration record, 704 bytes\n"
    "  TABLE   a kind's channel records back to back, channel count x 216 bytes, in kind order\n"
    "  \"-\" for CONFIG or a TABLE, or a TABLE left out: read from the configuration server\n"
    "  (--server; on this machine the device's folder below QVR_CURRENT_CONFIG)\n"
    "options:\n"
    "  --port N          the application's default port number (COMn of an empty port)\n"
    "  --server NAME     the configuration server (default: this machine)\n"
    "  --library PATH    the library (default: TOLVA_CF.so beside this program)\n"
    "  --accept|--cancel close the dialog unattended (a display, or QT_QPA_PLATFORM=offscreen)\n"
    "  --print OUTPUT    print through the library's Qt back end: OUTPUT ending in .pdf is a PDF\n"
    "                    file (no display needed), any other a printer name (\"\" the default)\n"
    "  --lines N         lines per page of the recording printer (default 66)\n"
    "  --help            this text\n"
    "Exit code 0; 2 for bad arguments or files (the reason on standard error).\n";

int usage_error(const std::string& why) {
    std::fprintf(stderr, "sim_config: %s\n%s", why.c_str(), kUsage);
    return 2;
}

int file_error(const std::string& why) {
    std::fprintf(stderr, "sim_config: %s\n", why.c_str());
    return 2;
}

std::optional<unsigned long> number(std::string_view text) {
    unsigned long value = 0;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
        base = 16;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// The whole file, or nullopt with the reason on standard error.
std::optional<std::vector<char>> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "sim_config: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
        return std::nullopt;
    }
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) {
        std::fprintf(stderr, "sim_config: cannot read %s\n", path.c_str());
        return std::nullopt;
    }
    return bytes;
}

template <typename Record>
bool read_record(const std::string& path, Record& record) {
    const auto read = read_file(path);
    if (!read) return false;
    const std::vector<char>& bytes = *read;
    if (bytes.size() != sizeof record) {
        std::fprintf(stderr, "sim_config: %s holds %zu bytes, not %zu\n", path.c_str(), bytes.size(),
                     sizeof record);
        return false;
    }
    std::memcpy(&record, bytes.data(), sizeof record);
    return true;
}

template <typename Record>
bool write_record(const std::string& path, const Record& record) {
    const std::string temp = path + ".new";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(&record), sizeof record);
        if (!out.flush()) return false;
    }
    return std::rename(temp.c_str(), path.c_str()) == 0;
}

// A channel table: whole records back to back.
bool read_table(const std::string& path, std::vector<qvr::ChannelRecord>& table) {
    const auto read = read_file(path);
    if (!read) return false;
    const std::vector<char>& bytes = *read;
    if (bytes.size() % sizeof(qvr::ChannelRecord) != 0) {
        std::fprintf(stderr, "sim_config: %s holds %zu bytes, not whole channel records of 216 bytes\n",
                     path.c_str(), bytes.size());
        return false;
    }
    table.resize(bytes.size() / sizeof(qvr::ChannelRecord));
    if (!bytes.empty()) std::memcpy(table.data(), bytes.data(), bytes.size());
    return true;
}

// Where a print command prints: the library's Qt back end, or a recording printer whose
// pages go to standard output.
class PrintJob {
  public:
    PrintJob(sim_config::ConfigLibrary& cf, const std::string& pdf, int lines) : recording_(lines) {
        if (pdf.empty()) {
            target_ = &recording_.target();
        } else {
            target_ = cf.open_qt_print_target(pdf.c_str());
            qt_ = target_ != nullptr;
        }
    }
    TolvaPrintTarget* target() const { return target_; }

    // Prints the pages and the result; a failure's reason and `note` go to standard error.
    int report(int result, const std::string& note) {
        const int error = platform::last_error();
        if (qt_ && target_->release(target_) < 0) result = -1;
        for (const auto& page : recording_.pages) {
            for (const auto& line : page) std::printf("%s\n", line.c_str());
            std::printf("\f\n");
        }
        std::printf("result=%d\n", result);
        std::fflush(stdout);
        if (result < 0) {
            std::fprintf(stderr, "sim_config: printing failed: %s\n", platform::error_text(error).c_str());
            if (!note.empty()) std::fprintf(stderr, "sim_config: %s\n", note.c_str());
        }
        return target_ != nullptr ? 0 : 2;
    }

  private:
    tolva::cf::RecordingPrintTarget recording_;
    TolvaPrintTarget* target_ = nullptr;
    bool qt_ = false;
};

constexpr const char* kKindNames[] = {"AI", "DI", "AO", "DO", "CI"};

bool has_table(const tolva::HostDeviceRecord& device, std::size_t kind) {
    return device.Kinds[kind].ModuleCode[0] != '\0' && device.Kinds[kind].ChannelCount != 0;
}

// Where the records not given on the command line were read from, for a failed print.
std::string server_note(const tolva::HostDeviceRecord& device, const std::vector<std::string>& parts) {
    if (parts.empty()) return {};
    std::string what;
    for (const auto& part : parts) what += (what.empty() ? "" : ", ") + part;
    std::string where;
    if (g_host.ServerName[0] != '\0') {
        where = std::string("server ") + g_host.ServerName;
    } else {
        const char* folder = env_GetVariable("QVR_CURRENT_CONFIG");
        where = std::string("this machine's ") + (folder != nullptr ? folder : "QVR_CURRENT_CONFIG") + "/" +
                std::string(device.ConfigFolder, strnlen(device.ConfigFolder, sizeof device.ConfigFolder));
    }
    return what + " (not given) came from the configuration server: " + where;
}

int report(int modified, bool written) {
    std::printf("modified=%d\n", modified);
    return written ? 0 : 2;
}

}  // namespace

extern "C" QvrHostApplication qvr_HostApplication() {
    return g_host;
}

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string library = sim_config::library_beside_program();
    auto action = sim_config::CloseAction::none;
    std::string pdf;
    int page_lines = 66;
    std::size_t i = 0;
    for (; i < args.size() && args[i].starts_with("--"); ++i) {
        const std::string& option = args[i];
        const bool has_value = i + 1 < args.size();
        if (option == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (option == "--port" && has_value) {
            const auto port = number(args[++i]);
            if (!port || *port > 0xFFFF) return usage_error("--port needs 0..65535");
            g_host.DefaultPortNumber = static_cast<std::uint16_t>(*port);
        } else if (option == "--server" && has_value) {
            const std::string& server = args[++i];
            if (server.size() >= sizeof g_host.ServerName) return usage_error("--server: the name is too long");
            std::memcpy(g_host.ServerName, server.c_str(), server.size() + 1);
        } else if (option == "--library" && has_value) {
            library = args[++i];
        } else if (option == "--print" && has_value) {
            pdf = args[++i];
        } else if (option == "--lines" && has_value) {
            const auto lines = number(args[++i]);
            if (!lines || *lines > 100'000) return usage_error("--lines needs 0..100000");
            page_lines = static_cast<int>(*lines);
        } else if (option == "--accept") {
            action = sim_config::CloseAction::accept;
        } else if (option == "--cancel") {
            action = sim_config::CloseAction::cancel;
        } else {
            return usage_error("unknown option " + option + (has_value ? "" : " or a value missing"));
        }
    }
    if (i >= args.size()) return usage_error("no command");
    const std::string command = args[i];
    const std::vector<std::string> operands(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());

    if (command == "sample" && operands.size() == 1) {
        std::string error;
        const auto written = sim_config::write_sample_device(operands[0], error);
        if (written.empty()) return file_error(error);
        for (const auto& line : written) std::printf("%s\n", line.c_str());
        return 0;
    }

    sim_config::ConfigLibrary cf;
    if (!cf.open(library)) return file_error(library + ": " + cf.error());
    std::string refusals;
    int modified = 0;

    if (command == "comm" && operands.size() == 1) {
        tolva::HostDeviceRecord device{};
        if (!read_record(operands[0], device)) return 2;
        sim_config::close_dialog_when_shown("CComport", action, &refusals);
        cf.config_advan_dev_specific(nullptr, &device, &modified);
        if (!refusals.empty()) std::printf("refused: %s", refusals.c_str());
        return report(modified, modified == 0 || write_record(operands[0], device));
    }
    if (command == "channel" && operands.size() == 2) {
        const auto flags = number(operands[1]);
        qvr::ChannelRecord record{};
        if (!flags) return usage_error("channel: FLAGS must be a number");
        if (!read_record(operands[0], record)) return 2;
        sim_config::close_dialog_when_shown("CChannel", action, &refusals);
        cf.config_chan_dev_specific(nullptr, nullptr, static_cast<unsigned>(*flags), 0, &record, &modified);
        if (!refusals.empty()) std::printf("refused: %s", refusals.c_str());
        return report(modified, modified == 0 || write_record(operands[0], record));
    }
    if (command == "paste" && operands.size() == 3) {
        const auto flags = number(operands[2]);
        qvr::ChannelRecord source{};
        qvr::ChannelRecord destination{};
        if (!flags) return usage_error("paste: FLAGS must be a number");
        if (!read_record(operands[0], source) || !read_record(operands[1], destination)) return 2;
        cf.paste_channel(nullptr, nullptr, static_cast<unsigned>(*flags), 0, &destination, &source,
                         &modified);
        return report(modified, modified == 0 || write_record(operands[1], destination));
    }
    if (command == "print-all" && operands.size() >= 5 && operands.size() <= 11) {
        tolva::HostDeviceRecord device{};
        tolva::DeviceConfigRecord config{};
        std::vector<qvr::ChannelRecord> tables[5];
        const qvr::ChannelRecord* table_pointers[5] = {};
        std::optional<unsigned long> values[4];
        for (int k = 0; k < 4; ++k) values[k] = number(operands[static_cast<std::size_t>(k) + 1]);
        if (!values[0] || !values[1] || !values[2] || !values[3])
            return usage_error("print-all: STATUS, AUTOSAVE, BY-TAG and SAVE-RATE-MS must be numbers");
        if (!read_record(operands[0], device)) return 2;
        const bool with_config = operands.size() > 5 && operands[5] != "-";
        if (with_config && !read_record(operands[5], config)) return 2;
        bool with_tables = false;
        for (std::size_t k = 0; k + 6 < operands.size(); ++k) {
            if (operands[k + 6] == "-") continue;
            if (!read_table(operands[k + 6], tables[k])) return 2;
            if (tables[k].size() < device.Kinds[k].ChannelCount)
                return file_error(operands[k + 6] + " holds " + std::to_string(tables[k].size()) + " channels; the " +
                                  kKindNames[k] + " table of the device has " +
                                  std::to_string(device.Kinds[k].ChannelCount));
            table_pointers[k] = tables[k].data();
            with_tables = true;
        }
        std::vector<std::string> from_server;
        if (!with_config) from_server.push_back("the device configuration");
        for (std::size_t k = 0; k < 5; ++k)
            if (has_table(device, k) && (!with_tables || table_pointers[k] == nullptr))
                from_server.push_back(std::string("the ") + kKindNames[k] + " table");
        PrintJob job(cf, pdf, page_lines);
        const int result = job.target() == nullptr
                               ? -1
                               : cf.print_all_config(job.target(), g_host.ServerName, &device,
                                                     static_cast<int>(*values[0]), static_cast<int>(*values[1]),
                                                     static_cast<int>(*values[2]), static_cast<int>(*values[3]),
                                                     with_config ? &config : nullptr,
                                                     with_tables ? table_pointers : nullptr);
        return job.report(result, server_note(device, from_server));
    }
    if (command == "print" && (operands.size() == 4 || operands.size() == 5)) {
        tolva::HostDeviceRecord device{};
        std::vector<qvr::ChannelRecord> table;
        const auto kind = number(operands[1]);
        const auto first = number(operands[2]);
        const auto last = number(operands[3]);
        if (!kind || !first || !last) return usage_error("print: KIND, FIRST and LAST must be numbers");
        if (!read_record(operands[0], device)) return 2;
        const bool with_table = operands.size() == 5 && operands[4] != "-";
        if (with_table && !read_table(operands[4], table)) return 2;
        std::vector<std::string> from_server;
        if (!with_table && *kind < 5) from_server.push_back(std::string("the ") + kKindNames[*kind] + " table");
        PrintJob job(cf, pdf, page_lines);
        const int result = job.target() == nullptr
                               ? -1
                               : cf.print_config(job.target(), g_host.ServerName, &device, static_cast<int>(*kind),
                                                 static_cast<int>(*first), static_cast<int>(*last), nullptr,
                                                 with_table ? table.data() : nullptr);
        return job.report(result, server_note(device, from_server));
    }
    return usage_error("unknown command or wrong number of operands: " + command);
}
