#include "log_stores/text_files/text_edit.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/file_io.h"
#include "platform/file_save.h"
#include "platform/last_error.h"

namespace log_stores::text_files {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kMaxTextFile = 64u << 20;
constexpr auto kLockWait = 10s;

// The lock of an edit: flock of the file the path names at the moment the lock is held. A
// rename over the path by the previous holder makes the waiter try again on the new file.
class EditLock {
  public:
    // 0, -2 (cannot open), or -1 (time-out, other failure).
    int take(const std::string& path) {
        const auto deadline = std::chrono::steady_clock::now() + kLockWait;
        for (;;) {
            fd_ = platform::open_file(path, O_RDWR | O_CREAT, 0666);
            if (!fd_) {
                platform::fail_from_errno();
                return -2;
            }
            while (flock(fd_.get(), LOCK_EX | LOCK_NB) != 0) {
                if (errno != EWOULDBLOCK && errno != EINTR) return platform::fail_from_errno();
                if (std::chrono::steady_clock::now() >= deadline) return platform::fail(platform::kErrorTimeout);
                std::this_thread::sleep_for(5ms);
            }
            struct stat held {}, named {};
            if (fstat(fd_.get(), &held) != 0) return platform::fail_from_errno();
            if (stat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino)
                return 0;
            fd_.reset();  // replaced meanwhile: lock the new file
        }
    }
    int fd() const { return fd_.get(); }

  private:
    platform::UniqueFd fd_;  // closing it gives the lock free
};

std::string header_of(std::string_view section) {
    if (section.size() >= 2 && section.front() == '[' && section.back() == ']') return std::string(section);
    return "[" + std::string(section) + "]";
}

bool ends_with_crlf(std::string_view text) { return text.size() >= 2 && text.substr(text.size() - 2) == "\r\n"; }

int save_with_retries(const std::string& path, std::string_view content) {
    // A rename that finds the file busy is tried again, ten times 100 ms apart.
    for (int attempt = 0;; ++attempt) {
        if (platform::save_file(path, content) == 0) return 0;
        if (errno != EBUSY || attempt == 9) return -1;
        std::this_thread::sleep_for(100ms);
    }
}

}  // namespace

std::string replaced_section(std::string_view old, std::string_view section, std::string_view text) {
    const std::string header = header_of(section);
    std::string body(text);
    if (!body.empty() && !ends_with_crlf(body)) body += "\r\n";

    std::string out;
    out.reserve(old.size() + body.size() + header.size() + 4);
    bool replaced = false;
    std::size_t at = 0;
    while (at < old.size()) {
        std::size_t end = old.find("\r\n", at);
        end = end == std::string_view::npos ? old.size() : end + 2;
        const std::string_view line = old.substr(at, end - at);
        at = end;
        if (replaced || line.substr(0, header.size()) != header) {
            out += line;
            continue;
        }
        replaced = true;
        out += header;
        out += "\r\n";
        out += body;
        while (at < old.size() && old[at] != '[') {
            const std::size_t next = old.find("\r\n", at);
            at = next == std::string_view::npos ? old.size() : next + 2;
        }
    }
    if (!replaced) {
        if (!out.empty() && !ends_with_crlf(out)) out += "\r\n";
        out += header;
        out += "\r\n";
        out += body;
    }
    return out;
}

int ReplaceTextSection(const std::string& path, std::string_view section, std::string_view text) {
    if (section.empty()) return platform::fail(platform::kErrorInvalidParameter);
    EditLock lock;
    if (const int rc = lock.take(path); rc != 0) return rc;
    std::string old;
    if (lseek(lock.fd(), 0, SEEK_SET) < 0 || platform::read_to_end(lock.fd(), old, kMaxTextFile) != 0) return -1;
    if (old.size() >= 2 && static_cast<unsigned char>(old[0]) == 0xFF && static_cast<unsigned char>(old[1]) == 0xFE)
        return platform::fail(platform::kErrorInvalidData);
    if (save_with_retries(path, replaced_section(old, section, text)) != 0) return -1;
    return 1;
}

}  // namespace log_stores::text_files
