#pragma once
// The server's TLS socket front end on 127.0.0.2: each request, delimited by its code (see
// request_delimiter.h), reaches the dispatcher (transport "tls"); its reply goes back as the
// u32 total and the payload, written in pieces of a chosen size (one TLS record each), with
// the dispatcher's scripted faults applied. A thread per connection; every wait is bounded.
#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "server/connection_set.h"
#include "server/dispatcher.h"

typedef struct ssl_ctx_st SSL_CTX;

namespace sim_server {

struct TlsFrontOptions {
    std::string address = "127.0.0.2";
    uint16_t port = 0;  // 0: any free port
    std::string certificate_file;  // PEM
    std::string key_file;
    size_t piece = 4093;              // bytes per record of a reply, its total included
    uint32_t request_max = 16u << 20;  // a longer request closes its connection
    uint32_t lifetime_ms = 600000;
};

class TlsFront {
  public:
    TlsFront(Dispatcher& dispatcher, TlsFrontOptions options = {});
    ~TlsFront();
    TlsFront(const TlsFront&) = delete;
    TlsFront& operator=(const TlsFront&) = delete;

    // Binds and starts serving. 0, or -1 with errno.
    int start();
    void stop();

    uint16_t port() const { return port_; }
    std::string url() const { return "tcp://" + options_.address + ":" + std::to_string(port_); }
    uint32_t connections_accepted() const { return accepted_.load(); }
    // Bytes per record of the replies from now on.
    void set_piece(size_t piece) { piece_.store(piece == 0 ? 1 : piece); }

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
    TlsFrontOptions options_;
    SSL_CTX* ctx_ = nullptr;
    int listen_fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<size_t> piece_;
    std::thread acceptor_;
    std::atomic<bool> stopping_{false};
    std::atomic<uint32_t> accepted_{0};
    ConnectionSet<Connection> connections_;
};

}  // namespace sim_server
