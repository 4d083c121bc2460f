// Straight screw dislocation (defect model 2), optionally with the elastic relaxation at the two
// foil surfaces of a screw that runs through the foil.
//
// The displacement of an infinite screw dislocation is u = b theta / 2 pi, theta the angle about
// the line (along b); with "anisotropic" it is the sextic solution with the crystal's elastic
// constants. The gradient is regularised at the core by a small constant. The surface
// relaxation is the series of image terms of a screw normal to the surfaces of a plate of
// thickness t.
#pragma once

#include "defects/defect.hpp"
#include "defects/elasticity.hpp"
#include "optics/vectors.hpp"

#include <optional>
#include <string>
#include <vector>

namespace korvex::screw {

// Core constant of the angle gradient, Angstrom^2 (the single-precision value of 0.04).
inline constexpr double kCore = 0.03999999910593033;

struct ScrewConfig {
    double b_m = 0.0, b_n = 1.0;                   // b = (m / n) [b1 b2 b3]
    Vec3 b_index{};                                // [b1 b2 b3]
    Vec3 position{};                               // a point on the line, sample frame, Angstrom
    Vec3 cut_plane{};                              // normal of the cut plane, crystal indices
    int relaxation = 0;                            // 1: with surface relaxation, 0: without
    Elasticity elasticity = Elasticity::isotropic; // optional last record
};

// Surface-relaxation displacement per unit Burgers vector at the sample-frame point p (x and y
// from the line, z the depth) in a foil of thickness t, summed over `terms` image pairs. It is
// azimuthal: U = (S y, -S x, 0) / 2 pi.
Vec3 relax_displacement(const Vec3& p, double t, int terms);
// Gradient (d/dx, d/dy, d/dz) of the x component U1 of that displacement, `terms` pairs.
Vec3 relax_distortion(const Vec3& p, double t, int terms);

// The series as the model sums them: 100 pairs for the displacement, 101 for the distortion
// (the mesh evaluates the latter through RelaxTable, which gives the same sums). On the line
// itself (x = y = 0) both are zero.
inline Vec3 surfacerelaxscrewdisplacement(const Vec3& p, double t) {
    return relax_displacement(p, t, 100);
}
inline Vec3 surfacerelaxscrewdistortion(const Vec3& p, double t) {
    return relax_distortion(p, t, 101);
}

// The relaxation distortion of one depth z for many columns, equal to relax_distortion(
// {x, y, z}, t, terms) to rounding but several times cheaper. Far image terms (a_n, b_n several
// times rho) are summed as a power series in rho^2 whose coefficients depend on z only and are
// tabulated once: only the near terms cost square roots for each column.
class RelaxTable {
  public:
    RelaxTable(double z, double t, int terms);
    Vec3 distortion(double x, double y) const;

  private:
    static constexpr int kOrder = 12;         // powers of rho^2 kept in the far terms
    static constexpr double kMaxRatio = 0.04; // (rho / a_n)^2 of every far term at most this
    double z_, t_;
    int terms_;
    // For the far terms n >= N: coefficients of rho^(2k) in S, (1/rho) dS/drho and dS/dz,
    // row N of kOrder values each.
    std::vector<double> s_, s_rho_, s_z_;
};

// Everything a slice needs that does not depend on the column. Built once per slice.
struct ScrewSlice {
    Mat3 t;         // sample -> dislocation frame (E1 = E2 x E3, E2 cut-plane normal, E3 b)
    double gb{};    // g.b, cycles
    double g_hkl{}; // |v_g|
    double b_z{};   // component of b along the foil normal, lattice parameters
    double thickness{};
    bool relax = false;
    Vec3 origin{};
    std::optional<RelaxTable> table; // relaxation distortion at the slice depth (with relax)
    // The anisotropic field (Burgers vector along E3, lattice parameters) and g along E1, E2,
    // E3; null for the isotropic field.
    std::shared_ptr<const StrohDislocation> stroh;
    Vec3 g_disl{};

    // Checks the configuration (cut plane, relaxation, which is isotropic only) and builds the
    // frame; with relaxation also the table for the depth z (relative to the point of the line).
    // An anisotropic field is taken from `cache` when given (constants of st.sample).
    static ScrewSlice make(const State& st, const ScrewConfig& cfg, double z,
                           StrohCache* cache = nullptr);
    // theta / 2 pi at p (relative to origin), theta = atan2(p'2, p'1), so that the cut (the jump
    // of one turn) lies in the cut plane on the side of negative E1; 0 on the line.
    double angle(const Vec3& p) const;
    // Regularised gradient of theta / 2 pi along the sample axes at p.
    Vec3 angle_gradient(const Vec3& p) const;
    // Gradient of g.R per unit beam order along the sample axes (dislocation and relaxation);
    // p must lie at the depth of the table.
    Vec3 phase_gradient(const Vec3& p) const;
    // g.R per unit beam order at p: g.b theta / 2 pi plus the relaxation term.
    double phase(const Vec3& p) const;
};

enum class Site { mesh, column };

// One slice of the screw model. `field` "distortion" fills s_g_r, "displacement" fills g_r;
// site "mesh" treats every column, "column" only the column at st.colxy (taken as given,
// relative to the line), stored at (1, 1) with every other column 0.
void cal_screw(const State& st, Workspace& w, const ScrewConfig& cfg, int islice,
               const std::string& field, Site site, StrohCache* cache = nullptr);

} // namespace korvex::screw

namespace korvex {
std::unique_ptr<DefectField> make_screw_field(ConfigSource<screw::ScrewConfig> source);
} // namespace korvex
