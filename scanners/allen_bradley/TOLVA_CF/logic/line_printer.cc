#include "TOLVA_CF/logic/line_printer.h"

#include <cstdint>
#include <limits>

namespace tolva::cf {

int LinePrinter::lines_per_page(const TolvaPrintTarget& target) {
    if (target.char_height <= 0) return 0;
    const std::int64_t usable =
        static_cast<std::int64_t>(target.page_height) - 6 * static_cast<std::int64_t>(target.offset_y);
    if (usable <= 0) return 0;
    const std::int64_t lines = usable / target.char_height;
    return lines > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(lines);
}

int LinePrinter::print(std::string_view text) {
    pending_.append(text);
    std::size_t start = 0;
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        const char c = pending_[i];
        if (c != '\n' && c != '\f') continue;
        const std::string_view before(pending_.data() + start, i - start);
        start = i + 1;
        int result = 0;
        if (c == '\n') {
            result = draw(before);
        } else if (before.empty() || draw(before) == 0) {
            result = end_page();
        } else {
            result = -1;
        }
        if (result < 0) {
            pending_.clear();
            return -1;
        }
    }
    pending_.erase(0, start);
    return 0;
}

int LinePrinter::finish() {
    if (!pending_.empty()) {
        const std::string rest = std::move(pending_);
        pending_.clear();
        if (draw(rest) < 0) return -1;
    }
    return page_open_ ? end_page() : 0;
}

// An empty text before a "\n" is a blank line; before a "\f" it is nothing.
int LinePrinter::draw(std::string_view text) {
    if (text.empty() && !page_open_) {
        ++line_;
        return 0;
    }
    if (!page_open_) {
        if (target_.start_page == nullptr || target_.start_page(target_.context) < 0) return -1;
        page_open_ = true;
    }
    if (!text.empty() && target_.draw_text != nullptr) {
        const std::int64_t y = static_cast<std::int64_t>(target_.offset_y) +
                               static_cast<std::int64_t>(line_) * target_.char_height;
        const std::int64_t x = 2 * static_cast<std::int64_t>(target_.offset_x);
        if (y <= std::numeric_limits<int>::max() && x <= std::numeric_limits<int>::max()) {
            target_.draw_text(target_.context, static_cast<int>(x), static_cast<int>(y), text.data(),
                              static_cast<int>(text.size()));
        }
    }
    ++line_;
    return 0;
}

int LinePrinter::end_page() {
    line_ = 1;
    if (!page_open_) return 0;
    page_open_ = false;
    if (target_.end_page == nullptr || target_.end_page(target_.context) < 0) return -1;
    return 0;
}

}  // namespace tolva::cf
