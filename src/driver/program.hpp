// The program: banner, command line, and the text-mode or graphic-mode run.
#pragma once

#include "driver/display.hpp"
#include "state/state.hpp"

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace korvex {

// The graphical front end, supplied by the GUI library.
class GraphicSession {
  public:
    virtual ~GraphicSession() = default;
    // Fills the state through the entry form (directories, parameters, defect file) and makes
    // the arrays.
    virtual void input_parameters(State& st) = 0;
    // The RUN panel: true when RUN is pressed, false on EXIT.
    virtual bool run_panel(State& st) = 0;
    virtual RunDisplay& display() = 0;
    virtual PhasePlotter* phase_plotter() { return nullptr; }
    // Draws the overview picture through the session's own devices (none: the program's).
    virtual OverviewWriter* overview_writer() { return nullptr; }
    // After a run: true to go back to the RUN panel, false to end.
    virtual bool result_viewer(State& st, const std::string& last_image) = 0;
};

using GraphicFactory = std::function<std::unique_ptr<GraphicSession>(State&)>;
using PlotterFactory = std::function<std::unique_ptr<PhasePlotter>(State&)>;
using OverviewFactory = std::function<std::unique_ptr<OverviewWriter>()>;

// The whole program; returns the process exit status. Fatal stops are printed here.
// `gui` makes the graphic session; `file_plotter` draws the amplitude-phase diagrams of a
// text-mode run to files (without one, that job writes its records only); `overview` draws
// each run's overview picture (without one, none is written).
int program_main(int argc, char** argv, const GraphicFactory& gui = {},
                 const PlotterFactory& file_plotter = {}, const OverviewFactory& overview = {});

struct RunContext;
// One run from the potential coefficients to the closing records, under StopSignals: the
// parameters read (and the arrays made), the defect file named in `st`.
void simulate(State& st, RunContext& rc);

// Run mode and files from the command line, with the messages the parsing prints.
struct CommandLine {
    std::string option; // first two characters of the first argument
    bool text_mode = false;
    bool usage_error = false; // a refused command line: usage printed, the program stops (2)
    std::string f_in, f_defect;
    std::string engine = "exact";              // --engine=exact|table
    std::string absorption = "first-order";    // --absorption=exact|first-order
    bool help = false;                         // --help: the usage lines printed, nothing run
    double pixel_size = 0.0, slice_size = 0.0; // --pixel-size=A, --slice-thickness=A (0: 1 A)
    double slice_tolerance = 0.0;              // --slice-thickness=auto[:T] (0: even slices)
    double field_tolerance = -1.0;             // --field-tolerance=T (below 0: not given)
    Illumination illumination;                 // --convergence=, --directions=, --detector=
    bool hdf5 = false;                         // --hdf5: the results also in <out>.h5
};
CommandLine parse_command_line(const std::vector<std::string>& args, std::ostream& out);

} // namespace korvex
