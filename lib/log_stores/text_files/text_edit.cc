#include "log_stores/text_files/text_edit.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "log_stores/text_files/text_paths.h"
#include "platform/ado/text_codec.h"
#include "platform/file_io.h"
#include "platform/file_save.h"
#include "platform/last_error.h"
#include "platform/lock_turn.h"
#include "platform/monotonic_clock.h"

namespace log_stores::text_files {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kMaxTextFile = 64u << 20;
constexpr int kLockWaitMs = 10000;

// The lock of an edit: flock of the file the path names at the moment the lock is held. A
// rename over the path by the previous holder makes the waiter try again on the new file.
// Takers take it in turn with the others of the folder (platform/lock_turn.h).
class EditLock {
  public:
    // 0, -2 (cannot open), or -1 (time-out, other failure).
    int take(const std::string& path) {
        const auto deadline = platform::Deadline::after_ms(kLockWaitMs);
        const platform::LockTurn turn = platform::LockTurn::take(std::string(folder_of(path)), deadline);
        for (;;) {
            fd_ = platform::open_file(path, O_RDWR | O_CREAT, 0666);
            if (!fd_) {
                platform::fail_from_errno();
                return -2;
            }
            if (platform::wait_for_flock(fd_.get(), deadline) != 0) return -1;
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

bool is_utf16(std::string_view bytes) {
    return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xFE;
}

template <class Text>
Text widen(std::string_view text);
template <>
std::string widen<std::string>(std::string_view text) { return std::string(text); }
template <>
std::u16string widen<std::u16string>(std::string_view text) { return ado::utf16_from_cp1252(text); }

bool same_time(const TimeStamp& a, const TimeStamp& b) {
    return a.seconds == b.seconds && a.milliseconds == b.milliseconds && a.microseconds == b.microseconds;
}

// 1 when a is later than b.
bool later(const TimeStamp& a, const TimeStamp& b) {
    const auto ua = static_cast<std::uint32_t>(a.seconds), ub = static_cast<std::uint32_t>(b.seconds);
    if (ua != ub) return ua > ub;
    if (a.milliseconds != b.milliseconds) return a.milliseconds > b.milliseconds;
    return a.microseconds > b.microseconds;
}

// The file's lines with `line` put in by the rules of AddTextLine. Works on 8-bit or UTF-16 text.
template <class Text>
Text with_event_line(const Text& old, const Text& header, const Text& line, const Text* match, bool remove,
                     const TimeStamp& time, bool whole_file) {
    using View = std::basic_string_view<typename Text::value_type>;
    const Text crlf = widen<Text>("\r\n");
    const View all(old);
    Text out;
    out.reserve(old.size() + line.size() + header.size() + 4);
    bool inside = whole_file, found = whole_file, done = false;
    const auto put_new = [&] {
        if (!remove) out += line + crlf;
        done = true;
    };
    std::size_t at = 0;
    while (at < all.size()) {
        std::size_t end = all.find(View(crlf), at);
        const bool has_end = end != View::npos;
        end = has_end ? end + 2 : all.size();
        const View current = all.substr(at, end - at);
        at = end;
        if (!done && inside && !whole_file && !current.empty() && current.front() == '[') {
            put_new();  // the section ends here
            inside = false;
        } else if (!done && inside) {
            const View bare = has_end ? current.substr(0, current.size() - 2) : current;
            if (const auto read = ParseTextLineTime(bare)) {
                const View rest = bare.substr(std::min(read->text_at, bare.size()));
                if (same_time(read->time, time) && (match == nullptr || rest.substr(0, match->size()) == View(*match))) {
                    put_new();  // replaces this line
                    continue;
                }
                if (later(read->time, time)) put_new();
            }
        } else if (!done && !inside && !found && current.substr(0, header.size()) == View(header)) {
            inside = found = true;
        }
        out += current;
        if (!has_end && inside && !done) out += crlf;  // the new line follows a last line without CR LF
    }
    if (!done) {
        if (!found) {
            if (!out.empty() && View(out).substr(out.size() >= 2 ? out.size() - 2 : 0) != View(crlf)) out += crlf;
            out += header + crlf;
        } else if (!out.empty() && View(out).substr(out.size() >= 2 ? out.size() - 2 : 0) != View(crlf)) {
            out += crlf;
        }
        put_new();
    }
    return out;
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
    std::string local;
    if (local_text_path(path, local) != 0) return -2;
    EditLock lock;
    if (const int rc = lock.take(local); rc != 0) return rc;
    std::string old;
    if (lseek(lock.fd(), 0, SEEK_SET) < 0 || platform::read_to_end(lock.fd(), old, kMaxTextFile) != 0) return -1;
    if (old.size() >= 2 && static_cast<unsigned char>(old[0]) == 0xFF && static_cast<unsigned char>(old[1]) == 0xFE)
        return platform::fail(platform::kErrorInvalidData);
    if (save_with_retries(local, replaced_section(old, section, text)) != 0) return -1;
    return 1;
}

std::string with_event_line_added(std::string_view old, std::string_view section, const TimeStamp& time,
                                  std::string_view text, const char* match, const EventTarget& target) {
    const std::string line = format_event_line(time, text, target.form);
    const bool remove = text.empty();
    const std::string header = header_of(section);
    if (!is_utf16(old)) {
        const std::string narrow_match = match == nullptr ? std::string() : std::string(match);
        return with_event_line<std::string>(std::string(old), header, line, match == nullptr ? nullptr : &narrow_match,
                                            remove, time, target.whole_file);
    }
    std::u16string wide;
    wide.reserve(old.size() / 2);
    for (std::size_t i = 2; i + 1 < old.size(); i += 2)
        wide += static_cast<char16_t>(static_cast<unsigned char>(old[i]) |
                                      (static_cast<unsigned char>(old[i + 1]) << 8));
    const std::u16string wide_match = match == nullptr ? std::u16string() : ado::utf16_from_cp1252(match);
    const std::u16string result =
        with_event_line<std::u16string>(wide, ado::utf16_from_cp1252(header), ado::utf16_from_cp1252(line),
                                        match == nullptr ? nullptr : &wide_match, remove, time, target.whole_file);
    std::string content = "\xFF\xFE";
    content.reserve(2 + 2 * result.size());
    for (const char16_t unit : result) {
        content += static_cast<char>(unit & 0xFF);
        content += static_cast<char>(unit >> 8);
    }
    return content;
}

int AddTextLine(const std::string& path, std::string_view section, const TimeStamp& time, std::string_view text,
                const char* match, const EventTarget& target) {
    if (section.empty() && !target.whole_file) return platform::fail(platform::kErrorInvalidParameter);
    std::string local;
    if (local_text_path(path, local) != 0) return -2;
    EditLock lock;
    if (const int rc = lock.take(local); rc != 0) return rc;
    std::string old;
    if (lseek(lock.fd(), 0, SEEK_SET) < 0 || platform::read_to_end(lock.fd(), old, kMaxTextFile) != 0) return -1;
    const std::string content = with_event_line_added(old, section, time, text, match, target);
    return save_with_retries(local, content) == 0 ? 0 : -1;
}

}  // namespace log_stores::text_files
