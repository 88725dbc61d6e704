#pragma once
// The accessor's debug trace as the debugger channel receives it, while the object lives.
#include <string>
#include <vector>

#include "platform/registry_key.h"
#include "qvr/diag/trace.h"
#include "qvr/settings/reg.h"
#include "support/debug_capture.h"

namespace log_stores_test {

class TraceLines {
  public:
    TraceLines() {
        platform::RegistryKey key;
        platform::RegistryKey::create(platform::RegistryHive::machine, kProductKey, platform::kKeyAllAccess, key);
        key.set_string("LogDb_Debug", "ON");
        trace_Create("LogDb");
    }
    ~TraceLines() { trace_Destroy(); }
    std::vector<std::string> lines(const std::string& needle = {}) { return capture_.lines(needle); }
    void clear() { capture_.clear(); }

  private:
    qvr_test::DebugCapture capture_;
};

}  // namespace log_stores_test
