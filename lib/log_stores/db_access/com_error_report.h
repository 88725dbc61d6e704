#pragma once
// How a failed database call is reported by the logged-data stores: the thread's last-error
// value, a trace line, and (for the access objects) a kept description.
#include <cstddef>
#include <cstdint>

#include "platform/ado/com_error.h"

namespace log_stores {

inline constexpr size_t kErrorTextSize = 1000;

// (code - 0x200) & 0xFFFF for codes in 0x80040200..0x8004FFFF, 0 for any other.
int last_error_of(ado::HRESULT code);

// Keeps the description (Windows-1252, passwords masked, at most 999 characters) in `text`,
// sets the last error and writes the trace line.
void capture_com_error(const ado::ComError& error, char (&text)[kErrorTextSize]);

}  // namespace log_stores

// The free-standing twin of the capture: last error and trace line, no kept text; a missing
// description is traced as "NONE".
void ReportComError(const ado::ComError& error);
