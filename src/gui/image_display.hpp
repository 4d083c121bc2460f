// Grey-scale pictures of the images a run writes, drawn on whichever device and panel is
// selected, and the progress line of the slice loop.
#pragma once

#include "gui/toolkit.hpp"
#include "output/grey_levels.hpp"
#include "state/array.hpp"

#include <ostream>
#include <string>
#include <vector>

namespace korvex {

// Reads an image file, writes its range and contrast on the terminal and draws it with
// `levels` grey levels over the world rectangle (-1, -1) .. (1, 1), data row y = 1 at the top.
void dataimaging(Gui& gui, const std::string& file, int levels);

// The three terminal lines of an image: its range, its range with the background, and the
// contrasts max/background and -background/min (the latter "Infinity" for a minimum of 0).
std::vector<std::string> image_summary(const GreyLevels& g);

// The levels in drawing order: row j of the result (counted from the bottom) is data row
// n_y + 1 - j, so that the first data row is drawn at the top.
Array2<int> rows_top_down(const Array2<int>& level);

// Draws the grey-level array `g` (values 0 .. levels-1; row 1 at the bottom) with a black to
// white ramp in colour indices 0 .. levels-1; indices 1..20 get their colours back afterwards.
void grayscaleimage(Gui& gui, int n_x, int n_y, double unit_x, double unit_y, const Array2<int>& g,
                    int levels, const std::string& file);

// Writes the progress line of slice `done` of `total` when the whole percentage changed.
void indicator(std::ostream& out, int done, int total);

} // namespace korvex
