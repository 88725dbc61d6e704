// The connection table: one entry per server string, claimed for good, with its own lock.
// The table lock is held only to find or claim an entry; waiting for an exchange in progress
// and opening a transport happen under the entry lock alone, so a hung server holds up only
// its own callers.
#include <strings.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "platform/secret_mask.h"
#include "qvr/diag/trace.h"
#include "qvr/link/link.h"
#include "qvr/link/link_backend.h"
#include "qvr/testing/link_testing.h"

namespace {

constexpr int kErrorTooManyOpenFiles = 4;

struct ConnectionTable {
    std::recursive_mutex lock;
    std::array<ServerConnection, kLinkTableSize> entries;
};

// Created on first use and kept for the life of the process: a link may be used from any
// thread up to the very end, so the table is never destroyed.
ConnectionTable& table() {
    static ConnectionTable* const t = std::make_unique<ConnectionTable>().release();
    return *t;
}

std::atomic<uint32_t> g_timeout_override{0};
std::atomic<const LinkBackend*> g_backends[kServerWeb + 1] = {};
std::atomic<const LinkLocalBackend*> g_local{nullptr};

// Which transport opened each entry, so that the same one closes it.
std::array<const LinkBackend*, kLinkTableSize> g_opened_by{};

size_t index_of(const ServerConnection* entry) {
    return static_cast<size_t>(entry - table().entries.data());
}

int local_open(ServerConnection* entry) {
    const LinkLocalBackend* local = g_local.load();
    if (local == nullptr || local->open == nullptr) {
        qvr::link_internal::trace_line(">>%s Local data server not available\r\n",
                                       platform::mask_secrets(entry->server).c_str());
        return platform::fail(kErrorNotSupported), 0;
    }
    const intptr_t handle = local->open(entry->server);
    if (handle == 0) return 0;
    entry->handle = handle;
    entry->thread = static_cast<uint32_t>(syscall(SYS_gettid));
    return 1;
}

int local_transfer(ServerConnection* entry, const void* request, uint32_t length, void* reply,
                   uint32_t* reply_length) {
    const LinkLocalBackend* local = g_local.load();
    if (local == nullptr || local->transfer == nullptr) return platform::fail(kErrorNotSupported), 0;
    return local->transfer(entry->handle, request, length, reply, reply_length);
}

void local_close(ServerConnection* entry) {
    const LinkLocalBackend* local = g_local.load();
    if (local != nullptr && local->close != nullptr) local->close(entry->handle);
    entry->handle = 0;
}

const LinkBackend kPipeBackend{pipe_Open, pipe_Transfer, pipe_Close, 1};
const LinkBackend kLocalBackend{local_open, local_transfer, local_close, 0};

const char* missing_transport_line(ServerKind kind) {
    return kind == kServerSocket ? ">>%s Socket transport not available\r\n"
                                 : ">>%s Web service transport not available\r\n";
}

const LinkBackend* backend_of(ServerKind kind) {
    if (kind == kServerPipe) return &kPipeBackend;
    if (kind == kServerLocalData) return &kLocalBackend;
    if (kind == kServerSocket || kind == kServerWeb) return g_backends[kind].load();
    return nullptr;
}

// Opens the entry's transport (entry lock held). 1, or 0 with the opener's error.
int open_entry(ServerConnection* entry) {
    const ServerKind kind = link_GetServerKind(entry->server);
    const LinkBackend* backend = backend_of(kind);
    if (backend == nullptr) {
        qvr::link_internal::trace_line(missing_transport_line(kind), platform::mask_secrets(entry->server).c_str());
        platform::set_last_error(kErrorNotSupported);
        return 0;
    }
    if (const uint32_t t = g_timeout_override.load(); t != 0) entry->timeout = t;
    entry->handle = 0;
    if (backend->open(entry) == 0) {
        entry->kind = kServerClosed;
        return 0;
    }
    entry->kind = kind;
    g_opened_by[index_of(entry)] = backend;
    return 1;
}

void close_entry(ServerConnection* entry) {
    if (entry->kind == kServerClosed) return;
    const LinkBackend* backend = g_opened_by[index_of(entry)];
    if (backend != nullptr && backend->close != nullptr) backend->close(entry);
    entry->kind = kServerClosed;
    entry->handle = 0;
}

// Finds the entry of `server`, or claims a free one for it; null when all 100 are taken.
ServerConnection* find_or_claim(ConnectionTable& t, const char* server) {
    std::lock_guard table_lock(t.lock);
    ServerConnection* free_entry = nullptr;
    for (ServerConnection& e : t.entries) {
        if (e.server[0] == '\0') {
            if (free_entry == nullptr) free_entry = &e;
            continue;
        }
        if (platform::equal_ignoring_case(e.server, server)) return &e;
    }
    if (free_entry != nullptr) std::snprintf(free_entry->server, sizeof free_entry->server, "%s", server);
    return free_entry;
}

}  // namespace

