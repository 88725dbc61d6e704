#include "tslib/invariant.h"

#include <cstdio>
#include <cstdlib>

namespace tslib::detail {

void invariant_failed(const char* expression, const std::source_location& where) {
    std::fprintf(stderr, "%s:%u: %s: Assertion `%s' failed.\n", where.file_name(),
                 static_cast<unsigned>(where.line()), where.function_name(), expression);
    std::fflush(stderr);
    std::abort();
}

}  // namespace tslib::detail
