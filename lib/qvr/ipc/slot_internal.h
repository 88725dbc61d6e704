#pragma once
// What the shared sections need from the process slot to wait for a signal without losing
// one that arrives between claiming a waiter slot and starting to wait.
#include <cstdint>
#include <string>

namespace qvr::slot_internal {

// "dm_<pid>.slt": the mailslot name of a process.
std::string process_slot_name(uint32_t pid);

// Whether a code could end a wait of the calling thread (the slot is open and this is not
// the thread that runs the callback).
bool can_wake_caller();
// Clears the code-handled event and releases commands, like the start of slot_Wait.
void prepare_wait();
// The two steps of prepare_wait apart, for a waiter that arms while it holds a section lock:
// releasing commands enters the critical section, where a callback may be waiting for that
// very lock, so it must come after the lock is released.
void arm_wait();
void release_commands();
// The waiting part of slot_Wait, after prepare_wait. 0, or -1 with errno set.
int wait_prepared(uint32_t milliseconds);

}  // namespace qvr::slot_internal
