// The image file layout shared by every per-column map a run writes and the displays read:
// eight header records ("width", n_x, "height", n_y, "unit of width", unit_x, "unit of height",
// unit_y), then one record per x index holding the values for y = 1..n_y.
#pragma once

#include "state/array.hpp"

#include <string>

namespace korvex {

struct ImageData {
    double unit_x = 0.0, unit_y = 0.0;
    Array2<double> values; // (n_x, n_y)
    int nx() const { return values.n1(); }
    int ny() const { return values.n2(); }
};

enum class RowFormat {
    es12_3, // up to 2000 values per record, each 1PE12.3 without separators
    list,   // one list-style record per row
};

// The file's text.
std::string format_image(const ImageData& img, RowFormat fmt);
// The same text in parts: the header records, and the records of x indices first..last.
std::string image_header(const ImageData& img);
void append_image_records(std::string& s, const ImageData& img, RowFormat fmt, int first, int last);
// Part p (from 0) of `parts` of the file's text: the header with part 0, then the records of
// x indices nx p / parts + 1 .. nx (p + 1) / parts. Made in `memory` (its contents dropped, its
// room kept) and returned: threads formatting parts side by side then each append to a string
// of their own, not to neighbouring strings whose lengths share a cache line.
std::string image_part(std::string memory, const ImageData& img, RowFormat fmt, int p, int parts);
// Writes the file whole (see textout.hpp); stops the run on failure.
void write_image_file(const std::string& path, const ImageData& img, RowFormat fmt);
// Reads an image file of either row format; read errors stop the run.
ImageData read_image_file(const std::string& path);

} // namespace korvex
