// The connections a front end serves, each on a thread of its own until it is done.
#pragma once

#include <pthread.h>

#include <atomic>
#include <csignal>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace sim_server {

// `Connection` has `std::atomic<bool> done` (set by its thread as it ends) and `std::thread thread`.
template <typename Connection>
class ConnectionSet {
  public:
    // Takes the connection in, then starts `serve(connection)` on its thread; the set's lock is
    // held until the thread is stored, so a reap never meets a connection without one. The
    // thread blocks SIGPIPE: TLS and gSOAP write with plain write() calls, and a client that
    // closes mid-reply must end only its connection, not the process.
    template <typename Serve>
    void start(std::unique_ptr<Connection> connection, Serve serve) {
        Connection& c = *connection;
        std::lock_guard lock(mutex_);
        connections_.push_back(std::move(connection));
        c.thread = std::thread([serve, &c] {
            sigset_t pipe_signal;
            sigemptyset(&pipe_signal);
            sigaddset(&pipe_signal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
            serve(c);
        });
    }

    std::size_t size() {
        std::lock_guard lock(mutex_);
        return connections_.size();
    }

    template <typename Visit>
    void for_each(Visit visit) {
        std::lock_guard lock(mutex_);
        for (auto& c : connections_) visit(*c);
    }

    // Joins the threads of the connections that are done (of all of them with `all`), outside
    // the lock, then hands each to `release` for its descriptors.
    template <typename Release>
    void reap(bool all, Release release) {
        std::list<std::unique_ptr<Connection>> ended;
        {
            std::lock_guard lock(mutex_);
            for (auto it = connections_.begin(); it != connections_.end();) {
                if (all || (*it)->done.load()) {
                    ended.push_back(std::move(*it));
                    it = connections_.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (auto& c : ended) {
            if (c->thread.joinable()) c->thread.join();
            release(*c);
        }
    }

  private:
    std::mutex mutex_;
    std::list<std::unique_ptr<Connection>> connections_;
};

}  // namespace sim_server
