#pragma once
// Lays a header out as the logger writes it, for tests and stand-ins (the logger itself is
// outside the system): sections behind the header, the full extension block behind them,
// records behind that, blocks side by side in each record from offset 16.
#include <string>

#include "log_stores/log_header.h"

namespace log_stores::run_file {

// Sets formatTag, recordOffset of every block in use, recordSize, extendedOffset,
// extendedLength, dataStart, endOfData and recordCount (no records) from the blocks'
// channel ranges. -1 (ERROR_INVALID_PARAMETER) for more than 64 blocks, a block whose last
// channel lies below its first, or a layout beyond the format's 32-bit offsets.
int lay_out_header(LogHeader& header);
// The same, with this machine's time-zone record (`zone` empty) or the named zone's.
int lay_out_header(LogHeader& header, const std::string& zone);

}  // namespace log_stores::run_file
