#include "log_stores/translations/translation_file.h"

#include <algorithm>

#include "log_stores/translations/wide_text.h"

namespace log_stores::translations {

namespace {

std::u16string decode(std::span<const std::byte> content) {
    const auto at = [&](std::size_t i) { return std::to_integer<unsigned>(content[i]); };
    if (content.size() >= 2 && at(0) == 0xFF && at(1) == 0xFE) return utf16le_to_utf16(content.subspan(2));
    if (content.size() >= 3 && at(0) == 0xEF && at(1) == 0xBB && at(2) == 0xBF) content = content.subspan(3);
    return utf8_to_utf16(std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
}

}  // namespace

TranslationTable TranslationTable::parse(std::span<const std::byte> content) {
    TranslationTable t;
    t.text_ = decode(content);
    const std::u16string_view text(t.text_);
    bool title_seen = false;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find(u'\n', start);
        const std::size_t next = end == std::u16string_view::npos ? text.size() : end + 1;
        if (end == std::u16string_view::npos) end = text.size();
        if (end > start && text[end - 1] == u'\r') --end;
        const std::u16string_view line = text.substr(start, end - start);
        std::size_t cut = line.find(u'\t');
        if (cut == std::u16string_view::npos) cut = line.find(u',');
        if (cut != std::u16string_view::npos) {
            if (!title_seen) {
                title_seen = true;
            } else if (cut > 0 && cut + 1 < line.size()) {
                t.pairs_.push_back({{start, cut}, {start + cut + 1, line.size() - cut - 1}});
            }
        }
        start = next;
    }
    t.first_of_source_.reserve(t.pairs_.size());
    for (std::size_t i = 0; i < t.pairs_.size(); ++i) {
        t.first_of_source_.try_emplace(fold_case(t.source(i)), i);  // the first pair wins
    }
    return t;
}

std::optional<std::u16string_view> TranslationTable::find(std::u16string_view text) const {
    const auto it = first_of_source_.find(fold_case(text));
    if (it == first_of_source_.end()) return std::nullopt;
    return translation(it->second);
}

std::optional<std::u16string_view> TranslationTable::find_by_scan(std::u16string_view text) const {
    for (std::size_t i = 0; i < pairs_.size(); ++i)
        if (equal_folded(source(i), text)) return translation(i);
    return std::nullopt;
}

}  // namespace log_stores::translations
