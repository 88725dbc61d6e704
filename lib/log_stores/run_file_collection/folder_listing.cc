#include "log_stores/run_file_collection/folder_listing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>

#include "platform/ascii_text.h"
#include "platform/last_error.h"
#include "qvr/requests/remote_file_requests.h"

namespace log_stores {
namespace {

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

int read_folder(const std::string& path, std::vector<std::string>& names) {
    std::unique_ptr<DIR, DirCloser> dir(::opendir(path.c_str()));
    if (!dir) return platform::fail_from_errno();
    errno = 0;
    while (const dirent* entry = ::readdir(dir.get())) names.emplace_back(entry->d_name);
    if (errno != 0) return platform::fail_from_errno();
    return 0;
}

}  // namespace

int FolderListing::list_local(const std::string& path) {
    clear();
    std::vector<std::string> names;
    if (read_folder(path, names) != 0) return -1;
    std::sort(names.begin(), names.end());
    names_ = std::move(names);
    active_ = true;
    return 0;
}

int FolderListing::list_remote(const std::string& machine, const std::string& folder, const char* pattern) {
    clear();
    std::vector<std::string> names;
    if (qvr::requests::list_directory(machine.c_str(), folder.c_str(), pattern, names) < 0) return -1;
    std::sort(names.begin(), names.end());
    names_ = std::move(names);
    active_ = true;
    return 0;
}

std::optional<std::string> FolderListing::next() {
    if (!active_ || index_ >= names_.size()) {
        clear();
        return std::nullopt;
    }
    return std::move(names_[index_++]);
}

void FolderListing::clear() {
    names_.clear();
    names_.shrink_to_fit();
    index_ = 0;
    active_ = false;
}

std::optional<std::string> find_entry_ignoring_case(const std::string& folder, std::string_view name) {
    struct stat st {};
    const std::string exact = folder + "/" + std::string(name);
    if (::lstat(exact.c_str(), &st) == 0) return std::string(name);
    std::vector<std::string> names;
    if (read_folder(folder, names) != 0) return std::nullopt;
    std::sort(names.begin(), names.end());
    for (std::string& entry : names)
        if (platform::equal_ignoring_case(entry, name)) return std::move(entry);
    return std::nullopt;
}

}  // namespace log_stores
