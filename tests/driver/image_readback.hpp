// The picture and float copies of image files read back with the libraries users' tools use.
#pragma once

#include "output/grey_levels.hpp"
#include "state/image_file.hpp"
#include "support/testing.hpp"

#include <png.h>
#include <tiffio.h>

#include <string>
#include <tuple>
#include <vector>

namespace korvex::testing {

struct PngGrey {
    int width = 0, height = 0;
    bool grey8 = false;           // stored as one 8-bit grey channel
    std::vector<unsigned> pixels; // top row first
    unsigned at(int col, int row) const { return pixels[std::size_t(row * width + col)]; }
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
    out.width = int(img.width), out.height = int(img.height);
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
    float at(int col, int row) const { return values[std::size_t(row) * width + col]; }
};

inline TiffFloat read_tiff(const std::string& path) {
    TiffFloat t;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!(t.opened = tif != nullptr)) return t;
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
    t.values.resize(std::size_t(t.width) * t.height);
    if (t.bits == 32 && t.spp == 1)
        for (uint32_t r = 0; r < t.height; ++r)
            TIFFReadScanline(tif, t.values.data() + std::size_t(r) * t.width, r, 0);
    TIFFClose(tif);
    return t;
}

// The picture and float copies of the text image at `path` agree with it: the shape, the
// display's grey levels of the printed values (row y = 1 at the top, column x = 1 at the left)
// and the values to the four printed digits.
inline void expect_views_match(const std::string& path, const ImageData& text) {
    SCOPED_TRACE(path);
    const PngGrey png = read_png(path + ".png");
    const TiffFloat tif = read_tiff(path + ".tif");
    ASSERT_EQ(std::tuple(png.width, png.height, int(tif.width), int(tif.height)),
              std::tuple(text.nx(), text.ny(), text.nx(), text.ny()));
    const GreyLevels levels = grey_levels(text, 256);
    for (int j = 1; j <= text.ny(); ++j)
        for (int i = 1; i <= text.nx(); ++i) {
            ASSERT_EQ(png.at(i - 1, j - 1), unsigned(levels.level(i, j))) << i << "," << j;
            ASSERT_TRUE(near_rel(tif.at(i - 1, j - 1), text.values(i, j), 5.0001e-4)) << i << j;
        }
}

} // namespace korvex::testing
