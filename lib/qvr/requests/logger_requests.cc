// Logger requests and the LOGCAP.TXT fallback.
#include "qvr/requests/logger_requests.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "qvr/link/link.h"
#include "qvr/link/link_backend.h"
#include "qvr/logger_config/logger_config.h"
#include "qvr/requests/list_file.h"
#include "qvr/requests/processor_requests.h"
#include "qvr/requests/reply_parsers.h"
#include "qvr/requests/request_text.h"
#include "qvr/settings/reg.h"
#include "qvr/util/bounded_copy.h"

using namespace qvr::requests;

namespace {

constexpr int kBytesPerLogger = 150;
constexpr uint32_t kNameReplySize = 28;
constexpr std::size_t kLoggerNameMax = 24;
constexpr std::size_t kDescriptionFirst = 1;  // characters 2 to 25 of the logger's record
constexpr std::size_t kDescriptionMax = 24;

std::string loggers_folder(const char* server) {
    const char* folder = link_ResolveFolder(server, "QVR_CURRENT_CONFIG");
    if (folder == nullptr) return {};
    const std::string base = folder;
    return base + (base.find('/') == std::string::npos && base.find('\\') != std::string::npos ? "\\" : "/") +
           "LOGGERS";
}

std::string logcap_path(const char* server) {
    const std::string folder = loggers_folder(server);
    return folder.empty() ? folder : list_file_path(folder, "LOGCAP.TXT");
}

// The description of logger `number` of `kind`: characters 2 to 25 of its record, read as
// the logger's configuration is read (its XML file where that is switched on).
void describe(const std::string& folder, LoggerInfoRecord& record) {
    std::vector<uint8_t> bytes(kDescriptionFirst + kDescriptionMax + 1, 0);
    if (cfg_LoadLoggerConfig(folder.c_str(), record.kind, record.number, bytes.data(),
                             static_cast<int32_t>(bytes.size())) != 0)
        return;
    std::string text(reinterpret_cast<const char*>(bytes.data()) + kDescriptionFirst, kDescriptionMax);
    qvr::copy_cut(text.substr(0, text.find('\0')), record.description, sizeof record.description);
}

int loggers_from_file(const char* server, const Selector& selector, LoggerInfoRecord* records, int capacity) {
    int wanted = selector.n;
    if (selector.kind == Selector::Kind::first) {
        const int count = CountLoggers(server);
        if (count < wanted) wanted = count < 0 ? 0 : count;
    }
    const std::string path = logcap_path(server);
    if (path.empty() || OpenListFile(path.c_str()) != 0) return -1;
    const std::string folder = loggers_folder(server);
    int filled = 0;
    int position = 0;
    ListLine line;
    while (filled < capacity && next_list_line(5, line)) {
        LoggerInfoRecord record;
        std::string message;
        if (!logger_from_line(line.fields, record, message)) {
            ReportListError(message.c_str(), line.text.c_str());
            CloseListFile();
            return kListLineInvalid;
        }
        record.number = static_cast<int16_t>(++position);
        const bool take = selector.kind == Selector::Kind::first ? filled < wanted
                          : selector.kind == Selector::Kind::index
                              ? position == selector.n
                              : platform::equal_ignoring_case(record.kind, selector.name);
        if (take) {
            describe(folder, record);
            records[filled++] = record;
        }
        if (selector.kind == Selector::Kind::first ? filled >= wanted : filled > 0) break;
    }
    CloseListFile();
    return filled;
}

int simple(const char* server, const std::string& text) {
    Reply reply;
    return send_text(server, text, kResultReplySize, reply);
}

int with_user(const char* server, const char* code, const char* name) {
    if (name == nullptr || !field_ok(name, ',')) return refuse();
    const std::string head = std::string(code) + name + ",";
    constexpr std::size_t kTextMax = 164;  // a 165-character text with its NUL
    if (head.size() > kTextMax) return refuse();
    return simple(server, head + user_name_cut(kTextMax - head.size()));
}

int two_fields(const char* server, const char* code, const char* first, const char* second) {
    if (first == nullptr || second == nullptr || !field_ok(first, ',') || !field_ok(second, ','))
        return refuse();
    return simple(server, std::string(code) + first + "," + second);
}

std::mutex& question_mutex() {
    static std::mutex mutex;
    return mutex;
}

qvr::YesNoQuestion& question() {
    static qvr::YesNoQuestion q;
    return q;
}

bool ask(const std::string& title, const std::string& text) {
    qvr::YesNoQuestion q;
    {
        std::lock_guard lock(question_mutex());
        q = question();
    }
    return q && q(title, text);
}

// The loggers this thread disabled, to be enabled again.
std::vector<std::string>& kept_loggers() {
    thread_local std::vector<std::string> kept;
    return kept;
}

// Enables `names` again; false when one failed (each is tried).
bool enable_all(const char* server, const std::vector<std::string>& names) {
    bool all = true;
    int first_error = 0;
    for (const std::string& name : names) {
        if (EnableLogger(server, name.c_str()) == -1) {
            if (all) first_error = platform::last_error();
            all = false;
            qvr::link_internal::trace_line("Can't re-enable logger %s (error %d)\r\n", name.c_str(),
                                           platform::last_error());
        }
    }
    if (!all) platform::set_last_error(first_error);
    return all;
}

}  // namespace

int CountLoggers(const char* server) {
    Reply reply;
    const int result = send_text(server, "QL", kResultReplySize, reply);
    if (result != -1) return result;
    const std::string path = logcap_path(server);
    return path.empty() ? -1 : count_list_entries(path);
}

