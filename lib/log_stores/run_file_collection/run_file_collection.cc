#include "log_stores/run_file_collection/run_file_collection.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "log_stores/logger_names/logger_name.h"
#include "log_stores/run_file_collection/run_stamp.h"
#include "log_stores/status_channels/logger_status.h"
#include "platform/ascii_text.h"
#include "platform/file_paths.h"
#include "platform/last_error.h"
#include "platform/remote_path.h"
#include "qvr/link/link.h"
#include "qvr/settings/env.h"
#include "qvr/settings/reg.h"

namespace log_stores {
namespace {

constexpr std::string_view kRunExtension = ".qdl";
constexpr std::string_view kDeletedExtensions[] = {".qdl", ".txt", ".qvr", ".zip"};

bool is_folder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_rimvale() { return platform::equal_ignoring_case(reg_GetProductName(), "Rimvale"); }

// Copies `text` with its NUL when both fit in `size`.
bool copy_fitting(std::string_view text, char* out, std::size_t size) {
    if (out == nullptr || text.size() + 1 > size) return false;
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return true;
}

std::string cut(std::string text, std::size_t size) {
    if (text.size() >= size) text.resize(size - 1);
    return text;
}

}  // namespace

int CLogFileCollection::Open(const char* connection, const char* folderText, const char* loggerName,
                             const char* prefix, std::uint32_t access) {
    // A refused prefix leaves the kept one (empty in a new collection); the file kind goes on.
    (void)CLogCollection::Open(connection, folderText, loggerName, prefix, access);
    remote_ = false;
    listing_.clear();
    const bool write = (access & kGenericWrite) != 0;

    if (folderText != nullptr && *folderText != '\0') {
        std::string error;
        if (resolve_folder_text(folderText, folder_, error) != 0) {
            const int code = platform::last_error();
            set_error("Bad folder", error);
            return platform::fail(code);
        }
    } else {
        if (loggerName == nullptr || *loggerName == '\0') return platform::fail(platform::kErrorInvalidParameter);
        // The name is the folder's last component: it may not lead anywhere else.
        if (const char* why = PathComponentRefusal(loggerName)) {
            set_error("Bad logger name", why);
            return platform::fail(platform::kErrorInvalidParameter);
        }
        const char* logged = env_GetProductFolder("QVR_LOGGED_DATA");
        if (logged == nullptr) return platform::fail(0);
        const std::string logged_folder(logged);
        if (!is_folder(logged_folder)) {
            if (!write) return platform::fail(platform::kErrorPathNotFound);
            if (platform::make_directory(logged_folder, 0777) != 0 && errno != EEXIST) return platform::fail_from_errno();
        }
        folder_ = local_folder(logged_folder + "/" + loggerName);
    }

    status_SetLocation(folder_.folder.c_str(), folder_.folder.c_str(), CLogCollection::prefix().c_str());

    std::string local;
    const int mapped = local_folder_path(local);
    const int map_error = platform::last_error();
    if (mapped == 0 && is_folder(local)) return 0;

    if (folder_.remote_form && mapped != 0 && access == kGenericRead && !folder_.machine.empty() &&
        link_IsLocalServer(folder_.machine.c_str()) == 0) {
        FolderListing probe;
        if (probe.list_remote(folder_.machine, folder_.server_folder, "*.qdl") != 0) return -1;
        remote_ = true;
        return 0;
    }

    if (!write || mapped != 0) return platform::fail(mapped != 0 ? map_error : platform::kErrorPathNotFound);
    std::size_t from = 0;
    if (folder_.remote_form) {
        std::string share;
        if (platform::map_remote_path(folder_.folder.substr(0, folder_.walk_from), share) != 0) return -1;
        from = share.size();
    }
    if (create_logger_folder(local, from, is_rimvale()) != 0) return platform::fail_from_errno();
    return 0;
}

void CLogFileCollection::Placeholder(std::intptr_t) {}

int CLogFileCollection::local_folder_path(std::string& local) const {
    return local_path(folder_.folder, local);
}

void CLogFileCollection::DeleteRunsBefore(std::int32_t seconds) {
    listing_.clear();
    std::string local;
    if (remote_ || local_folder_path(local) != 0) return;
    const std::string& prefix = CLogCollection::prefix();
    for (const std::string_view extension : kDeletedExtensions) {
        FolderListing listing;
        if (listing.list_local(local) != 0) continue;
        while (const auto name = listing.next()) {
            if (name->empty() || (*name)[0] == '.') continue;
            if (!prefix.empty() && !platform::starts_with_ignoring_case(*name, prefix)) continue;
            const auto stamp = read_run_stamp(*name, extension);
            if (!stamp || stamp->start == 0 || stamp->start >= seconds || stamp->stop == 0 || stamp->stop >= seconds)
                continue;
            const std::string path = local + "/" + *name;
            struct stat st {};
            if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
            ::chmod(path.c_str(), st.st_mode | S_IWUSR);
            ::unlink(path.c_str());
        }
    }
}

int CLogFileCollection::BeginRunList(std::size_t* nameSize) {
    int rc = 0;
    if (remote_) {
        rc = listing_.list_remote(folder_.machine, folder_.server_folder, "*");
    } else {
        std::string local;
        rc = local_folder_path(local) == 0 ? listing_.list_local(local) : -1;
    }
    if (rc != 0) return 0;
    if (nameSize != nullptr) *nameSize = kRunListNameSize;
    return 1;
}

int CLogFileCollection::GetNextRun(char* name, TimeStamp* start, TimeStamp* stop) {
    while (auto entry = listing_.next()) {
        std::string& candidate = *entry;
        if (candidate.empty() || candidate[0] == '.') continue;
        // As the listing hands names out, without the top bit of the last character.
        candidate.back() = static_cast<char>(static_cast<unsigned char>(candidate.back()) & 0x7F);
        const auto stamp = read_run_stamp(candidate, kRunExtension);
        if (!stamp || stamp->start == 0) continue;
        if (candidate.size() + 1 > kRunListNameSize) continue;
        if (name != nullptr) copy_fitting(candidate, name, kRunListNameSize);
        if (start != nullptr) *start = TimeStamp{stamp->start, 0, 0};
        if (stop != nullptr) *stop = TimeStamp{stamp->stop, 0, 0};
        return 1;
    }
    platform::set_last_error(0);
    return 0;
}

int CLogFileCollection::GetLatestRun(char* name, std::size_t* nameSize, TimeStamp* start, TimeStamp* stop,
                                     bool anyPrefix) {
    if (BeginRunList(nullptr) == 0) return 0;
    const std::string& prefix = CLogCollection::prefix();
    std::string best;
    RunStamp best_stamp;
    bool found = false;
    char candidate[kRunListNameSize];
    TimeStamp run_start{}, run_stop{};
    while (GetNextRun(candidate, &run_start, &run_stop) == 1) {
        const std::string_view run(candidate);
        if (!anyPrefix) {
            const auto stamp = read_run_stamp(run, kRunExtension);
            if (!stamp || stamp->at != prefix.size()) continue;
            if (!prefix.empty() && !platform::starts_with_ignoring_case(run, prefix)) continue;
        }
        if (found && run_start.seconds <= best_stamp.start) continue;
        found = true;
        best.assign(run);
        best_stamp.start = run_start.seconds;
        best_stamp.stop = run_stop.seconds;
    }
    if (!found) return 0;
    if (name != nullptr) {
        const std::size_t capacity = nameSize != nullptr ? *nameSize : kRunListNameSize;
        if (!copy_fitting(best, name, capacity)) {
            if (capacity > 0) name[0] = '\0';
            if (nameSize != nullptr) *nameSize = best.size() + 1;
            platform::set_last_error(platform::kErrorInsufficientBuffer);
            return 0;
        }
    }
    if (nameSize != nullptr) *nameSize = best.size() + 1;
    if (start != nullptr) *start = TimeStamp{best_stamp.start, 0, 0};
    if (stop != nullptr) *stop = TimeStamp{best_stamp.stop, 0, 0};
    return 1;
}

const char* CLogFileCollection::GetErrorText() { return errorText_.c_str(); }
const char* CLogFileCollection::GetErrorContext() { return errorContext_.c_str(); }

void CLogFileCollection::set_error(std::string context, std::string text) {
    errorContext_ = cut(std::move(context), kCollectionErrorContextSize);
    errorText_ = cut(std::move(text), kCollectionErrorTextSize);
}

void CLogFileCollection::GetStoreLocation(const char* runName, char* location, std::size_t* size) {
    const std::string path = path_in_folder(folder_, runName != nullptr ? runName : "");
    if (size == nullptr) return;
    copy_fitting(path, location, *size);
    *size = path.size() + 1;
}

}  // namespace log_stores
