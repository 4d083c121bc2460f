// Picture (PNG), float (TIFF) and PostScript copies of image files, read back with the
// libraries and compared with the text image they accompany.
#include "driver/grey_levels.hpp"
#include "driver/image_export.hpp"
#include "driver/image_readback.hpp"
#include "driver/layer_postscript.hpp"
#include "support/testing.hpp"

#include <cpgplot.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>

using namespace korvex;
using namespace korvex::testing;

namespace {

ImageData make_image(int nx, int ny, double ux, double uy) {
    ImageData img;
    img.unit_x = ux;
    img.unit_y = uy;
    img.values.resize(nx, ny);
    return img;
}

// Intensities over several decades with structure in both directions.
ImageData intensity_image(int nx, int ny) {
    ImageData img = make_image(nx, ny, 0.5, 1.25);
    for (int j = 1; j <= ny; ++j)
        for (int i = 1; i <= nx; ++i)
            img.values(i, j) = 0.3 + 0.25 * std::sin(0.7 * i) * std::cos(0.45 * j) +
                               1e-3 * std::exp(-0.5 * j) + 0.123456789e-2 * i / (j + 2.0);
    return img;
}

ImageInfo sample_info() {
    ImageInfo info;
    info.crystal = "Cu";
    info.voltage = 200;
    info.g = {2, 0, 0};
    info.beams = {-1, 0, 1};
    info.f_g = 1.5;
    info.defect = "edge";
    info.defect_file = "edge.ini";
    info.thickness = 300;
    info.beam_order = 1;
    return info;
}

std::set<std::string> listing(const ScratchDir& dir) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
        names.insert(e.path().filename().string());
    return names;
}

} // namespace

TEST(GreyLevels, SmallImageOfTheDisplay) {
    ImageData img = make_image(3, 2, 1, 1);
    const double rows[3][2] = {{1, 2}, {3, 4}, {5, 6}};
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 2; ++j) img.values(i, j) = rows[i - 1][j - 1];
    const GreyLevels g = grey_levels(img, 100);
    EXPECT_EQ(g.min, 1.0);
    EXPECT_EQ(g.max, 6.0);
    EXPECT_DOUBLE_EQ(g.background, 3.5);
    EXPECT_TRUE(std::isinf(g.clip));
    const int expect[3][2] = {{0, 19}, {39, 59}, {79, 99}};
    for (int i = 1; i <= 3; ++i)
        for (int j = 1; j <= 2; ++j) EXPECT_EQ(g.level(i, j), expect[i - 1][j - 1]) << i << j;
}

TEST(GreyLevels, TheLargestValueGetsTheTopLevel) {
    // In doubles (A - min)*255/(max - min) gives 254.99999999999997 for A = max here.
    ImageData img = make_image(3, 1, 1, 1);
    img.values(1, 1) = 0.0405495241;
    img.values(2, 1) = 0.6397953458;
    img.values(3, 1) = 0.3401724350; // level 127.5 (up to the last digit)
    const GreyLevels g = grey_levels(img, 256);
    EXPECT_EQ(g.level(1, 1), 0);
    EXPECT_EQ(g.level(2, 1), 255);
    EXPECT_EQ(g.level(3, 1), 127);
}

TEST(GreyLevels, HighlightsAreClippedAtTenThousandTimesTheMean) {
    ImageData img = make_image(500, 500, 1, 1);
    img.values.fill(1.0);
    img.values(17, 300) = 1e8;
    const GreyLevels g = grey_levels(img, 256);
    const double mean = (249999.0 + 1e8) / 250000.0;
    EXPECT_NEAR(g.clip, 10000.0 * mean, 1e-6 * g.clip);
    EXPECT_EQ(g.max, g.clip);
    EXPECT_EQ(g.level(17, 300), 255);
    EXPECT_EQ(g.level(1, 1), 0);
    EXPECT_EQ(g.level(500, 500), 0);
}

