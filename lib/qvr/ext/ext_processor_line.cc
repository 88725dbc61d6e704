// The rules of a processor line of DATPROC.TXT, as far as one line can be judged alone.

#include <cctype>
#include <charconv>
#include <string>

#include "platform/ascii_text.h"
#include "qvr/ext/ext.h"

namespace {

bool letters(std::string_view text) {
    if (text.empty() || text.size() > 2) return false;
    for (char c : text)
        if (!std::isalpha(static_cast<unsigned char>(c))) return false;
    return true;
}

bool read_number(std::string_view text, int& value) {
    if (text.empty()) return false;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc{} && end == text.data() + text.size();
}

}  // namespace

namespace qvr {

bool check_processor_line(std::span<const std::string> fields, ProcessorLine& line, std::string& message) {
    auto field = [&](size_t i) { return i < fields.size() ? fields[i] : std::string(); };
    line = ProcessorLine{};
    std::string name = field(0);
    if (name.empty()) {
        message = "no processor name specified";
        return false;
    }
    if (name.size() > 8) {
        message = "processor name too long";
        return false;
    }
    line.name = platform::ascii_upper_copy(name);
    std::string print = field(1);
    if (print.size() > 24) {
        message = "processor print name too long";
        return false;
    }
    line.print_name = print.empty() ? name : print;
    line.run = platform::equal_ignoring_case(field(3).c_str(), "run");
    const bool alarm = line.name == "ALARM";
    const std::string spec = field(2);
    if (alarm) {
        if (line.run) {
            line.alarm_queue = 256;
            if (!spec.empty() &&
                (!read_number(spec, line.alarm_queue) || line.alarm_queue < 2 || line.alarm_queue > 1000)) {
                message = "invalid number of alarm queue entries";
                return false;
            }
        }
        return true;
    }
    const bool modb = platform::starts_with_ignoring_case(name, "modb");
    if (!spec.empty()) {
        if (spec.size() > 1 && spec[1] == '-') {
            const char letter = platform::ascii_upper(spec[0]);
            if (modb) {
                line.type = 6;
            } else if (letter == 'A' || letter == 'D') {
                line.type = letter == 'A' ? 2 : 3;
            } else {
                message = "channel type must be A or D";
                return false;
            }
        }
        std::string rest = spec.size() > 2 ? spec.substr(2) : std::string();
        size_t colon = rest.find(':');
        line.prefix = rest.substr(0, colon).substr(0, 2);
        line.channel_count = 0;
        if (colon != std::string::npos &&
            !read_number(std::string_view(rest).substr(colon + 1), line.channel_count))
            line.channel_count = -1;
        if (!letters(line.prefix)) {
            message = "invalid channel prefix";
            return false;
        }
        if (line.channel_count < 1 || line.channel_count > 62500) {
            message = "invalid number of channels";
            return false;
        }
    }
    if (line.name == "USERA") line.type = 2;
    return true;
}

}  // namespace qvr
