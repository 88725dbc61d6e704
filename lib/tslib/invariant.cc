#include "tslib/invariant.h"

#include <cstdio>
#include <cstdlib>

namespace tslib::detail {

void invariant_failed(const char* expression, const char* file, unsigned line, const char* function) {
    std::fprintf(stderr, "%s:%u: %s: Assertion `%s' failed.\n", file, line, function, expression);
    std::fflush(stderr);
    std::abort();
}

}  // namespace tslib::detail
