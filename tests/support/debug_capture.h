#pragma once
// Collects what the process writes to the debugger channel while it lives, from any thread.
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/debug_output.h"
#include "platform/testing/debug_output_testing.h"

namespace qvr_test {

class DebugCapture {
  public:
    DebugCapture() {
        platform::set_debug_output_capture([this](std::string_view text) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(text);
        });
    }
    ~DebugCapture() { platform::set_debug_output_capture({}); }
    DebugCapture(const DebugCapture&) = delete;
    DebugCapture& operator=(const DebugCapture&) = delete;

    // The lines that contain `needle`.
    std::vector<std::string> lines(std::string_view needle = {}) {
        std::lock_guard lock(mutex_);
        std::vector<std::string> out;
        for (const auto& l : lines_)
            if (l.find(needle) != std::string::npos) out.push_back(l);
        return out;
    }
    void clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace qvr_test