TEST(GreyLevels, FlatSignedAndBrokenImages) {
    // A perfect crystal gives one value everywhere: black, no division by zero.
    ImageData flat = make_image(4, 3, 1, 1);
    flat.values.fill(0.37);
    const GreyLevels f = grey_levels(flat, 256);
    for (int j = 1; j <= 3; ++j)
        for (int i = 1; i <= 4; ++i) EXPECT_EQ(f.level(i, j), 0);
    EXPECT_DOUBLE_EQ(f.background, 0.37);

    // A strain map is signed with a mean near zero: clipping at 10000 times that mean would
    // flatten every positive value; the whole range is kept instead.
    ImageData sgr = make_image(200, 60, 1, 1);
    for (int j = 1; j <= 60; ++j)
        for (int i = 1; i <= 200; ++i) sgr.values(i, j) = (i - 100.5) * 1e-4;
    sgr.values(1, 1) -= 1e-12; // mean slightly negative
    const GreyLevels s = grey_levels(sgr, 256);
    EXPECT_TRUE(std::isinf(s.clip));
    EXPECT_EQ(s.level(1, 5), 0);
    EXPECT_EQ(s.level(200, 5), 255);
    EXPECT_EQ(s.level(101, 5), 128);
    EXPECT_EQ(s.background, 1e-10); // a negative background is raised to the floor

    ImageData nan = make_image(2, 2, 1, 1);
    nan.values(1, 1) = 0.0;
    nan.values(2, 1) = std::nan("");
    nan.values(1, 2) = 1.0;
    nan.values(2, 2) = 0.5;
    const GreyLevels n = grey_levels(nan, 256);
    EXPECT_EQ(n.level(2, 1), 0);
    EXPECT_EQ(n.level(1, 2), 255);
    EXPECT_EQ(n.level(2, 2), 127);
}

TEST(ImageExport, PngAndTiffMatchTheTextImage) {
    ScratchDir dir;
    const std::string base = dir.str() + "run01g";
    const ImageData img = intensity_image(37, 23);
    write_image_file(base, img, RowFormat::es12_3);
    export_views(base, img, RowFormat::es12_3, sample_info());
    const ImageData text = read_image_file(base);

    const PngGrey png = read_png(base + ".png");
    ASSERT_EQ(png.width, 37);
    ASSERT_EQ(png.height, 23);
    EXPECT_TRUE(png.grey8);
    const Array2<int> levels = expected_levels(text, 256);
    int black = 0, white = 0;
    for (int j = 1; j <= 23; ++j)
        for (int i = 1; i <= 37; ++i) {
            // Row y = 1 at the top, column x = 1 at the left.
            ASSERT_EQ(png.at(i - 1, j - 1), static_cast<unsigned>(levels(i, j))) << i << "," << j;
            black += levels(i, j) == 0;
            white += levels(i, j) == 255;
        }
    EXPECT_GE(black, 1);
    EXPECT_GE(white, 1);

    const TiffFloat tif = read_tiff(base + ".tif");
    ASSERT_TRUE(tif.opened);
    ASSERT_EQ(tif.width, 37u);
    ASSERT_EQ(tif.height, 23u);
    EXPECT_EQ(tif.bits, 32);
    EXPECT_EQ(tif.spp, 1);
    EXPECT_EQ(tif.format, SAMPLEFORMAT_IEEEFP);
    EXPECT_EQ(tif.orientation, ORIENTATION_TOPLEFT);
    for (int j = 1; j <= 23; ++j)
        for (int i = 1; i <= 37; ++i) {
            // The text holds four significant digits (half a unit of the last: 5e-4 relative);
            // the float copy is as close to the computed value as a float can be.
            ASSERT_TRUE(near_rel(tif.at(i - 1, j - 1), text.values(i, j), 5.0001e-4));
            ASSERT_TRUE(near_rel(tif.at(i - 1, j - 1), img.values(i, j), 1e-7));
        }
    // Pixel size in pixels per centimetre: 0.5 and 1.25 Angstrom.
    EXPECT_EQ(tif.unit, RESUNIT_CENTIMETER);
    EXPECT_TRUE(near_rel(tif.xres, 2e8, 1e-6));
    EXPECT_TRUE(near_rel(tif.yres, 8e7, 1e-6));
    for (const char* item :
         {"quantity = intensity\n", "crystal = Cu\n", "voltage = 200 kV\n", "g = 2 0 0\n",
          "beams = -1 0 1\n", "condition = (g, 1.5g)\n", "defect = edge\n",
          "defect file = edge.ini\n", "thickness = 300 Angstrom\n", "beam order = 1\n",
          "columns = 37 along x, pixel size 0.5 Angstrom\n",
          "rows = 23 along y, pixel size 1.25 Angstrom\n"})
        EXPECT_NE(tif.description.find(item), std::string::npos) << item << tif.description;
    EXPECT_EQ(listing(dir), (std::set<std::string>{"run01g", "run01g.png", "run01g.tif"}));
}

