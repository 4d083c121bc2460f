#include "output/layer_postscript.hpp"

#include "output/grey_levels.hpp"
#include "state/pending_file.hpp"

#include <cpgplot.h>
extern "C" {
#include <giza.h>
}

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <vector>

namespace korvex {

namespace {

constexpr int kLevels = 256;
// The grey ramp starts above the 16 standard colours: the PostScript device leaves index 0
// (the background colour) transparent.
constexpr int kFirstIndex = 16;
constexpr int kColourIndices = kFirstIndex + kLevels; // 0 .. 271
// The library smooths a pixel array when it scales it to the page; repeating every cell
// until the array has at least this many samples across keeps the cell edges sharp.
constexpr int kMinSamples = 512;

// The device the caller had selected, with the colour table the library shares between all
// devices (opening a device resets it).
class PlotContext {
  public:
    PlotContext() {
        char state[16] = {};
        int len = sizeof state - 1;
        cpgqinf("STATE", state, &len);
        if (std::strncmp(state, "OPEN", 4) != 0) return;
        cpgqid(&id_);
        for (int ci = 0; ci < kColourIndices; ++ci) {
            auto& c = colours_[static_cast<std::size_t>(ci)];
            cpgqcr(ci, &c[0], &c[1], &c[2]);
        }
    }
    void restore() const {
        if (id_ <= 0) return;
        cpgslct(id_);
        for (int ci = 0; ci < kColourIndices; ++ci) {
            const auto& c = colours_[static_cast<std::size_t>(ci)];
            cpgscr(ci, c[0], c[1], c[2]);
        }
    }

  private:
    int id_ = 0;
    std::array<std::array<float, 3>, kColourIndices> colours_{};
};

// A complete PostScript file ends with the end-of-file comment.
bool finished(const std::string& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return false;
    const std::streamoff size = in.tellg();
    const std::streamoff tail = std::min<std::streamoff>(size, 64);
    if (tail <= 0) return false;
    std::string end(static_cast<std::size_t>(tail), '\0');
    in.seekg(size - tail);
    in.read(end.data(), tail);
    return in && end.find("%%EOF") != std::string::npos;
}

} // namespace

void export_postscript(const std::string& path_without_ext, const ImageData& img) {
    const std::string path = path_without_ext + ".ps";
    const int nx = img.nx(), ny = img.ny();
    const GreyLevels g = grey_levels(img, kLevels);

    // The picture is drawn turned a quarter turn counter-clockwise: the report document
    // includes it turned a quarter turn back (clockwise), which shows it upright, data row
    // y = 1 at the top and column x = 1 at the left, as in the other pictures. Turned, page
    // column ii runs along y and page row jj (0 = bottom) along x.
    const int r = std::max(1, (kMinSamples + std::max(nx, ny) - 1) / std::max(nx, ny));
    const int wx = ny * r, wy = nx * r;
    std::vector<int> cells(static_cast<std::size_t>(wx) * static_cast<std::size_t>(wy));
    for (int jj = 0; jj < wy; ++jj)
        for (int ii = 0; ii < wx; ++ii)
            cells[static_cast<std::size_t>(jj) * static_cast<std::size_t>(wx) +
                  static_cast<std::size_t>(ii)] = kFirstIndex + g.level(jj / r + 1, ii / r + 1);

    PendingFile file(path);
    file.close(); // the plotting library writes the file under its temporary name
    const PlotContext caller;
    const std::string device = file.temp_path() + "/VPS";
    if (giza_open_device_size(device.c_str(), "korvex", 4.0, 4.0, GIZA_UNITS_INCHES) <= 0) {
        caller.restore();
        file.fail("the PostScript device could not be opened");
    }
    cpgask(0);
    cpgsvp(0.0f, 1.0f, 0.0f, 1.0f);
    cpgswin(-1.0f, 1.0f, -1.0f, 1.0f);
    cpgsfs(1);
    for (int k = 0; k < kLevels; ++k) {
        const float grey = static_cast<float>(k) / static_cast<float>(kLevels - 1);
        cpgscr(kFirstIndex + k, grey, grey, grey);
    }
    cpgpixl(cells.data(), wx, wy, 1, wx, 1, wy, -1.0f, 1.0f, -1.0f, 1.0f);
    cpgclos();
    caller.restore();
    if (!finished(file.temp_path())) file.fail("the PostScript device did not complete it");
    file.commit();
}

} // namespace korvex
