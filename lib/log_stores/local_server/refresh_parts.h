#pragma once
// The pieces of a refresh, shared by the files that make it up.
#include <string>

#include "log_stores/local_server/local_data_server.h"

namespace log_stores::local {

using RunScan = LocalDataServer::RunScan;

// Where the run lives, as the debug lines name it.
std::string RunLocation(LocalDataServer& server, const RunEntry& run);

// Reads the header when it has not been read, then the records the run gained since the last
// refresh into its cache.
void CacheNewRecords(LocalDataServer& server, RunEntry& run, RunScan& scan);

// Reads the run's "TEXT" and "HEADER" sections when they may have changed.
void RefreshRunTexts(LocalDataServer& server, RunEntry& run, RunScan& scan);

// Moves the cache of `from` (the same run under its former name) to `to` when both stores
// have the same record layout; true when moved.
bool TakeOverCache(RunEntry& from, RunScan& from_scan, RunEntry& to, RunScan& to_scan);

}  // namespace log_stores::local
