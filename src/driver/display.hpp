// What a run shows while it goes: the graphical interface implements these hooks; in text mode
// they do nothing (progress lines are written by the driver in both modes).
#pragma once

#include "state/state.hpp"

#include <string>
#include <vector>

namespace korvex {

class RunDisplay {
  public:
    virtual ~RunDisplay() = default;
    // Before the slices of a beam condition (the image panel is prepared).
    virtual void begin_condition(const State&) {}
    // After each slice.
    virtual void slice_done(const State&, int /*islice*/, int /*total*/) {}
    // An image file was written and should be shown (full path).
    virtual void show_image(const State&, const std::string& /*path*/) {}
};

// Amplitude-phase diagrams of job 9: drawn on screen or to PostScript files by the plotting
// layer. The driver computes the points; a plotter only draws them.
struct PhaseDiagram {
    std::vector<std::pair<double, double>> perfect; // running sums, perfect crystal
    std::vector<std::pair<double, double>> defect;  // running sums with the defect
};

class PhasePlotter {
  public:
    virtual ~PhasePlotter() = default;
    // Draws one column position's diagrams; `ps_path` is the PostScript file to write in file
    // mode, empty on screen. Returns what the user chose on screen.
    enum class Choice { next, to_files, exit, back_to_run };
    virtual Choice draw(const State& st, const PhaseDiagram& d, const std::string& ps_path) = 0;
};

// The overview picture of a run: every beam image of each beam condition side by side, one row
// per condition (a series has twelve), drawn by the plotting layer.
struct OverviewRow {
    std::string condition;           // "(g,1.0g)"
    std::vector<std::string> images; // full names, in the order of the beams
    std::vector<std::string> labels; // each image's label where not its beam's (detectors)
};

class OverviewWriter {
  public:
    virtual ~OverviewWriter() = default;
    virtual void write(const State& st, const std::vector<OverviewRow>& rows,
                       const std::string& path) = 0;
};

} // namespace korvex
