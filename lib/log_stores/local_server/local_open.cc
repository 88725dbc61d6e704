// Opening and closing the handler's collections. (Skeleton: filled in by its owner.)
#include <cctype>
#include <chrono>

#include "log_stores/local_server/local_data_server.h"

namespace log_stores::local {

TickClock monotonic_clock() {
    return [] {
        return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    };
}

bool key_less(const ChannelKey& a, const ChannelKey& b) {
    for (int i = 0; i < 2; ++i) {
        const int x = std::toupper(static_cast<unsigned char>(a.prefix[i]));
        const int y = std::toupper(static_cast<unsigned char>(b.prefix[i]));
        if (x != y) return x < y;
    }
    return a.number < b.number;
}

bool key_equal(const ChannelKey& a, const ChannelKey& b) { return !key_less(a, b) && !key_less(b, a); }

LocalDataServer::LocalDataServer() : LocalDataServer(monotonic_clock()) {}
LocalDataServer::LocalDataServer(TickClock clock) : clock_(std::move(clock)) {}
LocalDataServer::~LocalDataServer() { Close(); }

int LocalDataServer::Open(const char*) { return -1; }
void LocalDataServer::Close() {}

CurrentRun* LocalDataServer::answering_run() {
    if (collections_[1] && collections_[1]->current.store) return &collections_[1]->current;
    if (collections_[0] && collections_[0]->current.store) return &collections_[0]->current;
    return nullptr;
}

CurrentRun* LocalDataServer::other_run() {
    CurrentRun* answering = answering_run();
    for (auto& c : collections_)
        if (c && c->current.store && &c->current != answering) return &c->current;
    return nullptr;
}

}  // namespace log_stores::local
