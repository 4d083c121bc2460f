// The defect section of the parameter report: the configuration file the run used is read
// again and its values written out (the circular loop's file is always "loop.ini").
#pragma once

#include "state/state.hpp"

#include <string>
#include <vector>

namespace korvex {

// Lines of the section for trim(defect) ("screw", "loop", "pg_loop", "tetrahedron", "void");
// empty for the other styles. Keeps the values read in the defect variables of the state.
std::vector<std::string> defect_section(State& st);

} // namespace korvex
