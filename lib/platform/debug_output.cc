#include "platform/debug_output.h"

#include <syslog.h>

#include <mutex>
#include <string>

#include "platform/secret_mask.h"
#include "platform/testing/debug_output_testing.h"

namespace platform {
namespace {

std::mutex& capture_mutex() {
    static std::mutex m;
    return m;
}

std::function<void(std::string_view)>& capture_function() {
    static std::function<void(std::string_view)> f;
    return f;
}

}  // namespace

void debug_output(std::string_view text) {
    // The system log is read by more people than the process's own user.
    const std::string line = mask_secrets(text);
    std::function<void(std::string_view)> capture;
    {
        std::lock_guard lock(capture_mutex());
        capture = capture_function();
    }
    if (capture) {
        capture(line);
        return;
    }
    syslog(LOG_DEBUG, "%s", line.c_str());
}

std::function<void(std::string_view)> set_debug_output_capture(
    std::function<void(std::string_view)> capture) {
    std::lock_guard lock(capture_mutex());
    std::swap(capture_function(), capture);
    return capture;
}

}  // namespace platform
