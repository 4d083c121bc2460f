#include "gui/gif_file.hpp"

#include "state/error.hpp"

#include <gif_lib.h>
#include <png.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>

namespace korvex {

namespace {

int append_bytes(GifFileType* gif, const GifByteType* bytes, int n) {
    auto* out = static_cast<std::string*>(gif->UserData);
    out->append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(n));
    return n;
}

struct MapDeleter {
    void operator()(ColorMapObject* m) const { GifFreeMapObject(m); }
};

} // namespace

std::string encode_gif(const RgbPicture& pic) {
    const int w = pic.width, h = pic.height;
    const std::size_t npix = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    if (w < 1 || h < 1 || pic.rgb.size() != 3 * npix)
        halt("A picture of " + std::to_string(w) + " x " + std::to_string(h) +
             " pixels cannot be stored as GIF");

    std::vector<GifByteType> index(npix);
    std::unique_ptr<ColorMapObject, MapDeleter> cmap(GifMakeMapObject(256, nullptr));
    if (!cmap) halt("Out of memory while encoding a GIF picture");

    // Exact palette when the page has few colours (line drawings, grey ramps).
    std::map<std::uint32_t, int> colours;
    bool exact = true;
    for (std::size_t p = 0; p < npix && exact; ++p) {
        const std::uint32_t key = (std::uint32_t(pic.rgb[3 * p]) << 16) |
                                  (std::uint32_t(pic.rgb[3 * p + 1]) << 8) | pic.rgb[3 * p + 2];
        auto [it, added] = colours.emplace(key, static_cast<int>(colours.size()));
        if (added && colours.size() > 256) exact = false;
        index[p] = static_cast<GifByteType>(it->second);
    }
    if (exact) {
        for (int i = 0; i < 256; ++i) cmap->Colors[i] = GifColorType{0, 0, 0};
        for (const auto& [key, i] : colours)
            cmap->Colors[i] = GifColorType{GifByteType(key >> 16), GifByteType((key >> 8) & 0xff),
                                           GifByteType(key & 0xff)};
    } else {
        std::vector<GifByteType> r(npix), g(npix), b(npix);
        for (std::size_t p = 0; p < npix; ++p) {
            r[p] = pic.rgb[3 * p];
            g[p] = pic.rgb[3 * p + 1];
            b[p] = pic.rgb[3 * p + 2];
        }
        int size = 256;
        if (GifQuantizeBuffer(static_cast<unsigned>(w), static_cast<unsigned>(h), &size, r.data(),
                              g.data(), b.data(), index.data(), cmap->Colors) == GIF_ERROR)
            halt("A picture could not be reduced to the 256 colours of a GIF file");
    }

    std::string out;
    int err = 0;
    GifFileType* gif = EGifOpen(&out, append_bytes, &err);
    if (!gif) halt(std::string("GIF encoding failed: ") + GifErrorString(err));
    bool ok = EGifPutScreenDesc(gif, w, h, 8, 0, cmap.get()) != GIF_ERROR &&
              EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) != GIF_ERROR;
    for (int y = 0; ok && y < h; ++y)
        ok = EGifPutLine(gif, index.data() + static_cast<std::size_t>(y) * w, w) != GIF_ERROR;
    const int code = ok ? 0 : gif->Error;
    if (EGifCloseFile(gif, &err) == GIF_ERROR && ok) ok = false;
    if (!ok) halt(std::string("GIF encoding failed: ") + GifErrorString(code ? code : err));
    return out;
}

RgbPicture read_png(const std::string& path) {
    png_image img;
    std::memset(&img, 0, sizeof img);
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str()))
        halt("Error reading \"" + path + "\": " + img.message);
    img.format = PNG_FORMAT_RGB;
    RgbPicture pic;
    pic.width = static_cast<int>(img.width);
    pic.height = static_cast<int>(img.height);
    pic.rgb.resize(PNG_IMAGE_SIZE(img));
    // A transparent background is composed onto black, the colour of an empty plot page.
    png_color black{0, 0, 0};
    if (!png_image_finish_read(&img, &black, pic.rgb.data(), 0, nullptr)) {
        png_image_free(&img);
        halt("Error reading \"" + path + "\": " + img.message);
    }
    return pic;
}

RgbPicture read_gif(const std::string& path) {
    int err = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &err);
    if (!gif) halt("Error reading \"" + path + "\": " + GifErrorString(err));
    std::unique_ptr<GifFileType, void (*)(GifFileType*)> guard(gif, [](GifFileType* g) {
        int e = 0;
        DGifCloseFile(g, &e);
    });
    if (DGifSlurp(gif) == GIF_ERROR || gif->ImageCount < 1)
        halt("Error reading \"" + path + "\": " + GifErrorString(gif->Error));
    const SavedImage& im = gif->SavedImages[0];
    const ColorMapObject* cmap = im.ImageDesc.ColorMap ? im.ImageDesc.ColorMap : gif->SColorMap;
    if (!cmap) halt("Error reading \"" + path + "\": no colour table");
    RgbPicture pic;
    pic.width = im.ImageDesc.Width;
    pic.height = im.ImageDesc.Height;
    const std::size_t npix = static_cast<std::size_t>(pic.width) * pic.height;
    pic.rgb.resize(3 * npix);
    for (std::size_t p = 0; p < npix; ++p) {
        const int i = std::min<int>(im.RasterBits[p], cmap->ColorCount - 1);
        pic.rgb[3 * p] = cmap->Colors[i].Red;
        pic.rgb[3 * p + 1] = cmap->Colors[i].Green;
        pic.rgb[3 * p + 2] = cmap->Colors[i].Blue;
    }
    return pic;
}

} // namespace korvex
