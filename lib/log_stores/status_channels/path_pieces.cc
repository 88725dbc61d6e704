// The folder components a logger's DIRECTORY1..6 channels show.
#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "log_stores/status_channels/logger_status.h"

namespace {

constexpr std::size_t kShownComponents = 6;
constexpr std::size_t kPieceMax = 32;

// Stored paths may come from Windows, so both separators split; empty components (a
// leading '/', doubled separators) name no folder.
std::vector<std::string_view> components(std::string_view path) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find_first_of("/\\", start), path.size());
        if (end > start) parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

}  // namespace

const char* status_PathPiece(const char* path, int index) {
    if (path == nullptr || index < 0) return nullptr;
    const auto parts = components(path);
    const std::size_t skipped = parts.size() > kShownComponents ? parts.size() - kShownComponents : 0;
    const std::size_t at = skipped + static_cast<std::size_t>(index);
    if (static_cast<std::size_t>(index) >= kShownComponents || at >= parts.size()) return nullptr;
    thread_local char piece[kPieceMax + 1];
    const std::size_t n = std::min(parts[at].size(), kPieceMax);
    std::memcpy(piece, parts[at].data(), n);
    piece[n] = '\0';
    return piece;
}
