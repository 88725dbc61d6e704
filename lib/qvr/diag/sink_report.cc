#include "qvr/diag/sink.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <mutex>
#include <string>

#include "platform/event_log.h"
#include "platform/file_io.h"
#include "platform/secret_mask.h"
#include "qvr/settings/env.h"
#include "qvr/settings/reg.h"
#include "qvr/testing/sink_testing.h"
#include "qvr/util/rt.h"

namespace {

std::mutex& capture_mutex() {
    static std::mutex m;
    return m;
}

std::function<void(const qvr::SinkEntry&)>& capture_function() {
    static std::function<void(const qvr::SinkEntry&)> f;
    return f;
}

// The log file of the product root: "hh:mm:ss mm/dd/yy " and the message, appended.
void append_to_log_file(const std::string& product, const std::string& message) {
    const char* root = env_GetVariable("QVR_");
    if (root == nullptr) return;
    std::string path = root;
    if (!path.empty() && path.back() != '/') path += '/';
    path += product + ".log";

    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%H:%M:%S %m/%d/%y ", &local);
    std::string entry = stamp + message;
    // One entry per line, so the file stays readable when a message brings no line end.
    if (entry.empty() || entry.back() != '\n') entry += '\n';

    const platform::UniqueFd fd =
        platform::open_file(path, O_WRONLY | O_CREAT | O_APPEND, rt_GetOpenSecurityAttributes()->object_mode);
    // One write per entry, so that entries of several processes never mix; a report never fails.
    if (fd) (void)platform::append_whole(fd.get(), entry);
}

}  // namespace

void sink_Report(const char* server, int type, const char* message) {
    qvr::SinkEntry entry;
    entry.server = server != nullptr ? server : ".";
    entry.source = reg_GetProductName();
    entry.type = type;
    entry.event_id = kSinkEventId;
    entry.message = platform::mask_secrets(message != nullptr ? message : "");

    std::function<void(const qvr::SinkEntry&)> capture;
    {
        std::lock_guard lock(capture_mutex());
        capture = capture_function();
    }
    if (capture) {
        capture(entry);
        return;
    }
    if (!platform::event_log_is_local(entry.server)) return;
    if (platform::event_log_report(entry.source, type, entry.event_id, entry.message) == 0) return;
    append_to_log_file(entry.source, entry.message);
}

namespace qvr {

std::function<void(const SinkEntry&)> set_sink_capture(std::function<void(const SinkEntry&)> capture) {
    std::lock_guard lock(capture_mutex());
    std::swap(capture_function(), capture);
    return capture;
}

}  // namespace qvr
