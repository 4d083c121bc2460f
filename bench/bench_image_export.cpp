// Cost of the copies written beside each 256 x 256 image file of a run (PNG preview, float
// TIFF, PostScript for layer images), next to the text file itself, in a scratch directory.
#include "output/image_export.hpp"
#include "output/layer_postscript.hpp"
#include "state/image_file.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <filesystem>

namespace {

using namespace korvex;

ImageData image256() {
    ImageData img;
    img.unit_x = img.unit_y = 1.0;
    img.values.resize(256, 256);
    for (int j = 1; j <= 256; ++j)
        for (int i = 1; i <= 256; ++i)
            img.values(i, j) = 0.4 + 0.3 * std::sin(0.05 * i) * std::cos(0.07 * j);
    return img;
}

struct Scratch {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / "korvex-bench-image-export";
    Scratch() { std::filesystem::create_directories(dir); }
    ~Scratch() { std::filesystem::remove_all(dir); }
    std::string file(const char* name) const { return (dir / name).string(); }
};

ImageInfo info() {
    ImageInfo i;
    i.crystal = "Cu";
    i.voltage = 200;
    i.g = {2, 0, 0};
    i.beams = {-1, 0, 1, 2, 3};
    i.condition_n = 1;
    i.defect = "edge";
    i.thickness = 300;
    i.beam_order = 1;
    return i;
}

void BM_TextImage(benchmark::State& state) {
    Scratch s;
    const ImageData img = image256();
    for (auto _ : state) write_image_file(s.file("img"), img, RowFormat::es12_3);
}
BENCHMARK(BM_TextImage)->Unit(benchmark::kMillisecond);

void BM_PngAndTiff(benchmark::State& state) {
    Scratch s;
    const ImageData img = image256();
    const ImageInfo i = info();
    for (auto _ : state) export_views(s.file("img"), img, RowFormat::es12_3, i);
}
BENCHMARK(BM_PngAndTiff)->Unit(benchmark::kMillisecond);

void BM_LayerPostScript(benchmark::State& state) {
    Scratch s;
    const ImageData img = image256();
    for (auto _ : state) export_postscript(s.file("img"), img);
}
BENCHMARK(BM_LayerPostScript)->Unit(benchmark::kMillisecond);

} // namespace
