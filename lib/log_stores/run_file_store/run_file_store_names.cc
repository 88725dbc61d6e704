// The run file store's names: renaming a run with its text companion.
#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "log_stores/run_file/run_name.h"
#include "log_stores/run_file_store/run_file_store.h"
#include "platform/ascii_text.h"
#include "platform/file_move.h"

namespace log_stores {

namespace {
constexpr std::size_t kRunningStampAndExtension = 17;
constexpr std::size_t kFinishedStampAndExtension = 31;

// The folder, `prefix`, and the last `tail` characters of the name of `path`.
std::string renamed(const std::string& path, std::string_view prefix, std::size_t tail) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t name_at = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(0, name_at) + std::string(prefix) + path.substr(path.size() - tail);
}

bool move(const std::string& from, const std::string& to) {
    return platform::move_no_replace(from, to) == 0;
}
}  // namespace

int CLogFileStore::Rename(const char* newPrefix) {
    if (newPrefix == nullptr || localPath_.empty() || std::strpbrk(newPrefix, "/\\") != nullptr) return 0;
    const std::string_view prefix(newPrefix);
    const std::size_t slash = localPath_.find_last_of('/');
    const std::string_view name = std::string_view(localPath_).substr(slash == std::string::npos ? 0 : slash + 1);
    const auto parts = run_file::parse_run_name(name);
    if (!parts) return 0;
    if (platform::starts_with_ignoring_case(name, prefix)) return 1;
    const std::size_t tail = parts->stop ? kFinishedStampAndExtension : kRunningStampAndExtension;
    if (!move(localPath_, renamed(localPath_, prefix, tail))) return 0;
    const std::string companion = run_file::companion_name(localPath_, ".txt");
    // A run without a text companion has nothing more to move.
    if (::access(companion.c_str(), F_OK) != 0 && errno == ENOENT) return 1;
    return move(companion, renamed(companion, prefix, tail)) ? 1 : 0;
}

}  // namespace log_stores
