// Spherical void: its configuration file.
#pragma once

#include "state/state.hpp"

#include <string>

namespace korvex {

struct VoidConfig {
    double radius = 0.0; // Angstrom
    Vec3 position{};     // centre, sample frame, Angstrom
};
// Records 3 (radius) and 4 (centre) after the two ignored records.
VoidConfig read_void_config(const std::string& path);

} // namespace korvex
