// The text companion of a run: beside it under the same stem, or, for a run that was still
// being logged when its companion was named, under the stem with the stop stamp.
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "log_stores/run_file/run_file_format.h"
#include "log_stores/text_files/logger_text_files.h"
#include "log_stores/text_files/run_text_name.h"
#include "log_stores/text_files/text_paths.h"
#include "platform/ascii_text.h"
#include "platform/file_io.h"
#include "platform/last_error.h"
#include "qvr/requests/remote_file_requests.h"
#include "qvr/time/timestamp.h"

namespace log_stores::text_files {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kReadAccess = 0x80000000u;
constexpr std::uint32_t kShareReadWrite = 3;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kNormal = 128;
constexpr int kMaxListed = 100000;

// The run's folder, here and on the server, and the names of its ".txt" files, listed once
// when a name has to be matched ignoring case.
class RunFolder {
  public:
    RunFolder(const char* server, std::string_view run_path) : server_(server), folder_(folder_of(run_path)) {
        local_ok_ = local_text_path(folder_.empty() ? std::string("./") : folder_, local_) == 0;
        if (local_ok_ && !local_.ends_with('/')) local_ += '/';
    }

    // The path (in the form the run's was given) of `name` in the folder: the exact name
    // first, here and then on the server, then a name that differs only in letter case.
    std::optional<std::string> find(const std::string& name) {
        if (exists_here(name) || exists_on_server(name)) return folder_ + name;
        for (const std::string& listed : names())
            if (platform::equal_ignoring_case(listed, name)) return folder_ + listed;
        return std::nullopt;
    }

    const std::vector<std::string>& names() {
        if (listed_) return names_;
        listed_ = true;
        std::error_code ec;
        if (local_ok_)
            for (fs::directory_iterator it(local_, ec), end; !ec && it != end; it.increment(ec))
                add(it->path().filename().string());
        if (has_server()) list_on_server();
        return names_;
    }

  private:
    bool has_server() const { return server_ != nullptr && *server_ != '\0'; }

    void add(const std::string& name) {
        if (platform::ends_with_ignoring_case(name, ".txt")) names_.push_back(name);
    }

