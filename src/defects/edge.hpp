// Straight edge dislocation (defect model 1).
//
// The field is the classical isotropic-elasticity field of an infinite straight edge
// dislocation or, when the configuration asks for "anisotropic", the sextic solution with the
// crystal's elastic constants (the core damped as described in defects/elasticity.hpp). It is
// written in the dislocation frame (E1 along b, E3 along the line l, E2 along l x b); the core
// singularity is removed by adding a constant r0 to the radial distance in the gradient formulas.
// For each slice the depth rate of the phase g.R of every beam is stored as the local change of
// excitation error s_g_r.
#pragma once

#include "defects/defect.hpp"
#include "defects/elasticity.hpp"
#include "optics/vectors.hpp"

#include <string>

namespace korvex::edge {

// The configuration file: two ignored records, then one record per value group.
struct EdgeConfig {
    double b_m = 0.0, b_n = 1.0;                   // b = (m / n) [b1 b2 b3]
    Vec3 b_index{};                                // [b1 b2 b3]
    Vec3 point{};                                  // a point on the line, sample frame, Angstrom
    Vec3 line{};                                   // line direction, crystal indices
    double nu = 0.0;                               // Poisson's ratio
    double r0 = 0.0;                               // core constant, Angstrom
    Elasticity elasticity = Elasticity::isotropic; // optional last record
};

// Displacement per unit Burgers vector at the dislocation-frame point (x, y) (components
// along E1, E2, E3; the last is zero). The angle is taken with atan2, so the cut lies on the
// negative E1 half-plane. Undefined on the line itself.
Vec3 edge_displacement(double x, double y, double nu);

// Displacement gradient per unit Burgers vector, D(q, r) = d u_r / d x'_q, at the
// dislocation-frame point (x, y), with sqrt(x^2 + y^2) + r0 in place of the radial distance.
// A point where that distance vanishes (on the line with r0 = 0) gets zero strain.
Mat3 cal_edge(double x, double y, double nu, double r0);

// Everything a slice needs that does not depend on the column: the frame, the diffraction
// vector in it and the per-beam weights. Built once per slice.
struct EdgeSlice {
    Mat3 t;         // sample -> dislocation frame: p' = t * p
    Vec3 g_disl{};  // g along E1, E2, E3 (reciprocal lattice units)
    double b_len{}; // |b|, lattice parameters
    double nu{}, r0{};
    Vec3 origin{}; // the point of the line, sample frame
    bool column_approx = true;
    // The anisotropic field per unit Burgers vector (E1 = b); null for the isotropic one.
    std::shared_ptr<const StrohDislocation> stroh;

    // Checks the configuration against the state and builds the frames; an anisotropic field
    // is taken from `cache` when given (built with the constants of st.sample).
    static EdgeSlice make(const State& st, const EdgeConfig& cfg, StrohCache* cache = nullptr);
    // Gradient of g.R (cycles per Angstrom) along the sample axes at p (relative to origin).
    Vec3 phase_gradient(const Vec3& p) const;
    // g.R in cycles at p (relative to origin), from the unregularised displacement.
    double phase(const Vec3& p) const;
};

// The terms of one slice, row by row: built once per slice (the configuration checked against the
// state), then `fill(j)` writes the terms of every beam along image row j into the workspace it
// was made with. Rows may be filled on any threads at once.
class EdgeRows {
  public:
    EdgeRows(const State& st, Workspace& w, const EdgeConfig& cfg, int islice,
             StrohCache* cache = nullptr);
    void fill(int j) const;
    // With the state's field tolerance: the row sampled away from the line (see
    // defects/row_samples.hpp).
    void fill_sampled(int j, double y) const;
    // The terms of the single column at (x, y) from the line's point, stored at column (1, 1),
    // every other column 0.
    void column(double x, double y) const;

  private:
    EdgeSlice s_;
    Array3<double>& out_;
    Array1<double> wx_, wz_; // the weights of G1 and G3 per beam
    int nx_, ny_;
    double sx_, sy_, z_;
    double sampling_ = 0.0;
};

// The slice terms of every column (mesh) or of the single column at st.colxy, stored at
// column (1, 1) with every other column 0, for the dislocation `cfg` (checked against the state).
void cal_dislocation(const State& st, Workspace& w, const EdgeConfig& cfg, int islice,
                     bool single_column = false, StrohCache* cache = nullptr);

} // namespace korvex::edge

namespace korvex {
std::unique_ptr<DefectField> make_edge_field(ConfigSource<edge::EdgeConfig> source);
} // namespace korvex
