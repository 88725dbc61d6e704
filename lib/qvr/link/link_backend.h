#pragma once
// The transports behind the server link, one per kind. The pipe is built in; the TLS socket,
// the web service and the local data server live in their own libraries and are registered
// by whatever links them, with an explicit call in its start-up path. A kind without a
// transport fails to open with ERROR_NOT_SUPPORTED (50) and a trace line.
#include <cstdint>

#include "qvr/link/link.h"

struct LinkBackend {
    // Opens the link of entry->server (entry lock held): sets entry->handle. 1, or 0 with
    // the last error set. The link layer sets the kind.
    int (*open)(ServerConnection* entry);
    // One exchange within entry->timeout. Nonzero on success, else 0 with the last error.
    int (*transfer)(ServerConnection* entry, const void* request, uint32_t length, void* reply,
                    uint32_t* reply_length);
    // Ends the link's transport object.
    void (*close)(ServerConnection* entry);
    // 1: a failed transfer closes the link, so the next request opens it again.
    int close_on_failure;
};

// Registers (or, with null, removes) the transport of kind 2 or 4. 0, or -1 with 87.
int link_SetBackend(ServerKind kind, const LinkBackend* backend);

// The local data server (kind 3): a data folder or a "PROVIDER=" string answered in-process.
struct LinkLocalBackend {
    // A handle for the location, or 0 with the last error set.
    intptr_t (*open)(const char* location);
    // Nonzero on success.
    int (*transfer)(intptr_t handle, const void* request, uint32_t length, void* reply, uint32_t* reply_length);
    void (*close)(intptr_t handle);
};
// Registers (null: removes) the local data server. Links already open keep working.
void link_SetLocalDataBackend(const LinkLocalBackend* backend);

// The built-in pipe transport (kind 1).
int pipe_Open(ServerConnection* entry);
int pipe_Transfer(ServerConnection* entry, const void* request, uint32_t length, void* reply, uint32_t* reply_length);
void pipe_Close(ServerConnection* entry);

namespace qvr::link_internal {
// The time-out of one exchange of `entry` in ms (its own, else 15,000).
uint32_t exchange_timeout_ms(const ServerConnection& entry);
// Writes one formatted line to the process's debug trace.
void trace_line(const char* format, ...) __attribute__((format(printf, 1, 2)));
}  // namespace qvr::link_internal
