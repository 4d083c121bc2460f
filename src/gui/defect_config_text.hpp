// The configuration files the entry form writes for the edge and screw dislocations and the
// polygonal loop, in the fixed layouts the configuration readers take.
#pragma once

#include "defects/elasticity.hpp"
#include "optics/vectors.hpp"

#include <array>
#include <string>

namespace korvex {

// A Burgers or stacking-fault vector as m, n, i, j, k: (m/n)[i j k].
using FractionVector = std::array<double, 5>;

// The configuration files the form writes, in the fixed layouts the defect models read. The
// edge and screw files get a last record "anisotropic" only for that choice, so that an
// isotropic file is the same as one written before the choice existed.
std::string screw_ini_text(const FractionVector& b, const Vec3& point, const Vec3& cut_plane,
                           int relaxation, Elasticity elasticity = Elasticity::isotropic);
std::string edge_ini_text(const FractionVector& b, const Vec3& point, const Vec3& line,
                          double poisson, int relaxation,
                          Elasticity elasticity = Elasticity::isotropic);
std::string pgloop_ini_text(const std::string& loopstyle, const FractionVector& b,
                            const FractionVector& fault, double radius, const Vec3& position,
                            const Vec3& normal, const Vec3& polar, int nsides, double poisson);

} // namespace korvex
