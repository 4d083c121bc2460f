// Spherical void: its configuration file.
#pragma once

#include "defects/defect.hpp"

#include <string>

namespace korvex {

struct VoidConfig {
    double radius = 0.0; // Angstrom
    Vec3 position{};     // centre, sample frame, Angstrom
};
// The void's field: the columns whose slice centre lies strictly inside the sphere are marked
// in flag_vacancy; s_g_r and s_f are zero.
std::unique_ptr<DefectField> make_void_field(ConfigSource<VoidConfig> source);

} // namespace korvex
