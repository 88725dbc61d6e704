#include "platform/last_error.h"

#include <cerrno>

namespace platform {
namespace {
thread_local int t_last_error = 0;
}

void set_last_error(int code) noexcept {
    t_last_error = code;
    errno = code;
}

int last_error() noexcept { return t_last_error; }

int fail(int code) noexcept {
    set_last_error(code);
    return -1;
}

int fail_from_errno() noexcept { return fail(errno); }

}  // namespace platform
