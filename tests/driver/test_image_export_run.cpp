// Whole text-mode runs: the pictures, float copies and PostScript layer images they leave, and
// the report document built from them by LaTeX and dvips.
#include "driver/image_readback.hpp"
#include "state/image_file.hpp"
#include "support/input_files.hpp"
#include "support/testing.hpp"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

using namespace korvex;
using namespace korvex::testing;

namespace {

struct RunResult {
    int status = -1;
    std::string output;
};

// Runs `spec` with the data directory "data/" inside `dir`.
RunResult run_in(const ScratchDir& dir, const InputSpec& spec) {
    std::filesystem::create_directories(dir.path() / "data");
    dir.write("filesystem.ini", filesystem_text("data/"));
    dir.write("in", input_text(spec));
    RunResult r;
    r.status = run_program(dir.path().string(), "-t in", r.output);
    return r;
}

// The picture and float copies of `text` agree with it (shape, values, grey levels; `clip`
// false for signed maps).
void expect_views_match(const std::string& path, const ImageData& text, bool clip = true) {
    SCOPED_TRACE(path);
    const PngGrey png = read_png(path + ".png");
    ASSERT_EQ(png.width, text.nx());
    ASSERT_EQ(png.height, text.ny());
    const TiffFloat tif = read_tiff(path + ".tif");
    ASSERT_TRUE(tif.opened);
    ASSERT_EQ(static_cast<int>(tif.width), text.nx());
    ASSERT_EQ(static_cast<int>(tif.height), text.ny());
    const Array2<int> levels = expected_levels(text, 256, clip);
    for (int j = 1; j <= text.ny(); ++j)
        for (int i = 1; i <= text.nx(); ++i) {
            ASSERT_EQ(png.at(i - 1, j - 1), static_cast<unsigned>(levels(i, j))) << i << "," << j;
            ASSERT_TRUE(near_rel(tif.at(i - 1, j - 1), text.values(i, j), 5.0001e-4))
                << i << "," << j;
        }
}

// A thickness-fringe file as an image: one column per record (slice).
ImageData fringe_image(const std::string& path) {
    const auto lines = read_lines(path);
    std::vector<std::vector<double>> records;
    for (std::size_t r = 8; r < lines.size(); ++r) {
        std::istringstream s(lines[r]);
        records.emplace_back();
        for (double v; s >> v;) records.back().push_back(v);
    }
    ImageData img;
    img.values.resize(static_cast<int>(records.size()), static_cast<int>(records.at(0).size()));
    for (int i = 1; i <= img.nx(); ++i)
        for (int j = 1; j <= img.ny(); ++j)
            img.values(i, j) = records[static_cast<std::size_t>(i - 1)].at(j - 1);
    return img;
}

bool have(const char* program) {
    return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

} // namespace

TEST(ImageExportRun, EveryImageOfAJobOneRunHasItsPictureAndFloatCopy) {
    ScratchDir dir;
    const RunResult r = run_in(dir, InputSpec{});
    ASSERT_EQ(r.status, 0) << r.output;
    for (const char* name : {"in-01g", "in00g", "in01g"}) {
        const std::string path = dir.str() + "data/" + name;
        const ImageData text = read_image_file(path);
        expect_views_match(path, text);
        // A perfect crystal: one intensity everywhere, a black picture.
        for (unsigned p : read_png(path + ".png").pixels) ASSERT_EQ(p, 0u);
        EXPECT_FALSE(dir.exists(std::string("data/") + name + ".ps")); // layer images only
    }
    const TiffFloat tif = read_tiff(dir.str() + "data/in-01g.tif");
    for (const char* item : {"crystal = Cu\n", "voltage = 200 kV\n", "g = 2 0 0\n",
                             "beams = -1 0 1\n", "condition = (g, 1g)\n", "defect = no\n",
                             "thickness = 20 Angstrom\n", "beam order = -1\n"})
        EXPECT_NE(tif.description.find(item), std::string::npos) << item << tif.description;
}

TEST(ImageExportRun, DislocationImagesAndTheirMiddleSliceStrainMaps) {
    ScratchDir dir;
    dir.write("edge.ini", "{edge}\n---\n1 2 1 0 1  b\n8.0 4.0 10.0  point\n0 1 0  line\n"
                          "0.34  nu\n1.0  core\n0  relaxation\n");
    InputSpec s;
    s.defect = "edge";
    s.size_x = 16;
    s.size_y = 6;
    std::filesystem::create_directories(dir.path() / "data");
    dir.write("filesystem.ini", filesystem_text("data/"));
    dir.write("in", input_text(s));
    std::string out;
    ASSERT_EQ(run_program(dir.path().string(), "-t in edge.ini", out), 0) << out;
    const std::string data = dir.str() + "data/";
    for (const char* name : {"in-01g", "in00g", "in01g"}) {
        const ImageData text = read_image_file(data + name);
        expect_views_match(data + name, text);
        // The dislocation shows: the picture spans the whole grey scale.
        const PngGrey png = read_png(data + name + ".png");
        EXPECT_EQ(*std::max_element(png.pixels.begin(), png.pixels.end()), 255u) << name;
        EXPECT_EQ(*std::min_element(png.pixels.begin(), png.pixels.end()), 0u) << name;
    }
    // The strain term is signed (opposite on the two sides of the core): mapped unclipped.
    for (const char* name : {"in-01gsgr", "in01gsgr"}) {
        const ImageData text = read_image_file(data + name);
        double lo = 0, hi = 0;
        for (int j = 1; j <= text.ny(); ++j)
            for (int i = 1; i <= text.nx(); ++i) {
                lo = std::min(lo, text.values(i, j));
                hi = std::max(hi, text.values(i, j));
            }
        EXPECT_LT(lo, 0.0) << name;
        EXPECT_GT(hi, 0.0) << name;
        expect_views_match(data + name, text, false);
        EXPECT_NE(read_tiff(data + name + ".tif").description.find("quantity = strain term"),
                  std::string::npos);
    }
}

TEST(ImageExportRun, ThicknessFringesBecomeDepthImages) {
    ScratchDir dir;
    InputSpec s;
    s.job = 2;
    s.size_x = 5;
    s.size_y = 3;
    s.size_z = 40;
    ASSERT_EQ(run_in(dir, s).status, 0);
    for (const char* name : {"in-01g", "in00g", "in01g"}) {
        const std::string path = dir.str() + "data/" + name;
        const ImageData text = fringe_image(path);
        EXPECT_EQ(text.nx(), 40); // every slice, beyond the 5 columns in x
        expect_views_match(path, text);
        // The intensity swings with depth: the picture is not flat.
        const PngGrey png = read_png(path + ".png");
        EXPECT_EQ(*std::max_element(png.pixels.begin(), png.pixels.end()), 255u);
    }
}

TEST(ImageExportRun, TheReportDocumentBuildsWithItsLayerImages) {
    ScratchDir dir;
    InputSpec s;
    s.job = 3;
    s.size_x = 6;
    s.size_y = 4;
    s.size_z = 12;
    const RunResult r = run_in(dir, s);
    ASSERT_EQ(r.status, 0) << r.output;
    const std::string data = dir.str() + "data/";
    std::vector<std::string> layers;
    for (const auto& line : read_lines(data + "in.imi"))
        if (line != " exit") layers.push_back(line.substr(1));
    ASSERT_EQ(layers.size(), 12u);
    for (const auto& l : layers) {
        expect_views_match(data + l, read_image_file(data + l));
        EXPECT_EQ(read_file(data + l + ".ps").rfind("%!PS", 0), 0u) << l;
    }
    EXPECT_NE(read_tiff(data + "in01gml0012.tif")
                  .description.find("quantity = intensity at the exit of slice 12 (depth 12.0 "
                                    "Angstrom)\n"),
              std::string::npos);

    if (!have("latex") || !have("dvips"))
        GTEST_SKIP() << "TeX (latex, dvips) is not installed: the report document is not built "
                        "(scripts/test installs texlive-latex-base and texlive-latex-recommended)";
    std::string out;
    const std::string cd = "cd '" + data + "' && ";
    ASSERT_EQ(std::system((cd + "latex -interaction=nonstopmode Imagesin.tex >latex.log 2>&1 "
                                "</dev/null")
                              .c_str()),
              0)
        << read_file(data + "latex.log");
    ASSERT_EQ(std::system((cd + "dvips -q Imagesin.dvi -o Imagesin.ps >dvips.log 2>&1").c_str()), 0)
        << read_file(data + "dvips.log");
    const std::string ps = read_file(data + "Imagesin.ps");
    for (const auto& l : layers)
        EXPECT_NE(ps.find("%%BeginDocument: " + l + ".ps"), std::string::npos) << l;
}

TEST(ImageExportRun, OutputsLeaveOtherFilesAlone) {
    ScratchDir dir;
    std::filesystem::create_directories(dir.path() / "data");
    const std::map<std::string, std::string> mine = {
        {"data/in01g.png.part", "a file with the temporary name\n"},
        {"data/in01g.tiff", "another picture\n"},
        {"data/in01g.ps", "not a result of job 1\n"},
        {"data/notes.txt", "notes\n"}};
    for (const auto& [name, text] : mine) dir.write(name, text);
    const RunResult r = run_in(dir, InputSpec{});
    ASSERT_EQ(r.status, 0) << r.output;
    for (const auto& [name, text] : mine) EXPECT_EQ(dir.read(name), text) << name;
    for (const auto& e : std::filesystem::directory_iterator(dir.path() / "data")) {
        const std::string n = e.path().filename().string();
        EXPECT_TRUE(n.find(".part") == std::string::npos || n == "in01g.png.part") << n;
    }
    EXPECT_TRUE(dir.exists("data/in01g.png"));
}

TEST(ImageExportRun, AnExportThatCannotBeWrittenStopsTheRun) {
    ScratchDir dir;
    // The picture's name is taken by a directory with something in it.
    std::filesystem::create_directories(dir.path() / "data" / "in00g.tif" / "keep");
    const RunResult r = run_in(dir, InputSpec{});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find(" Error writing \"data/in00g.tif\": "), std::string::npos) << r.output;
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() / "data" / "in00g.tif" / "keep"));
    for (const auto& e : std::filesystem::directory_iterator(dir.path() / "data"))
        EXPECT_EQ(e.path().filename().string().find(".part"), std::string::npos) << e.path();
}
