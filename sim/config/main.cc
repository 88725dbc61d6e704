// sim_config: the configuration program's side of TOLVA_CF, on records kept in files.
//
//   sim_config [options] comm <device-record-file>
//   sim_config [options] channel <channel-record-file> <channel-flags>
//   sim_config [options] paste <source-record-file> <destination-record-file> <new-flags>
//
// Options: --port N and --server NAME (the application values the library reads through
// qvr_HostApplication), --library PATH (default: TOLVA_CF.so beside this program),
// --accept or --cancel (close the dialog unattended). A record file holds the record's
// bytes (924 for a device, 216 for a channel) and is rewritten when the library reports a
// change. Prints "modified=0" or "modified=1"; exit code 0, or 2 for bad arguments or files.
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config_library.h"
#include "dialog_closer.h"

namespace {

QvrHostApplication g_host{1, {}};

int usage() {
    std::fprintf(stderr,
                 "usage: sim_config [--port N] [--server NAME] [--library PATH] [--accept|--cancel]\n"
                 "                  comm <device-file> | channel <record-file> <flags> |\n"
                 "                  paste <source-file> <destination-file> <flags>\n");
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
    return usage();
}
