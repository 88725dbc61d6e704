#include "log_stores/text_files/remote_text_io.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "platform/last_error.h"
#include "qvr/requests/remote_file_requests.h"

namespace log_stores::text_files {
namespace {

constexpr std::uint32_t kReadAccess = 0x80000000u;
constexpr std::uint32_t kReadWriteAccess = 0xC0000000u;
constexpr std::uint32_t kShareReadWrite = 3;
constexpr std::uint32_t kCreateAlways = 2;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kNormal = 128;

}  // namespace

int read_remote_text(const char* server, const std::string& path, std::string& out) {
    out.clear();
    if (server == nullptr || *server == '\0' || path.empty()) {
        platform::set_last_error(platform::kErrorBadNetPath);
        return -2;
    }
    std::vector<std::uint8_t> piece(kRemotePiece);
    for (;;) {
        if (out.size() > kMaxRemoteText) return platform::fail(platform::kErrorNotEnoughMemory);
        std::uint32_t got = 0;
        if (link_ReadFile(server, kInvalidFileHandle, path.c_str(), static_cast<std::uint32_t>(piece.size()),
                          static_cast<std::int32_t>(out.size()), 0, kReadAccess, kShareReadWrite, 0, kOpenExisting,
                          kNormal, piece.data(), &got) != 1)
            return out.empty() ? -2 : -1;
        got = std::min<std::uint32_t>(got, static_cast<std::uint32_t>(piece.size()));
        out.append(reinterpret_cast<const char*>(piece.data()), got);
        if (got < piece.size()) return 0;
    }
}

int write_remote_text(const char* server, const std::string& path, std::string_view content) {
    if (server == nullptr || *server == '\0' || path.empty()) return platform::fail(platform::kErrorBadNetPath);
    std::size_t at = 0;
    do {
        const std::size_t count = std::min(kRemotePiece, content.size() - at);
        std::uint32_t written = 0;
        if (link_WriteFile(server, kInvalidFileHandle, path.c_str(), static_cast<std::uint32_t>(count),
                           static_cast<std::int32_t>(at), 0, kReadWriteAccess, kShareReadWrite, 0,
                           at == 0 ? kCreateAlways : kOpenExisting, kNormal, content.data() + at, &written) != 1)
            return -1;
        at += count;
    } while (at < content.size());
    return 0;
}

}  // namespace log_stores::text_files
