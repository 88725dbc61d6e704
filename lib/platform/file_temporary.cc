#include "platform/file_temporary.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/file_io.h"
#include "platform/file_save.h"
#include "platform/last_error.h"
#include "platform/testing/file_save_testing.h"

namespace platform {
namespace {

constexpr int kNameAttempts = 100;
constexpr std::size_t kSuffixLength = 8;
constexpr std::size_t kProcessIdDigits = 10;
// "." + name + "." + id + "." + suffix must stay a legal name however long the target's is.
constexpr std::size_t kTemporaryNameKept = NAME_MAX - 3 - kProcessIdDigits - kSuffixLength;
// The byte the writer locks: far past anything a file holds or a reader probes.
constexpr off_t kWriterByte = std::numeric_limits<off_t>::max() - 1;

std::atomic<BeforeRenameHook> g_before_rename{nullptr};

std::string name_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What every temporary of `target`'s saves begins with, the folder left out.
std::string temporary_prefix(const std::string& target) {
    return "." + name_of(target).substr(0, kTemporaryNameKept) + ".";
}

bool is_alphanumeric(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Letters or digits, different for every call and every process.
std::string random_suffix() {
    static constexpr char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::array<unsigned char, kSuffixLength> bytes{};
    if (::getrandom(bytes.data(), bytes.size(), GRND_NONBLOCK) != static_cast<ssize_t>(bytes.size())) {
        // No entropy yet (early boot): the process id in the name and a counter still keep
        // names apart.
        static thread_local unsigned counter = 0;
        const unsigned long long mix = (static_cast<unsigned long long>(::getpid()) << 32) ^ ++counter ^
                                       reinterpret_cast<std::uintptr_t>(&counter);
        for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(mix >> (8 * i));
    }
    std::string suffix;
    for (unsigned char b : bytes) suffix.push_back(kAlphabet[b % (sizeof kAlphabet - 1)]);
    return suffix;
}

// The writer's process id when `entry` is a temporary of a save of the target whose
// temporaries begin with `prefix`: exactly "<prefix><digits>.<8 letters or digits>".
std::optional<pid_t> writer_of(std::string_view entry, std::string_view prefix) {
    if (!entry.starts_with(prefix)) return std::nullopt;
    const std::string_view rest = entry.substr(prefix.size());
    const std::size_t dot = rest.find('.');
    if (dot == 0 || dot == std::string_view::npos || dot > kProcessIdDigits) return std::nullopt;
    const std::string_view suffix = rest.substr(dot + 1);
    if (suffix.size() != kSuffixLength) return std::nullopt;
    for (char c : suffix)
        if (!is_alphanumeric(c)) return std::nullopt;
    long long id = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + dot, id);
    if (error != std::errc{} || end != rest.data() + dot || id <= 0 || id > std::numeric_limits<pid_t>::max())
        return std::nullopt;
    return static_cast<pid_t>(id);
}

// A process that runs, or one this process may not signal, is alive.
bool process_runs(pid_t id) {
    return ::kill(id, 0) == 0 || errno == EPERM;
}

// One OFD lock of the writer's byte: exclusive for the writer (waiting), shared for a
// remover (not waiting).
int lock_writer_byte(int fd, short type, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = kWriterByte;
    lock.l_len = 1;
    for (;;) {
        if (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

// Removes the entry when no writer holds its lock; it stays on any doubt.
void remove_unless_locked(int folder, const std::string& name) {
    const UniqueFd fd(::openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd) return;
    struct stat held {};
    struct stat named {};
    if (::fstat(fd.get(), &held) != 0 || !S_ISREG(held.st_mode)) return;
    if (lock_writer_byte(fd.get(), F_RDLCK, false) != 0) return;
    // Still the file just locked: a name is never made twice, but nothing else is removed.
    if (::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_dev != held.st_dev ||
        named.st_ino != held.st_ino)
        return;
    (void)::unlinkat(folder, name.c_str(), 0);
}

void remove_dead_in(const std::string& folder, const std::string& prefix) {
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), &::closedir);
    if (!dir) return;
    std::vector<std::string> dead;
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::optional<pid_t> writer = writer_of(entry->d_name, prefix);
        if (writer && !process_runs(*writer)) dead.emplace_back(entry->d_name);
    }
    for (const std::string& name : dead) remove_unless_locked(::dirfd(dir.get()), name);
}

}  // namespace

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The rename is on disk only once the folder is: a failed sync here is not a failed save,
// as the new file is in place whatever happens.
void sync_folder_of(const std::string& path) {
    const UniqueFd folder = open_file(folder_of(path), O_RDONLY | O_DIRECTORY);
    if (folder) (void)::fsync(folder.get());
}

void remove_dead_temporaries(const std::string& path) {
    const int saved = errno;
    const std::string target = save_target(path);
    if (!target.empty()) remove_dead_in(folder_of(target), temporary_prefix(target));
    errno = saved;
}

SaveTemporary::~SaveTemporary() {
    if (path_.empty()) return;
    const int saved = errno;
    // Unlinked while still locked, so no remover ever sees it half gone.
    ::unlink(path_.c_str());
    fd_.reset();
    errno = saved;
}

// O_EXCL with a fresh name: never another save's file, nor one a killed save left.
int SaveTemporary::create(const std::string& target) {
    remove_dead_in(folder_of(target), temporary_prefix(target));
    const std::string prefix =
        folder_of(target) + "/" + temporary_prefix(target) + std::to_string(::getpid()) + ".";
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string candidate = prefix + random_suffix();
        UniqueFd fd = open_file(candidate, O_RDWR | O_CREAT | O_EXCL, 0666);
        if (!fd) {
            if (errno != EEXIST) return -1;
            continue;
        }
        // A file system without OFD locks: the process id alone keeps the file then.
        if (lock_writer_byte(fd.get(), F_WRLCK, true) != 0 && errno != ENOLCK && errno != EINVAL &&
            errno != EOPNOTSUPP) {
            const int error = errno;
            ::unlink(candidate.c_str());
            return fail(error);
        }
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) {
            const int error = errno;
            ::unlink(candidate.c_str());
            return fail(error);
        }
        if (st.st_nlink == 0) continue;  // removed before it was locked: another name
        fd_ = std::move(fd);
        path_ = std::move(candidate);
        return 0;
    }
    return fail(EEXIST);
}

int SaveTemporary::commit(const std::string& target) {
    if (::fsync(fd()) != 0) return fail_from_errno();
    if (const BeforeRenameHook hook = g_before_rename.load()) hook(path_.c_str());
    if (::rename(path_.c_str(), target.c_str()) != 0) return fail_from_errno();
    path_.clear();
    // The content is synced: closing can report nothing that matters now.
    fd_.reset();
    sync_folder_of(target);
    return 0;
}

void set_before_rename_hook(BeforeRenameHook hook) {
    g_before_rename.store(hook);
}

}  // namespace platform
