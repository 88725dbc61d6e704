#pragma once
// The trace object behind trace.h. Not locked itself: the trace_ functions hold the
// process's trace lock around every call.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry_key.h"
#include "platform/registry_watch.h"
#include "platform/unique_fd.h"

// A counter setting: up to two upper-case letters and a number 1..10000 (0: cleared).
struct TraceCounterSetting {
    char prefix[3] = {0, 0, 0};
    int16_t number = 0;
};

class CDebugTrace {
  public:
    static constexpr uint8_t kConsole = 1;
    static constexpr uint8_t kFile = 2;
    static constexpr uint8_t kDebugger = 4;
    static constexpr size_t kNameMax = 131;
    static constexpr size_t kDebuggerBuffer = 5000;
    static constexpr size_t kCounterCount = 10;

    explicit CDebugTrace(std::string_view name);
    ~CDebugTrace();
    CDebugTrace(const CDebugTrace&) = delete;
    CDebugTrace& operator=(const CDebugTrace&) = delete;

    void write(std::string_view text);
    uint8_t outputs() const { return outputs_; }
    const std::string& name() const { return name_; }
    const std::array<TraceCounterSetting, kCounterCount>& counters() const { return counters_; }

    // Parses a counter setting text ("N7", "AB123"); false leaves `setting` cleared.
    static bool parse_counter(std::string_view text, TraceCounterSetting& setting);

  private:
    void read_settings();
    bool read_text(const char* suffix, std::string& text) const;
    void write_debugger(std::string_view text);
    void close_file();

    std::string name_;
    platform::RegistryKey key_;
    bool key_open_ = false;
    platform::RegistryWatch watch_;
    platform::UniqueFd file_;
    bool console_ = false;
    uint8_t outputs_ = 0;
    int on_ = 0;
    std::string debugger_;
    std::array<TraceCounterSetting, kCounterCount> counters_{};
};
