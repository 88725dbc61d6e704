#include "platform/registry_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_save.h"
#include "platform/last_error.h"
#include "platform/lock_turn.h"
#include "platform/monotonic_clock.h"
#include "platform/unique_fd.h"

namespace platform {
namespace {

// A hive far larger than any configuration is a damaged file, not one to load into memory.
constexpr off_t kMaxHiveFileSize = 16 * 1024 * 1024;
constexpr int kLockPatienceMs = 10000;

struct FileIdentity {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{};
    timespec ctime{};

    static FileIdentity of(const struct stat& st) {
        return {true, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
    }
    bool operator==(const FileIdentity& o) const {
        return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
               mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec &&
               ctime.tv_sec == o.ctime.tv_sec && ctime.tv_nsec == o.ctime.tv_nsec;
    }
};

struct CacheEntry {
    FileIdentity identity;
    std::shared_ptr<const RegistryDocument> document;
};

std::mutex g_mutex;  // guards the cache and the diagnostics sink
std::map<std::string, CacheEntry> g_cache;
std::function<void(const std::string&)> g_sink;
bool g_sink_set = false;

int code_from_errno(int error) {
    switch (error) {
        case EACCES:
        case EPERM:
        case EROFS:
            return kErrorAccessDenied;
        case ENOSPC:
        case EDQUOT:
            return kErrorDiskFull;
        case ENOMEM:
            return kErrorNotEnoughMemory;
        case EFBIG:
            return kErrorInvalidData;
        default:
            return kErrorRegistryIoFailed;
    }
}

std::string home_folder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    std::vector<char> buffer(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_dir != nullptr) {
        return found->pw_dir;
    }
    return "/";
}

mode_t file_mode(RegistryHive hive) {
    return hive == RegistryHive::machine ? 0644 : 0600;
}
bool folder_overridden() {
    const char* dir = std::getenv("BREVANTIC_REGISTRY_DIR");
    return dir != nullptr && *dir != '\0';
}

// A private folder for the user hive only where it is the user's own; a shared folder
// (overridden) also holds the machine hive, which every user must be able to read.
mode_t folder_mode(RegistryHive hive) {
    return hive == RegistryHive::machine || folder_overridden() ? 0755 : 0700;
}

// A printable, bounded copy of a line for a diagnostic message.
std::string printable(std::string_view text) {
    constexpr size_t kMax = 200;
    std::string out;
    for (char c : text.substr(0, kMax)) out.push_back(static_cast<unsigned char>(c) < 0x20 ? '?' : c);
    if (text.size() > kMax) out += "...";
    return out;
}

void report(const std::filesystem::path& file, const std::vector<RegistryParseIssue>& issues) {
    if (issues.empty()) return;
    std::function<void(const std::string&)> sink;
    bool use_stderr = false;
    {
        std::lock_guard lock(g_mutex);
        sink = g_sink;
        use_stderr = !g_sink_set;
    }
    for (const auto& issue : issues) {
        std::string message = "registry: " + file.string() + ":" + std::to_string(issue.line) +
                              ": skipped unreadable line: " + printable(issue.text);
        if (sink) {
            sink(message);
        } else if (use_stderr) {
            std::fprintf(stderr, "%s\n", message.c_str());
        }
    }
}

// Reads the whole file; a file missing gives an empty text and an identity that does not exist.
int read_file(const std::filesystem::path& path, std::string& text, FileIdentity& identity) {
    for (int attempt = 0;; ++attempt) {
        text.clear();
        identity = {};
        UniqueFd fd = open_file(path.string(), O_RDONLY);
        if (!fd) {
            if (errno == ENOENT || errno == ENOTDIR) return 0;
            return code_from_errno(errno);
        }
        struct stat before {};
        if (fstat(fd.get(), &before) != 0) return code_from_errno(errno);
        if (!S_ISREG(before.st_mode)) return kErrorRegistryIoFailed;
        if (before.st_size > kMaxHiveFileSize) return kErrorInvalidData;
        if (read_to_end(fd.get(), text, static_cast<size_t>(kMaxHiveFileSize)) != 0) return code_from_errno(errno);
        struct stat after {};
        if (fstat(fd.get(), &after) != 0) return code_from_errno(errno);
        identity = FileIdentity::of(after);
        // Our own writers replace the file whole; an editor writing in place may be caught
        // half way, which shows as a change during the read.
        if (FileIdentity::of(before) == identity || attempt == 3) return 0;
    }
}

int make_folders(const std::filesystem::path& folder, mode_t mode) {
    std::filesystem::path partial;
    for (const auto& part : folder) {
        partial /= part;
        if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) return code_from_errno(errno);
    }
    return 0;
}

// Holds the hive's lock file for the duration of one update, taken in turn with the other
// writers of the folder (platform/lock_turn.h).
class HiveLock {
  public:
    int acquire(const std::filesystem::path& lock_path, mode_t mode) {
        fd_ = open_file(lock_path.string(), O_RDWR | O_CREAT, mode);
        if (!fd_) return code_from_errno(errno);
        // Bounded, so a stopped process holding the lock cannot hang every writer for good.
        const Deadline deadline = Deadline::after_ms(kLockPatienceMs);
        const LockTurn turn = LockTurn::take(lock_path.parent_path().string(), deadline);
        if (wait_for_flock(fd_.get(), deadline) != 0)
            return errno == kErrorTimeout ? kErrorTimeout : code_from_errno(errno);
        return 0;
    }

