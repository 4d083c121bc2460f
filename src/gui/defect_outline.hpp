// Where the run's defect lies, seen along the beam: its outline projected on the image plane,
// from the configuration file the run used (line of a dislocation through the foil, polygon or
// circle of a loop, the four faces of a tetrahedron, the circle of a void).
#pragma once

#include "state/state.hpp"

#include <array>
#include <vector>

namespace korvex {

// Polylines of sample-frame points (x, y), Angstrom; empty for a perfect crystal, a strain
// field from files, or a configuration file that cannot be read.
using Outline = std::vector<std::vector<std::array<double, 2>>>;
Outline defect_outline(const State& st);

} // namespace korvex
