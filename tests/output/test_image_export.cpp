// Grey levels; the PNG, TIFF and PostScript copies read back against their text image.
#include "driver/image_readback.hpp"
#include "output/grey_levels.hpp"
#include "output/image_export.hpp"
#include "output/layer_postscript.hpp"
#include "support/input_files.hpp"

#include <cpgplot.h>

#include <algorithm>
#include <map>
#include <random>
#include <sstream>

using namespace korvex::testing;

namespace {

// An nx x ny image of pixel size 0.5 x 1.25 Angstrom holding `v`, x index fastest.
ImageData image_of(int nx, int ny, const std::vector<double>& v = {}) {
    const auto at = [&](int i, int j) { return std::size_t((j - 1) * nx + i - 1); };
    return make_image(
        nx, ny, [&](int i, int j) { return at(i, j) < v.size() ? v[at(i, j)] : 0.0; }, 0.5, 1.25);
}

// Intensities over several decades with structure in both directions.
ImageData intensity_image(int nx, int ny) {
    const auto f = [](int i, int j) {
        return 0.3 + 0.25 * std::sin(0.7 * i) * std::cos(0.45 * j) + 1e-3 * std::exp(-0.5 * j) +
               0.123456789e-2 * i / (j + 2.0);
    };
    return make_image(nx, ny, f, 0.5, 1.25);
}

ImageInfo sample_info() {
    ImageInfo info{
        .crystal = "Cu", .beams = {-1, 0, 1}, .defect = "edge", .defect_file = "edge.ini"};
    info.voltage = 200, info.g = {2, 0, 0}, info.condition_n = 1.5;
    info.thickness = 300, info.beam_order = 1;
    return info;
}

} // namespace

// Level = floor((A - min)(levels - 1) / (max - min)), the largest value on the top level even
// where the doubles give 254.99999999999997, highlights clipped at 10000 times the mean; flat,
// signed and broken images.
TEST(GreyLevels, FormulaTopLevelClippingAndOddImages) {
    const GreyLevels top =
        grey_levels(image_of(3, 1, {0.0405495241, 0.6397953458, 0.3401724350}), 256);
    // The third value is on level 127.5 up to the last digit.
    EXPECT_EQ(std::vector({top.level(1, 1), top.level(2, 1), top.level(3, 1)}),
              std::vector({0, 255, 127}));

    const GreyLevels c = grey_levels(
        make_image(500, 500, [](int i, int j) { return i == 17 && j == 300 ? 1e8 : 1.0; }), 256);
    EXPECT_NEAR(c.clip, 10000.0 * (249999.0 + 1e8) / 250000.0, 1e-6 * c.clip);
    EXPECT_EQ(std::tuple(c.max, c.level(17, 300), c.level(1, 1), c.level(500, 500)),
              std::tuple(c.clip, 255, 0, 0));

    // One value everywhere (a perfect crystal): middle grey, no division by zero.
    const GreyLevels f = grey_levels(make_image(4, 3, [](int, int) { return 0.37; }), 256);
    EXPECT_EQ(std::pair(f.level(2, 2), f.uniform), std::pair(127, true));
    EXPECT_DOUBLE_EQ(f.background, 0.37);

    // A signed strain map with a mean near zero keeps its whole range unclipped.
    ImageData sgr = make_image(200, 60, [](int i, int) { return (i - 100.5) * 1e-4; });
    sgr.values(1, 1) -= 1e-12; // mean slightly negative
    const GreyLevels s = grey_levels(sgr, 256);
    EXPECT_TRUE(std::isinf(s.clip));
    EXPECT_EQ(std::vector({s.level(1, 5), s.level(101, 5), s.level(200, 5)}),
              std::vector({0, 128, 255}));
    EXPECT_EQ(s.background, 1e-10); // a negative background is raised to the floor

    // A broken value (NaN) takes the lowest level and leaves the others alone.
    const GreyLevels n = grey_levels(image_of(2, 2, {0.0, std::nan(""), 1.0, 0.5}), 256);
    EXPECT_EQ(std::vector({n.level(2, 1), n.level(1, 2), n.level(2, 2)}),
              std::vector({0, 255, 127}));
}

