#pragma once
// For tests only: the message sink's reports, seen by the test instead of the log.
#include <cstdint>
#include <functional>
#include <string>

namespace qvr {

struct SinkEntry {
    std::string server;
    std::string source;
    int type = 0;
    uint32_t event_id = 0;
    std::string message;
};

// Sends every report to `capture` instead; an empty function restores the log. Returns the
// previous capture function.
std::function<void(const SinkEntry&)> set_sink_capture(std::function<void(const SinkEntry&)> capture);

}  // namespace qvr
