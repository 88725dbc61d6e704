#include "qvr/util/bounded_copy.h"

#include <cstring>

namespace qvr {

void copy_cut(std::string_view text, char* out, std::size_t size) {
    if (out == nullptr || size == 0) return;
    const std::size_t n = text.size() < size ? text.size() : size - 1;
    if (n != 0) std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace qvr
