#include "output/image_export.hpp"

#include "output/grey_levels.hpp"
#include "state/fmt.hpp"
#include "state/pending_file.hpp"
#include "state/textout.hpp"

#include <png.h>
#include <tiffio.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace korvex {

namespace {

std::string num(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

} // namespace

ImageInfo image_info(const State& st, int beam_order) {
    ImageInfo info;
    info.crystal = trim(st.sample);
    info.voltage = st.voltage;
    info.g = st.v_g;
    for (int n = 1; n <= st.mtx_beams.size(); ++n) info.beams.push_back(st.mtx_beams(n));
    info.condition_n = st.condition_n;
    info.defect = trim(st.defect);
    info.defect_file = trim(st.f_defect);
    info.thickness = st.size_z;
    info.beam_order = beam_order;
    return info;
}

std::string image_description(const ImageInfo& info, const ImageData& img) {
    std::string beams;
    for (int m : info.beams) beams += (beams.empty() ? "" : " ") + std::to_string(m);
    std::string s;
    auto line = [&](const std::string& key, const std::string& value) {
        s += key + " = " + value + "\n";
    };
    // ImageJ's own keys first: ImageJ and Fiji read a description that starts with "ImageJ="
    // as their properties, take the unit of the resolution tags from "unit" and the display
    // range from "min" and "max" (of the finite values).
    s += "ImageJ=1.11a\nunit=nm\n";
    double lo = HUGE_VAL, hi = -HUGE_VAL;
    const double* v = img.values.data();
    for (std::size_t k = 0; k < img.values.size(); ++k)
        if (std::isfinite(v[k])) lo = std::min(lo, v[k]), hi = std::max(hi, v[k]);
    // The values as the file holds them (floats).
    if (lo <= hi)
        s += "min=" + num(static_cast<float>(lo)) + "\nmax=" + num(static_cast<float>(hi)) + "\n";
    s += "KORVEX simulated image\n";
    line("quantity", info.quantity);
    if (info.detector.empty())
        line("beam order", std::to_string(info.beam_order));
    else
        line("detector", info.detector);
    line("crystal", info.crystal);
    line("voltage", num(info.voltage) + " kV");
    line("g", num(info.g[0]) + " " + num(info.g[1]) + " " + num(info.g[2]));
    line("beams", beams);
    line("condition", "(g, " + num(info.condition_n) + "g)");
    line("defect", info.defect);
    if (!info.defect_file.empty()) line("defect file", info.defect_file);
    line("thickness", num(info.thickness) + " Angstrom");
    line("columns", std::to_string(img.nx()) + " along " + info.x_axis + ", pixel size " +
                        num(img.unit_x) + " Angstrom");
    line("rows",
         std::to_string(img.ny()) + " along y, pixel size " + num(img.unit_y) + " Angstrom");
    line("orientation", "row 1 is y index 1 (top), column 1 is x index 1 (left)");
    return s;
}

namespace {

// v rounded to `digits` significant decimal digits and read back: the value a correctly
// rounding reader makes of the correctly rounded text (printf's "%.*E" with digits - 1).
double printed_slow(double v, int digits) {
    char buf[64];
    const auto end =
        std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, digits - 1).ptr;
    double r = v;
    std::from_chars(buf, end, r);
    return r;
}

// The same, some ten times faster: the digits from one scaling (significant_digits), then
// m / 10^k with an exact 10^k (k <= 22), the correctly rounded value of the text "m E-k"; where
// the scaling cannot vouch for the digits the text route decides.
double printed(double v, int digits) {
    static constexpr double kPow10[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const double a = std::fabs(v);
    if (!(a > 0.0) || !std::isfinite(a)) return v;
    std::uint64_t m = 0;
    int x = 0;
    const int k = significant_digits(a, digits, m, x) ? digits - 1 - x : 99;
    if (k < -22 || k > 22) return printed_slow(v, digits);
    const double d = static_cast<double>(m);
    return std::copysign(k >= 0 ? d / kPow10[k] : d * kPow10[-k], v);
}

} // namespace

ImageData as_printed(const ImageData& img, RowFormat fmt) {
    ImageData out = img;
    const int digits = fmt == RowFormat::es12_3 ? 4 : 10;
    double* v = out.values.data();
    for (std::size_t k = 0; k < out.values.size(); ++k) v[k] = printed(v[k], digits);
    return out;
}

double printed_value(double v, RowFormat fmt) {
    return printed(v, fmt == RowFormat::es12_3 ? 4 : 10);
}

double printed_value_reference(double v, RowFormat fmt) {
    if (!std::isfinite(v) || v == 0.0) return v;
    return printed_slow(v, fmt == RowFormat::es12_3 ? 4 : 10);
}

namespace {

// The PNG stream of the pixels, empty when the library fails (it runs on any thread).
std::string png_encoding(int width, int height, bool rgb,
                         const std::vector<unsigned char>& pixels) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width);
    png.height = static_cast<png_uint_32>(height);
    png.format = rgb ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
    png.flags = PNG_IMAGE_FLAG_FAST; // previews: speed over the last percent of size
    // Room for the largest stream these pixels can give: encoded once.
    std::string bytes(PNG_IMAGE_PNG_SIZE_MAX(png), '\0');
    png_alloc_size_t size = bytes.size();
    const bool ok =
        png_image_write_to_memory(&png, bytes.data(), &size, 0, pixels.data(), 0, nullptr) != 0;
    png_image_free(&png);
    bytes.resize(ok ? size : 0);
    return bytes;
}

} // namespace

