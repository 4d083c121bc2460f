// PostScript copies of the layer images for the report document, drawn through the plotting
// library's colour PostScript device without any display.
#pragma once

#include "state/image_file.hpp"

#include <string>

namespace korvex {

// <path_without_ext>.ps: the picture of grey_levels(img, 256) over the whole of a 4 x 4 inch
// page, turned a quarter turn counter-clockwise for the report document, which turns it back
// (upright: row y = 1 at the top, column x = 1 at the left; level 0 black, 255 white). A plotting
// device open in the caller (the interactive window) stays current with its colours. A file
// that cannot be written stops the run with a message naming it.
void export_postscript(const std::string& path_without_ext, const ImageData& img);

} // namespace korvex
