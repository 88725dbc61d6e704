#pragma once
// Common run-time helpers of the library: the open security attributes given to every
// shared object it creates, the allocation pair, kind display names and the heap dump.
// Failures follow the library's convention: -1 or null, the reason in errno and the
// thread's last-error value (platform/last_error.h).
#include <sys/types.h>

#include <cstddef>
#include <cstdint>

// On Linux the attributes are mode bits: objects (shared memory, mutexes, mailslot files,
// files) and folders get owner and group access, as the runtime folder does.
struct SecurityAttributes {
    uint32_t length;     // sizeof(SecurityAttributes)
    mode_t object_mode;  // 0660
    mode_t folder_mode;  // 0770
    int inherit_handle;  // 0: descriptors are close-on-exec
};

// The process-wide attributes (built once, kept for the life of the process).
const SecurityAttributes* rt_GetOpenSecurityAttributes();

void* rt_Alloc(size_t size);
void rt_Free(void* pointer);

// "ANALOG INPUTS" ... by channel kind 0..6; an empty text for any other index.
const char* rt_KindDisplayName(int kind);

// Copies `length` bytes (the areas may overlap). 0.
int rt_CopyBytes(const void* source, void* destination, size_t length);

// Writes the allocator's view of the heap to the debugger output: "OK - empty heap\n" when
// nothing is in use, else the malloc statistics.
void rt_DumpHeap();
