#pragma once
// The process slot: a mailslot named after the process id that carries 4-byte codes. A
// reader thread takes every code off the socket at once (so senders never stall), and a
// dispatch thread hands each code in order to the program's callback under the slot's
// critical section, only while the program allows commands. The main thread works with
// commands held and releases them while it waits in slot_Wait.
#include <cstddef>
#include <cstdint>

// The codes a scanner accepts.
enum ScanCommand : uint32_t {
    kScanCommandStop = 31,
    kScanCommandScan = 300,
    kScanCommandReconfigure = 302,
    kScanCommandResetCounters = 303,
    kScanCommandInitValues = 304,
};
// Library notification codes.
inline constexpr uint32_t kSlotCodeSectionChanged = 32;
inline constexpr uint32_t kSlotCodeOutputsWritten = 305;

// Runs on the dispatch thread (or on the thread of a send to the own process), inside the
// critical section. The result is not used by the slot.
using SlotCallback = int (*)(uint32_t code);

// Opens the slot with `callback`, or swaps the callback of an open slot. The previous
// callback with errno 0 (null on a first open), or null with errno set on failure.
SlotCallback slot_Open(SlotCallback callback);
// Stops and joins the slot's threads, waits for sends to the own process under way on other
// threads (later ones fail with ENOENT), then releases everything; nothing when not open.
void slot_Close();
// Sends `code` to the slot of process `pid`. To the own process it runs the callback before
// returning when commands are allowed and no code waits to be handled, else queues the code
// behind those, for when commands are released.
// 0, or -1 with errno ENOENT (no such slot), ETIMEDOUT (receiver does not read) or another
// reason.
int slot_SendCode(uint32_t pid, uint32_t code);
// Releases commands and waits until a code has been handled since this thread's last wait
// ended (a code handled before the call ends it at once, as a set auto-reset event would), a
// held handle is ready, the slot is closed, or `milliseconds` passed (0 = no time-out). 0; -1
// with errno EDEADLK when nothing could ever end a wait without time-out.
int slot_Wait(uint32_t milliseconds);
// slot_Wait for ticks x 10 ms (0 = no time-out).
int slot_WaitTicks(uint32_t ticks);
// 1 holds commands (waiting for a running callback to finish), 0 releases them. 0, or -1
// when no slot is open.
int slot_HoldCommands(int flag);
// Holds commands without entering the critical section (for use inside the callback).
void slot_BlockCommands();
// Kept for callers; there are no window messages to pump on this platform.
void slot_PumpMessages();
// Adds a pollable descriptor to the wait list (the code-handled event is its first entry
// while the slot is open). 0, or -1 when 10 handles are held.
int slot_AddWaitHandle(int handle);
// 0, or -1 when the handle is not held; later handles move down.
int slot_RemoveWaitHandle(int handle);
uint32_t slot_LastCode();
void slot_ClearLastCode();

// The socket file of mailslot `name`, in a per-thread static buffer; creates the runtime
// folder on first use.
const char* slot_MailslotPath(const char* name);
// A write handle to the existing mailslot `name` (send time-out about 1 s), or -1 with
// errno set (ENOENT when nobody receives under that name).
int slot_OpenMailslot(const char* name);
// Closes a handle from slot_OpenMailslot. 0, or -1.
int slot_CloseMailslot(int handle);
// Writes one message; `length`, or -1 with errno set when the write fails or is short.
int os_WriteExact(int handle, const void* bytes, size_t length);
