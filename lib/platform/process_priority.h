#pragma once
// The scheduling class of the calling process: a scanner asks for real-time scheduling so
// that its serial timings hold on a loaded machine.
namespace platform {

// Asks for SCHED_FIFO at `priority` (1-99) for the calling process and its threads created
// later. 0, or -1 with errno (EPERM for an ordinary user or a container without the right).
int request_realtime_priority(int priority);

}  // namespace platform
