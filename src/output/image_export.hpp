// Pictures and quantitative copies of the image files a run writes, for the usual tools:
//
// - <file>.png: an 8-bit grey preview, the picture the image display draws (256 grey levels of
//   grey_levels(), row y = 1 at the top, column x = 1 at the left; an image of equal values is
//   middle grey).
// - <file>.tif: the values as single-channel 32-bit IEEE floats, one TIFF row per y index
//   (row 1 = y index 1, at the top, as in the PNG), one TIFF column per x index. The pixel size
//   is in the resolution tags as pixels per centimetre (1 cm = 1e8 Angstrom); the run's
//   parameters are in the image description as "key = value" lines.
//
// Files are written whole under a temporary name and renamed; any failure stops the run with a
// message naming the file.
#pragma once

#include "state/image_file.hpp"
#include "state/pending_file.hpp"
#include "state/state.hpp"

#include <memory>
#include <string>
#include <vector>

namespace korvex {

// What a TIFF says about the run that made it.
struct ImageInfo {
    std::string quantity = "intensity"; // what the values are, with their unit
    std::string x_axis = "x";           // what the image's x index runs along
    std::string crystal;
    double voltage = 0.0;     // kV
    Vec3 g{};                 // diffraction vector
    std::vector<int> beams;   // orders of the beams of the run
    double condition_n = 0.0; // diffraction condition n of (g, ng)
    std::string defect, defect_file;
    double thickness = 0.0; // foil thickness, Angstrom
    int beam_order = 0;     // the beam this image belongs to
    std::string detector{}; // or the detector (scanning runs), "BF 0-5 mrad"
};

ImageInfo image_info(const State& st, int beam_order);

// The ImageDescription text of a TIFF.
std::string image_description(const ImageInfo& info, const ImageData& img);

// The values an image file holds once written in `fmt` and read back (the precision the image
// display works with).
ImageData as_printed(const ImageData& img, RowFormat fmt);
// One value of it, and the same through the text itself (the reference of the fast route).
double printed_value(double v, RowFormat fmt);
double printed_value_reference(double v, RowFormat fmt);

void export_png(const std::string& path_without_ext, const ImageData& img);
// The bytes of that preview, made on any thread for writing later by write_png_bytes (empty
// when the library fails: the write then stops naming the file).
std::string png_encoding(const ImageData& img);
void write_png_bytes(const std::string& path, const std::string& bytes);
std::unique_ptr<PendingFile> written_png_bytes(const std::string& path, const std::string& bytes);

// A PNG of 8-bit grey or RGB pixels, rows from the top, written whole through the safe writer.
void write_png(const std::string& path, int width, int height, bool rgb,
               const std::vector<unsigned char>& pixels);
void export_tiff(const std::string& path_without_ext, const ImageData& img, const ImageInfo& info);
// The two written whole under their temporary names, for the caller to commit (on any thread).
std::unique_ptr<PendingFile> written_tiff(const std::string& path_without_ext, const ImageData& img,
                                          const ImageInfo& info);

// Both views of an image file just written at `path` in `fmt`: the preview from the values as
// printed (so it matches the display of that file), the TIFF from the full values.
void export_views(const std::string& path, const ImageData& img, RowFormat fmt,
                  const ImageInfo& info);

} // namespace korvex
