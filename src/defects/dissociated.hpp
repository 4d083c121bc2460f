// Dissociated dislocation (defect "dissociated"): a straight dislocation split on its glide plane
// into two partials a distance d apart, with a stacking fault on the ribbon between them.
//
// Each partial carries the isotropic field of a straight mixed dislocation (its edge component
// as the edge dislocation's field, its screw component as u3 = b_s theta / 2 pi, the core
// regularised by adding r0 to the distance from the line in both); the fields add. The ribbon is
// the strip of the glide plane between the two lines; a column that crosses it takes the fault's
// phase jump, with the leading partial's Burgers vector as the fault vector, in the slice where
// it crosses.
//
// Geometry, all in the sample frame: the lines run along t through P1 = P + (d/2) s (the leading
// partial, b1) and P2 = P - (d/2) s (the trailing one, b2), with s = n x t in the glide plane of
// normal n.
#pragma once

#include "defects/defect.hpp"
#include "optics/vectors.hpp"

namespace korvex {

struct DissociatedConfig {
    Vec3 b{};                // total Burgers vector, lattice units (crystal frame)
    Vec3 line{};             // line direction, crystal indices
    Vec3 point{};            // the midpoint between the partials, sample frame, Angstrom
    Vec3 normal{};           // glide-plane normal, crystal indices
    double separation = 0.0; // d, Angstrom
    double nu = 0.3;
    double r0 = 0.0; // core constant, Angstrom
    Vec3 b1{}, b2{}; // leading and trailing partials, lattice units
};

// The fcc dissociation b = b1 + b2 of a perfect a/2<110> on the {111} plane of normal n:
// b1 = b/2 + (n x b) / (2 sqrt 3 |n|), b2 = b/2 - (n x b) / (2 sqrt 3 |n|) (two a/6<112> Shockley
// partials). Refuses a b that is not of that kind on that plane.
std::pair<Vec3, Vec3> fcc_partials(const Vec3& b, const Vec3& normal);

// Displacement (lattice units, crystal frame) and gradient of g.R (cycles per Angstrom, along
// the sample axes) of one straight mixed dislocation of Burgers vector `b` (lattice units) along
// `line` through `at` (sample frame), at the sample point p.
class MixedDislocation {
  public:
    MixedDislocation(const State& st, const Vec3& b, const Vec3& line, const Vec3& at, double nu,
                     double r0);
    Vec3 phase_gradient(const Vec3& p) const;
    double phase(const Vec3& p) const; // g.R in cycles, unregularised

  private:
    Mat3 t_;   // sample -> dislocation frame (E1 along the edge component, E3 along the line)
    Vec3 g_{}; // g in the dislocation frame
    Vec3 at_{};
    double b_edge_ = 0.0, b_screw_ = 0.0, nu_ = 0.0, r0_ = 0.0;
};

std::unique_ptr<DefectField> make_dissociated_field(ConfigSource<DissociatedConfig> source);

} // namespace korvex
