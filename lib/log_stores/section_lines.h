#pragma once
// A section of a database run read as lines: the text its ReadSection gives, split at each
// CR LF inside the caller's buffer. The stores of database runs share it.
#include <cstddef>
#include <cstdint>

#include "log_stores/log_store.h"

namespace log_stores {

// Without `lines` or `buffer`: the line count to *count and the size needed to *size. With
// them: the section into `buffer` (*size bytes), at most *count line pointers into it, and
// *count set to the lines stored. The section's line count, or -1 when ReadSection fails.
int read_section_lines(CLogStore& store, const char* section, const char** lines, std::size_t* count,
                       char* buffer, std::size_t* size, std::int32_t further1, std::int32_t further2);

}  // namespace log_stores
