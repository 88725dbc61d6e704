#pragma once
// The server's pipe front end: listens on "\\<machine>\pipe\<name>" (the socket file of the
// runtime folder) and answers each request message of each connection with one reply
// message, through the dispatcher, applying scripted faults. Every wait is bounded; the
// front end stops by itself when its lifetime ends or it is destroyed.
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/pipe_socket.h"
#include "server/connection_set.h"
#include "server/dispatcher.h"

namespace sim_server {

struct PipeFrontOptions {
    std::string machine = ".";        // "." for this machine, else the machine it stands for
    std::string pipe = "quorvane";
    uint32_t lifetime_ms = 600000;    // stops by itself after this long
    uint32_t request_max = 16u << 20;  // a longer request closes its connection
    uint32_t max_connections = 256;
};

class PipeFront {
  public:
    PipeFront(Dispatcher& dispatcher, PipeFrontOptions options = {});
    ~PipeFront();
    PipeFront(const PipeFront&) = delete;
    PipeFront& operator=(const PipeFront&) = delete;

    // Binds the pipe and starts answering. 0, or -1 with errno.
    int start();
    // Closes the pipe and every connection, and joins every thread. A later start() is a
    // restarted server (clients must connect again).
    void stop();
    bool running() const { return running_.load(); }

    // While set, connections are left waiting in the listen queue, unanswered. Setting it
    // returns once the front end has stopped accepting (bounded).
    void set_refuse_accept(bool refuse);

    std::string pipe_name() const;
    const std::string& socket_path() const { return path_; }
    uint32_t connections_accepted() const { return accepted_.load(); }

  private:
    struct Connection {
        int fd = -1;
        std::atomic<bool> done{false};
        std::thread thread;
    };

    void accept_loop();
    void serve(Connection& connection);
    void reap(bool all);

    Dispatcher& dispatcher_;
    PipeFrontOptions options_;
    std::optional<platform::PipeListener> listener_;
    std::string path_;
    std::thread acceptor_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopping_{false};
    std::atomic<bool> refuse_accept_{false};
    std::atomic<bool> refusing_{false};  // the acceptor has seen refuse_accept_
    std::atomic<uint32_t> accepted_{0};
    ConnectionSet<Connection> connections_;
};

}  // namespace sim_server
