#pragma once
// The server's request handling, apart from any transport: a handler per two-letter request
// code, a recording of every request, and per code a queue of scripted replies and faults
// that take the handler's place for one request each.
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim_server {

// Gets the exact request bytes and the reply capacity (0 when the transport does not tell
// it), returns the reply bytes.
using Handler = std::function<std::string(std::string_view request, uint32_t capacity)>;

struct RecordedRequest {
    std::string bytes;      // exactly as received
    std::string transport;  // "pipe"
    uint32_t capacity = 0;
};

// What to do instead of answering normally, once.
struct Fault {
    enum class Kind {
        none,
        delay,           // wait `milliseconds`, then answer (past the client's time-out)
        close_after,     // send only the first `bytes` bytes of the framed reply, then close
        broken_length,   // announce `bytes` as the reply length, send the reply, then close
        close_at_once,   // close without replying
    };
    Kind kind = Kind::none;
    uint32_t milliseconds = 0;  // a wait before any kind of fault (and before a delayed answer)
    uint32_t bytes = 0;
};

// One scripted step: an exact reply (when set) and a fault (may be none).
struct Scripted {
    std::optional<std::string> reply;
    Fault fault;
};

// What the transport is to send for one request.
struct Answer {
    std::string reply;
    Fault fault;
};

class Dispatcher {
  public:
    Dispatcher();

    void set_handler(std::string_view code, Handler handler);
    // Queues an exact reply for the next request with this code.
    void script_reply(std::string_view code, std::string reply);
    // Queues a fault (the handler's reply, or the given one, goes with it).
    void script_fault(std::string_view code, Fault fault, std::optional<std::string> reply = std::nullopt);

    // Records the request and works out its answer. An unknown code gets "-1,1".
    Answer handle(std::string_view request, std::string_view transport, uint32_t capacity);

    std::vector<RecordedRequest> requests() const;
    size_t request_count() const;
    void clear_requests();

    // The two-letter code of a request ("" when it is shorter).
    static std::string code_of(std::string_view request);

  private:
    mutable std::mutex mutex_;
    std::map<std::string, Handler> handlers_;
    std::map<std::string, std::deque<Scripted>> scripts_;
    std::vector<RecordedRequest> requests_;
};

// Handlers of the core: "RS" (ready: "0,ready" padded to 16 bytes), "EC" (echoes the
// request after "EC,"), "SZ,<n>" (n bytes: "0," and then 'x's).
void add_core_handlers(Dispatcher& dispatcher);

}  // namespace sim_server
