// Circular dislocation loop in an isotropic medium (defect "loop"): the depth rate of g.R of
// every beam, from the closed-form field of an infinitesimal loop, from the exact field of the
// loop (model "integral"), or from a far-field multipole expression and tabulated loop
// integrals near the loop (model "tabulation").
#pragma once

#include "defects/defect.hpp"
#include "defects/loop_integrals.hpp"
#include "state/state.hpp"

#include <array>
#include <cstdint>
#include <string>

namespace korvex {

// How the circular loop's field is computed: the closed form of an infinitesimal loop, the
// exact field ("integral"), or the far field with tabulated integrals near the loop
// ("tabulation"); any other name takes the far field everywhere, with a note each slice.
enum class LoopModel { infinitesimal, integral, tabulation, unnamed };
LoopModel loop_model_from_name(const std::string& name);

// "loop.ini", records 3 to 8 (read by driver/defect_files.hpp).
struct LoopIniFile {
    double b_m = 0.0, b_n = 1.0;
    Vec3 b_dir{};
    double radius = 0.0; // Angstrom
    Vec3 position{};     // loop centre, sample frame, Angstrom
    Vec3 normal{};       // crystal indices
    double poissonsratio = 0.0;
    std::string model;                         // as read, for the report
    LoopModel model_kind = LoopModel::unnamed; // parsed from `model`
};

// Below this radius (Angstrom) the far-field expression is used everywhere and no table is read.
inline constexpr double kLoopTableRadius = 60.0;
inline constexpr int kLoopTableSize = 200;

// One loop-integral table: value (q, r) is the integral at |u| = 0.02 q and v = 0.02 r.
using LoopTable = Array2<float>;

// The five tables of the near field, with the size and time of the file each was last read
// from (the reader keeps a table whose file has not changed).
struct LoopTables {
    LoopTable i01, i10, i11, i02, i12;
    struct Stamp {
        bool valid = false;
        std::uintmax_t size = 0;
        std::int64_t mtime = 0;
    };
    std::array<Stamp, 5> stamps{};
};

// Table index of a coordinate a >= 0 (|u| or v): the nearest grid point at the single-precision
// step 0.02, 1 at and below one step, never past the last row or column.
int loop_table_index(double a);

// Loop geometry of one slice: b the component of the Burgers vector along the loop normal
// (lattice parameters; the field is that of a prismatic loop), R the radius, c1, c2, c3 the
// direction cosines of the loop normal with the sample y, x and -z, nu Poisson's ratio.
struct LoopGeometry {
    double b = 0.0, radius = 0.0;
    double c1 = 0.0, c2 = 0.0, c3 = 0.0;
    double nu = 1.0 / 3.0;
};

// Every bracket below is d(u_x)/dZ, u_x the displacement along x (lattice parameters) and Z
// the height above the point (against the foil normal); s_g_r = -m_n |g| times it. A positive
// b is the loop whose infinitesimal field has B along N.

// The far field (the infinitesimal loop of area pi R^2) at (X, Y, Z) relative to the loop
// centre. 0 at the centre.
double loop_far_field(const LoopGeometry& lg, double X, double Y, double Z);

// The near field for given u = p/R (signed) and v = rho/R from the five integrals at (|u|, v).
// 0 where u or v is 0 (the look-up of the tables).
double loop_near_field(const LoopGeometry& lg, double X, double Z, double u, double v,
                       const LoopIntegrals& in);

// The exact field at (X, Y, Z), the integrals computed there (finite everywhere, see
// kLoopCoreRadius).
double loop_exact_field(const LoopGeometry& lg, double X, double Y, double Z);

// Infinitesimal loop: d(u_x)/dx and d(u_x)/dz at (x, y, z) (z the depth below the centre),
// N and B the unit normal and Burgers direction in sample axes, cb = -R^2 b / (8 (1 - nu)).
// Both 0 at the centre.
struct LoopDerivatives {
    double dx = 0.0, dz = 0.0;
};
LoopDerivatives infinitesimal_loop_terms(double x, double y, double z, const Vec3& N, const Vec3& B,
                                         double nu, double cb);

// How the field of a loop is computed: the closed form of an infinitesimal loop, the exact
// field, the far field everywhere (a loop no larger than kLoopTableRadius, or a model that names
// none of the three, `unselected`), or the far field with the tables near the loop.
enum class LoopFieldMethod { infinitesimal, exact, far_only, unselected, tables };
LoopFieldMethod loop_field_method(const LoopIniFile& f);

// The loop takes only the component of its Burgers vector along its normal: that component and
// the length of the whole vector (lattice parameters).
struct LoopBurgers {
    double along_normal = 0.0, length = 0.0;
};
LoopBurgers loop_burgers(const LoopIniFile& f);

// What one slice of the loop needs from outside: its configuration and, for the method
// `tables`, the tables.
struct LoopInput {
    LoopIniFile config;
    const LoopTables* tables = nullptr;
};

// One slice of the circular loop: fills w.s_g_r. With `single_column` only the column of the
// amplitude-phase job, at st.colxy from the loop centre, is computed, into column (1, 1).
void cal_loop_iso(const State& st, Workspace& w, const LoopInput& in, int islice,
                  bool single_column = false);

std::unique_ptr<DefectField> make_loop_field(ConfigSource<LoopInput> source);

} // namespace korvex