int GetLoggerInfo(const char* server, const char* selector, LoggerInfoRecord* records, int capacity) {
    if (selector == nullptr || !selector_ok(selector) || capacity < 0 || (capacity > 0 && records == nullptr))
        return refuse();
    const auto s = selector_of(selector);
    const bool fits = s->kind != Selector::Kind::first || static_cast<long long>(s->n) * kBytesPerLogger <=
                                                              static_cast<long long>(kListReplySize);
    if (fits) {
        Reply reply;
        const int result = send_text(server, std::string("IL,") + selector, kListReplySize, reply);
        if (result == 0) return 0;
        if (result != -1) {
            const int parsed = parse_logger_list(reply.text(), records, capacity);
            if (parsed < 0) platform::set_last_error(platform::kErrorInvalidData);
            return parsed;
        }
    }
    return loggers_from_file(server, *s, records, capacity);
}

int GetLoggerState(const char* server, const char* selector, LoggerStateRecord* records, int capacity) {
    if (selector == nullptr || !selector_ok(selector) || capacity < 0 || (capacity > 0 && records == nullptr))
        return refuse();
    Reply reply;
    const int result = send_text(server, std::string("TL,") + selector, kListReplySize, reply);
    if (result == -1 || result == 0) return result;
    const int parsed = parse_logger_state(reply.text(), records, capacity);
    if (parsed < 0) platform::set_last_error(platform::kErrorInvalidData);
    return parsed;
}

int GetLoggerName(const char* server, int number, char* name, uint32_t size) {
    Reply reply;
    const int result = send_text(server, "NL," + std::to_string(number), kNameReplySize, reply);
    const std::string_view text = reply.text();
    qvr::copy_cut(result == 1 && text.size() > 2 ? cut(text.substr(2), kLoggerNameMax) : std::string(), name,
                  size);
    return result;
}

int ReadLogger(const char* server, const char* name) {
    if (name == nullptr || !field_ok(name, ',')) return refuse();
    return simple(server, std::string("RL,") + name);
}

int ControlLogger(const char* server, int code, const char* name) {
    if (name == nullptr || !field_ok(name, ',')) return refuse();
    std::string text = std::string("CL,") + name + ",";
    if (code >= 256) {
        text += std::to_string(code);
    } else {
        const char letter = platform::ascii_upper(static_cast<char>(code));
        if (letter != 'F' && letter != 'S') {
            platform::set_last_error(0);
            return -1;
        }
        text += letter;
    }
    return simple(server, text);
}

int DisableLogger(const char* server, const char* name) {
    return with_user(server, "DL,", name);
}

int EnableLogger(const char* server, const char* name) {
    return with_user(server, "EL,", name);
}

int RequestML(const char* server, const char* first, const char* second) {
    return two_fields(server, "ML,", first, second);
}

int RequestXL(const char* server, const char* first, const char* second) {
    return two_fields(server, "XL,", first, second);
}

int RequestYL(const char* server, const char* first, const char* second) {
    return two_fields(server, "YL,", first, second);
}

int IsReconfigureLoggersOn(const char* server) {
    if (link_GetServerKind(server) == kServerPipe && !link_IsLocalServer(server)) return 0;
    char value[16] = {};
    uint32_t type = 0;
    uint32_t size = sizeof value - 1;
    if (reg_AccessProductValue(platform::RegistryHive::machine, kProductKey, platform::kKeyQueryValue,
                               "ReconfigureLoggers", &type, value, &size) != 0 ||
        type != kRegSz)
        return 0;
    return platform::starts_with_ignoring_case(std::string_view(value, strnlen(value, sizeof value)), "ON")
               ? 1
               : 0;
}

int DisableLoggers(const char* server) {
    auto& kept = kept_loggers();
    kept.clear();
    if (!IsReconfigureLoggersOn(server)) return 0;
    const int count = CountLoggers(server);
    if (count == 0) return 0;
    if (count < 0 || count > kLoggersMax) return -1;
    std::vector<LoggerStateRecord> states(static_cast<std::size_t>(count));
    const int got = GetLoggerState(server, ("*," + std::to_string(count)).c_str(), states.data(), count);
    if (got < 0) return -1;
    std::vector<std::string> enabled;
    for (int i = 0; i < got; ++i)
        if (states[static_cast<std::size_t>(i)].state[0] != 0)
            enabled.emplace_back(states[static_cast<std::size_t>(i)].name);
    if (enabled.empty()) return 0;
    if (!ask("Reconfigure Loggers", "Do you wish to disable and re-enable loggers")) return 0;
    for (const std::string& name : enabled) {
        if (DisableLogger(server, name.c_str()) == -1) {
            const int error = platform::last_error();
            qvr::link_internal::trace_line("Can't disable logger %s (error %d)\r\n", name.c_str(), error);
            enable_all(server, kept);
            kept.clear();
            platform::set_last_error(error);
            return -1;
        }
        kept.push_back(name);
    }
    return 0;
}

int ReenableLoggers(const char* server) {
    auto& kept = kept_loggers();
    if (kept.empty()) return 0;
    const std::vector<std::string> names = std::move(kept);
    kept.clear();
    // Loggers this thread disabled are enabled again even if the switch went off meanwhile.
    return enable_all(server, names) ? 0 : -1;
}

namespace qvr {

YesNoQuestion set_yes_no_question(YesNoQuestion q) {
    std::lock_guard lock(question_mutex());
    YesNoQuestion previous = std::move(question());
    question() = std::move(q);
    return previous;
}

}  // namespace qvr