namespace qvr::link_internal {

uint32_t exchange_timeout_ms(const ServerConnection& entry) {
    return entry.timeout != 0 ? entry.timeout : kLinkDefaultTimeoutMs;
}

void trace_line(const char* format, ...) {
    char line[kLinkServerMax + 128];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    const int saved = platform::last_error();
    trace_Write(line);
    platform::set_last_error(saved);
}

}  // namespace qvr::link_internal

int link_SetBackend(ServerKind kind, const LinkBackend* backend) {
    if (kind != kServerSocket && kind != kServerWeb) return platform::fail(platform::kErrorInvalidParameter);
    g_backends[kind].store(backend);
    return 0;
}

void link_SetLocalDataBackend(const LinkLocalBackend* backend) {
    g_local.store(backend);
}

ServerConnection* link_GetConnection(const char* server) {
    if (server == nullptr) server = "";
    if (std::strlen(server) >= static_cast<size_t>(kLinkServerMax)) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return nullptr;
    }
    ServerConnection* entry = find_or_claim(table(), server);
    if (entry == nullptr) {
        platform::set_last_error(kErrorTooManyOpenFiles);
        return nullptr;
    }
    entry->lock.lock();
    // A link closed while we waited (a failed exchange of another caller, link_CloseAll) is
    // simply opened again here.
    if (entry->kind == kServerClosed && open_entry(entry) == 0) {
        const int error = platform::last_error();
        entry->lock.unlock();
        platform::set_last_error(error);
        return nullptr;
    }
    return entry;
}

int link_Open(const char* server) {
    ServerConnection* entry = link_GetConnection(server);
    if (entry == nullptr) return 0;
    entry->lock.unlock();
    return 1;
}

int link_Dispatch(ServerConnection* entry, const void* request, uint32_t length, void* reply,
                  uint32_t* reply_length) {
    if (entry == nullptr) return platform::fail(platform::kErrorInvalidParameter), 0;
    std::lock_guard entry_lock(entry->lock);
    const LinkBackend* backend = entry->kind != kServerClosed ? g_opened_by[index_of(entry)] : nullptr;
    if (backend == nullptr || backend->transfer == nullptr) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return 0;
    }
    if (backend->transfer(entry, request, length, reply, reply_length) != 0) return 1;
    if (backend->close_on_failure != 0) {
        const int error = platform::last_error();
        close_entry(entry);
        platform::set_last_error(error);
    }
    return 0;
}

void link_CloseAll() {
    ConnectionTable& t = table();
    std::vector<ServerConnection*> claimed;
    {
        std::lock_guard table_lock(t.lock);
        for (ServerConnection& e : t.entries)
            if (e.server[0] != '\0') claimed.push_back(&e);
    }
    // Entry by entry: an exchange in flight ends (bounded by its time-out) before its link
    // closes, and lookups of other servers are not held up meanwhile.
    for (ServerConnection* e : claimed) {
        std::lock_guard entry_lock(e->lock);
        close_entry(e);
    }
}

namespace qvr::link_testing {

void set_timeout(uint32_t milliseconds) {
    g_timeout_override.store(milliseconds);
    ConnectionTable& t = table();
    std::lock_guard table_lock(t.lock);
    for (ServerConnection& e : t.entries) {
        std::lock_guard entry_lock(e.lock);
        e.timeout = milliseconds;
    }
}

void reset_table() {
    ConnectionTable& t = table();
    std::lock_guard table_lock(t.lock);
    for (ServerConnection& e : t.entries) {
        std::lock_guard entry_lock(e.lock);
        close_entry(&e);
        std::memset(e.server, 0, sizeof e.server);
        e.timeout = 0;
        e.thread = 0;
        g_opened_by[index_of(&e)] = nullptr;
    }
    g_timeout_override.store(0);
    g_local.store(nullptr);
}

int claimed_entries() {
    ConnectionTable& t = table();
    std::lock_guard table_lock(t.lock);
    int n = 0;
    for (const ServerConnection& e : t.entries)
        if (e.server[0] != '\0') ++n;
    return n;
}

}  // namespace qvr::link_testing
