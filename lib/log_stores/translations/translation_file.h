#pragma once
// One translation table as read from its file: UTF-16 little-endian when the file begins
// FF FE, else UTF-8 (a UTF-8 byte order mark is passed over). Each line (ended by CR LF, or
// by LF alone in files edited elsewhere) is a pair when it holds a TAB, or, without one, a
// comma: the source before the separator, the translation after it. The first pair line is
// the title and is skipped, as are lines without a separator and pairs with an empty side.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace log_stores::translations {

class TranslationTable {
  public:
    static TranslationTable parse(std::span<const std::byte> content);

    std::size_t size() const { return pairs_.size(); }
    std::u16string_view source(std::size_t i) const { return view(pairs_[i].source); }
    std::u16string_view translation(std::size_t i) const { return view(pairs_[i].translation); }
    // The translation of the first pair whose source equals `text` ignoring letter case.
    std::optional<std::u16string_view> find(std::u16string_view text) const;
    // The same by comparing with every source in file order.
    std::optional<std::u16string_view> find_by_scan(std::u16string_view text) const;

  private:
    struct Span {
        std::size_t at = 0;
        std::size_t length = 0;
    };
    struct Pair {
        Span source;
        Span translation;
    };
    std::u16string_view view(Span s) const { return std::u16string_view(text_).substr(s.at, s.length); }

    std::u16string text_;
    std::vector<Pair> pairs_;
    std::unordered_map<std::u16string, std::size_t> first_of_source_;
};

}  // namespace log_stores::translations
