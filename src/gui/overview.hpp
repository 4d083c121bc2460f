// The overview picture of a run, "<output name>_overview.png" beside its images: the beams of
// each beam condition side by side (one row per condition), each framed, with its label, scale
// bar, g arrow and intensity bar, under the run's key parameters (wrapped to the page's width).
// Every label lies inside the picture.
#pragma once

#include "driver/display.hpp"
#include "gui/graphics.hpp"

#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace korvex {

// How the overview draws its pictures: each over its own grey range (the default), or all of
// them over one range, so that the beams' intensities can be compared by their greys.
struct OverviewOptions {
    bool shared_grey = false;
};

// Page geometry in pixels: a header of `caption_lines` lines, then rows of panels of
// panel_w x panel_h, with a column of condition labels at the left when there is more than one
// row. Each panel holds its label strip, the image (image_w x image_h, the image's aspect),
// its scale strip, and right of the image the intensity bar with its labels.
struct OverviewPage {
    int width = 0, height = 0;
    int panel_w = 0, panel_h = 0, header = 0, left = 0;
    int image_w = 0, image_h = 0;
    int pad = 0, label_strip = 0, scale_strip = 0, bar = 0, bar_room = 0;
    int text = 0, line = 0; // text height and caption line height
};
// `aspect` is the image's height over its width (in Angstrom).
OverviewPage overview_page(int beams, int rows, double aspect = 1.0, int caption_lines = 1);

// The run's key parameters in one line.
std::string overview_caption(const State& st, const std::vector<OverviewRow>& rows);

// `caption` broken at blanks into lines that fit a page `width` pixels wide in the overview's
// caption text (a line that cannot be broken is cut with "...").
std::vector<std::string> overview_caption_lines(const std::string& caption, int width);

// A writer with plot devices of its own (text mode).
std::unique_ptr<OverviewWriter> make_overview_writer(OverviewOptions options = {});
// A writer drawing through `gr`, whose other devices (the screen) stay as they were.
std::unique_ptr<OverviewWriter> make_overview_writer(Graphics& gr, OverviewOptions options = {});

} // namespace korvex
