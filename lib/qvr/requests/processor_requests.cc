// Processor and device requests, with the DATPROC.TXT and DEVCAP.TXT fallbacks.
#include "qvr/requests/processor_requests.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "qvr/link/link.h"
#include "qvr/requests/list_file.h"
#include "qvr/requests/logger_requests.h"
#include "qvr/requests/reply_parsers.h"
#include "qvr/requests/request_text.h"
#include "qvr/settings/reg.h"

using namespace qvr::requests;

namespace qvr::requests {

std::optional<Selector> selector_of(std::string_view text) {
    Selector s;
    if (text.starts_with("*,")) {
        const auto n = number_of(text.substr(2));
        if (!n || *n < 0 || *n > INT32_MAX) return std::nullopt;
        s.n = static_cast<int>(*n);
        return s;
    }
    if (const auto k = number_of(text); k && *k >= 1 && *k <= INT32_MAX) {
        s.kind = Selector::Kind::index;
        s.n = static_cast<int>(*k);
        return s;
    }
    s.kind = Selector::Kind::name;
    s.name = std::string(text);
    return s;
}

}  // namespace qvr::requests

namespace {

constexpr std::size_t kProcessorFields = 5;
constexpr std::size_t kDeviceFields = 9;

// How a line answers a name selector: exactly, or on its first five characters only.
enum class Match { none, near, exact };

std::string list_path(const char* server, const char* file) {
    const char* folder = link_ResolveFolder(server, "QVR_CURRENT_CONFIG");
    return folder != nullptr ? list_file_path(folder, file) : std::string();
}

int count_with_fallback(const char* server, const char* code, const char* file) {
    Reply reply;
    const int result = send_text(server, code, kResultReplySize, reply);
    if (result != -1) return result;
    const std::string path = list_path(server, file);
    return path.empty() ? -1 : count_list_entries(path);
}

// Lines of a list file that the selector picks, each passing its rule given the lines
// before it.
template <typename Record, typename Rule, typename Matches>
int records_from_file(const char* server, const char* file, std::size_t fields, const Selector& selector,
                      Record* records, int capacity, Rule rule, Matches matches) {
    const std::string path = list_path(server, file);
    if (path.empty() || OpenListFile(path.c_str()) != 0) return -1;
    std::vector<Record> seen;
    int filled = 0;
    int position = 0;
    std::optional<Record> near;  // a name selector's first match on five characters
    ListLine line;
    while (next_list_line(fields, line)) {
        Record record;
        std::string message;
        if (!rule(line.fields, std::span<const Record>(seen), record, message)) {
            ReportListError(message.c_str(), line.text.c_str());
            CloseListFile();
            return kListLineInvalid;
        }
        seen.push_back(record);
        ++position;
        Match match = Match::none;
        if (selector.kind == Selector::Kind::first)
            match = filled < selector.n ? Match::exact : Match::none;
        else if (selector.kind == Selector::Kind::index)
            match = position == selector.n ? Match::exact : Match::none;
        else
            match = matches(record, selector.name);
        if (match == Match::near && !near) near = record;
        if (match == Match::exact && filled < capacity) records[filled++] = record;
        const bool done =
            selector.kind == Selector::Kind::first ? filled >= selector.n || filled >= capacity : filled > 0;
        if (done) break;
    }
    CloseListFile();
    if (filled == 0 && near && capacity > 0) records[filled++] = *near;
    return filled;
}

Match name_match(std::string_view name, std::string_view wanted) {
    if (platform::equal_ignoring_case(name, wanted)) return Match::exact;
    return platform::prefix_equal_ignoring_case(name, wanted, 5) ? Match::near : Match::none;
}

template <typename Record, typename Parse>
int list_request(const char* server, const char* code, const char* selector, Record* records, int capacity,
                 Parse parse, bool& failed) {
    failed = false;
    if (selector == nullptr || !selector_ok(selector) || capacity < 0 || (capacity > 0 && records == nullptr))
        return refuse();
    Reply reply;
    const int result = send_text(server, std::string(code) + selector, kListReplySize, reply);
    if (result == -1) {
        failed = true;
        return -1;
    }
    if (result == 0) return 0;
    const int parsed = parse(reply.text(), records, capacity);
    if (parsed < 0) platform::set_last_error(platform::kErrorInvalidData);
    return parsed;
}

int simple(const char* server, const char* code, const char* name) {
    if (name == nullptr || !field_ok(name, ',')) return refuse();
    Reply reply;
    return send_text(server, std::string(code) + name, kResultReplySize, reply);
}

// The request text of a control code, or "" (errno 0) for a code the family refuses.
std::string control_text(const char* family, const char* name, int code, std::string_view letters) {
    std::string text = std::string(family) + name + ",";
    if (code >= 256) return text + std::to_string(code);
    const char letter = platform::ascii_upper(static_cast<char>(code));
    if (code <= 0 || letters.find(letter) == std::string_view::npos) return {};
    return text + letter;
}

int control(const char* server, const char* family, int code, const char* name, std::string_view letters,
            std::string_view around_loggers) {
    if (name == nullptr || !field_ok(name, ',')) return refuse();
    const std::string text = control_text(family, name, code, letters);
    if (text.empty()) {
        errno = 0;
        platform::set_last_error(0);
        return -1;
    }
    const bool loggers = code < 256 && around_loggers.find(platform::ascii_upper(static_cast<char>(code))) !=
                                           std::string_view::npos;
    if (loggers && DisableLoggers(server) < 0) return -1;
    Reply reply;
    int result = send_text(server, text, kResultReplySize, reply);
    if (loggers) {
        const int error = platform::last_error();
        if (ReenableLoggers(server) < 0)
            result = -1;
        else if (result == -1)
            platform::set_last_error(error);
    }
    return result;
}

}  // namespace

