#include "defects/screw.hpp"

#include "defects/column_rule.hpp"
#include "optics/crystal.hpp"
#include "state/checks.hpp"
#include "state/error.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <numbers>

namespace korvex::screw {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

} // namespace

// The image series of a screw dislocation normal to the surfaces z = 0 and z = t of a plate.
// With a_n = n t + z, b_n = (n + 1) t - z, R_a = sqrt(a_n^2 + rho^2), A_n = a_n + R_a (and the
// same for b):
//   S = sum (-1)^n [1 / A_n - 1 / B_n],   U = (S y, -S x, 0) / 2 pi.
// The terms alternate and fall off as 1 / n^2, so a fixed number of pairs stands in for the
// infinite series. On the line (rho = 0) the relaxation is taken as zero.
Vec3 relax_displacement(const Vec3& p, double t, int terms) {
    const double x = p[0], y = p[1], z = p[2];
    const double rho2 = x * x + y * y;
    if (rho2 == 0.0) return {0.0, 0.0, 0.0};
    double s = 0.0, sign = 1.0;
    for (int n = 0; n < terms; ++n) {
        const double a = n * t + z, b = (n + 1) * t - z;
        const double an = a + std::sqrt(a * a + rho2), bn = b + std::sqrt(b * b + rho2);
        s += sign * (bn - an) / (an * bn);
        sign = -sign;
    }
    return {s * y / kTwoPi, -s * x / kTwoPi, 0.0};
}

// Gradient of U1 = S y / 2 pi:
//   dU1/dx = x y / 2 pi * (1/rho) dS/drho,  dU1/dy = (S + y^2 (1/rho) dS/drho) / 2 pi,
//   dU1/dz = y / 2 pi * dS/dz,
// with (1/rho) dS/drho = sum (-1)^n [1 / (B_n^2 R_b) - 1 / (A_n^2 R_a)] and
// dS/dz = -sum (-1)^n [1 / (A_n R_a) + 1 / (B_n R_b)]. One division per term:
// 1 / (A_n R_a) = B_n R_b / (A_n R_a B_n R_b), and 1 / (A_n^2 R_a) = R_a / (A_n R_a)^2.
Vec3 relax_distortion(const Vec3& p, double t, int terms) {
    const double x = p[0], y = p[1], z = p[2];
    const double rho2 = x * x + y * y;
    if (rho2 == 0.0) return {0.0, 0.0, 0.0};
    double s = 0.0, s_rho = 0.0, s_z = 0.0, sign = 1.0;
    for (int n = 0; n < terms; ++n) {
        const double a = n * t + z, b = (n + 1) * t - z;
        const double ra = std::sqrt(a * a + rho2), rb = std::sqrt(b * b + rho2);
        const double pa = (a + ra) * ra, pb = (b + rb) * rb; // A_n R_a, B_n R_b
        const double inv = 1.0 / (pa * pb);
        const double ia = pb * inv, ib = pa * inv; // 1 / (A_n R_a), 1 / (B_n R_b)
        s += sign * (ra * ia - rb * ib);           // 1 / A_n - 1 / B_n
        s_rho += sign * (ib * ib * rb - ia * ia * ra);
        s_z -= sign * (ia + ib);
        sign = -sign;
    }
    return {x * y * s_rho / kTwoPi, (s + y * y * s_rho) / kTwoPi, y * s_z / kTwoPi};
}

