// Grey-scale pictures of the images a run writes, drawn on whichever device and panel is
// selected, and the progress line of the slice loop.
#pragma once

#include "gui/toolkit.hpp"
#include "state/array.hpp"

#include <ostream>
#include <string>

namespace korvex {

// Reads an image file, writes its range and contrast on the terminal and draws it with
// `levels` grey levels over the world rectangle (-1, -1) .. (1, 1).
void dataimaging(Gui& gui, const std::string& file, int levels);

// Draws the grey-level array `g` (values 0 .. levels-1; row 1 at the bottom) with a black to
// white ramp in colour indices 0 .. levels-1; indices 1..20 get their colours back afterwards.
void grayscaleimage(Gui& gui, int n_x, int n_y, double unit_x, double unit_y, const Array2<int>& g,
                    int levels, const std::string& file);

// Writes the progress line of slice `done` of `total` when the whole percentage changed.
void indicator(std::ostream& out, int done, int total);

} // namespace korvex
