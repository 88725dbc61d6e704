#include "platform/file_move.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>

#include "platform/last_error.h"

namespace platform {

int move_no_replace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno == EEXIST) return fail(kErrorAlreadyExists);
    if (errno != EINVAL && errno != ENOSYS) return fail_from_errno();
    // A file system without the flag: a hard link never replaces either.
    if (::link(from.c_str(), to.c_str()) != 0) return errno == EEXIST ? fail(kErrorAlreadyExists) : fail_from_errno();
    if (::unlink(from.c_str()) != 0) return fail_from_errno();
    return 0;
}

}  // namespace platform
