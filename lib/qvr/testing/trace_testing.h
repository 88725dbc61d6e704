#pragma once
// For tests only: what the process's debug trace has read from its settings.
#include <array>
#include <cstdint>

#include "qvr/diag/debug_trace.h"

namespace qvr {

// The trace's counter settings and outputs; false when no trace exists.
bool trace_snapshot(uint8_t& outputs, std::array<TraceCounterSetting, CDebugTrace::kCounterCount>& counters);

}  // namespace qvr
