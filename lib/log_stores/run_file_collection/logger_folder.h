#pragma once
// Where a file collection's runs lie. The folder text is an absolute path, a path of another
// machine ("\\machine\share\rest", reached through the RemoteMachines mapping or else the
// server's requests), or a path whose first component names a product folder
// ("LOGGED_DATA\L1"). A Windows drive path ("C:\...") names nothing on this system.
#include <cstddef>
#include <string>
#include <string_view>

namespace log_stores {

struct LoggerFolder {
    std::string folder;         // as the collection names it; a remote path keeps its form
    bool remote_form = false;   // "\\machine\..."
    std::string machine;        // remote form: the machine part
    std::string server_folder;  // remote form: the folder as the machine's server names it
    std::size_t walk_from = 0;  // remote form: the end of "\\machine\share" (or "\\machine")
};

// The folder of a non-empty folder text. -1 with ERROR_PATH_NOT_FOUND (3) and `error` set for
// a drive path or a remote path without a machine.
int resolve_folder_text(std::string_view text, LoggerFolder& out, std::string& error);

// A folder of this machine: '\' becomes '/'.
LoggerFolder local_folder(std::string folder);

// `name` inside the collection's folder, joined by the folder's own separator.
std::string path_in_folder(const LoggerFolder& folder, std::string_view name);

// The local path where `path` is opened: remote paths through their mapping (-1 with 53 when
// the machine has none), others with '\' made '/'.
int local_path(const std::string& path, std::string& local);

// Creates the missing folders of the local path `path`. Components up to a country name
// ("/FRANCE/") or, without one and always in the Rimvale edition, up to "/LOGGED_DATA/" must
// already exist (a missing site or mount is never made); those after it are created, and so
// is the last one. Without either anchor only the last component is created. `from` is where
// the walk begins (past a mapped machine's share). 0, or -1 with errno.
int create_logger_folder(const std::string& path, std::size_t from, bool rimvale);

}  // namespace log_stores
