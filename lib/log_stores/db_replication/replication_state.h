#pragma once
// What a database collection keeps for merge replication of its runs to a second database.
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace log_stores::db_replication {

inline constexpr std::size_t kMaxTargetConnection = 1024;
// Answers of "not finished yet" the snapshot poll takes before it gives up, one wait apart.
inline constexpr int kSnapshotPolls = 60;
inline constexpr std::chrono::milliseconds kSnapshotWait{1000};

using Wait = std::function<void(std::chrono::milliseconds)>;

struct ReplicationState {
    bool on = false;
    bool prune = false;
    int keepCount = 0;
    bool incomplete = false;
    std::string target;
    std::string targetSource;
    std::string targetCatalog;
    std::string ownSource;
    std::string ownCatalog;
    // The snapshot poll's pause; tests put a shorter one in.
    Wait wait;
};

// True for a data source naming this machine: ".", "localhost", "127.0.0.1", empty, or the
// computer name (letter case ignored).
bool names_local_machine(std::string_view source);

}  // namespace log_stores::db_replication
