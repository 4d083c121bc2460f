// From an intensity image to the grey levels of its picture, without any drawing: highlight
// clipping, background and range, the three summary lines, and the level of every pixel,
// flipped so that the first data row ends up at the top of the picture.
#pragma once

#include "state/array.hpp"
#include "state/image_file.hpp"

#include <string>
#include <vector>

namespace korvex {

struct GreyLevels {
    double mean = 0.0;       // of the image as read
    double clip = 0.0;       // values above this were lowered to it (10000 x mean)
    double background = 0.0; // mean of the first and last data columns (y = 1 and y = n_y)
    double max = 0.0, min = 0.0;
    // Levels 0 .. levels-1 in drawing order: level(i, j) is the cell of column i in picture
    // row j counted from the bottom, that is data row n_y + 1 - j.
    Array2<int> level;
    // The summary written on the terminal: range, range with background, contrasts.
    std::vector<std::string> lines;
};

// `levels` >= 2. An image whose values are all equal gets level 0 everywhere.
GreyLevels grey_levels(const ImageData& img, int levels);

} // namespace korvex