TEST(ImageExport, ClippedIntensitiesAndFlatImages) {
    ScratchDir dir;
    ImageData img = intensity_image(150, 80); // over 10000 pixels: clipping can happen
    img.values(3, 70) = 1e7;
    const std::string spike = dir.str() + "spike";
    write_image_file(spike, img, RowFormat::es12_3);
    export_views(spike, img, RowFormat::es12_3, sample_info());
    const ImageData text = read_image_file(spike);
    const Array2<int> levels = expected_levels(text, 256);
    const PngGrey png = read_png(spike + ".png");
    ASSERT_EQ(png.width, 150);
    ASSERT_EQ(png.height, 80);
    EXPECT_EQ(png.at(2, 69), 255u);
    EXPECT_LT(grey_levels(text, 256).clip, 1e7);
    int differ = 0;
    for (int j = 1; j <= 80; ++j)
        for (int i = 1; i <= 150; ++i)
            differ += png.at(i - 1, j - 1) != static_cast<unsigned>(levels(i, j));
    EXPECT_EQ(differ, 0);
    // The float copy keeps the spike itself.
    EXPECT_FLOAT_EQ(read_tiff(spike + ".tif").at(2, 69), 1e7f);

    ImageData flat = make_image(6, 4, 1, 1);
    flat.values.fill(0.25);
    const std::string name = dir.str() + "flat";
    export_views(name, flat, RowFormat::es12_3, sample_info());
    const PngGrey f = read_png(name + ".png");
    ASSERT_EQ(f.pixels.size(), 24u);
    for (unsigned p : f.pixels) EXPECT_EQ(p, 0u);
}

TEST(ImageExport, PrintedValuesFollowTheRowFormat) {
    ImageData img = make_image(1, 3, 1, 1);
    img.values(1, 1) = 0.123456789;
    img.values(1, 2) = -2.49951e-7;
    img.values(1, 3) = 1.0 / 3.0;
    const ImageData es = as_printed(img, RowFormat::es12_3);
    EXPECT_EQ(es.values(1, 1), 0.1235);
    EXPECT_EQ(es.values(1, 2), -2.500e-7);
    const ImageData list = as_printed(img, RowFormat::list);
    EXPECT_EQ(list.values(1, 3), 0.3333333333);
    EXPECT_EQ(list.unit_x, 1.0);
}

TEST(ImageExport, FastPrintedValuesAgreeWithTheText) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    std::uniform_int_distribution<int> exponent(-40, 40);
    std::vector<double> values = {1.0,    10.0,    0.1,      1e-3,      9.9995,      0.99995,
                                  1234.5, 12345.0, 0.125,    9999.5,    1e22,        1e23,
                                  1e-22,  1e-23,   4.9e-324, 1.7e308,   0.0,         -0.0,
                                  -2.5,   1e300,   1e-300,   0.3333333, 0.6666666667};
    for (int n = 0; n < 200000; ++n)
        values.push_back(mantissa(rng) * std::pow(10.0, exponent(rng)));
    // Values that sit on or next to a tie of the fourth or tenth digit.
    for (int n = 0; n < 20000; ++n) {
        const double tie4 = (std::floor(mantissa(rng) * 1000.0) + 0.5) / 1000.0;
        const double tie10 = (std::floor(mantissa(rng) * 1e9) + 0.5) / 1e9;
        for (double t : {tie4, tie10})
            for (double v : {t, std::nextafter(t, 0.0), std::nextafter(t, 100.0)})
                values.push_back(v);
    }
    for (double v : values)
        for (RowFormat f : {RowFormat::es12_3, RowFormat::list}) {
            for (double x : {v, -v}) {
                const double fast = printed_value(x, f), text = printed_value_reference(x, f);
                ASSERT_EQ(fast, text) << std::hexfloat << x;
            }
        }
}

TEST(ImageExport, WritesOnlyItsOwnNames) {
    ScratchDir dir;
    // Files a user left beside the result, including one with the temporary name.
    dir.write("img.png.part", "keep me\n");
    dir.write("img.tif.old", "keep me too\n");
    dir.write("img.png", "old picture\n"); // the result's own name is replaced
    const ImageData img = intensity_image(5, 4);
    export_views(dir.str() + "img", img, RowFormat::es12_3, sample_info());
    EXPECT_EQ(dir.read("img.png.part"), "keep me\n");
    EXPECT_EQ(dir.read("img.tif.old"), "keep me too\n");
    EXPECT_EQ(read_png(dir.str() + "img.png").width, 5);
    EXPECT_EQ(listing(dir),
              (std::set<std::string>{"img.png.part", "img.tif.old", "img.png", "img.tif"}));
}

