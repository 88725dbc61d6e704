// The rules of DATPROC.TXT, DEVCAP.TXT and LOGCAP.TXT lines.
#include <cctype>
#include <cstring>

#include "platform/ascii_text.h"
#include "qvr/ext/ext.h"
#include "qvr/requests/list_file.h"
#include "qvr/requests/request_text.h"
#include "qvr/util/bounded_copy.h"

namespace qvr::requests {
namespace {

constexpr std::size_t kNameMax = 8;
constexpr std::size_t kPrintNameMax = 24;
constexpr int kDeviceNumberMax = 99;
constexpr int kChannelsMax = 62500;

std::string field(const std::vector<std::string>& fields, std::size_t i) {
    return i < fields.size() ? fields[i] : std::string();
}

bool prefix_letters(std::string_view prefix) {
    if (prefix.empty() || prefix.size() > 2) return false;
    for (char c : prefix)
        if (!std::isalpha(static_cast<unsigned char>(c))) return false;
    return true;
}

// "%3hd": blanks, then at most three characters of an optional sign and digits.
bool device_number(std::string_view text, int& number) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    text = text.substr(0, 3);
    std::size_t i = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
    const std::size_t first = i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) ++i;
    if (i == first) return false;
    number = static_cast<int>(*number_of(text.substr(0, i)));
    return true;
}

bool fail(std::string& message, const char* text) {
    message = text;
    return false;
}

}  // namespace

bool processor_from_line(const std::vector<std::string>& fields, std::span<const ProcessorRecord> earlier,
                         ProcessorRecord& record, std::string& message) {
    record = ProcessorRecord{};
    qvr::ProcessorLine line;
    const bool valid = qvr::check_processor_line(fields, line, message);
    const std::string name = field(fields, 0);
    const std::string print = field(fields, 1);
    if (name.empty() || name.size() > kNameMax || print.size() > kPrintNameMax)
        return false;  // the names' own rules
    // Duplicates are judged before the channel field, as the rules are ordered.
    const std::string upper = platform::ascii_upper_copy(name);
    const std::string& shown = print.empty() ? name : print;
    for (const ProcessorRecord& e : earlier) {
        if (upper == e.name) return fail(message, "duplicate processor name");
        if (shown == e.print_name) return fail(message, "duplicate processor print name");
    }
    if (!valid) return false;
    qvr::copy_cut(line.name, record.name, sizeof record.name);
    qvr::copy_cut(line.print_name, record.print_name, sizeof record.print_name);
    std::memcpy(record.prefix, line.prefix.data(), line.prefix.size() < 2 ? line.prefix.size() : 2);
    record.channel_count =
        static_cast<uint16_t>(line.name == "ALARM" ? line.alarm_queue : line.channel_count);
    record.run = line.run ? 1 : 0;
    record.type = static_cast<uint8_t>(line.type);
    return true;
}

bool device_from_line(const std::vector<std::string>& fields, std::span<const DeviceInfoRecord> earlier,
                      DeviceInfoRecord& record, std::string& message) {
    record = DeviceInfoRecord{};
    const std::string name = field(fields, 0);
    if (name.empty()) return fail(message, "no device name specified");
    if (name.size() > kNameMax) return fail(message, "device name too long");
    int number = 0;
    if (!device_number(field(fields, 1), number)) return fail(message, "no device number specified");
    if (number < 1 || number > kDeviceNumberMax) return fail(message, "invalid device number");
    const std::string print = field(fields, 2);
    if (print.empty()) return fail(message, "no print name specified");
    if (print.size() > kPrintNameMax) return fail(message, "print name too long");
    const std::string key = platform::ascii_upper_copy(name) + "_" + std::to_string(number);
    for (const DeviceInfoRecord& e : earlier) {
        if (key == e.key) return fail(message, "duplicate device name and number");
        if (print == e.print_name) return fail(message, "duplicate print name");
    }
    bool any = false;
    for (int kind = 0; kind < kChannelKinds; ++kind) {
        const std::string range = field(fields, 3 + static_cast<std::size_t>(kind));
        if (range.empty()) continue;
        const std::size_t colon = range.find(':');
        const std::string prefix = range.substr(0, colon);
        const auto count =
            colon == std::string::npos ? std::optional<long long>(0) : number_of(range.substr(colon + 1));
        if (!prefix_letters(prefix)) return fail(message, "invalid channel prefix");
        if (!count || *count < 1 || *count > kChannelsMax) return fail(message, "invalid number of channels");
        std::memcpy(record.ranges[kind].prefix, prefix.data(), prefix.size());
        record.ranges[kind].count = static_cast<uint16_t>(*count);
        any = true;
    }
    if (!any) return fail(message, "no channel range(s) defined");
    qvr::copy_cut(name, record.name, sizeof record.name);
    record.number = static_cast<int16_t>(number);
    qvr::copy_cut(print, record.print_name, sizeof record.print_name);
    qvr::copy_cut(key, record.key, sizeof record.key);
    return true;
}

bool logger_from_line(const std::vector<std::string>& fields, LoggerInfoRecord& record,
                      std::string& message) {
    record = LoggerInfoRecord{};
    const std::string kind = field(fields, 0);
    if (kind.empty()) return fail(message, "no logger name specified");
    if (kind.size() > kNameMax) return fail(message, "logger type name too long");
    qvr::copy_cut(platform::ascii_lower_copy(kind), record.kind, sizeof record.kind);
    return true;
}

}  // namespace qvr::requests
