// Kind 1: the server's pipe "\\<server>\pipe\quorvane", one request message and one reply
// message per transfer, every step bounded by the entry's time-out.
#include <memory>
#include <span>
#include <string>

#include "platform/debug_output.h"
#include "platform/last_error.h"
#include "platform/pipe_socket.h"
#include "platform/secret_mask.h"
#include "qvr/link/link.h"
#include "qvr/link/link_backend.h"

namespace {

constexpr const char* kPipeSuffix = "\\pipe\\quorvane";

platform::PipeConnection* connection_of(const ServerConnection* entry) {
    return reinterpret_cast<platform::PipeConnection*>(entry->handle);
}

void say_opening(const ServerConnection* entry) {
    platform::debug_output(">>" + platform::mask_secrets(entry->server) + " Opening pipe connection\r\n");
}

}  // namespace

int pipe_Open(ServerConnection* entry) {
    say_opening(entry);
    const std::string name = std::string("\\\\") + entry->server + kPipeSuffix;
    const auto deadline = platform::Deadline::after_ms(qvr::link_internal::exchange_timeout_ms(*entry));
    auto connection = platform::PipeConnection::connect(name, deadline);
    if (!connection) {
        entry->kind = kServerClosed;
        return 0;
    }
    entry->handle = reinterpret_cast<intptr_t>(std::make_unique<platform::PipeConnection>(std::move(*connection)).release());
    entry->kind = kServerPipe;
    return 1;
}

int pipe_Transfer(ServerConnection* entry, const void* request, uint32_t length, void* reply,
                  uint32_t* reply_length) {
    if (entry == nullptr || entry->kind != kServerPipe || entry->handle == 0 || reply_length == nullptr ||
        (request == nullptr && length != 0) || (reply == nullptr && *reply_length != 0)) {
        platform::set_last_error(platform::kErrorInvalidParameter);
        return 0;
    }
    const auto deadline = platform::Deadline::after_ms(qvr::link_internal::exchange_timeout_ms(*entry));
    // A server that restarted since the last transfer has closed our end; nothing has been
    // sent yet, so connecting again is safe and spares the caller a failed request.
    if (connection_of(entry)->peer_gone()) {
        say_opening(entry);
        auto fresh = platform::PipeConnection::connect(std::string("\\\\") + entry->server + kPipeSuffix, deadline);
        if (!fresh) {
            *reply_length = 0;
            return 0;
        }
        *connection_of(entry) = std::move(*fresh);
    }
    size_t received = 0;
    const int rc = connection_of(entry)->transact(std::span(static_cast<const std::byte*>(request), length),
                                                  std::span(static_cast<std::byte*>(reply), *reply_length),
                                                  received, deadline);
    *reply_length = static_cast<uint32_t>(received);
    return rc == 0 ? 1 : 0;
}

void pipe_Close(ServerConnection* entry) {
    std::unique_ptr<platform::PipeConnection> owned(connection_of(entry));
    entry->handle = 0;
}