void write_png_bytes(const std::string& path, const std::string& bytes) {
    written_png_bytes(path, bytes)->commit();
}

std::unique_ptr<PendingFile> written_png_bytes(const std::string& path, const std::string& bytes) {
    auto file = std::make_unique<PendingFile>(path);
    if (bytes.empty()) file->fail("the PNG library could not encode the picture");
    file->write(bytes);
    return file;
}

void write_png(const std::string& path, int width, int height, bool rgb,
               const std::vector<unsigned char>& pixels) {
    write_png_bytes(path, png_encoding(width, height, rgb, pixels));
}

std::string png_encoding(const ImageData& img) {
    const GreyLevels g = grey_levels(img, 256);
    const int nx = img.nx(), ny = img.ny();
    // Top row first: row y = 1 at the top, column x = 1 at the left.
    std::vector<unsigned char> pixels(static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny));
    for (int j = 1; j <= ny; ++j)
        for (int i = 1; i <= nx; ++i)
            pixels[static_cast<std::size_t>(j - 1) * static_cast<std::size_t>(nx) +
                   static_cast<std::size_t>(i - 1)] = static_cast<unsigned char>(g.level(i, j));
    return png_encoding(nx, ny, false, pixels);
}

void export_png(const std::string& path_without_ext, const ImageData& img) {
    write_png_bytes(path_without_ext + ".png", png_encoding(img));
}

namespace {

int keep_first_error(TIFF*, void* user, const char* module, const char* fmt, va_list ap) {
    auto* message = static_cast<std::string*>(user);
    if (message->empty()) {
        char buf[512];
        std::vsnprintf(buf, sizeof buf, fmt, ap);
        *message = module && *module ? std::string(module) + ": " + buf : std::string(buf);
    }
    return 1; // handled: nothing goes to the terminal
}

int ignore_warning(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

struct TiffOptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};

} // namespace

void export_tiff(const std::string& path_without_ext, const ImageData& img, const ImageInfo& info) {
    written_tiff(path_without_ext, img, info)->commit();
}

std::unique_ptr<PendingFile> written_tiff(const std::string& path_without_ext, const ImageData& img,
                                          const ImageInfo& info) {
    const std::string path = path_without_ext + ".tif";
    const int nx = img.nx(), ny = img.ny();
    auto pending = std::make_unique<PendingFile>(path);
    PendingFile& file = *pending;

    std::string error;
    std::unique_ptr<TIFFOpenOptions, TiffOptionsFree> options(TIFFOpenOptionsAlloc());
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), keep_first_error, &error);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), ignore_warning, nullptr);
    TIFF* tif = TIFFFdOpenExt(file.fd(), file.temp_path().c_str(), "w", options.get());
    if (!tif) file.fail(error.empty() ? "the TIFF library could not open it" : error);
    file.release(); // TIFFClose closes the descriptor

    const std::string description = image_description(info, img);
    bool ok = TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(nx)) &&
              TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(ny)) &&
              TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1) &&
              TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 32) &&
              TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP) &&
              TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK) &&
              TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
              TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE) &&
              TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
              TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(tif, 0)) &&
              TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, description.c_str()) &&
              TIFFSetField(tif, TIFFTAG_SOFTWARE, "KORVEX");
    // Pixels per nanometre (1 nm = 10 Angstrom), with no TIFF unit: the description's "unit=nm"
    // names it, as ImageJ writes a calibration in a unit TIFF has no code for.
    if (ok && img.unit_x > 0.0 && img.unit_y > 0.0 && std::isfinite(img.unit_x) &&
        std::isfinite(img.unit_y))
        ok = TIFFSetField(tif, TIFFTAG_XRESOLUTION, 10.0 / img.unit_x) &&
             TIFFSetField(tif, TIFFTAG_YRESOLUTION, 10.0 / img.unit_y) &&
             TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_NONE);

    std::vector<float> row(static_cast<std::size_t>(nx));
    for (int j = 1; ok && j <= ny; ++j) {
        for (int i = 1; i <= nx; ++i)
            row[static_cast<std::size_t>(i - 1)] = static_cast<float>(img.values(i, j));
        ok = TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(j - 1), 0) == 1;
    }
    ok = ok && TIFFFlush(tif) == 1;
    TIFFClose(tif);
    if (!ok) file.fail(error.empty() ? "the TIFF library could not write it" : error);
    return pending;
}

void export_views(const std::string& path, const ImageData& img, RowFormat fmt,
                  const ImageInfo& info) {
    export_png(path, as_printed(img, fmt));
    export_tiff(path, img, info);
}

} // namespace korvex
