#pragma once
// The server's web-service front end: the SendRequest operation over HTTP, or HTTPS with a
// certificate, on 127.0.0.2. Every call reaches the dispatcher (transport "web", capacity =
// ResultSize) and is recorded with its path, query, credentials and encodings; a reply is
// gzip-compressed only when the request accepts gzip. Connections are kept alive and served
// in a loop, each on a thread of its own; a call can be scripted to end with an HTTP status or
// a SOAP fault.
#include <atomic>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "server/connection_set.h"
#include "server/dispatcher.h"

struct soap;

namespace sim_server {

struct WebFrontOptions {
    std::string address = "127.0.0.2";
    uint16_t port = 0;              // 0: any free port
    std::string certificate_file;   // https when set (PEM, with the key file)
    std::string key_file;
    bool enforce_result_size = true;  // a reply longer than ResultSize becomes a SOAP fault
    int compression_level = 9;        // of compressed replies
    uint32_t lifetime_ms = 600000;    // stops by itself after this long
};

struct WebCall {
    std::string path;      // without the query
    std::string query;     // "?..." or ""
    std::string user;      // HTTP Basic credentials as the server decoded them
    std::string password;
    std::string encoding;  // content encoding of the request: "gzip", "deflate" or "identity"
    std::string accepted;  // its Accept-Encoding ("" when it sent none)
    std::string host;      // the Host part of the operation
    int result_size = 0;
};

class WebFront {
  public:
    WebFront(Dispatcher& dispatcher, WebFrontOptions options = {});
    ~WebFront();
    WebFront(const WebFront&) = delete;
    WebFront& operator=(const WebFront&) = delete;

    // Binds and starts serving. 0, or -1 with errno.
    int start();
    // Closes every connection and joins every thread.
    void stop();

    uint16_t port() const { return port_; }
    // "http[s]://[credentials@]127.0.0.2:<port><path>".
    std::string url(const std::string& path = "", const std::string& credentials = "") const;

    // The next call ends with this HTTP status instead of its answer.
    void script_http_status(int status);
    // The next call ends with a SOAP fault of this reason.
    void script_soap_fault(std::string reason);

    std::vector<WebCall> calls() const;
    uint32_t connections_accepted() const { return accepted_.load(); }

    // The operation, for the skeleton (not for callers).
    int handle_call(soap* ctx, const char* host, const unsigned char* request, int length, int result_size,
                    const unsigned char** reply, int* reply_length);

  private:
    struct Connection {
        soap* ctx = nullptr;
        int fd = -1;  // closed only once its thread has ended
        std::atomic<bool> done{false};
        std::thread thread;
    };
    void accept_loop();
    void serve(Connection& connection);
    void reap(bool all);

    Dispatcher& dispatcher_;
    WebFrontOptions options_;
    soap* listener_ = nullptr;
    uint16_t port_ = 0;
    std::thread acceptor_;
    std::atomic<bool> stopping_{false};
    std::atomic<uint32_t> accepted_{0};
    mutable std::mutex mutex_;
    std::vector<WebCall> calls_;
    std::deque<int> http_statuses_;
    std::deque<std::string> soap_faults_;
    ConnectionSet<Connection> connections_;
};

}  // namespace sim_server
