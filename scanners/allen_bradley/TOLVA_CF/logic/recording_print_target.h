#pragma once
// A print target that keeps every page as lines of text, the line index taken from the
// position each text was drawn at. Pages can be made to fail to start or end.
#include <string>
#include <vector>

#include "TOLVA_CF/exports.h"

namespace tolva::cf {

class RecordingPrintTarget {
  public:
    // A page of `lines` lines of pitch 10 with physical offsets of 3 (x) and 2 (y).
    explicit RecordingPrintTarget(int lines = 66);

    const TolvaPrintTarget& target() const { return target_; }
    TolvaPrintTarget& target() { return target_; }

    std::vector<std::vector<std::string>> pages;  // finished and open pages
    int open_pages = 0;                           // started and not ended
    int fail_start_of_page = -1;                  // index of the page whose start fails
    int fail_end_of_page = -1;
    bool misplaced_text = false;  // a text drawn off the line grid or the left margin

  private:
    static int start_page(void* context);
    static int end_page(void* context);
    static void draw_text(void* context, int x, int y, const char* text, int length);

    TolvaPrintTarget target_{};
};

}  // namespace tolva::cf
