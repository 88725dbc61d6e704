#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

#include "platform/ascii_text.h"
#include "platform/debug_output.h"
#include "platform/file_io.h"
#include "platform/secret_mask.h"
#include "qvr/diag/debug_trace.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/trace_testing.h"
#include "qvr/util/rt.h"
#include "qvr/diag/trace.h"

namespace {

constexpr uint32_t kTextBuffer = 261;  // values longer than 260 characters count as absent
constexpr size_t kDebuggerLimit = 4998;
constexpr size_t kDebuggerKeep = 4999;

constexpr std::array<const char*, CDebugTrace::kCounterCount> kCounterValues = {
    "_DebugRxCount",           "_DebugTxCount",          "_DebugRxTimeoutCount",  "_DebugTxTimeoutCount",
    "_DebugRxCommErrorCount",  "_DebugTxCommErrorCount", "_DebugRxCRCErrorCount", "_DebugTxCRCErrorCount",
    "_DebugRxGoodPacketCount", "_DebugTxGoodPacketCount"};

struct TraceHolder {
    std::recursive_mutex mutex;
    std::unique_ptr<CDebugTrace> trace;
};

TraceHolder& holder() {
    static TraceHolder h;
    return h;
}

}  // namespace

CDebugTrace::CDebugTrace(std::string_view name) : name_(name.substr(0, kNameMax)) {
    debugger_.reserve(kDebuggerBuffer);
    const std::string path = std::string(kMakerKey) + "\\" + reg_GetProductName();
    // Read access only: a process that may not write the machine hive still traces.
    if (platform::RegistryKey::create(platform::RegistryHive::machine, path, platform::kKeyRead, key_) != 0)
        return;
    key_open_ = true;
    platform::RegistryWatch::start(platform::RegistryHive::machine, path, watch_);
    read_settings();
}

CDebugTrace::~CDebugTrace() {
    close_file();
}

void CDebugTrace::close_file() {
    file_.reset();
}

bool CDebugTrace::read_text(const char* suffix, std::string& text) const {
    char buffer[kTextBuffer];
    uint32_t type = 0;
    uint32_t size = sizeof buffer;
    if (key_.query_value(name_ + suffix, &type, buffer, &size) != 0 || type != kRegSz) return false;
    buffer[std::min<uint32_t>(size, sizeof buffer - 1)] = 0;
    text = buffer;
    return true;
}

bool CDebugTrace::parse_counter(std::string_view text, TraceCounterSetting& setting) {
    using platform::ascii_upper;
    setting = TraceCounterSetting{};
    if (text.empty() || text.size() > 7) return false;
    if (ascii_upper(text[0]) < 'A' || ascii_upper(text[0]) > 'Z') return false;
    TraceCounterSetting parsed;
    size_t i = 0;
    for (; i < text.size() && ascii_upper(text[i]) >= 'A' && ascii_upper(text[i]) <= 'Z'; ++i) {
        if (i == 2) return false;
        parsed.prefix[i] = ascii_upper(text[i]);
    }
    if (i == text.size()) return false;
    int number = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        number = number * 10 + (text[i] - '0');
        if (number > 10000) return false;
    }
    if (number < 1) return false;
    parsed.number = static_cast<int16_t>(number);
    setting = parsed;
    return true;
}

void CDebugTrace::read_settings() {
    std::string text;
    const int on = read_text("_Debug", text) && platform::starts_with_ignoring_case(text, "ON") ? 1 : 0;
    // Type and file changes take effect only when the trace is switched off and on again.
    if (on == on_) return;
    on_ = on;
    if (on != 0) {
        outputs_ = kDebugger;
        debugger_.clear();
        std::string type;
        if (read_text("_DebugType", type)) {
            if (type.find("CON") != std::string::npos) outputs_ |= kConsole;
            if (type.find("FILE") != std::string::npos) outputs_ |= kFile;
        }
    } else {
        outputs_ = 0;
    }

    if ((outputs_ & kFile) != 0) {
        std::string path;
        if (read_text("_DebugFile", path) && !file_ && !path.empty()) {
            std::replace(path.begin(), path.end(), '\\', '/');
            // Appending, so that another writer of the same file never overwrites these lines.
            file_ = platform::open_file(path, O_RDWR | O_CREAT | O_TRUNC | O_APPEND,
                                        rt_GetOpenSecurityAttributes()->object_mode);
        }
    } else {
        close_file();
    }
    console_ = (outputs_ & kConsole) != 0;

    counters_.fill(TraceCounterSetting{});
    if (on != 0) {
        for (size_t i = 0; i < kCounterValues.size(); ++i) {
            std::string setting;
            if (read_text(kCounterValues[i], setting)) parse_counter(setting, counters_[i]);
        }
    }
}

