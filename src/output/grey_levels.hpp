// The grey-level picture of an image, as the image display draws it: highlights are tamed,
// the range [min, max] is mapped linearly onto levels 0 .. levels - 1, and nothing here knows
// about a display or a file format, so the batch exporters and the interactive display share
// one mapping.
#pragma once

#include "state/array.hpp"
#include "state/image_file.hpp"

#include <limits>

namespace korvex {

struct GreyLevels {
    // level(i, j) of column i and row j of the image, in the image's own indexing; a picture
    // shows row y = 1 at the top and column x = 1 at the left.
    Array2<int> level;
    double min = 0.0, max = 0.0; // range after clipping
    // Mean of the two edge rows y = 1 and y = n_y, raised to 1e-10 when smaller (the reference
    // of the contrast figures).
    double background = 0.0;
    // Values above this were set to it (+infinity when nothing was clipped).
    double clip = std::numeric_limits<double>::infinity();
    // Every value is the same (a perfect crystal): every level is uniform_level().
    bool uniform = false;
};

// The middle grey an image of equal values is drawn in.
constexpr int uniform_level(int levels) {
    return (levels - 1) / 2;
}

// The level of a value is the integer part of (A - min)*(levels - 1)/(max - min), a value on
// a level boundary taking that level despite rounding (the largest value gets levels - 1); an
// image whose values are all equal gets the middle grey uniform_level() everywhere. In an image
// of intensities (no negative value) every value above 10000 times the mean is first set to
// that limit, so that a few extreme columns do not turn the rest of the picture black; signed
// maps (strain terms) are mapped over their whole range. Values that are not numbers get level 0.
// `levels` >= 2.
GreyLevels grey_levels(const ImageData& img, int levels);

} // namespace korvex