TEST(ImageExport, FailuresStopTheRunAndLeaveNoPartialFile) {
    ScratchDir dir;
    const ImageData img = intensity_image(5, 4);
    // A "directory" that is a file (permissions would not stop root).
    dir.write("blocked", "a file\n");
    const std::string in_file = dir.str() + "blocked/img";
    auto lines = stop_lines([&] { export_png(in_file, img); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Error creating \"" + in_file + ".png\": Not a directory");
    lines = stop_lines([&] { export_tiff(in_file, img, sample_info()); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Error creating \"" + in_file + ".tif\": Not a directory");
    lines = stop_lines([&] { export_postscript(in_file, img); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Error creating \"" + in_file + ".ps\": Not a directory");

    // The final name is taken by a directory: the finished file cannot be put in place.
    std::filesystem::create_directories(dir.path() / "img.tif" / "inside");
    lines = stop_lines([&] { export_tiff(dir.str() + "img", img, sample_info()); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Error writing \"" + dir.str() + "img.tif\": ", 0), 0u) << lines[0];
    std::filesystem::create_directories(dir.path() / "img.ps" / "inside");
    lines = stop_lines([&] { export_postscript(dir.str() + "img", img); });
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("Error writing \"" + dir.str() + "img.ps\": ", 0), 0u) << lines[0];
    EXPECT_EQ(listing(dir), (std::set<std::string>{"blocked", "img.tif", "img.ps"}));
}

TEST(LayerPostScript, OnePageOfTheWholeImage) {
    ScratchDir dir;
    const ImageData img = intensity_image(9, 6);
    export_postscript(dir.str() + "lay", img);
    const std::string ps = dir.read("lay.ps");
    EXPECT_EQ(ps.rfind("%!PS", 0), 0u);
    EXPECT_NE(ps.find("%%Pages: 1\n"), std::string::npos);
    EXPECT_NE(ps.find("%%BoundingBox: 0 0 288 288\n"), std::string::npos);
    EXPECT_NE(ps.find("%%EOF"), std::string::npos);
    EXPECT_EQ(listing(dir), (std::set<std::string>{"lay.ps"}));

    // Rendered, each cell shows its grey level, row y = 1 at the top.
    if (std::system("gs -v >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "Ghostscript (gs) is not installed: the rendering is not checked";
    const std::string pgm = dir.str() + "lay.pgm";
    ASSERT_EQ(std::system(("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pgmraw -r72 -sOutputFile='" +
                           pgm + "' '" + dir.str() + "lay.ps' >/dev/null 2>&1")
                              .c_str()),
              0);
    // Binary PGM: "P5", width, height, maximum, one blank, then the bytes; comments start
    // with '#' and end with the line.
    const std::string raw = read_file(pgm);
    std::size_t pos = 0;
    auto token = [&] {
        for (;;) {
            while (pos < raw.size() && std::isspace(static_cast<unsigned char>(raw[pos]))) ++pos;
            if (pos < raw.size() && raw[pos] == '#')
                pos = raw.find('\n', pos);
            else
                break;
        }
        const std::size_t start = pos;
        while (pos < raw.size() && !std::isspace(static_cast<unsigned char>(raw[pos]))) ++pos;
        return raw.substr(start, pos - start);
    };
    ASSERT_EQ(token(), "P5");
    ASSERT_EQ(token(), "288");
    ASSERT_EQ(token(), "288");
    ASSERT_EQ(token(), "255");
    const std::size_t data = pos + 1;
    ASSERT_EQ(raw.size(), data + 288u * 288u);
    const GreyLevels g = grey_levels(img, 256);
    for (int j = 1; j <= 6; ++j)
        for (int i = 1; i <= 9; ++i) {
            const int col = static_cast<int>((i - 0.5) * 288 / 9);
            const int row = static_cast<int>((j - 0.5) * 288 / 6);
            const auto grey = static_cast<unsigned char>(raw[data + row * 288u + col]);
            EXPECT_NEAR(grey, g.level(i, j), 2) << i << "," << j;
        }
}

TEST(LayerPostScript, TheCallersDeviceAndColoursSurvive) {
    const int id = cpgopen("/NULL");
    ASSERT_GT(id, 0);
    cpgscr(12, 0.1f, 0.2f, 0.3f);
    cpgscr(40, 0.9f, 0.0f, 0.5f);
    ScratchDir dir;
    export_postscript(dir.str() + "lay", intensity_image(4, 4));
    int now = 0;
    cpgqid(&now);
    EXPECT_EQ(now, id);
    float r, g, b;
    cpgqcr(12, &r, &g, &b);
    EXPECT_FLOAT_EQ(r, 0.1f);
    EXPECT_FLOAT_EQ(b, 0.3f);
    cpgqcr(40, &r, &g, &b);
    EXPECT_FLOAT_EQ(r, 0.9f);
    EXPECT_FLOAT_EQ(g, 0.0f);
    cpgclos();
    EXPECT_TRUE(dir.exists("lay.ps"));
}
