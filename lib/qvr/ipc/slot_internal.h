#pragma once
// What the shared sections need from the process slot to wait for a signal without losing
// one that arrives between claiming a waiter slot and starting to wait.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace platform {
class Event;
}

namespace qvr::slot_internal {

// "dm_<pid>.slt": the mailslot name of a process.
std::string process_slot_name(uint32_t pid);

// The handles the program added to the wait list (the code-handled event is not among them).
std::vector<int> held_handles();

// A wait of the calling thread for codes the process slot handles. It is admitted only while
// the slot is open and the caller is not the thread that runs the callback (codes wait behind
// the callback, so nothing else could end the wait). Closing the slot ends an admitted wait
// and does not release what the wait uses until it has left.
class CodeWait {
  public:
    CodeWait();
    ~CodeWait();
    CodeWait(const CodeWait&) = delete;
    CodeWait& operator=(const CodeWait&) = delete;

    bool admitted() const { return admitted_; }
    // Why a wait was not admitted: EDEADLK, or the reason no wake-up descriptor was had.
    int refusal() const { return refusal_; }
    // Only codes handled from now on end the wait; for a waiter that arms while it holds a
    // section lock, so a signal sent once the lock is released cannot be missed.
    void start_from_now();
    // Codes handled since this thread's last slot_Wait of this open end the wait.
    void start_from_last_wait();
    // Releases commands and waits, at most `milliseconds` (0: no time-out), until a code is
    // handled after the starting point, one of `handles` is ready or the slot closes.
    // 0, or -1 with errno set (a handle that cannot be waited on).
    int wait(uint32_t milliseconds, std::span<const int> handles);
    // Notes the codes handled up to the end of the wait as seen by this thread's slot_Wait.
    void mark_seen() const;
    // Leaves the slot at once (before taking a lock that a closing thread may hold).
    void leave();

  private:
    bool admitted_ = false;
    int refusal_ = 0;
    const platform::Event* event_ = nullptr;
    uint64_t generation_ = 0;
    uint64_t from_ = 0;
    uint64_t end_ = 0;
};

}  // namespace qvr::slot_internal
