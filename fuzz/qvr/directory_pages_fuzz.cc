// The pages of a directory listing as a server sends them: the input cut at each 0x01 byte
// into pages, each padded at its front past a full page when the first byte's low bit is set
// (as a server pads its leading number). Whatever arrives, the listing ends within its
// bounds, and every name counted went to the caller.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "qvr/requests/directory_pages.h"

using qvr::requests::DirectoryPages;

namespace {

struct Taken {
    long long names = 0;
    std::size_t bytes = 0;
};

bool take(void* context, std::string_view name) {
    auto& taken = *static_cast<Taken*>(context);
    ++taken.names;
    taken.bytes += name.size();
    return name.size() < 256;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const bool padded = (data[0] & 1) != 0;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    DirectoryPages pages;
    Taken taken;
    int asked = 0;
    // The same pages again and again, until the listing ends.
    for (int round = 0; round <= qvr::requests::kListingPagesMax + 1; ++round) {
        std::string_view page = rest;
        const std::size_t cut = page.find('\x01');
        if (cut != std::string_view::npos) {
            page = rest.substr(0, cut);
            rest = rest.substr(cut + 1);
        }
        std::string text(page.substr(0, page.find('\0')));
        if (padded && text.size() + 256 <= qvr::requests::kDirectoryPageSize)
            text.insert(0, qvr::requests::kDirectoryPageSize - 255 - text.size(), '0');
        ++asked;
        const auto next = pages.take_page(text, take, &taken);
        if (taken.names != pages.index() && next != DirectoryPages::Next::failed) std::abort();
        if (pages.index() > qvr::requests::kListingNamesMax || taken.bytes > qvr::requests::kListingBytesMax)
            std::abort();
        if (next == DirectoryPages::Next::failed) {
            if (pages.error() == 0 || pages.take_page(text, take, &taken) != DirectoryPages::Next::failed)
                std::abort();
            return 0;
        }
        if (next == DirectoryPages::Next::done) return 0;
        if (asked >= qvr::requests::kListingPagesMax) std::abort();
    }
    std::abort();
}