int CountProcessors(const char* server) {
    return count_with_fallback(server, "QP,", "DATPROC.TXT");
}

int CountDevices(const char* server) {
    return count_with_fallback(server, "QE,", "DEVCAP.TXT");
}

int GetProcessorInfo(const char* server, const char* selector, ProcessorRecord* records, int capacity) {
    bool failed = false;
    const int result = list_request(server, "IP,", selector, records, capacity, parse_processor_list, failed);
    if (!failed) return result;
    const auto s = selector_of(selector);
    return records_from_file(
        server, "DATPROC.TXT", kProcessorFields, *s, records, capacity, processor_from_line,
        [](const ProcessorRecord& r, const std::string& name) { return name_match(r.name, name); });
}

int GetDeviceInfo(const char* server, const char* selector, DeviceInfoRecord* records, int capacity) {
    bool failed = false;
    const int result = list_request(server, "IE,", selector, records, capacity, parse_device_list, failed);
    if (!failed) return result;
    const auto s = selector_of(selector);
    return records_from_file(server, "DEVCAP.TXT", kDeviceFields, *s, records, capacity, device_from_line,
                             [](const DeviceInfoRecord& r, const std::string& name) {
                                 return platform::equal_ignoring_case(r.key, name) ? Match::exact
                                                                                   : name_match(r.name, name);
                             });
}

int GetProcessorState(const char* server, const char* selector, ProcessorStateRecord* records, int capacity) {
    bool failed = false;
    return list_request(server, "TP,", selector, records, capacity, parse_processor_state, failed);
}

int GetDeviceState(const char* server, const char* selector, DeviceStateRecord* records, int capacity) {
    bool failed = false;
    return list_request(server, "TE,", selector, records, capacity, parse_device_state, failed);
}

int ControlProcessor(const char* server, int code, const char* name) {
    return control(server, "CP,", code, name, "CIRT", "CT");
}

int ControlDevice(const char* server, int code, const char* name) {
    return control(server, "CE,", code, name, "CIR", "C");
}

int DeleteProcessor(const char* server, const char* name) {
    return simple(server, "DP,", name);
}

int EnableProcessor(const char* server, const char* name) {
    return simple(server, "EP,", name);
}

int DeleteDevice(const char* server, const char* name) {
    return simple(server, "DE,", name);
}

int EnableDevice(const char* server, const char* name) {
    return simple(server, "EE,", name);
}

int IsEnabledFromDesktop(const char* server, const char* print_name) {
    if (print_name == nullptr || link_GetServerKind(server) != kServerPipe || !link_IsLocalServer(server))
        return 0;
    const std::string value_name = std::string(print_name) + " From Desktop";
    char value[16] = {};
    uint32_t type = 0;
    uint32_t size = sizeof value - 1;
    if (reg_AccessProductValue(platform::RegistryHive::machine, kProductKey, platform::kKeyQueryValue,
                               value_name.c_str(), &type, value, &size) != 0 ||
        type != kRegSz)
        return 0;
    value[size < sizeof value ? size : sizeof value - 1] = '\0';
    return platform::equal_ignoring_case(value, "ON") ? 1 : 0;
}
