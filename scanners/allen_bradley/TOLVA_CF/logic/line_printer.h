#pragma once
// Text to pages: each "\n" ends a line drawn at the next line position of the page, each
// "\f" ends the page. A page is started when its first line is drawn, so a form feed on a
// page with nothing on it prints no blank page. One printer belongs to one print job.
#include <string>
#include <string_view>

#include "TOLVA_CF/exports.h"

namespace tolva::cf {

class LinePrinter {
  public:
    explicit LinePrinter(const TolvaPrintTarget& target) : target_(target) {}

    // Lines that fit one page; 0 when the metrics give none (or a character height of 0).
    static int lines_per_page(const TolvaPrintTarget& target);

    // -1 when a page could not be started or ended; the text not yet drawn is dropped.
    int print(std::string_view text);
    // Draws text left without a line end and ends an open page. 0 or -1.
    int finish();

    int line() const { return line_; }
    int lines_per_page() const { return lines_per_page(target_); }

  private:
    int draw(std::string_view text);
    int end_page();

    const TolvaPrintTarget& target_;
    std::string pending_;  // text after the last line end
    int line_ = 1;
    bool page_open_ = false;
};

}  // namespace tolva::cf