  private:
    UniqueFd fd_;  // closing it releases the lock
};

int replace_file(const std::filesystem::path& file, std::string_view text, mode_t mode) {
    SaveOptions options;
    options.new_file_mode = mode;
    if (save_file(file.string(), text, options) != 0) return code_from_errno(errno);
    return 0;
}

void remember(const std::filesystem::path& file, const FileIdentity& identity,
              std::shared_ptr<const RegistryDocument> document) {
    std::lock_guard lock(g_mutex);
    g_cache[file.string()] = CacheEntry{identity, std::move(document)};
}

}  // namespace

std::filesystem::path registry_hive_folder(RegistryHive hive) {
    if (folder_overridden()) return std::getenv("BREVANTIC_REGISTRY_DIR");
    if (hive == RegistryHive::machine) return "/etc/brevantic";
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::filesystem::path base = (config != nullptr && *config == '/')
                                     ? std::filesystem::path(config)
                                     : std::filesystem::path(home_folder()) / ".config";
    return base / "brevantic";
}

std::filesystem::path registry_hive_file(RegistryHive hive) {
    return registry_hive_folder(hive) / (hive == RegistryHive::machine ? "machine.reg" : "user.reg");
}

int registry_load(RegistryHive hive, std::shared_ptr<const RegistryDocument>& document) {
    const std::filesystem::path file = registry_hive_file(hive);
    FileIdentity now;
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) {
        now = FileIdentity::of(st);
    } else if (errno != ENOENT && errno != ENOTDIR) {
        return code_from_errno(errno);
    }
    {
        std::lock_guard lock(g_mutex);
        auto it = g_cache.find(file.string());
        if (it != g_cache.end() && it->second.identity == now) {
            document = it->second.document;
            return 0;
        }
    }
    std::string text;
    FileIdentity identity;
    if (int rc = read_file(file, text, identity); rc != 0) return rc;
    std::vector<RegistryParseIssue> issues;
    auto parsed = std::make_shared<const RegistryDocument>(parse_registry_text(text, &issues));
    report(file, issues);
    remember(file, identity, parsed);
    document = std::move(parsed);
    return 0;
}

int registry_update(RegistryHive hive, const std::function<int(RegistryDocument&)>& change) {
    const std::filesystem::path file = registry_hive_file(hive);
    if (int rc = make_folders(file.parent_path(), folder_mode(hive)); rc != 0) return rc;
    HiveLock lock;
    if (int rc = lock.acquire(file.string() + ".lock", file_mode(hive)); rc != 0) return rc;

    std::string old_text;
    FileIdentity identity;
    if (int rc = read_file(file, old_text, identity); rc != 0) return rc;
    std::vector<RegistryParseIssue> issues;
    RegistryDocument document = parse_registry_text(old_text, &issues);
    report(file, issues);
    if (int rc = change(document); rc != 0) return rc;

    std::string text = format_registry_text(document);
    if (identity.exists && text == old_text) return 0;
    if (int rc = replace_file(file, text, file_mode(hive)); rc != 0) return rc;

    // Still under the lock, so the file is the one just written.
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) {
        remember(file, FileIdentity::of(st), std::make_shared<const RegistryDocument>(std::move(document)));
    }
    return 0;
}

void set_registry_diagnostics(std::function<void(const std::string& message)> sink) {
    std::lock_guard lock(g_mutex);
    g_sink = std::move(sink);
    g_sink_set = true;
}

}  // namespace platform