    bool exists_here(const std::string& name) const {
        struct stat st {};
        return local_ok_ && ::stat((local_ + name).c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }

    bool exists_on_server(const std::string& name) const {
        if (!has_server()) return false;
        const std::string path = server_side_path(folder_ + name);
        return link_OpenRemoteFile(server_, path.c_str(), kReadAccess, kShareReadWrite, 0, kOpenExisting, kNormal,
                                   nullptr) >= 0;
    }

    void list_on_server() {
        std::string folder = server_side_path(folder_);
        while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
        const int count = link_ListDirectory(server_, folder.c_str(), "*.txt", 0, nullptr);
        if (count <= 0) return;
        const int wanted = std::min(count, kMaxListed);
        std::vector<char> slots(static_cast<std::size_t>(wanted) * kRemoteNameSlot, '\0');
        const int got = link_ListDirectory(server_, folder.c_str(), "*.txt", wanted, slots.data());
        for (int i = 0; i < std::min(got, wanted); ++i) {
            const char* slot = slots.data() + static_cast<std::size_t>(i) * kRemoteNameSlot;
            add(std::string(slot, strnlen(slot, kRemoteNameSlot)));
        }
    }

    const char* server_;
    std::string folder_;  // with its final separator, or empty
    std::string local_;
    bool local_ok_ = false;
    bool listed_ = false;
    std::vector<std::string> names_;
};

// The run's header (extension merged) and the time of its last record, read here or through
// the server. nullopt when the file cannot be read or is no run file.
struct RunEnd {
    LogHeader header;
    std::optional<TimeStamp> last_record;
};

std::optional<RunEnd> read_run_end(const char* server, const std::string& run_path) {
    run_file::ReadAt read_at;
    std::uint64_t size = 0;
    platform::UniqueFd fd;
    std::string local;
    struct stat st {};
    if (local_text_path(run_path, local) == 0 && (fd = platform::open_file(local, O_RDONLY)) &&
        ::fstat(fd.get(), &st) == 0) {
        size = static_cast<std::uint64_t>(st.st_size);
        read_at = [&fd](std::span<std::uint8_t> out, std::uint64_t offset) {
            return platform::pread_all(fd.get(), out, offset);
        };
    } else if (server != nullptr && *server != '\0') {
        const std::string path = server_side_path(run_path);
        const int remote_size =
            link_OpenRemoteFile(server, path.c_str(), kReadAccess, kShareReadWrite, 0, kOpenExisting, kNormal, nullptr);
        if (remote_size < 0) return std::nullopt;
        size = static_cast<std::uint64_t>(remote_size);
        read_at = [server, path](std::span<std::uint8_t> out, std::uint64_t offset) -> ssize_t {
            if (out.size() > kRemoteReadMax || offset > INT32_MAX) return -1;
            std::uint32_t got = 0;
            if (link_ReadFile(server, kInvalidFileHandle, path.c_str(), static_cast<std::uint32_t>(out.size()),
                              static_cast<std::int32_t>(offset), 0, kReadAccess, kShareReadWrite, 0, kOpenExisting,
                              kNormal, out.data(), &got) != 1)
                return -1;
            return static_cast<ssize_t>(std::min<std::size_t>(got, out.size()));
        };
    } else {
        return std::nullopt;
    }
    RunEnd end;
    if (run_file::read_header(read_at, size, end.header) != 0) return std::nullopt;
    if (end.header.recordCount > 0) {
        std::array<std::uint8_t, run_file::kRecordHeadSize> head{};
        const std::uint64_t at = static_cast<std::uint64_t>(end.header.dataStart) +
                                 static_cast<std::uint64_t>(end.header.recordCount - 1) *
                                     static_cast<std::uint64_t>(end.header.recordSize);
        if (read_at(head, at) == static_cast<ssize_t>(head.size()))
            end.last_record = run_file::decode_record_head(head).time;
    }
    return end;
}

std::string file_name_of(std::string_view path) { return std::string(path.substr(folder_of(path).size())); }

std::optional<std::string> find_for_running(const char* server, const std::string& run_path,
                                            const RunTextName& walked, RunFolder& folder) {
    const std::string stem = file_name_of(run_path.substr(0, walked.extension_at));
    if (const auto end = read_run_end(server, run_path)) {
        if (end->header.stop.seconds != 0)
            if (auto found = folder.find(stem + "_" + time_FileStampText(end->header.stop.seconds) + ".txt"))
                return found;
        if (end->last_record)
            if (auto found = folder.find(stem + "_" + time_FileStampText(end->last_record->seconds) + ".txt"))
                return found;
    }
    // A finished companion of this run whatever its stop: same prefix, same start.
    for (const std::string& name : folder.names()) {
        const auto other = walk_run_name(name);
        if (!other || !other->finished || other->start_at != stem.size() - kStampLength) continue;
        if (platform::equal_ignoring_case(std::string_view(name).substr(0, stem.size()), stem))
            return folder.find(name);
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> FindLoggerTextFile(const char* server, const std::string& run_path) {
    const auto walked = walk_run_name(run_path);
    if (!walked) {
        errno = ENOENT;
        return std::nullopt;
    }
    RunFolder folder(server, run_path);
    const std::string stem = file_name_of(run_path.substr(0, walked->extension_at));
    std::optional<std::string> found = folder.find(stem + ".txt");
    if (!found && walked->has_stamp()) {
        const std::size_t name_at = folder_of(run_path).size();
        if (walked->finished)
            found = folder.find(run_path.substr(name_at, walked->start_at + kStampLength - name_at) + ".txt");
        else
            found = find_for_running(server, run_path, *walked, folder);
    }
    if (!found) errno = ENOENT;
    return found;
}

}  // namespace log_stores::text_files
