#include "log_stores/run_file_store/remote_run_file.h"

#include <algorithm>

#include "log_stores/log_store.h"
#include "platform/last_error.h"
#include "qvr/requests/remote_file_requests.h"

namespace log_stores::run_file_store {

namespace {
constexpr std::uint32_t kShareReadWrite = 3;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kNormalAttributes = 128;
constexpr std::uint64_t kSecondsFrom1601 = 11644473600ull;

bool is_separator(char c) { return c == '\\' || c == '/'; }
}  // namespace

std::string server_file_name(std::string_view path) {
    if (path.size() < 2 || !is_separator(path[0]) || !is_separator(path[1])) return std::string(path);
    const auto machine_end = std::find_if(path.begin() + 2, path.end(), is_separator);
    if (machine_end == path.end()) return {};
    return std::string(machine_end + 1, path.end());
}

long long remote_read_once(const std::string& server, const std::string& name, std::span<std::uint8_t> out,
                           std::uint64_t offset) {
    if (out.size() > kRemoteReadMax || offset > 0x7FFFFFFFull) return platform::fail(platform::kErrorInvalidParameter);
    std::uint32_t got = 0;
    if (link_ReadFile(server.c_str(), kInvalidFileHandle, name.c_str(), static_cast<std::uint32_t>(out.size()),
                      static_cast<std::int32_t>(offset), 0, kGenericRead, kShareReadWrite, 0, kOpenExisting,
                      kNormalAttributes, out.data(), &got) == 0)
        return -1;
    return std::min<std::uint64_t>(got, out.size());
}

long long remote_read(const std::string& server, const std::string& name, std::span<std::uint8_t> out,
                      std::uint64_t offset) {
    std::size_t done = 0;
    while (done < out.size()) {
        const std::size_t piece = std::min<std::size_t>(out.size() - done, kRemoteReadMax);
        const long long got = remote_read_once(server, name, out.subspan(done, piece), offset + done);
        if (got < 0) return -1;
        done += static_cast<std::size_t>(got);
        if (static_cast<std::size_t>(got) < piece) break;
    }
    return static_cast<long long>(done);
}

long long remote_size(const std::string& server, const std::string& name) {
    return link_OpenRemoteFile(server.c_str(), name.c_str(), kGenericRead, kShareReadWrite, 0, kOpenExisting,
                               kNormalAttributes, nullptr);
}

std::optional<std::int64_t> remote_write_time(const std::string& server, const std::string& name) {
    FileTime creation{}, access{}, write{};
    if (link_GetFileTime(server.c_str(), kInvalidFileHandle, name.c_str(), &creation, &access, &write) == 0)
        return std::nullopt;
    return unix_seconds_of_file_time((std::uint64_t{write.high} << 32) | write.low);
}

std::int64_t unix_seconds_of_file_time(std::uint64_t ticks) {
    return static_cast<std::int64_t>(ticks / 10000000ull) - static_cast<std::int64_t>(kSecondsFrom1601);
}

}  // namespace log_stores::run_file_store
