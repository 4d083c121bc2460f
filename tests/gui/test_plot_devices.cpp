// The file devices of the plot layer, exercised for real (no display needed).
#include "gui/gif_file.hpp"
#include "gui/image_display.hpp"
#include "gui/plot.hpp"
#include "gui/toolkit.hpp"

#include "state/image_file.hpp"
#include "support/testing.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace korvex {
namespace {

using testing::ScratchDir;

// A 40 x 30 image: a bright disc on a grey background with a black strip at the left.
std::string write_test_image(const ScratchDir& dir) {
    ImageData img;
    img.unit_x = img.unit_y = 1.0;
    img.values.resize(40, 30);
    for (int j = 1; j <= 30; ++j)
        for (int i = 1; i <= 40; ++i)
            img.values(i, j) = i <= 4                                             ? 0.0
                               : ((i - 20) * (i - 20) + (j - 15) * (j - 15) < 64) ? 2.0
                                                                                  : 1.0;
    const std::string file = dir.str() + "disc_01g";
    write_image_file(file, img, RowFormat::es12_3);
    return file;
}

// Draws the image as the result viewer does on a freshly opened file device.
void draw_page(Graphics& g, const std::string& image) {
    std::ostringstream out;
    Gui gui{g, out, {}, 0, 0};
    gui.layout.plot_viewport_x1 = 0.05f;
    gui.layout.plot_viewport_x2 = 0.95f;
    gui.layout.plot_viewport_y1 = 0.35f;
    gui.layout.plot_viewport_y2 = 0.80f;
    rpgenv(gui, -1.1f, 1.1f, -1.1f, 1.1f, 0, -1);
    dataimaging(gui, image, 128);
}

// Counts of dark (< 64), light (> 192) and other pixels.
struct Tally {
    long dark = 0, light = 0, mid = 0;
};
Tally tally(const RgbPicture& p) {
    Tally t;
    for (std::size_t i = 0; i + 2 < p.rgb.size(); i += 3) {
        const int v = (p.rgb[i] + p.rgb[i + 1] + p.rgb[i + 2]) / 3;
        (v < 64 ? t.dark : v > 192 ? t.light : t.mid)++;
    }
    return t;
}

TEST(PlotDevices, GifPageIsARealGif) {
    ScratchDir dir;
    const std::string image = write_test_image(dir);
    auto g = open_plot_devices();
    const std::string gif = dir.str() + "page.gif";
    ASSERT_GT(g->open(gif + "/GIF"), 0);
    float r, gr, b;
    g->qcr(0, r, gr, b);
    EXPECT_EQ(r + gr + b, 0.0f); // raster pictures are drawn on black
    draw_page(*g, image);
    g->close();
    const RgbPicture p = read_gif(gif);
    EXPECT_EQ(p.width, 850);
    EXPECT_EQ(p.height, 680);
    const Tally t = tally(p);
    EXPECT_GT(t.light, 1000); // the disc (level 127 is white)
    EXPECT_GT(t.mid, 10000);  // the grey background of the image
    EXPECT_GT(t.dark, 10000); // the page
    EXPECT_FALSE(dir.exists("page.gif.page.png"));
    const auto perms = std::filesystem::status(gif).permissions();
    EXPECT_NE(perms & std::filesystem::perms::owner_read, std::filesystem::perms::none);
}

TEST(PlotDevices, PostScriptPageRendersWithGhostscript) {
    ScratchDir dir;
    const std::string image = write_test_image(dir);
    auto g = open_plot_devices();
    const std::string ps = dir.str() + "page.ps";
    ASSERT_GT(g->open(ps + "/VCPS"), 0);
    float r, gr, b;
    g->qcr(0, r, gr, b);
    EXPECT_EQ(r + gr + b, 3.0f); // paper is white
    draw_page(*g, image);
    g->close();
    EXPECT_EQ(testing::read_file(ps).substr(0, 4), "%!PS");
    if (std::system("command -v gs >/dev/null 2>&1") != 0) GTEST_SKIP() << "no Ghostscript";
    const std::string png = dir.str() + "page.png";
    ASSERT_EQ(std::system(("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=png16m -r40 -sOutputFile='" +
                           png + "' '" + ps + "' >/dev/null 2>&1")
                              .c_str()),
              0);
    const Tally t = tally(read_png(png));
    EXPECT_GT(t.mid, 2000);   // grey background of the image
    EXPECT_GT(t.light, 2000); // paper and disc
}

TEST(PlotDevices, UnavailableDevices) {
    ScratchDir dir;
    auto g = open_plot_devices();
    EXPECT_LE(g->open(dir.str() + "no/such/dir/x.ps/VCPS"), 0);
    EXPECT_LE(g->open(dir.str() + "no/such/dir/x.gif/GIF"), 0);
    EXPECT_LE(g->open(dir.str() + "x.foo/NOSUCHTYPE"), 0);
    EXPECT_LE(g->open("no-device-type"), 0);
    // A file device has no cursor.
    ASSERT_GT(g->open(dir.str() + "x.ps/VCPS"), 0);
    float x, y;
    char ch;
    EXPECT_EQ(g->band(0, 0, 0.0f, 0.0f, x, y, ch), 0);
    g->close();
}

TEST(PlotDevices, NoDisplayIsReportedInOneLine) {
    const char* old = std::getenv("DISPLAY");
    const std::string saved = old ? old : "";
    unsetenv("DISPLAY");
    std::string why;
    EXPECT_EQ(connect_x_display(why), nullptr);
    EXPECT_NE(why.find("No X display"), std::string::npos);
    EXPECT_EQ(why.find('\n'), std::string::npos);
    setenv("DISPLAY", ":12345", 1); // no server there
    EXPECT_EQ(connect_x_display(why), nullptr);
    EXPECT_NE(why.find(":12345"), std::string::npos);
    if (old)
        setenv("DISPLAY", saved.c_str(), 1);
    else
        unsetenv("DISPLAY");
}

TEST(GifFile, ExactAndQuantisedPalettes) {
    ScratchDir dir;
    RgbPicture few{3, 2, {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255, 10, 20, 30, 255, 255, 255}};
    const std::string f1 = dir.str() + "few.gif";
    {
        std::ofstream o(f1, std::ios::binary);
        o << encode_gif(few);
    }
    const RgbPicture back = read_gif(f1);
    EXPECT_EQ(back.width, 3);
    EXPECT_EQ(back.rgb, few.rgb); // at most 256 colours: stored exactly

    RgbPicture many{64, 64, {}};
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            many.rgb.push_back(static_cast<std::uint8_t>(4 * x));
            many.rgb.push_back(static_cast<std::uint8_t>(4 * y));
            many.rgb.push_back(128);
        }
    const std::string f2 = dir.str() + "many.gif";
    {
        std::ofstream o(f2, std::ios::binary);
        o << encode_gif(many);
    }
    const RgbPicture q = read_gif(f2);
    ASSERT_EQ(q.rgb.size(), many.rgb.size());
    int worst = 0;
    for (std::size_t i = 0; i < q.rgb.size(); ++i)
        worst = std::max(worst, std::abs(int(q.rgb[i]) - int(many.rgb[i])));
    EXPECT_LE(worst, 32); // 4096 colours reduced to 256
}

} // namespace
} // namespace korvex
