// The overview picture of a run, "<output name>_overview.png" beside its images: the beams of
// each beam condition side by side (one row per condition), each with its label, scale bar,
// g arrow and intensity bar, under one line of the run's key parameters.
#pragma once

#include "driver/display.hpp"
#include "gui/graphics.hpp"

#include <memory>
#include <ostream>
#include <string>

namespace korvex {

// Page geometry in pixels: a header strip, then rows of square panels, with a column of
// condition labels at the left when there is more than one row.
struct OverviewPage {
    int width = 0, height = 0;
    int panel = 0, header = 0, left = 0;
};
OverviewPage overview_page(int beams, int rows);

// The run's key parameters in one line.
std::string overview_caption(const State& st, const std::vector<OverviewRow>& rows);

// A writer with plot devices of its own (text mode).
std::unique_ptr<OverviewWriter> make_overview_writer();
// A writer drawing through `gr`, whose other devices (the screen) stay as they were.
std::unique_ptr<OverviewWriter> make_overview_writer(Graphics& gr);

} // namespace korvex
