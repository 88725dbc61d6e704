// qvr_viewer --png: a PNG of the asked size, on a white ground, with each chosen channel's line
// in its own colour across the time axis and its swatch in the legend; a ramp rises. A build
// without Qt says that it draws no pictures.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "viewer/plot_picture.h"
#include "support/child_process.h"
#include "viewer_fixture.h"
#ifdef VIEWER_TEST_WITH_PNG
#include <QImage>
#endif

namespace {

using namespace viewer_test;
namespace fs = std::filesystem;

class ViewerPicture : public ::testing::Test {
  protected:
    void SetUp() override {
        const Ran logger = run(qvr_test::bin_path("qvr_logger"), logged_.arguments(place_.writer()));
        ASSERT_EQ(logger.exit_code, 0) << logger.err;
    }
    Logged logged_{1, 120, 3, 2, 250, 1'700'000'000};
    Place place_{Kind::kFolder};
};

#ifdef VIEWER_TEST_WITH_PNG

// Where one colour lies in the picture.
struct Spread {
    std::size_t pixels = 0;
    std::map<int, std::pair<long, int>> by_column;  // x: (sum of y, count)
};

std::map<QRgb, Spread> colours_of(const QImage& image) {
    std::map<QRgb, Spread> out;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            Spread& s = out[image.pixel(x, y) & 0xFFFFFFu];
            ++s.pixels;
            auto& c = s.by_column[x];
            c.first += y;
            ++c.second;
        }
    return out;
}

TEST_F(ViewerPicture, ChosenChannelsAreDrawnOverTimeWithALegend) {
    const std::string png = place_.folder() + "/run.png";
    const Ran viewer = run_viewer({"--png", png, "--size", "900x500", "--channels", "AI3,DI1", place_.reader()});
    ASSERT_EQ(viewer.exit_code, 0) << viewer.err;
    EXPECT_EQ(viewer.out + viewer.err, "");

    QImage image;
    ASSERT_TRUE(image.load(QString::fromStdString(png), "PNG"));
    EXPECT_EQ(image.width(), 900);
    EXPECT_EQ(image.height(), 500);
    const auto colours = colours_of(image);
    EXPECT_GT(colours.at(0xFFFFFF).pixels, 900u * 500u / 2) << "a white ground";

    for (std::size_t k = 0; k < 2; ++k) {
        SCOPED_TRACE(k);
        const auto found = colours.find(viewer::plot::kPalette[k]);
        ASSERT_NE(found, colours.end()) << "no pixel of the channel's colour";
        // The line runs across the time axis (the legend's swatch adds a few columns).
        EXPECT_GT(found->second.by_column.size(), 600u);
    }
    // AI3 ramps up from 2 to 61.5: on the left its line lies lower than on the right.
    const auto& ramp = colours.at(viewer::plot::kPalette[0]).by_column;
    const auto mean_y = [&](int from, int to) {
        long sum = 0;
        int count = 0;
        for (auto it = ramp.lower_bound(from); it != ramp.end() && it->first < to; ++it) {
            sum += it->second.first;
            count += it->second.second;
        }
        return count > 0 ? static_cast<double>(sum) / count : -1.0;
    };
    EXPECT_GT(mean_y(100, 250), mean_y(700, 850) + 100) << "screen y grows downwards";

    // The same picture in local time is just as valid; a third channel brings a third colour.
    const Ran local = run_viewer({"--png", png, "--local", "--channels", "AI1,AI2,DI2", place_.reader()},
                                 {"TZ=Europe/Berlin"});
    ASSERT_EQ(local.exit_code, 0) << local.err;
    ASSERT_TRUE(image.load(QString::fromStdString(png), "PNG"));
    EXPECT_EQ(image.width(), 1200) << "the default size";
    EXPECT_EQ(image.height(), 700);
    EXPECT_GT(colours_of(image).count(viewer::plot::kPalette[2]), 0u);
}

TEST_F(ViewerPicture, AFileThatCannotBeWrittenIsNamed) {
    const std::string png = place_.folder() + "/no/such/folder/run.png";
    const Ran viewer = run_viewer({"--png", png, place_.reader()});
    EXPECT_EQ(viewer.exit_code, 1);
    EXPECT_NE(viewer.err.find("cannot write " + png), std::string::npos) << viewer.err;
    EXPECT_FALSE(fs::exists(png));
}

#else

TEST_F(ViewerPicture, ABuildWithoutQtSaysItDrawsNoPictures) {
    const Ran viewer = run_viewer({"--png", place_.folder() + "/run.png", place_.reader()});
    EXPECT_EQ(viewer.exit_code, 1);
    EXPECT_NE(viewer.err.find("built without Qt"), std::string::npos) << viewer.err;
}

#endif

}  // namespace
