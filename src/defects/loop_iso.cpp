#include "defects/loop_iso.hpp"

#include "defects/column_rule.hpp"
#include "defects/defect.hpp"
#include "defects/pgloop.hpp"
#include "optics/vectors.hpp"
#include "state/checks.hpp"
#include "state/fmt.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>
#include <vector>

namespace korvex {

LoopModel loop_model_from_name(const std::string& name) {
    const std::string t = trim(name);
    if (t == "infinitesimal") return LoopModel::infinitesimal;
    if (t == "integral") return LoopModel::integral;
    if (t == "tabulation") return LoopModel::tabulation;
    return LoopModel::unnamed;
}

int loop_table_index(double a) {
    // The grid step of the tables as they were made: 0.02 in single precision.
    constexpr double step = static_cast<double>(0.02f);
    if (!(a > step)) return 1;
    const double q = a / step;
    return q >= kLoopTableSize ? kLoopTableSize : nint(q);
}

double loop_far_field(const LoopGeometry& lg, double X, double Y, double Z) {
    const double r2 = X * X + Y * Y + Z * Z;
    const double r = std::sqrt(r2);
    if (r == 0.0) return 0.0;
    const double R = lg.radius, c2 = lg.c2, c3 = lg.c3, kappa = 1.0 - 2.0 * lg.nu;
    const double p = Y * lg.c1 + X * c2 + Z * c3;
    const double r5 = r2 * r2 * r;
    // u_x = C F / r^5 with F = (1 - 2 nu) r^2 (X - 2 c2 p) - 3 p^2 X.
    const double C = R * R * lg.b / (8.0 * (1.0 - lg.nu));
    const double F = kappa * r2 * (X - 2.0 * c2 * p) - 3.0 * p * p * X;
    const double Fz =
        kappa * (2.0 * Z * (X - 2.0 * c2 * p) - 2.0 * c2 * c3 * r2) - 6.0 * c3 * p * X;
    return C * (Fz - 5.0 * Z * F / r2) / r5;
}

namespace {

// The near field from the integrals, v > 0. With Ur, Un the radial and normal displacement
// (Kroupa's solution), px, pz the x and Z components of the radial vector over R:
// d(u_x)/dZ = [px c3 dUr/du / v + px pz (dUr/dv - Ur/v) / v^2 - c2 c3 Ur / v + c2 c3 dUn/du
//              + c2 pz dUn/dv / v] / R.
double near_bracket(const LoopGeometry& lg, double X, double Z, double u, double v,
                    const LoopIntegrals& in) {
    const double R = lg.radius, c2 = lg.c2, c3 = lg.c3;
    const double a = lg.b / (4.0 * (1.0 - lg.nu)), kappa = 1.0 - 2.0 * lg.nu;
    const double lambda = 2.0 * (1.0 - lg.nu);
    const double au = std::abs(u), s = u > 0.0 ? 1.0 : u < 0.0 ? -1.0 : 0.0;
    const double px = X / R - u * c2, pz = Z / R - u * c3;
    const double ur = a * (kappa * in.i10 - au * in.i11);
    const double ur_u = a * s * (au * in.i12 - lambda * in.i11);
    const double ur_v =
        a * (kappa * (in.i01 * v - 2.0 * in.i10) - au * (in.i02 * v - 2.0 * in.i11)) / v;
    const double un_u = a * (kappa * in.i01 + au * in.i02);
    const double un_v = a * s * (lambda * in.i11 + au * in.i12);
    return (px * (c3 * ur_u + pz * ur_v / v) / v + c2 * (c3 * (un_u - ur / v) + pz * un_v / v)) / R;
}

} // namespace

double loop_near_field(const LoopGeometry& lg, double X, double Z, double u, double v,
                       const LoopIntegrals& in) {
    if (u == 0.0 || v == 0.0) return 0.0;
    return near_bracket(lg, X, Z, u, v, in);
}

double loop_exact_field(const LoopGeometry& lg, double X, double Y, double Z) {
    const double R = lg.radius;
    const double r2 = X * X + Y * Y + Z * Z;
    const double p = Y * lg.c1 + X * lg.c2 + Z * lg.c3;
    const double u = p / R;
    const double v = std::max(std::sqrt(std::max(r2 - p * p, 0.0)) / R, kLoopCoreRadius);
    return near_bracket(lg, X, Z, u, v, loop_integrals(std::abs(u), v));
}

LoopDerivatives infinitesimal_loop_terms(double x, double y, double z, const Vec3& N, const Vec3& B,
                                         double nu, double cb) {
    LoopDerivatives d;
    const double r2 = x * x + y * y + z * z;
    const double r = std::sqrt(r2);
    if (r == 0.0) return d;
    const double r3 = r2 * r, r5 = r3 * r2, r7 = r5 * r2;
    const double delta = B[0] * N[0] + B[1] * N[1] + B[2] * N[2];
    const double rn = x * N[0] + y * N[1] + z * N[2];
    const double rb = x * B[0] + y * B[1] + z * B[2];
    const double P = rn * rb;
    const double F1 = (1.0 - 2.0 * nu) / r3;
    const double F2 = (6.0 * nu - 3.0) * z / r5;
    const double F3 = -15.0 * x * z / r7;
    const double F4 = 3.0 * x / r5;
    const double Q9 = B[0] * rn + N[0] * rb - x * delta;
    const double Q29 = N[2] * rb + B[2] * rn;
    const double K27 = B[0] * N[2] + B[2] * N[0];
    d.dz = cb * (Q29 * F4 + F3 * P + K27 * F1 + F2 * Q9);
    // x-derivative of the same displacement component.
    const double F33 = 3.0 / r5 - 15.0 * x * x / r7;
    d.dx = cb * ((N[0] * rb + B[0] * rn) * F4 + (2.0 * N[0] * B[0] - delta) * F1 + F33 * P +
                 Q9 * (6.0 * nu - 3.0) * x / r5);
    return d;
}

namespace {

// Half a step past the last point of the tables (single-precision step 0.02).
constexpr double kTableEdge = (kLoopTableSize + 0.5) * static_cast<double>(0.02f);

// Everything one column of a slice needs, built once per slice.
struct LoopSlice {
    bool infinitesimal = false;
    // Infinitesimal model.
    Vec3 N{}, B{};
    double nu = 0.0, cb = 0.0;
    bool lateral = false;
    // Far and near field.
    LoopGeometry lg;
    bool exact = false, far_only = false, use_tables = false;
    const LoopTables* tables = nullptr;
    // Per beam: m_n |g| and the tangent of the tilt.
    Array1<double> wz, tan_tilt;

