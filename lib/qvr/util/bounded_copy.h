#pragma once
// A text copied into a fixed buffer of the caller's, cut to fit.
#include <cstddef>
#include <string_view>

namespace qvr {

// Copies as much of `text` as fits into `out` of `size` bytes, always terminated (nothing
// for size 0 or no buffer).
void copy_cut(std::string_view text, char* out, std::size_t size);

}  // namespace qvr
