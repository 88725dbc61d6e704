#include "TOLVA_CF/logic/recording_print_target.h"

namespace tolva::cf {

namespace {
constexpr int kPitch = 10;
constexpr int kOffsetX = 3;
constexpr int kOffsetY = 2;
}  // namespace

RecordingPrintTarget::RecordingPrintTarget(int lines) {
    target_.context = this;
    target_.start_page = &RecordingPrintTarget::start_page;
    target_.end_page = &RecordingPrintTarget::end_page;
    target_.draw_text = &RecordingPrintTarget::draw_text;
    target_.char_height = kPitch;
    target_.offset_x = kOffsetX;
    target_.offset_y = kOffsetY;
    target_.page_height = lines * kPitch + 6 * kOffsetY;
}

int RecordingPrintTarget::start_page(void* context) {
    auto& self = *static_cast<RecordingPrintTarget*>(context);
    if (static_cast<int>(self.pages.size()) == self.fail_start_of_page) return -1;
    self.pages.emplace_back();
    ++self.open_pages;
    return 0;
}

int RecordingPrintTarget::end_page(void* context) {
    auto& self = *static_cast<RecordingPrintTarget*>(context);
    if (static_cast<int>(self.pages.size()) - 1 == self.fail_end_of_page) return -1;
    --self.open_pages;
    return 0;
}

void RecordingPrintTarget::draw_text(void* context, int x, int y, const char* text, int length) {
    auto& self = *static_cast<RecordingPrintTarget*>(context);
    const int from_top = y - self.target_.offset_y;
    if (self.open_pages != 1 || self.pages.empty() || x != 2 * self.target_.offset_x || from_top < kPitch ||
        from_top % kPitch != 0 || length < 0) {
        self.misplaced_text = true;
        return;
    }
    auto& page = self.pages.back();
    const auto index = static_cast<std::size_t>(from_top / kPitch - 1);
    if (page.size() <= index) page.resize(index + 1);
    page[index].assign(text, static_cast<std::size_t>(length));
}

}  // namespace tolva::cf