    // The column at (x, y) relative to the loop centre, at the depth z below it.
    void column(double x, double y, double z, double* out, std::size_t stride) const {
        const int nb = wz.size();
        if (infinitesimal) {
            const LoopDerivatives d = infinitesimal_loop_terms(x, y, z, N, B, nu, cb);
            const double dx = lateral ? d.dx : 0.0;
            for (int n = 1; n <= nb; ++n)
                out[static_cast<std::size_t>(n - 1) * stride] =
                    wz(n) == 0.0 ? 0.0 : wz(n) * (tan_tilt(n) * dx + d.dz);
            return;
        }
        const double X = x, Y = y, Z = -z; // Z: height above the column's slice
        double bracket = 0.0;
        if (exact) {
            bracket = loop_exact_field(lg, X, Y, Z);
        } else if (far_only) {
            bracket = loop_far_field(lg, X, Y, Z);
        } else {
            const double R = lg.radius;
            const double r2 = X * X + Y * Y + Z * Z;
            const double p = Y * lg.c1 + X * lg.c2 + Z * lg.c3;
            const double u = p / R;
            // On the loop axis rho^2 is only rounding noise: take it as 0 there.
            const double rho2 = r2 - p * p;
            const double v = rho2 > 1e-14 * r2 ? std::sqrt(rho2) / R : 0.0;
            if (std::abs(u) > 4.0 && v > 3.0) {
                bracket = loop_far_field(lg, X, Y, Z);
            } else {
                LoopIntegrals in;
                // Beyond the tables (|u| or v past their last point and a half step) the
                // integrals are computed on the spot rather than taken from the edge.
                if (use_tables && (std::abs(u) > kTableEdge || v > kTableEdge)) {
                    in = loop_integrals(std::abs(u), v);
                } else if (use_tables) {
                    const int iu = loop_table_index(std::abs(u));
                    const int iv = loop_table_index(v);
                    in.i01 = tables->i01(iu, iv);
                    in.i10 = tables->i10(iu, iv);
                    in.i11 = tables->i11(iu, iv);
                    in.i02 = tables->i02(iu, iv);
                    in.i12 = tables->i12(iu, iv);
                }
                bracket = loop_near_field(lg, X, Z, u, v, in);
            }
        }
        for (int n = 1; n <= nb; ++n)
            out[static_cast<std::size_t>(n - 1) * stride] = wz(n) == 0.0 ? 0.0 : -wz(n) * bracket;
    }
};

} // namespace

LoopFieldMethod loop_field_method(const LoopIniFile& f) {
    if (f.model_kind == LoopModel::infinitesimal) return LoopFieldMethod::infinitesimal;
    if (f.model_kind == LoopModel::integral) return LoopFieldMethod::exact;
    if (!(f.radius > kLoopTableRadius)) return LoopFieldMethod::far_only;
    return f.model_kind == LoopModel::tabulation ? LoopFieldMethod::tables
                                                 : LoopFieldMethod::unselected;
}

LoopBurgers loop_burgers(const LoopIniFile& f) {
    const Vec3 bvec = lattice_vector(f.b_m, f.b_n, f.b_dir, "Burgers vector");
    const Vec3 nrm = scaled(f.normal, 1.0 / magnitude(f.normal));
    return {dot(bvec, nrm), magnitude(bvec)};
}

void cal_loop_iso(const State& st, Workspace& w, const LoopInput& in, int islice,
                  bool single_column) {
    const LoopIniFile& f = in.config;
    const LoopFieldMethod method = loop_field_method(f);
    const Vec3 bvec = lattice_vector(f.b_m, f.b_n, f.b_dir, "Burgers vector");
    const double b = magnitude(bvec);
    const double R = f.radius;
    const Vec3 ex = scaled(st.co_x, 1.0 / magnitude(st.co_x));
    const Vec3 ez = scaled(st.foil, 1.0 / magnitude(st.foil));
    const Vec3 ey0 = cross_product(st.foil, st.co_x);
    const Vec3 ey = scaled(ey0, 1.0 / magnitude(ey0));
    const Vec3 nrm = scaled(f.normal, 1.0 / magnitude(f.normal));
    const double ghkl = magnitude(st.v_g);
    const BeamTilts tilts = beam_tilts(st);
    const int nx = st.n_xyz[0], ny = st.n_xyz[1], nb = st.n_beams;

    LoopSlice ls;
    ls.wz.resize(nb);
    ls.tan_tilt.resize(nb);
    for (int n = 1; n <= nb; ++n) {
        ls.wz(n) = tilts.order(n) * ghkl;
        ls.tan_tilt(n) = tilts.tan_tilt(n);
    }
    if (method == LoopFieldMethod::infinitesimal) {
        ls.infinitesimal = true;
        const Vec3 bhat = scaled(bvec, 1.0 / b);
        ls.N = {dot(nrm, ex), dot(nrm, ey), dot(nrm, ez)};
        ls.B = {dot(bhat, ex), dot(bhat, ey), dot(bhat, ez)};
        ls.nu = f.poissonsratio;
        ls.cb = -R * R * b / (8.0 * (1.0 - ls.nu));
        ls.lateral = lateral_derivative(DefectKind::loop, st.ca);
    } else {
        ls.exact = method == LoopFieldMethod::exact;
        ls.far_only = method == LoopFieldMethod::far_only;
        if (method == LoopFieldMethod::tables) {
            if (!in.tables) throw std::logic_error("cal_loop_iso: the loop tables are missing");
            ls.use_tables = true;
            ls.tables = in.tables;
        }
        ls.lg.b = dot(bvec, nrm);
        ls.lg.radius = R;
        ls.lg.nu = f.poissonsratio;
        ls.lg.c1 = dot(nrm, ey);
        ls.lg.c2 = dot(nrm, ex);
        ls.lg.c3 = -dot(nrm, ez);
    }

    const double z = st.slice_centre(islice) - f.position[2];
    Array3<double>& sgr = w.s_g_r;
    if (single_column) {
        sgr.fill(0.0);
        ls.column(st.colxy[0], st.colxy[1], z, &sgr(1, 1, 1), sgr.plane());
        return;
    }
#pragma omp parallel for schedule(static)
    for (int j = 1; j <= ny; ++j) {
        const double y = (j - 0.5) * st.size[1] / ny - f.position[1];
        for (int i = 1; i <= nx; ++i) {
            const double x = (i - 0.5) * st.size[0] / nx - f.position[0];
            ls.column(x, y, z, &sgr(i, j, 1), sgr.plane());
        }
    }
}

namespace {

class LoopField : public DefectField {
  public:
    explicit LoopField(ConfigSource<LoopInput> source) : source_(std::move(source)) {}
    void fill_slice(const State& st, Workspace& w, int islice) override {
        cal_loop_iso(st, w, source_(), islice, false);
    }
    void fill_column(const State& st, Workspace& w, int islice) override {
        cal_loop_iso(st, w, source_(), islice, true);
    }

  private:
    ConfigSource<LoopInput> source_;
};

} // namespace

std::unique_ptr<DefectField> make_loop_field(ConfigSource<LoopInput> source) {
    return std::make_unique<LoopField>(std::move(source));
}

} // namespace korvex
