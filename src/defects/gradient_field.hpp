// Displacement-gradient fields known in closed form, on the grid of a set of gradient files
// (".dX", ".dY", ".dZ", written by driver/gradient_files.hpp): the strain-field model reads
// such files, and a field written from here gives the same image through it as through the
// matching analytic model, so a pipeline can be checked and tests can make inputs of any size.
//
// Sign convention: d[e][c] = dR_c / dx_e with x_e the sample axes (x along g, y along
// zone x g, z along the zone axis into the foil) and R_c the displacement along the crystal cube
// axes; cell (i, j, l) is sampled at its centre ((i-0.5) dx, (j-0.5) dy, (l-0.5) dz).
#pragma once

#include "defects/elasticity.hpp"
#include "optics/vectors.hpp"
#include "state/state.hpp"

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace korvex {

// The grid of a set of gradient files and the crystal orientation of the sample frame.
struct GradientBox {
    Vec3 size{};                // block size along x, y, z, Angstrom
    std::array<int, 3> cells{}; // cells along x, y, z (the simulation's n_xyz)
    Vec3 foil{0.0, 0.0, 1.0};   // zone axis = sample z, crystal indices
    Vec3 v_g{1.0, 0.0, 0.0};    // diffraction vector = sample x, crystal indices
    double lat_c = 0.0;         // lattice constant, Angstrom (converts lattice units to Angstrom)

    // Edge of one cell along axis a (0, 1, 2): size / cells, the value the strain model checks.
    double unit(int a) const {
        return size[static_cast<std::size_t>(a)] / cells[static_cast<std::size_t>(a)];
    }
    // Sample-frame centre of cell (i, j, l), 1-based.
    Vec3 centre(int i, int j, int l) const {
        return {(i - 0.5) * size[0] / cells[0], (j - 0.5) * size[1] / cells[1],
                (l - 0.5) * size[2] / cells[2]};
    }
};

// Displacement gradient at a point: d[e][c] = dR_c / dx_e, with x_e the sample axes (x, y, z)
// and R_c the displacement along the crystal cube axes, both in Angstrom.
using Gradient = std::array<Vec3, 3>;
using GradientFn = std::function<Gradient(const Vec3& p)>;

// A straight edge dislocation, described as in its configuration file.
struct EdgeDislocation {
    double b_m = 1.0, b_n = 1.0; // Burgers vector b = (b_m / b_n) [b_dir]
    Vec3 b_dir{1.0, 0.0, 0.0};   // crystal indices
    Vec3 point{};                // a point on the line, sample frame, Angstrom
    Vec3 line{0.0, 0.0, 1.0};    // line direction, crystal indices
    double nu = 0.3;             // Poisson's ratio
    double r0 = 1.0;             // core radius added to the distance from the line, Angstrom
    Elasticity elasticity = Elasticity::isotropic;
    CubicElastic constants{}; // the crystal's, for the anisotropic field
};

// The field of an edge dislocation with the core regularised as in the analytic edge model:
// every x^2 + y^2 of the gradient replaced by (sqrt(x^2 + y^2) + r0)^2, or the anisotropic field
// damped as that model damps it. Refuses a Burgers
// vector not perpendicular to the line, r0 <= 0 and a lattice constant <= 0.
class EdgeGradient {
  public:
    EdgeGradient(const EdgeDislocation& e, const GradientBox& box);
    Gradient operator()(const Vec3& p) const;

  private:
    Mat3 t_;        // sample frame -> dislocation frame (E1 along b, E2 = l x b, E3 along l)
    Mat3 to_cube_;  // rows: E1, E2, E3 in crystal cube axes, scaled by lat_c |b|
    Vec3 origin_{}; // the point of the line
    double nu_ = 0.0, r0_ = 0.0;
    std::shared_ptr<const StrohDislocation> stroh_; // null: isotropic
};

// The zero field (a perfect crystal).
inline Gradient zero_gradient(const Vec3&) {
    return {};
}

} // namespace korvex