// The PNG holds the display's levels, row y = 1 at the top; the TIFF the computed values as
// closely as a float can (a clipped spike too), the pixel size and a description of the run.
TEST(ImageExport, ViewsPrintedValuesLongRowsFailuresAndLayerPages) {
    ScratchDir dir;
    ImageData spike = intensity_image(150, 80); // over 10000 pixels: clipping can happen
    spike.values(3, 70) = 1e7;
    for (const ImageData& img : {intensity_image(37, 23), spike}) {
        const std::string base = dir.str() + "run" + std::to_string(img.nx());
        write_image_file(base, img, RowFormat::es12_3);
        export_views(base, img, RowFormat::es12_3, sample_info());
        expect_views_match(base, read_image_file(base));
        EXPECT_TRUE(read_png(base + ".png").grey8);
        const TiffFloat tif = read_tiff(base + ".tif");
        for (int j = 1; j <= img.ny(); ++j)
            for (int i = 1; i <= img.nx(); ++i)
                ASSERT_TRUE(near_rel(tif.at(i - 1, j - 1), img.values(i, j), 1e-7));
    }
    EXPECT_EQ(read_png(dir.str() + "run150.png").at(2, 69), 255u);
    EXPECT_LT(grey_levels(spike, 256).clip, 1e7);

    const TiffFloat tif = read_tiff(dir.str() + "run37.tif");
    // One 32-bit float per pixel, top row first, pixels per nm: 0.5 and 1.25 Angstrom.
    EXPECT_EQ(std::tuple(tif.bits, tif.spp, tif.format, tif.orientation, tif.unit),
              std::tuple(32, 1, SAMPLEFORMAT_IEEEFP, ORIENTATION_TOPLEFT, RESUNIT_NONE));
    EXPECT_TRUE(near_rel(tif.xres, 20.0, 1e-6) && near_rel(tif.yres, 8.0, 1e-6)) << tif.xres;
    // Read as ImageJ reads it: a description starting "ImageJ" is a list of Java properties
    // (key up to a blank, '=' or ':'), whose unit names the resolution tags' unit.
    ASSERT_TRUE(tif.description.starts_with("ImageJ="));
    std::map<std::string, std::string> props;
    std::istringstream desc(tif.description);
    for (std::string l; std::getline(desc, l);) {
        const std::size_t k = l.find_first_of(" \t=:");
        const std::size_t v = l.find_first_not_of(" \t", k == std::string::npos ? l.size() : k);
        std::string value = v == std::string::npos ? "" : l.substr(v);
        if (!value.empty() && (value[0] == '=' || value[0] == ':'))
            value.erase(0, value.find_first_not_of(" \t", 1));
        props.emplace(l.substr(0, k), value);
    }
    const ImageData small = intensity_image(37, 23);
    const auto [lo, hi] =
        std::minmax_element(small.values.data(), small.values.data() + small.values.size());
    EXPECT_EQ(props["unit"], "nm");
    EXPECT_TRUE(near_rel(1.0 / tif.xres, 0.05, 1e-9) && near_rel(1.0 / tif.yres, 0.125, 1e-9));
    EXPECT_TRUE(near_rel(std::stod(props["min"]), *lo, 1e-7) &&
                near_rel(std::stod(props["max"]), *hi, 1e-7))
        << tif.description;
    for (const char* item :
         {"quantity = intensity\n", "crystal = Cu\n", "voltage = 200 kV\n", "g = 2 0 0\n",
          "beams = -1 0 1\n", "condition = (g, 1.5g)\n", "defect = edge\n",
          "defect file = edge.ini\n", "thickness = 300 Angstrom\n", "beam order = 1\n",
          "columns = 37 along x, pixel size 0.5 Angstrom\n",
          "rows = 23 along y, pixel size 1.25 Angstrom\n"})
        EXPECT_TRUE(contains(tif.description, item)) << item << tif.description;

    // A file that cannot be created or put in place stops the run naming it, no partial file left.
    ScratchDir bad;
    const ImageData img = intensity_image(5, 4);
    auto save = [&](const std::string& ext, const std::string& path) {
        if (ext == ".png") export_png(path, img);
        if (ext == ".tif") export_tiff(path, img, sample_info());
        if (ext == ".ps") export_postscript(path, img);
    };
    // A "directory" that is a file (permissions would not stop root).
    bad.write("blocked", "a file\n");
    const std::string blocked = bad.str() + "blocked/img";
    for (const std::string ext : {".png", ".tif", ".ps"})
        EXPECT_EQ(stop_lines([&] { save(ext, blocked); }),
                  Lines{"Error creating \"" + blocked + ext + "\": Not a directory"});
    // The final name is taken by a directory: the finished file cannot be put in place.
    for (const std::string ext : {".tif", ".ps"}) {
        std::filesystem::create_directories(bad.path() / ("img" + ext) / "inside");
        const auto lines = stop_lines([&] { save(ext, bad.str() + "img"); });
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("Error writing \"" + bad.str() + "img" + ext + "\": ", 0), 0u)
            << lines[0];
    }
    EXPECT_EQ(bad.names(), (std::set<std::string>{"blocked", "img.tif", "img.ps"}));

    // The grey levels come from the values as printed; the fast conversion agrees with the text
    // formatting everywhere, ties of the last printed digit included.
    const ImageData col = image_of(1, 3, {0.123456789, -2.49951e-7, 1.0 / 3.0});
    const ImageData es = as_printed(col, RowFormat::es12_3);
    EXPECT_EQ(std::pair(es.values(1, 1), es.values(1, 2)), std::pair(0.1235, -2.500e-7));
    const ImageData list = as_printed(col, RowFormat::list);
    EXPECT_EQ(std::pair(list.values(1, 3), list.unit_x), std::pair(0.3333333333, 0.5));

    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> mantissa(1.0, 10.0);
    std::uniform_int_distribution<int> exponent(-40, 40);
    std::vector<double> values = {1.0,    10.0,    0.1,      1e-3,      9.9995,      0.99995,
                                  1234.5, 12345.0, 0.125,    9999.5,    1e22,        1e23,
                                  1e-22,  1e-23,   4.9e-324, 1.7e308,   0.0,         -0.0,
                                  -2.5,   1e300,   1e-300,   0.3333333, 0.6666666667};
    for (int n = 0; n < 200000; ++n)
        values.push_back(mantissa(rng) * std::pow(10.0, exponent(rng)));
    for (int n = 0; n < 20000; ++n) {
        const double tie4 = (std::floor(mantissa(rng) * 1000.0) + 0.5) / 1000.0;
        const double tie10 = (std::floor(mantissa(rng) * 1e9) + 0.5) / 1e9;
        for (double t : {tie4, tie10})
            for (double v : {t, std::nextafter(t, 0.0), std::nextafter(t, 100.0)})
                values.push_back(v);
    }
    for (double v : values)
        for (RowFormat f : {RowFormat::es12_3, RowFormat::list})
            for (double x : {v, -v})
                ASSERT_EQ(printed_value(x, f), printed_value_reference(x, f)) << std::hexfloat << x;

    // The displays read rows of more than 2000 values back across their continuation records.
    const ImageData wide =
        make_image(2, 2500, [](int i, int) { return i == 1 ? 0.1234 : -2.5e-7; });
    const std::string wide_text = format_image(wide, RowFormat::es12_3);
    const auto wide_lines = split_lines(wide_text);
    ASSERT_EQ(wide_lines.size(), 8u + 4u);
    EXPECT_EQ(wide_lines[0] + wide_lines[3], " width 2500");
    EXPECT_EQ(std::pair(wide_lines[8].size(), wide_lines[9].size()),
              (std::pair<std::size_t, std::size_t>(2000 * 12, 500 * 12)));
    EXPECT_EQ(wide_lines[8].substr(0, 12) + wide_lines[10].substr(0, 12),
              "   1.234E-01  -2.500E-07");
    ScratchDir wdir;
    wdir.write("img", wide_text);
    const auto wide_back = read_image_file(wdir.str() + "img");
    EXPECT_EQ(std::tuple(wide_back.ny(), wide_back.values(1, 2500), wide_back.values(2, 2001)),
              std::tuple(2500, 0.1234, -2.5e-7));

    // One page of the whole image, the caller's plot device and colours undisturbed; rendered,
    // each cell shows its grey level, turned for the report document.
    ScratchDir ldir;
    const int id = cpgopen("/NULL");
    ASSERT_GT(id, 0);
    const float colours[2][4] = {{12, 0.1f, 0.2f, 0.3f}, {40, 0.9f, 0.0f, 0.5f}};
    for (const auto& c : colours) cpgscr(int(c[0]), c[1], c[2], c[3]);
    const ImageData limg = intensity_image(9, 6);
    export_postscript(ldir.str() + "lay", limg);
    int now = 0;
    cpgqid(&now);
    EXPECT_EQ(now, id);
    for (const auto& c : colours) {
        float r, g, b;
        cpgqcr(int(c[0]), &r, &g, &b);
        EXPECT_EQ(std::vector({r, g, b}), std::vector(c + 1, c + 4)) << c[0];
    }
    cpgclos();

    const std::string lps = ldir.read("lay.ps");
    EXPECT_EQ(lps.rfind("%!PS", 0), 0u);
    for (const char* dsc : {"%%Pages: 1\n", "%%BoundingBox: 0 0 288 288\n", "%%EOF"})
        EXPECT_TRUE(contains(lps, dsc)) << dsc;
    EXPECT_EQ(ldir.names(), (std::set<std::string>{"lay.ps"}));
    if (!have("gs")) GTEST_SKIP() << "Ghostscript (gs) is not installed: no rendering checked";
    ASSERT_TRUE(shell("gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=pnggray -r72 -sOutputFile='" +
                      ldir.str() + "lay.png' '" + ldir.str() + "lay.ps'"));
    const PngGrey lpage = read_png(ldir.str() + "lay.png");
    ASSERT_EQ(std::pair(lpage.width, lpage.height), std::pair(288, 288));
    // Turned a quarter turn counter-clockwise: y runs left to right, x bottom to top.
    const GreyLevels llevels = grey_levels(limg, 256);
    for (int j = 1; j <= 6; ++j)
        for (int i = 1; i <= 9; ++i)
            EXPECT_NEAR(lpage.at(int((j - 0.5) * 288 / 6), int((9 - i + 0.5) * 288 / 9)),
                        llevels.level(i, j), 2)
                << i << "," << j;
}
