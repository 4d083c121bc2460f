// The parameter entry form of graphic mode: it opens the window, draws the title and the
// viewer buttons, takes every simulation parameter through a column of input boxes, asks for
// the defect's own parameters and writes its configuration file ("screw.ini", "edge.ini" or
// "pgLoop.ini"), then derives the grid and beam quantities, checks them and makes the arrays,
// just as the parameter file reader does in text mode.
#pragma once

#include "gui/defect_config_text.hpp"
#include "gui/toolkit.hpp"
#include "state/state.hpp"

#include <array>
#include <string>

namespace korvex {

void guiinput_system_parameters(State& st, Gui& gui);

// Case rules of the column-approximation box ("Yes" -> "yes", "NO" -> "no", "Half" -> "half")
// and of the
// defect box ("SCREW" -> "screw", "Loop" -> "pg_loop", ...); other text is returned trimmed.
std::string column_approximation_case(const std::string& typed);
std::string defect_case(const std::string& typed);

// The rectangle of form box n (1..25) in the form's window 0..1.
struct BoxRect {
    float x1, x2, y1, y2;
};
BoxRect form_box(int n);

} // namespace korvex
