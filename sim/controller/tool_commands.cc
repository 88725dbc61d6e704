#include "controller/tool_commands.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <vector>

namespace sim_controller {

namespace {

std::vector<std::string> words_of(std::string_view line) {
    std::istringstream in{std::string(line)};
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::string failure(std::string_view what) {
    return "! " + std::string(what);
}

std::string number_text(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
}

}  // namespace

std::optional<StationMode> parse_station_mode(std::string_view name) {
    if (name == "normal") return StationMode::normal;
    if (name == "silent") return StationMode::silent;
    if (name == "module-status") return StationMode::module_status;
    if (name == "extended") return StationMode::extended;
    if (name == "short-reply") return StationMode::short_reply;
    if (name == "wrong-tns") return StationMode::wrong_tns;
    return std::nullopt;
}

std::optional<unsigned> parse_tool_number(std::string_view text, unsigned max) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    unsigned v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
    if (ec != std::errc{} || end != text.data() + text.size() || text.empty() || v > max) return std::nullopt;
    return v;
}

bool add_file_from_argument(ControllerNetwork& network, uint8_t station, std::string_view argument) {
    // "N7:100" reads as an address whose element is the element count.
    const auto a = parse_data_address(argument);
    if (!a || a->element == 0 || a->bit || a->word != 0) return false;
    return network.add_file(station, a->file, a->file_type, a->element);
}

std::string run_tool_command(ControllerNetwork& network, std::string_view line) {
    const auto w = words_of(line);
    if (w.empty()) return failure("empty command");
    const std::string& verb = w[0];
    std::optional<unsigned> station;
    if (w.size() >= 2) station = parse_tool_number(w[1], 255);
    if (w.size() >= 2 && !station) return failure("bad station " + w[1]);
    const auto s = static_cast<uint8_t>(station.value_or(0));

    if (verb == "set" && w.size() == 4) {
        char* end = nullptr;
        const double v = std::strtod(w[3].c_str(), &end);
        if (end == w[3].c_str() || *end != '\0') return failure("bad value " + w[3]);
        if (network.set_value(s, w[2], v) != 0)
            return failure(std::string("cannot set ") + w[2] + ": " + std::strerror(errno));
        return "= ok";
    }
    if (verb == "get" && w.size() == 3) {
        const auto v = network.value(s, w[2]);
        if (!v) return failure("no value at " + w[2]);
        return "= S" + std::to_string(s) + " " + w[2] + " " + number_text(*v);
    }
    if (verb == "mode" && w.size() >= 3 && w.size() <= 5) {
        const auto mode = parse_station_mode(w[2]);
        const auto code = w.size() >= 4 ? parse_tool_number(w[3], 255) : std::optional<unsigned>(0);
        const auto count = w.size() >= 5 ? parse_tool_number(w[4], 1'000'000) : std::optional<unsigned>(0);
        if (!mode || !code || !count) return failure("bad mode command");
        network.set_mode(s, *mode, static_cast<uint8_t>(*code), *count);
        return "= ok";
    }
    if ((verb == "protect" || verb == "unprotect") && w.size() >= 3 && w.size() <= 4) {
        const auto file = parse_tool_number(w[2], 0xFFFF);
        const auto sts =
            w.size() == 4 ? parse_tool_number(w[3], 255) : std::optional<unsigned>(kStsProtected);
        if (!file || !sts) return failure("bad protect command");
        if (verb == "protect") {
            network.protect_file(s, static_cast<uint16_t>(*file), static_cast<uint8_t>(*sts));
        } else {
            network.unprotect_file(s, static_cast<uint16_t>(*file));
        }
        return "= ok";
    }
    if (verb == "type" && w.size() == 3) {
        const auto type = parse_tool_number(w[2], 255);
        if (!type) return failure("bad type");
        network.set_processor_type(s, static_cast<uint8_t>(*type));
        return "= ok";
    }
    if (verb == "program" && w.size() >= 4 && w.size() <= 5) {
        const bool toggle = w[3] == "toggle" && w.size() == 4;
        int amount = 1;
        if (!toggle) {
            char* end = nullptr;
            const long v = w.size() == 5 ? std::strtol(w[4].c_str(), &end, 10) : 1;
            if (w[3] != "add" || (end != nullptr && (end == w[4].c_str() || *end != '\0')) || v < -32768 ||
                v > 65535)
                return failure("bad program command");
            amount = static_cast<int>(v);
        }
        const auto kind = toggle ? ControllerNetwork::StepKind::toggle : ControllerNetwork::StepKind::add;
        if (!network.add_program_step(s, w[2], kind, amount)) return failure("cannot program " + w[2]);
        return "= ok";
    }
    return failure("unknown command: " + std::string(line));
}

}  // namespace sim_controller
