#include "platform/process_priority.h"

#include <sched.h>

#include <cerrno>

#include "platform/last_error.h"

namespace platform {

int request_realtime_priority(int priority) {
    sched_param param{};
    param.sched_priority = priority;
    if (sched_setscheduler(0, SCHED_FIFO, &param) != 0) return fail(errno);
    return 0;
}

}  // namespace platform
