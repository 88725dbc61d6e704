#include "platform/lock_turn.h"

#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/file_io.h"
#include "platform/last_error.h"

namespace platform {
namespace {

// Waiters look every few milliseconds; one that has waited long looks more often, so that
// among several waiters the older ones mostly win when the lock or turn comes free.
constexpr auto kPoll = std::chrono::milliseconds(5);
constexpr auto kPollWhenLong = std::chrono::milliseconds(1);
constexpr auto kLong = std::chrono::seconds(1);
// A waiter holds a turn only until the lock's holder of the moment is done, so a turn held
// longer than this is held for another reason.
constexpr int kTurnPatienceMs = 2000;

// 0 taken, EWOULDBLOCK when the deadline passed first, else the errno of the failure.
int poll_flock(int fd, const Deadline& deadline) {
    const auto began = std::chrono::steady_clock::now();
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return errno;
        if (deadline.expired()) return EWOULDBLOCK;
        std::this_thread::sleep_for(std::chrono::steady_clock::now() - began < kLong ? kPoll : kPollWhenLong);
    }
    return 0;
}

}  // namespace

int wait_for_flock(int fd, const Deadline& deadline) {
    const int rc = poll_flock(fd, deadline);
    if (rc == 0) return 0;
    return fail(rc == EWOULDBLOCK ? kErrorTimeout : rc);
}

LockTurn LockTurn::take(const std::string& folder, const Deadline& deadline) {
    LockTurn turn;
    const int saved = errno;
    UniqueFd fd = open_file(folder.empty() ? std::string(".") : folder, O_RDONLY | O_DIRECTORY);
    errno = saved;
    if (!fd) return turn;
    const bool deadline_first = !deadline.is_forever() && deadline.remaining_ms() <= kTurnPatienceMs;
    if (poll_flock(fd.get(), deadline_first ? deadline : Deadline::after_ms(kTurnPatienceMs)) == 0)
        turn.fd_ = std::move(fd);
    errno = saved;
    return turn;
}

}  // namespace platform
