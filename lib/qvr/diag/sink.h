#pragma once
// The message sink: operational errors and notices for the system log, under the product
// name as source and with event number 102 in the text. Where no log daemon listens, the
// entry is appended to "<root folder>/<product name>.log" as "hh:mm:ss mm/dd/yy message".
// The sink never reports its own failures. Messages are masked (platform/secret_mask.h).
#include <cstdint>

inline constexpr uint32_t kSinkEventId = 102;

// `server`: null, "." or this computer's name (the log of another computer is out of
// reach: the message is dropped); `type`: 1 error, 2 warning, 4 information.
void sink_Report(const char* server, int type, const char* message);
