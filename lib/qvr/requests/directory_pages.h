#pragma once
// The pages of one "DF" listing as they arrive. Each page's names are counted from the index
// it was asked for; a page is the last when its text and 256 fit the 65,536-byte page.
// Whatever the server sends, a listing ends: past kListingNamesMax names, kListingBytesMax
// bytes of names or kListingPagesMax pages it fails with 234, and a full page that adds no
// name not seen before (a server that ignores the index) fails with 13, as does a name of
// 256 characters or more.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace qvr::requests {

inline constexpr uint32_t kDirectoryPageSize = 65536;

// A product folder holds a few thousand files; a logger that starts a run every hour for ten
// years leaves fewer than 90,000. The bounds keep what a faulty server can make a listing
// hold to a few MiB.
inline constexpr int kListingNamesMax = 100000;
inline constexpr std::size_t kListingBytesMax = std::size_t{8} << 20;
// A page that is not the last carries more than 65,280 bytes, so names and their commas
// within the bounds above fill at most this many pages.
inline constexpr int kListingPagesMax =
    static_cast<int>((kListingBytesMax + kListingNamesMax) / (kDirectoryPageSize - 256)) + 2;

class DirectoryPages {
  public:
    enum class Next { ask_again, done, failed };
    // Gets every name of a page, in order; false stops the listing (13).
    using Take = bool (*)(void* context, std::string_view name);

    // One page's text (up to its NUL). ask_again: the next page starts at index().
    Next take_page(std::string_view text, Take take, void* context);

    // The names counted so far: where the next page starts, and the listing's result.
    int index() const { return index_; }
    // For failed: the error number and why, for a trace line.
    int error() const { return error_; }
    const char* reason() const { return reason_; }

  private:
    Next fail(int error, const char* reason);
    // Adds the page's name hashes to those seen; false when none of them is new.
    bool adds_new_names(std::vector<uint64_t>& page);

    int index_ = 0;
    int pages_ = 0;
    std::size_t bytes_ = 0;
    std::vector<uint64_t> seen_;  // hashes of the names so far, sorted
    int error_ = 0;
    const char* reason_ = "";
};

}  // namespace qvr::requests
