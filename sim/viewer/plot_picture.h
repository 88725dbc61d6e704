#pragma once
// The viewer's picture: chosen channels of a run drawn over time into a PNG file, with axes,
// time labels in the zone asked for and a legend of tags and units. Drawn with Qt on no
// display at all; a build without Qt has no picture (available() is false).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "viewer/time_text.h"

namespace viewer::plot {

inline constexpr int kMinSize = 200;
inline constexpr int kMaxSize = 8000;

// The line colours, one per channel in legend order (0xRRGGBB); a picture holds at most this many.
inline constexpr std::array<std::uint32_t, 10> kPalette{0x1F77B4, 0xD62728, 0x2CA02C, 0xFF7F0E, 0x9467BD,
                                                        0x8C564B, 0xE377C2, 0x17BECF, 0x7F7F7F, 0xBCBD22};

struct Series {
    std::string label;           // the legend's text: tag and units
    bool steps = false;          // a digital channel: held until the next record
    std::vector<double> values;  // one per time; NaN for a bad value (a gap in the line)
};

struct Picture {
    int width = 1200;
    int height = 700;
    std::string title;
    time_text::Zone zone = time_text::Zone::kUtc;
    std::vector<std::uint64_t> times;  // microseconds since 1970, ascending
    std::vector<Series> series;
};

bool available();
// "" once the file is written, else why it is not.
std::string write_png(const std::string& path, const Picture& picture);

}  // namespace viewer::plot