RelaxTable::RelaxTable(double z, double t, int terms) : z_(z), t_(t), terms_(terms) {
    // Expansion of one image term in u = rho^2 / a^2 (convergent for rho < a):
    //   1 / (a + R) = sum_k c_k rho^(2k) / a^(2k+1),   c_k = binom(1/2, k + 1),
    //   1 / (A R) = -d/da of it,   1 / (A^2 R) = -2 d/d(rho^2) of it.
    std::array<double, kOrder + 1> c{};
    c[0] = 0.5;
    for (int k = 1; k <= kOrder; ++k) c[k] = c[k - 1] * (0.5 - k) / (k + 1);
    // Alternating suffix sums over n >= N of a_n^-(2k+1), a_n^-(2k+2) and the same for b_n.
    const std::size_t rows = static_cast<std::size_t>(terms) + 1;
    std::vector<double> a1(rows * (kOrder + 1)), a2(a1.size()), b1(a1.size()), b2(a1.size());
    for (int n = terms - 1; n >= 0; --n) {
        const double sign = (n % 2 == 0) ? 1.0 : -1.0;
        const double ia = 1.0 / (n * t + z), ib = 1.0 / ((n + 1) * t - z);
        double pa = ia, pb = ib;
        for (int k = 0; k <= kOrder; ++k) {
            const std::size_t at = static_cast<std::size_t>(n) * (kOrder + 1) + k;
            const std::size_t next = at + (kOrder + 1);
            a1[at] = a1[next] + sign * pa;
            a2[at] = a2[next] + sign * pa * ia;
            b1[at] = b1[next] + sign * pb;
            b2[at] = b2[next] + sign * pb * ib;
            pa *= ia * ia;
            pb *= ib * ib;
        }
    }
    s_.assign(rows * kOrder, 0.0);
    s_rho_.assign(s_.size(), 0.0);
    s_z_.assign(s_.size(), 0.0);
    for (std::size_t n = 0; n < rows; ++n)
        for (int k = 0; k < kOrder; ++k) {
            const std::size_t in = n * (kOrder + 1) + k, out = n * kOrder + k;
            s_[out] = c[k] * (a1[in] - b1[in]);
            s_rho_[out] = -2.0 * (k + 1) * c[k + 1] * (b1[in + 1] - a1[in + 1]);
            s_z_[out] = -(2 * k + 1) * c[k] * (a2[in] + b2[in]);
        }
}

Vec3 RelaxTable::distortion(double x, double y) const {
    const double rho2 = x * x + y * y;
    if (rho2 == 0.0) return {0.0, 0.0, 0.0};
    // The far terms start where a_n and b_n both reach rho / sqrt(kMaxRatio).
    const double reach = std::sqrt(rho2 / kMaxRatio);
    const double first =
        std::max({0.0, std::ceil((reach - z_) / t_), std::ceil((reach + z_) / t_ - 1.0)});
    const int far = first >= terms_ ? terms_ : static_cast<int>(first);
    double s = 0.0, s_rho = 0.0, s_z = 0.0, sign = 1.0;
    for (int n = 0; n < far; ++n) { // the same terms as relax_distortion
        const double a = n * t_ + z_, b = (n + 1) * t_ - z_;
        const double ra = std::sqrt(a * a + rho2), rb = std::sqrt(b * b + rho2);
        const double pa = (a + ra) * ra, pb = (b + rb) * rb;
        const double inv = 1.0 / (pa * pb);
        const double ia = pb * inv, ib = pa * inv;
        s += sign * (ra * ia - rb * ib);
        s_rho += sign * (ib * ib * rb - ia * ia * ra);
        s_z -= sign * (ia + ib);
        sign = -sign;
    }
    const std::size_t row = static_cast<std::size_t>(far) * kOrder;
    double ts = 0.0, ts_rho = 0.0, ts_z = 0.0;
    for (int k = kOrder - 1; k >= 0; --k) {
        ts = ts * rho2 + s_[row + k];
        ts_rho = ts_rho * rho2 + s_rho_[row + k];
        ts_z = ts_z * rho2 + s_z_[row + k];
    }
    s += ts;
    s_rho += ts_rho;
    s_z += ts_z;
    return {x * y * s_rho / kTwoPi, (s + y * y * s_rho) / kTwoPi, y * s_z / kTwoPi};
}

