// sim_config: the configuration program's side of TOLVA_CF, on records kept in files.
//
//   sim_config [options] comm <device-record-file>
//   sim_config [options] channel <channel-record-file> <channel-flags>
//   sim_config [options] paste <source-record-file> <destination-record-file> <new-flags>
//   sim_config [options] print-all <device-record-file> <status> <autosave> <by-tag> <save-rate-ms>
//                                  [<config-record-file> [<table-file> x 5]]
//   sim_config [options] print <device-record-file> <kind> <first> <last> [<table-file>]
//
// Options: --port N and --server NAME (the application values the library reads through
// qvr_HostApplication), --library PATH (default: TOLVA_CF.so beside this program),
// --accept or --cancel (close the dialog unattended), --print FILE.pdf (print through the
// library's Qt back end) or --lines N (the recording printer's page, 66 lines by default).
// A record file holds the record's bytes (924 for a device, 216 for a channel) and is
// rewritten when the library reports a change. A table file holds a kind's channel records
// back to back; "-" for a configuration or table file means none (read from the server).
// The dialogs print "modified=0" or "modified=1". The print commands print each page of the
// recording printer as its lines and a form feed line, then "result=N". Exit code 0, or 2
// for bad arguments or files.
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
#include "dialog_closer.h"

namespace {

QvrHostApplication g_host{1, {}};

int usage() {
    std::fprintf(stderr,
                 "usage: sim_config [--port N] [--server NAME] [--library PATH] [--accept|--cancel]\n"
                 "                  comm <device-file> | channel <record-file> <flags> |\n"
                 "                  paste <source-file> <destination-file> <flags> |\n"
                 "                  print-all <device-file> <status> <autosave> <by-tag> <save-rate>\n"
                 "                            [<config-file>|- [<table-file>|- ...]] |\n"
                 "                  print <device-file> <kind> <first> <last> [<table-file>|-]\n"
                 "       options also: [--print FILE.pdf] [--lines N]\n");
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

template <typename Record>
bool read_record(const std::string& path, Record& record) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) return false;
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
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.eof() && in.fail()) return false;
    if (bytes.size() % sizeof(qvr::ChannelRecord) != 0) {
        std::fprintf(stderr, "sim_config: %s holds %zu bytes, not whole channel records\n", path.c_str(),
                     bytes.size());
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

    int report(int result) {
        if (qt_ && target_->release(target_) < 0) result = -1;
        for (const auto& page : recording_.pages) {
            for (const auto& line : page) std::printf("%s\n", line.c_str());
            std::printf("\f\n");
        }
        std::printf("result=%d\n", result);
        return target_ != nullptr ? 0 : 2;
    }

  private:
    tolva::cf::RecordingPrintTarget recording_;
    TolvaPrintTarget* target_ = nullptr;
    bool qt_ = false;
};

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
        if (option == "--port" && has_value) {
            const auto port = number(args[++i]);
            if (!port || *port > 0xFFFF) return usage();
            g_host.DefaultPortNumber = static_cast<std::uint16_t>(*port);
        } else if (option == "--server" && has_value) {
            const std::string& server = args[++i];
            if (server.size() >= sizeof g_host.ServerName) return usage();
            std::memcpy(g_host.ServerName, server.c_str(), server.size() + 1);
        } else if (option == "--library" && has_value) {
            library = args[++i];
        } else if (option == "--print" && has_value) {
            pdf = args[++i];
        } else if (option == "--lines" && has_value) {
            const auto lines = number(args[++i]);
            if (!lines || *lines > 100'000) return usage();
            page_lines = static_cast<int>(*lines);
        } else if (option == "--accept") {
            action = sim_config::CloseAction::accept;
        } else if (option == "--cancel") {
            action = sim_config::CloseAction::cancel;
        } else {
            return usage();
        }
    }
    if (i >= args.size()) return usage();
    const std::string command = args[i];
    const std::vector<std::string> operands(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());

    sim_config::ConfigLibrary cf;
    if (!cf.open(library)) {
        std::fprintf(stderr, "sim_config: %s: %s\n", library.c_str(), cf.error().c_str());
        return 2;
    }
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
        if (!flags || !read_record(operands[0], record)) return 2;
        sim_config::close_dialog_when_shown("CChannel", action, &refusals);
        cf.config_chan_dev_specific(nullptr, nullptr, static_cast<unsigned>(*flags), 0, &record, &modified);
        if (!refusals.empty()) std::printf("refused: %s", refusals.c_str());
        return report(modified, modified == 0 || write_record(operands[0], record));
    }
    if (command == "paste" && operands.size() == 3) {
        const auto flags = number(operands[2]);
        qvr::ChannelRecord source{};
        qvr::ChannelRecord destination{};
        if (!flags || !read_record(operands[0], source) || !read_record(operands[1], destination)) return 2;
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
        if (!read_record(operands[0], device) || !values[0] || !values[1] || !values[2] || !values[3]) return 2;
        const bool with_config = operands.size() > 5 && operands[5] != "-";
        if (with_config && !read_record(operands[5], config)) return 2;
        bool with_tables = false;
        for (std::size_t k = 0; k + 6 < operands.size(); ++k) {
            if (operands[k + 6] == "-") continue;
            if (!read_table(operands[k + 6], tables[k]) || tables[k].size() < device.Kinds[k].ChannelCount) return 2;
            table_pointers[k] = tables[k].data();
            with_tables = true;
        }
        PrintJob job(cf, pdf, page_lines);
        const int result = job.target() == nullptr
                               ? -1
                               : cf.print_all_config(job.target(), g_host.ServerName, &device,
                                                     static_cast<int>(*values[0]), static_cast<int>(*values[1]),
                                                     static_cast<int>(*values[2]), static_cast<int>(*values[3]),
                                                     with_config ? &config : nullptr,
                                                     with_tables ? table_pointers : nullptr);
        return job.report(result);
    }
    if (command == "print" && (operands.size() == 4 || operands.size() == 5)) {
        tolva::HostDeviceRecord device{};
        std::vector<qvr::ChannelRecord> table;
        const auto kind = number(operands[1]);
        const auto first = number(operands[2]);
        const auto last = number(operands[3]);
        if (!read_record(operands[0], device) || !kind || !first || !last) return 2;
        const bool with_table = operands.size() == 5 && operands[4] != "-";
        if (with_table && !read_table(operands[4], table)) return 2;
        PrintJob job(cf, pdf, page_lines);
        const int result = job.target() == nullptr
                               ? -1
                               : cf.print_config(job.target(), g_host.ServerName, &device, static_cast<int>(*kind),
                                                 static_cast<int>(*first), static_cast<int>(*last), nullptr,
                                                 with_table ? table.data() : nullptr);
        return job.report(result);
    }
    return usage();
}
