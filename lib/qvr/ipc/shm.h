#pragma once
// Named shared sections of the runtime host and their locks. A section "Global\<name>"
// (name at most 31 characters) begins with the 128-byte header of qvr/ipc/section_layout.h and
// has its data at byte 128. Each section is guarded by a named, process-shared, recursive
// mutex "Global\Global\<name>.mut"; the header records the owning process (low 16 bits of
// its id) and the lock depth. Watchers register in the waiter slots of a data module and are
// woken through their process slots (qvr/ipc/slot.h).
//
// Opened sections stay mapped for the life of the process, in a cache shared by all its
// threads. Failures return -1 (or null) with the reason in errno and the thread's last-error
// value: 0 for an invalid argument, 67 for an index or range beyond a shared area, ENOENT
// for a missing section or mutex, 183 when a section to create exists, 13 for a section
// whose header does not match the object, EDEADLK for a wait that nothing could end.
#include <cstddef>
#include <cstdint>
#include <span>

// The existing section `name`, mapped; never creates one. Null on failure (errno unchanged
// for a name of 32 characters or more).
void* shm_OpenSection(const char* name);
// A new section of `data_size` + 108 bytes with its header filled; refuses an existing one
// and a data size below 20 (the header would not fit). Null on failure.
void* shm_CreateSection(const char* name, uint32_t data_size);
// The existing section `name`, or a new data module with `data_length` data bytes, its mutex,
// its lock fields and its waiter and request areas. Null on failure.
void* shm_CreateDataModule(const char* name, uint32_t data_length);

// Takes the section's lock (recursive within a thread). A holder that died leaves the lock
// to the next locker, which resets the owner fields and goes on. 0 or -1.
int shm_Lock(void* section);
int shm_Unlock(void* section);
// The bare mutex steps: 0 acquired, 128 acquired from a holder that died, -1 failure.
int shm_LockMutex(void* section);
int shm_UnlockMutex(void* section);
// "Global\<name>.mut" in a per-thread static buffer.
const char* shm_MutexName(const char* name);

// Locked copies out of and into the data area (offset counted from byte 128). 0, or -1
// with 67 when the range passes the data length or the mapping.
int shm_ReadData(void* section, void* destination, uint32_t length, uint32_t offset);
int shm_WriteData(void* section, const void* source, uint32_t length, uint32_t offset);

// Counts one pending notification under the lock. 0 or -1.
int shm_MarkPending(void* section);
// Wakes waiter slot `slot` (1..10), or every slot and every queued request for 0; a slot
// that is not waiting counts a missed signal. The Others form passes over the calling
// process. The codes are sent once the section's lock is released, each process's in order.
// 0, or -1 (67 for a slot above 10, nothing locked).
int shm_SignalWaiters(void* section, int slot);
int shm_SignalOthers(void* section, int slot);
// Queues a one-shot code (at most 0xFFFF) for the calling process, sent at the next
// signalling of all slots; cancels it. 0 or -1.
int shm_QueueRequest(void* section, uint32_t code);
int shm_CancelRequest(void* section);
// Waits on waiter slot `slot` (1..10) until signalled; returns at once when a signal was
// missed. Needs the process slot to be open. 0 or -1. The waiting and request calls fail with
// EOVERFLOW in a section of narrow entries only when this process's id cannot be held there.
int shm_WaitSignal(void* section, int slot);
// shm_WaitSignal only when notifications are pending; 0 otherwise.
int shm_WaitIfPending(void* section, int slot);
// Claims waiter slot `slot` for the calling process (flag and missed count cleared) and
// returns its previous owner, or empties every slot for 0 and returns 10. -1 on failure.
int shm_ResetWaiters(void* section, int slot);

namespace qvr {

// The whole mapping of a section this process opened or created; empty for anything else.
std::span<std::byte> section_bytes(const void* section);

}  // namespace qvr
