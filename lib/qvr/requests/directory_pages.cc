// Walking the pages of a "DF" listing within its bounds.
#include "qvr/requests/directory_pages.h"

#include <algorithm>
#include <functional>
#include <iterator>

#include "platform/last_error.h"
#include "qvr/requests/reply_parsers.h"

namespace qvr::requests {
namespace {

// One page's names on their way to the caller, counted against the listing's bounds first.
struct PageWalk {
    DirectoryPages::Take take;
    void* context;
    int names_before;
    std::size_t bytes;
    std::vector<uint64_t> hashes;
    bool over_bound = false;
    bool refused = false;
};

bool walk_name(void* context, std::string_view name) {
    auto& walk = *static_cast<PageWalk*>(context);
    if (walk.names_before + static_cast<long long>(walk.hashes.size()) >= kListingNamesMax ||
        name.size() > kListingBytesMax - walk.bytes) {
        walk.over_bound = true;
        return false;
    }
    walk.bytes += name.size();
    walk.hashes.push_back(std::hash<std::string_view>{}(name));
    if (!walk.take(walk.context, name)) {
        walk.refused = true;
        return false;
    }
    return true;
}

}  // namespace

DirectoryPages::Next DirectoryPages::fail(int error, const char* reason) {
    error_ = error;
    reason_ = reason;
    return Next::failed;
}

bool DirectoryPages::adds_new_names(std::vector<uint64_t>& page) {
    std::sort(page.begin(), page.end());
    page.erase(std::unique(page.begin(), page.end()), page.end());
    std::vector<uint64_t> merged;
    merged.reserve(seen_.size() + page.size());
    std::set_union(seen_.begin(), seen_.end(), page.begin(), page.end(), std::back_inserter(merged));
    const bool grew = merged.size() > seen_.size();
    seen_ = std::move(merged);
    return grew;
}

DirectoryPages::Next DirectoryPages::take_page(std::string_view text, Take take, void* context) {
    if (error_ != 0) return Next::failed;
    PageWalk walk{take, context, index_, bytes_, {}};
    int names = 0;
    if (!parse_directory_page(text, names, walk_name, &walk)) {
        if (walk.over_bound) return fail(platform::kErrorMoreData, "more names than a listing may hold");
        return fail(platform::kErrorInvalidData, walk.refused ? "a name was refused" : "a name too long");
    }
    index_ += names;
    bytes_ = walk.bytes;
    ++pages_;
    if (text.size() + 256 <= kDirectoryPageSize) return Next::done;
    // A full page asks for the next one: it must move the listing on.
    if (names == 0) return fail(platform::kErrorInvalidData, "a full page without a name");
    if (!adds_new_names(walk.hashes)) return fail(platform::kErrorInvalidData, "a page repeats names already listed");
    if (pages_ >= kListingPagesMax) return fail(platform::kErrorMoreData, "more pages than a listing may take");
    return Next::ask_again;
}

}  // namespace qvr::requests