ScrewSlice ScrewSlice::make(const State& st, const ScrewConfig& cfg, double z, StrohCache* cache) {
    if (dot(cfg.cut_plane, cfg.b_index) != 0.0)
        halt("For a screw dislocation, Burgers vector must lay on the cut_plane");
    if (cfg.relaxation == 1 && dot(cfg.b_index, st.v_g) != 0.0)
        halt({"Surface relaxation model only available for screw disloations",
              "perpendicular to the foil (in current version, also perpendicular",
              "to diffraction vector"});
    const bool aniso = cfg.elasticity == Elasticity::anisotropic;
    if (cfg.relaxation == 1 && aniso)
        halt("The surface relaxation of the screw dislocation is isotropic: it cannot be used "
             "with \"anisotropic\"");
    if (cfg.b_n == 0.0) halt("The Burgers vector m/n[i,j,k] needs a non-zero n");
    const Vec3 b = scaled(cfg.b_index, cfg.b_m / cfg.b_n);
    if (magnitude(b) == 0.0) halt("The Burgers vector of the screw dislocation is zero");
    if (magnitude(cfg.cut_plane) == 0.0) halt("The normal of the cut plane is zero");

    ScrewSlice s;
    const Vec3 e1 = cross_product(cfg.cut_plane, b);
    s.t = coordinates_transfer(st.co_x, cross_product(st.foil, st.co_x), st.foil, e1, cfg.cut_plane,
                               b);
    s.b_z = dot(b, st.foil) / magnitude(st.foil);
    s.gb = dot(st.v_g, b);
    s.g_hkl = magnitude(st.v_g);
    s.thickness = st.size[2];
    s.relax = cfg.relaxation == 1;
    s.origin = cfg.position;
    if (s.relax) s.table.emplace(z, s.thickness, 101);
    if (aniso) {
        const Mat3 t0 = coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, e1, cfg.cut_plane, b);
        s.g_disl = mul(t0, st.v_g);
        StrohCache local;
        s.stroh = (cache ? *cache : local)
                      .get(elastic_constants(st.sample), t0, {0.0, 0.0, magnitude(b)});
    }
    return s;
}

double ScrewSlice::angle(const Vec3& p) const {
    const Vec3 q = mul(t, p);
    return std::atan2(q[1], q[0]) / kTwoPi;
}

Vec3 ScrewSlice::angle_gradient(const Vec3& p) const {
    const Vec3 q = mul(t, p);
    const double c = 1.0 / (kTwoPi * (q[0] * q[0] + q[1] * q[1] + kCore));
    return mul_t(t, {-q[1] * c, q[0] * c, 0.0});
}

Vec3 ScrewSlice::phase_gradient(const Vec3& p) const {
    if (stroh) {
        // Damped at the core as the angle gradient below: r^2 / (r^2 + kCore).
        const Vec3 q = mul(t, p);
        const double r2 = q[0] * q[0] + q[1] * q[1];
        const Mat3 d = damped(stroh->gradient(q[0], q[1]), r2 / (r2 + kCore));
        const double dq1 = d(1, 1) * g_disl[0] + d(1, 2) * g_disl[1] + d(1, 3) * g_disl[2];
        const double dq2 = d(2, 1) * g_disl[0] + d(2, 2) * g_disl[1] + d(2, 3) * g_disl[2];
        return mul_t(t, {dq1, dq2, 0.0});
    }
    Vec3 grad = scaled(angle_gradient(p), gb);
    if (relax) {
        const Vec3 d = table->distortion(p[0], p[1]);
        for (std::size_t e = 0; e < 3; ++e) grad[e] += g_hkl * b_z * d[e];
    }
    return grad;
}

double ScrewSlice::phase(const Vec3& p) const {
    if (stroh) {
        const Vec3 q = mul(t, p);
        return dot(g_disl, stroh->displacement(q[0], q[1]));
    }
    double v = gb * angle(p);
    if (relax) v += g_hkl * b_z * surfacerelaxscrewdisplacement(p, thickness)[0];
    return v;
}

namespace {

// One slice of the model for the fields asked for (s_g_r for the distortion, g_r for the
// displacement), read, checked and set up once; then filled row by row or for one column.
class ScrewRows {
  public:
    ScrewRows(const State& st, Workspace& w, const ScrewConfig& cfg, int islice, bool distortion,
              bool displacement, StrohCache* cache)
        : s_(ScrewSlice::make(st, cfg, st.slice_centre(islice) - cfg.position[2], cache)), w_(w),
          z_(st.slice_centre(islice) - cfg.position[2]), distortion_(distortion),
          displacement_(displacement), nb_(st.n_beams), nx_(st.n_xyz[0]), ny_(st.n_xyz[1]),
          sx_(st.size[0]), sy_(st.size[1]) {
        const BeamTilts bt = beam_tilts(st);
        // The distortion of beam n is wx(n) * G1 + wz(n) * G3 and its displacement
        // wz(n) * (g.R), G the gradient of g.R per unit beam order; wx vanishes under the
        // column approximation.
        wx_.resize(nb_);
        wz_.resize(nb_);
        for (int n = 1; n <= nb_; ++n) wz_(n) = bt.order(n);
        if (distortion && lateral_derivative(DefectKind::screw, st.ca))
            for (int n = 1; n <= nb_; ++n) wx_(n) = bt.order(n) * bt.tan_tilt(n);
        if (cfg.relaxation != 0 && cfg.relaxation != 1)
            halt({"Surface Relaxation indicator only can be 0 or 1",
                  "Read: " + std::to_string(cfg.relaxation)});
    }

