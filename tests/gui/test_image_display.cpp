#include "gui/image_display.hpp"

#include "scripted_graphics.hpp"
#include "support/testing.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace korvex {
namespace {

using testing::ScratchDir;
using testing::TestGui;

// Data rows x = 1..3 holding (1, 2), (3, 4), (5, 6).
ImageData three_by_two() {
    ImageData img;
    img.unit_x = img.unit_y = 1.0;
    img.values.resize(3, 2);
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 2; ++j) img.values(i, j) = 2 * (i - 1) + j;
    return img;
}

TEST(ImageLevels, ThreeByTwoExample) {
    const GreyLevels g = grey_levels(three_by_two(), 100);
    const Array2<int> drawn = rows_top_down(g.level);
    // Levels floor((A - 1) * 99 / 5); data row y = 1 (values 1, 3, 5) is the top picture row.
    EXPECT_EQ(drawn(1, 2), 0);
    EXPECT_EQ(drawn(2, 2), 39);
    EXPECT_EQ(drawn(3, 2), 79);
    EXPECT_EQ(drawn(1, 1), 19);
    EXPECT_EQ(drawn(2, 1), 59);
    EXPECT_EQ(drawn(3, 1), 99);
    EXPECT_EQ(image_summary(g),
              (std::vector<std::string>{" max: 6.0 min: 1.0", " Max: 6.0 Min: 1.0 Background 3.5",
                                        " Contrast: 1.714285714 -3.5"}));
}

TEST(ImageLevels, IsolatedExtremeValueIsClipped) {
    ImageData img;
    img.values.resize(500, 500);
    img.values.fill(1.0);
    img.values(250, 250) = 1.0e8;
    const GreyLevels g = grey_levels(img, 100);
    EXPECT_NEAR(g.max, 4.01e6, 1e3); // 10000 times the mean of about 401
    EXPECT_DOUBLE_EQ(g.max, g.clip);
    const Array2<int> drawn = rows_top_down(g.level);
    EXPECT_EQ(drawn(250, 251), 99);
    int others = 0;
    for (int j = 1; j <= 500; ++j)
        for (int i = 1; i <= 500; ++i) others += drawn(i, j);
    EXPECT_EQ(others, 99);
}

TEST(ImageLevels, UniformImageAndZeroMinimum) {
    ImageData img;
    img.values.resize(4, 3);
    img.values.fill(0.25);
    GreyLevels g = grey_levels(img, 256);
    for (int j = 1; j <= 3; ++j)
        for (int i = 1; i <= 4; ++i) EXPECT_EQ(g.level(i, j), 0);
    EXPECT_EQ(image_summary(g)[2], " Contrast: 1.0 -1.0");

    img.values.fill(0.0);
    img.values(2, 2) = 2.0;
    g = grey_levels(img, 128);
    EXPECT_DOUBLE_EQ(g.background, 1.0e-10); // edges all zero: raised to 1e-10
    EXPECT_EQ(image_summary(g)[2], " Contrast: 2E+10 Infinity");
}

TEST(DataImaging, DrawsTheFlippedRampAndKeepsButtonColours) {
    ScratchDir dir;
    const std::string file = dir.str() + "img_01g";
    write_image_file(file, three_by_two(), RowFormat::es12_3);
    TestGui t;
    t.gr.scr(12, 0.5f, 0.5f, 0.5f);
    t.gr.scr(21, 0.1f, 0.2f, 0.3f);
    dataimaging(t.gui, file + "   ", 100);
    EXPECT_EQ(t.out.str(), " max: 6.0 min: 1.0\n Max: 6.0 Min: 1.0 Background 3.5\n"
                           " Contrast: 1.714285714 -3.5\n");
    ASSERT_EQ(t.gr.images.size(), 1u);
    const auto& im = t.gr.images[0];
    EXPECT_EQ(im.nx, 3);
    EXPECT_EQ(im.ny, 2);
    EXPECT_EQ(im.cells, (std::vector<int>{19, 59, 99, 0, 39, 79}));
    EXPECT_FLOAT_EQ(im.x1, -1.0f);
    EXPECT_FLOAT_EQ(im.y2, 1.0f);
    // While drawing: a black-to-white ramp over 0..99.
    EXPECT_FLOAT_EQ(im.colours[0][0], 0.0f);
    EXPECT_FLOAT_EQ(im.colours[99][2], 1.0f);
    EXPECT_FLOAT_EQ(im.colours[12][0], 12.0f / 99.0f);
    // Afterwards indices 1..20 are back, the ramp stays above.
    EXPECT_FLOAT_EQ(t.gr.colours[12][0], 0.5f);
    EXPECT_FLOAT_EQ(t.gr.colours[21][0], 21.0f / 99.0f);
    EXPECT_EQ(t.gr.lw, 4);
    EXPECT_FLOAT_EQ(t.gr.height, 1.5f);
}

TEST(Indicator, LinesWhenThePercentageChanges) {
    std::ostringstream out;
    indicator(out, 1, 50);
    indicator(out, 1, 200);
    indicator(out, 2, 200);
    indicator(out, 3, 200);
    indicator(out, 10, 1000);
    indicator(out, 11, 1000);
    EXPECT_EQ(out.str(), " 2% finished\n 1% finished\n 1% finished\n");
}

} // namespace
} // namespace korvex
