#include "platform/registry_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <utility>

#include "platform/last_error.h"
#include "platform/registry_file.h"

namespace platform {
namespace {

constexpr uint32_t kFolderEvents = IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_CREATE | IN_DELETE |
                                   IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr uint32_t kAncestorEvents = IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

bool is_folder(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::is_directory(path, ec);
}

}  // namespace

RegistryWatch::~RegistryWatch() {
    stop();
}

RegistryWatch::RegistryWatch(RegistryWatch&& other) noexcept {
    *this = std::move(other);
}

RegistryWatch& RegistryWatch::operator=(RegistryWatch&& other) noexcept {
    if (this != &other) {
        stop();
        fd_ = std::exchange(other.fd_, -1);
        watch_ = std::exchange(other.watch_, -1);
        watched_ = std::move(other.watched_);
        hive_ = other.hive_;
        path_ = std::move(other.path_);
        file_name_ = std::move(other.file_name_);
        contents_ = std::move(other.contents_);
    }
    return *this;
}

void RegistryWatch::stop() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    watch_ = -1;
}

int RegistryWatch::start(RegistryHive hive, std::string_view path, RegistryWatch& watch) {
    watch.stop();
    std::string normalized;
    if (!registry_normalize_path(path, normalized)) return kErrorInvalidParameter;
    int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd < 0)
        return errno == EMFILE || errno == ENFILE || errno == ENOMEM ? kErrorNotEnoughMemory
                                                                     : kErrorRegistryIoFailed;
    watch.fd_ = fd;
    watch.hive_ = hive;
    watch.path_ = std::move(normalized);
    watch.file_name_ = registry_hive_file(hive).filename().string();
    // Watch first, then take the contents, so a change in between is not missed.
    watch.arm();
    watch.contents_ = watch.current_contents();
    return 0;
}

void RegistryWatch::arm() {
    const std::filesystem::path folder = registry_hive_folder(hive_);
    std::filesystem::path target = folder;
    while (!is_folder(target) && target.has_relative_path()) target = target.parent_path();
    if (target == watched_ && watch_ >= 0) return;
    if (watch_ >= 0) inotify_rm_watch(fd_, watch_);
    watch_ = inotify_add_watch(fd_, target.c_str(), target == folder ? kFolderEvents : kAncestorEvents);
    watched_ = watch_ >= 0 ? target : std::filesystem::path();
}

bool RegistryWatch::drain_events() {
    alignas(inotify_event) std::array<char, 4096> buffer;
    bool relevant = false;
    const bool on_folder = watched_ == registry_hive_folder(hive_);
    while (true) {
        ssize_t n = ::read(fd_, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (ssize_t off = 0; off + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + off);
            const std::string_view name = event->len > 0 ? std::string_view(event->name) : std::string_view();
            // Inside the hive's folder only the hive file matters (not its lock or
            // temporary files, nor the other hive); above it, any change may bring the folder.
            if (!on_folder || name == file_name_ ||
                (event->mask & (IN_IGNORED | IN_Q_OVERFLOW | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
                relevant = true;
            }
            off += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    return relevant;
}

std::string RegistryWatch::current_contents() const {
    std::shared_ptr<const RegistryDocument> doc;
    if (int rc = registry_load(hive_, doc); rc != 0) return "\x01unreadable " + std::to_string(rc);
    return doc->subtree_text(path_);
}

bool RegistryWatch::changed() {
    if (fd_ < 0) return false;
    if (!drain_events() && watch_ >= 0) return false;
    arm();
    std::string now = current_contents();
    if (now == contents_) return false;
    contents_ = std::move(now);
    return true;
}

bool RegistryWatch::wait(std::chrono::milliseconds timeout) {
    if (fd_ < 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        if (changed()) return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd_, POLLIN, 0};
        int rc = ::poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 60'000)));
        if (rc < 0 && errno != EINTR) return false;
    }
}

}  // namespace platform
