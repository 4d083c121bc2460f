// Reading the picture and float copies of image files back with the libraries a user's tools
// are built on, and the grey-level formula worked out independently of the exporters.
#pragma once

#include "state/array.hpp"
#include "state/image_file.hpp"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

namespace korvex::testing {

struct PngGrey {
    int width = 0, height = 0;
    bool grey8 = false;           // stored as one 8-bit grey channel
    std::vector<unsigned> pixels; // top row first
    unsigned at(int col, int row) const {
        return pixels[static_cast<std::size_t>(row) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(col)];
    }
};

inline PngGrey read_png(const std::string& path) {
    PngGrey out;
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str())) return out;
    out.grey8 = img.format == PNG_FORMAT_GRAY;
    img.format = PNG_FORMAT_GRAY;
    std::vector<png_byte> buf(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, buf.data(), 0, nullptr)) return out;
    out.width = static_cast<int>(img.width);
    out.height = static_cast<int>(img.height);
    out.pixels.assign(buf.begin(), buf.end());
    return out;
}

struct TiffFloat {
    bool opened = false;
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, format = 0, spp = 0, unit = 0, orientation = 0;
    float xres = 0, yres = 0;
    std::string description;
    std::vector<float> values; // row-major, top row first
    float at(int col, int row) const {
        return values[static_cast<std::size_t>(row) * width + static_cast<std::size_t>(col)];
    }
};

inline TiffFloat read_tiff(const std::string& path) {
    TiffFloat t;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return t;
    t.opened = true;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &t.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &t.height);
    TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &t.bits);
    TIFFGetField(tif, TIFFTAG_SAMPLEFORMAT, &t.format);
    TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &t.spp);
    TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &t.unit);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &t.xres);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &t.yres);
    TIFFGetField(tif, TIFFTAG_ORIENTATION, &t.orientation);
    char* desc = nullptr;
    if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &desc) && desc) t.description = desc;
    if (t.bits == 32 && t.spp == 1) {
        t.values.resize(static_cast<std::size_t>(t.width) * t.height);
        for (uint32_t r = 0; r < t.height; ++r)
            TIFFReadScanline(tif, t.values.data() + static_cast<std::size_t>(r) * t.width, r, 0);
    }
    TIFFClose(tif);
    return t;
}

// The display's grey levels of an image, as its description reads: for intensities clip above
// 10000 times the mean, then the integer part of (A - min)*(levels - 1)/(max - min). Signed
// maps (`clip` false) are not clipped.
inline Array2<int> expected_levels(const ImageData& img, int levels, bool clip = true) {
    std::vector<double> a(img.values.data(), img.values.data() + img.values.size());
    double mean = 0.0;
    for (double v : a) mean += v;
    mean /= static_cast<double>(a.size());
    if (clip)
        for (double& v : a) v = std::min(v, 10000.0 * mean);
    const double lo = *std::min_element(a.begin(), a.end());
    const double hi = *std::max_element(a.begin(), a.end());
    Array2<int> g(img.nx(), img.ny());
    for (int j = 1; j <= img.ny(); ++j)
        for (int i = 1; i <= img.nx(); ++i) {
            const double v =
                a[static_cast<std::size_t>(i - 1) + static_cast<std::size_t>(img.nx()) * (j - 1)];
            if (!(hi > lo)) {
                g(i, j) = 0;
                continue;
            }
            // The integer part of the exact formula: a value on a level boundary, which the
            // floating-point evaluation can put a few 1e-14 below it, takes that level.
            const double t = (v - lo) * (levels - 1) / (hi - lo);
            g(i, j) = static_cast<int>(std::floor(t + 1e-10));
        }
    return g;
}

} // namespace korvex::testing
