// A build without Qt: the viewer has every other output, but no picture.
#include "viewer/plot_picture.h"

namespace viewer::plot {

bool available() {
    return false;
}

std::string write_png(const std::string&, const Picture&) {
    return "this qvr_viewer was built without Qt (QVR_TOLVA_CF=OFF) and draws no pictures";
}

}  // namespace viewer::plot
