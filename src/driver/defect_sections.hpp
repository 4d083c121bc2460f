// The defect section of the parameter report: the configuration file the run used is read
// again and its values written out (the circular loop's file is always "loop.ini").
#pragma once

#include "state/state.hpp"

#include <string>
#include <vector>

namespace korvex {

// Lines of the section of st.defect_kind (the edge dislocation's only for its anisotropic
// field; screw, loop, pg_loop, tetrahedron, void); empty for the other kinds. The report is
// the only owner of these lines: the models keep nothing of their files in the state.
std::vector<std::string> defect_section(const State& st);

} // namespace korvex
