// Coherent spherical inclusion (defect "inclusion"): a particle of radius R whose lattice would
// be larger than the matrix's by the linear misfit delta, held coherent. In isotropic elasticity
// with one Poisson's ratio nu for particle and matrix the displacement is radial,
//   u(r) = eps r               inside (|r| < R),
//   u(r) = eps R^3 r / |r|^3   outside,
// with the constrained strain eps = delta (1 + nu) / (3 (1 - nu)) (Ashby and Brown, Phil. Mag. 8
// (1963) 1083). Only the matrix diffracts differently: the same crystal fills the particle.
#pragma once

#include "defects/defect.hpp"

namespace korvex {

struct InclusionConfig {
    double radius = 0.0; // R, Angstrom
    Vec3 centre{};       // sample frame, Angstrom
    double misfit = 0.0; // linear misfit delta of the unconstrained particle
    double nu = 0.3;     // Poisson's ratio
};

// eps = delta (1 + nu) / (3 (1 - nu)).
double constrained_strain(const InclusionConfig& c);

// The displacement at p (sample frame, Angstrom, from the centre), Angstrom.
Vec3 inclusion_displacement(const InclusionConfig& c, const Vec3& p);

// The gradient of g.R (R in lattice constants, so g.R counts cycles) along the sample axes at p
// from the centre, for g given in the sample frame in reciprocal lattice units and the lattice
// constant `lat_c` (Angstrom): per Angstrom.
Vec3 inclusion_phase_gradient(const InclusionConfig& c, const Vec3& g_sample, double lat_c,
                              const Vec3& p);

std::unique_ptr<DefectField> make_inclusion_field(ConfigSource<InclusionConfig> source);

} // namespace korvex