    void row(int j) const {
        const double y = (j - 0.5) * sy_ / ny_ - s_.origin[1];
        const std::size_t plane = distortion_ ? w_.s_g_r.plane() : w_.g_r.plane();
        for (int i = 1; i <= nx_; ++i) {
            const double x = (i - 0.5) * sx_ / nx_ - s_.origin[0];
            treat({x, y, z_}, distortion_ ? &w_.s_g_r(i, j, 1) : nullptr,
                  displacement_ ? &w_.g_r(i, j, 1) : nullptr, plane);
        }
    }

    // The single column at (x, y) from the line's point, at column (1, 1), the others 0.
    void column(double x, double y) const {
        if (distortion_) w_.s_g_r.fill(0.0);
        if (displacement_) w_.g_r.fill(0.0);
        treat({x, y, z_}, distortion_ ? &w_.s_g_r(1, 1, 1) : nullptr,
              displacement_ ? &w_.g_r(1, 1, 1) : nullptr,
              distortion_ ? w_.s_g_r.plane() : w_.g_r.plane());
    }

  private:
    // Writes the values of the column at p, beam n at out[(n - 1) * stride].
    void treat(const Vec3& p, double* out_s, double* out_g, std::size_t stride) const {
        if (distortion_) {
            const Vec3 g = s_.phase_gradient(p);
            for (int n = 1; n <= nb_; ++n)
                out_s[static_cast<std::size_t>(n - 1) * stride] = wx_(n) * g[0] + wz_(n) * g[2];
        }
        if (displacement_) {
            const double ph = s_.phase(p);
            for (int n = 1; n <= nb_; ++n)
                out_g[static_cast<std::size_t>(n - 1) * stride] = wz_(n) * ph;
        }
    }

    ScrewSlice s_;
    Workspace& w_;
    double z_;
    bool distortion_, displacement_;
    int nb_, nx_, ny_;
    double sx_, sy_;
    Array1<double> wx_, wz_;
};

void run_screw(const State& st, Workspace& w, const ScrewConfig& cfg, int islice, bool distortion,
               bool displacement, Site site, StrohCache* cache) {
    const ScrewRows rows(st, w, cfg, islice, distortion, displacement, cache);
    if (site == Site::column) {
        rows.column(st.colxy[0], st.colxy[1]);
        return;
    }
    const int ny = st.n_xyz[1];
#pragma omp parallel for schedule(static)
    for (int j = 1; j <= ny; ++j) rows.row(j);
}

} // namespace

void cal_screw(const State& st, Workspace& w, const ScrewConfig& cfg, int islice,
               const std::string& field, Site site, StrohCache* cache) {
    const bool distortion = field == "distortion";
    if (!distortion && field != "displacement") {
        // The configuration is checked first, as for a valid field.
        ScrewSlice::make(st, cfg, 0.0);
        halt("Please choose either displacement or distortion field");
    }
    run_screw(st, w, cfg, islice, distortion, !distortion, site, cache);
}

namespace {

class ScrewField : public DefectField {
  public:
    explicit ScrewField(ConfigSource<ScrewConfig> source) : source_(std::move(source)) {}
    void fill_slice(const State& st, Workspace& w, int islice) override {
        cal_screw(st, w, source_(), islice, "distortion", Site::mesh, &cache_);
    }
    bool fills_rows() const override { return true; }
    RowFill rows_of_slice(const State& st, Workspace& w, int islice) override {
        auto rows =
            std::make_shared<const ScrewRows>(st, w, source_(), islice, true, false, &cache_);
        return [rows](int j) { rows->row(j); };
    }
    // The amplitude-phase job reads g_r; s_g_r is filled too so either use works.
    void fill_column(const State& st, Workspace& w, int islice) override {
        run_screw(st, w, source_(), islice, true, true, Site::column, &cache_);
    }

  private:
    ConfigSource<ScrewConfig> source_;
    StrohCache cache_;
};

} // namespace

} // namespace korvex::screw

namespace korvex {

std::unique_ptr<DefectField> make_screw_field(ConfigSource<screw::ScrewConfig> source) {
    return std::make_unique<screw::ScrewField>(std::move(source));
}

} // namespace korvex