void CDebugTrace::write_debugger(std::string_view text) {
    if (debugger_.empty()) debugger_ = name_ + " : ";
    if (debugger_.size() + text.size() > kDebuggerLimit) {
        // An over-long message keeps its end, where the line's news usually is.
        const size_t room = kDebuggerKeep > debugger_.size() ? kDebuggerKeep - debugger_.size() : 0;
        debugger_.append(text.substr(text.size() - std::min(room, text.size())));
    } else {
        debugger_.append(text);
    }
    if (!text.empty() && text.back() == '\n') {
        if (debugger_.back() != '\n' && debugger_.size() >= 2)
            debugger_.replace(debugger_.size() - 2, 2, "\r\n");
        platform::debug_output(debugger_);
        debugger_.clear();
    }
}

void CDebugTrace::write(std::string_view given) {
    if (key_open_ && watch_.active() && watch_.changed()) read_settings();
    if (outputs_ == 0) return;
    // Console and file are read by others too: no password leaves in clear.
    const std::string masked = platform::mask_secrets(given);
    const std::string_view text = masked;
    // The trace never fails its caller.
    if (console_) (void)platform::write_all(STDERR_FILENO, text);
    if ((outputs_ & kFile) != 0 && file_) (void)platform::append_whole(file_.get(), text);
    if ((outputs_ & kDebugger) != 0) write_debugger(text);
}

void trace_Create(const char* name) {
    TraceHolder& h = holder();
    std::lock_guard lock(h.mutex);
    h.trace.reset();
    h.trace = std::make_unique<CDebugTrace>(name != nullptr ? name : "");
}

void trace_Destroy() {
    TraceHolder& h = holder();
    std::lock_guard lock(h.mutex);
    h.trace.reset();
}

int trace_Write(const char* text) {
    TraceHolder& h = holder();
    std::lock_guard lock(h.mutex);
    if (!h.trace) return 0;
    if (text != nullptr) h.trace->write(text);
    return 1;
}

void trace_WriteHex(const void* bytes, size_t count) {
    if (bytes == nullptr) return;
    TraceHolder& h = holder();
    std::lock_guard lock(h.mutex);
    if (!h.trace) return;
    const auto* p = static_cast<const unsigned char*>(bytes);
    for (size_t i = 0; i < count; ++i) {
        char text[8];
        std::snprintf(text, sizeof text, "0x%02x ", p[i]);
        h.trace->write(text);
    }
}

int trace_IsOn() {
    TraceHolder& h = holder();
    std::lock_guard lock(h.mutex);
    return h.trace && h.trace->outputs() != 0 ? 1 : 0;
}

void trace_RxCount(int) {}
void trace_TxCount(int) {}
void trace_RxTimeoutCount(int) {}
void trace_TxTimeoutCount(int) {}
void trace_RxCommErrorCount(int) {}
void trace_TxCommErrorCount(int) {}
void trace_RxCrcErrorCount(int) {}
void trace_TxCrcErrorCount(int) {}
void trace_RxGoodPacketCount(int) {}
void trace_TxGoodPacketCount(int) {}

namespace qvr {

bool trace_snapshot(uint8_t& outputs, std::array<TraceCounterSetting, CDebugTrace::kCounterCount>& counters) {
    TraceHolder& h = holder();
    std::lock_guard lock(h.mutex);
    if (!h.trace) return false;
    outputs = h.trace->outputs();
    counters = h.trace->counters();
    return true;
}

}  // namespace qvr
