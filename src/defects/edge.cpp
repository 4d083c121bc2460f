#include "defects/edge.hpp"

#include "defects/column_rule.hpp"
#include "defects/row_samples.hpp"
#include "optics/crystal.hpp"
#include "state/checks.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

namespace korvex::edge {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

} // namespace

Vec3 edge_displacement(double x, double y, double nu) {
    const double r2 = x * x + y * y;
    const double u1 = std::atan2(y, x) + x * y / (2.0 * (1.0 - nu) * r2);
    const double u2 = -((1.0 - 2.0 * nu) / (4.0 * (1.0 - nu)) * std::log(r2) +
                        (x * x - y * y) / (4.0 * (1.0 - nu) * r2));
    return {u1 / kTwoPi, u2 / kTwoPi, 0.0};
}

namespace {

// The four non-zero terms of cal_edge, D(1,1), D(2,1), D(1,2), D(2,2); all zero where the
// regularised distance vanishes. Inline, so that a loop over columns vectorises.
[[gnu::always_inline]] inline void edge_terms(double x, double y, double nu, double r0, double* d) {
    const double r = std::sqrt(x * x + y * y) + r0;
    const double r2 = r * r;
    const double r4 = r2 * r2;
    const double a = 1.0 / (2.0 * (1.0 - nu)); // 1 / (2 (1 - nu))
    const double c = (1.0 - 2.0 * nu) * a;     // (1 - 2 nu) / (2 (1 - nu))
    const bool defined = r2 != 0.0;            // on the line without r0: 0
    d[0] = defined ? ((y * y - x * x) * y * a / r4 - y / r2) / kTwoPi : 0.0;       // du1/dx
    d[1] = defined ? ((x * x - y * y) * x * a / r4 + x / r2) / kTwoPi : 0.0;       // du1/dy
    d[2] = defined ? -(x * y * y / ((1.0 - nu) * r4) + x * c / r2) / kTwoPi : 0.0; // du2/dx
    d[3] = defined ? -(y * c / r2 - y * x * x / ((1.0 - nu) * r4)) / kTwoPi : 0.0; // du2/dy
}

// The isotropic gradient of g.R along sample axes 1 and 3 at p (relative to the origin): the
// terms turned from the dislocation frame, as phase_gradient does.
[[gnu::always_inline]] inline void isotropic_rates(const EdgeSlice& s, double px, double py,
                                                   double pz, double& g1, double& g3) {
    const Mat3& t = s.t;
    const double x = t(1, 1) * px + t(1, 2) * py + t(1, 3) * pz;
    const double y = t(2, 1) * px + t(2, 2) * py + t(2, 3) * pz;
    double d[4];
    edge_terms(x, y, s.nu, s.r0, d);
    const double dq1 = d[0] * s.g_disl[0] + d[2] * s.g_disl[1];
    const double dq2 = d[1] * s.g_disl[0] + d[3] * s.g_disl[1];
    g1 = s.b_len * (t(1, 1) * dq1 + t(2, 1) * dq2);
    g3 = s.b_len * (t(1, 3) * dq1 + t(2, 3) * dq2);
}

} // namespace

Mat3 cal_edge(double x, double y, double nu, double r0) {
    Mat3 d; // zero: nothing varies along the line and u3 = 0
    double e[4];
    edge_terms(x, y, nu, r0, e);
    d(1, 1) = e[0];
    d(2, 1) = e[1];
    d(1, 2) = e[2];
    d(2, 2) = e[3];
    return d;
}

EdgeSlice EdgeSlice::make(const State& st, const EdgeConfig& cfg, StrohCache* cache) {
    if (cfg.b_n == 0.0) halt("The Burgers vector m/n[i,j,k] needs a non-zero n");
    const Vec3 b = scaled(cfg.b_index, cfg.b_m / cfg.b_n);
    if (std::abs(dot(b, cfg.line)) >= 1e-4)
        halt("The dislocation line is not perpendicular to v_b_edge");
    if (magnitude(b) == 0.0) halt("The Burgers vector of the edge dislocation is zero");
    if (magnitude(cfg.line) == 0.0) halt("The direction of the dislocation line is zero");

    EdgeSlice s;
    const Vec3 x2 = cross_product(st.foil, st.co_x);
    const Vec3 e2 = cross_product(cfg.line, b);
    s.t = coordinates_transfer(st.co_x, x2, st.foil, b, e2, cfg.line);
    const Mat3 t0 = coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, b, e2, cfg.line);
    s.g_disl = mul(t0, st.v_g);
    s.b_len = magnitude(b);
    s.nu = cfg.nu;
    s.r0 = cfg.r0;
    s.origin = cfg.point;
    s.column_approx = !lateral_derivative(DefectKind::edge, st.ca);
    if (cfg.elasticity == Elasticity::anisotropic) {
        StrohCache local;
        s.stroh = (cache ? *cache : local).get(elastic_constants(st.sample), t0, {1.0, 0.0, 0.0});
    }
    return s;
}

Vec3 EdgeSlice::phase_gradient(const Vec3& p) const {
    const Vec3 q = mul(t, p);
    if (stroh) {
        // Every displacement component may vary across the line; the core damped as the 1/r
        // terms of the isotropic field.
        const double r = std::hypot(q[0], q[1]), big_r = r + r0;
        const Mat3 d =
            big_r > 0.0 ? damped(stroh->gradient(q[0], q[1]), r * r / (big_r * big_r)) : Mat3{};
        const double dq1 = d(1, 1) * g_disl[0] + d(1, 2) * g_disl[1] + d(1, 3) * g_disl[2];
        const double dq2 = d(2, 1) * g_disl[0] + d(2, 2) * g_disl[1] + d(2, 3) * g_disl[2];
        return scaled(mul_t(t, {dq1, dq2, 0.0}), b_len);
    }
    const Mat3 d = cal_edge(q[0], q[1], nu, r0);
    // Derivatives along E1, E2 of g'.u (u3 and derivatives along the line vanish), then turned
    // into derivatives along the sample axes: dG/dX_e = sum_q t(q, e) dG/dx'_q.
    const double dq1 = d(1, 1) * g_disl[0] + d(1, 2) * g_disl[1];
    const double dq2 = d(2, 1) * g_disl[0] + d(2, 2) * g_disl[1];
    return {b_len * (t(1, 1) * dq1 + t(2, 1) * dq2), b_len * (t(1, 2) * dq1 + t(2, 2) * dq2),
            b_len * (t(1, 3) * dq1 + t(2, 3) * dq2)};
}

double EdgeSlice::phase(const Vec3& p) const {
    const Vec3 q = mul(t, p);
    const Vec3 u = stroh ? stroh->displacement(q[0], q[1]) : edge_displacement(q[0], q[1], nu);
    return b_len * dot(u, g_disl);
}

EdgeRows::EdgeRows(const State& st, Workspace& w, const EdgeConfig& cfg, int islice,
                   StrohCache* cache)
    : s_(EdgeSlice::make(st, cfg, cache)), out_(w.s_g_r), nx_(st.n_xyz[0]), ny_(st.n_xyz[1]),
      sx_(st.size[0]), sy_(st.size[1]) {
    const BeamTilts bt = beam_tilts(st);
    const int nb = st.n_beams;
    // Depth rate of g.R for the beam of order m: m * (G3 + tan(tilt) * G1); the weight of G1
    // is zero under the column approximation.
    wx_.resize(nb);
    wz_.resize(nb);
    for (int n = 1; n <= nb; ++n) {
        wz_(n) = bt.order(n);
        wx_(n) = s_.column_approx ? 0.0 : bt.order(n) * bt.tan_tilt(n);
    }
    z_ = st.slice_centre(islice) - s_.origin[2];
    sampling_ = std::max(0.0, st.field_tolerance);
}

void EdgeRows::column(double x, double y) const {
    out_.fill(0.0);
    const Vec3 gr = s_.phase_gradient({x, y, z_});
    for (int n = 1; n <= wx_.size(); ++n) out_(1, 1, n) = wx_(n) * gr[0] + wz_(n) * gr[2];
}

void EdgeRows::fill(int j) const {
    const double y = (j - 0.5) * sy_ / ny_ - s_.origin[1];
    if (sampling_ > 0.0) {
        fill_sampled(j, y);
        return;
    }
    // The rates along sample axes 1 and 3 of a stretch of the row, then every beam's stretch
    // from them.
    constexpr int kStretch = 64;
    double g1[kStretch], g3[kStretch];
    for (int i0 = 1; i0 <= nx_; i0 += kStretch) {
        const int m = std::min(kStretch, nx_ - i0 + 1);
        if (s_.stroh) {
            for (int k = 0; k < m; ++k) {
                const Vec3 gr =
                    s_.phase_gradient({(i0 + k - 0.5) * sx_ / nx_ - s_.origin[0], y, z_});
                g1[k] = gr[0];
                g3[k] = gr[2];
            }
        } else {
#pragma omp simd
            for (int k = 0; k < m; ++k)
                isotropic_rates(s_, (i0 + k - 0.5) * sx_ / nx_ - s_.origin[0], y, z_, g1[k], g3[k]);
        }
        for (int n = 1; n <= wx_.size(); ++n) {
            double* row = &out_(i0, j, n);
            const double a = wx_(n), b = wz_(n);
            for (int k = 0; k < m; ++k) row[k] = a * g1[k] + b * g3[k];
        }
    }
}

void EdgeRows::fill_sampled(int j, double y) const {
    thread_local RowSampleScratch scratch;
    thread_local std::vector<double> g1, g3;
    g1.resize(static_cast<std::size_t>(nx_));
    g3.resize(g1.size());
    const double dx = sx_ / nx_;
    // The columns within `reach` of the line: rho^2 = A x^2 + 2 B x + C along the row, x from
    // the line's point.
    const Mat3& t = s_.t;
    const double u0 = t(1, 1), u1 = t(2, 1);
    const double v0 = t(1, 2) * y + t(1, 3) * z_, v1 = t(2, 2) * y + t(2, 3) * z_;
    const double A = u0 * u0 + u1 * u1, B = u0 * v0 + u1 * v1, C = v0 * v0 + v1 * v1;
    const double reach = kSampleMargin * dx + s_.r0 + 1.0;
    std::array<int, 2> zone{1, 0};
    const double disc = B * B - A * (C - reach * reach);
    if (A < 1e-12) {
        if (C < reach * reach) zone = {1, nx_};
    } else if (disc > 0.0) {
        const double lo = (-B - std::sqrt(disc)) / A, hi = (-B + std::sqrt(disc)) / A;
        // Column numbers, clamped before they become integers.
        zone = {static_cast<int>(
                    std::floor(std::clamp((lo + s_.origin[0]) / dx + 0.5, -1.0, nx_ + 2.0))),
                static_cast<int>(
                    std::ceil(std::clamp((hi + s_.origin[0]) / dx + 0.5, -1.0, nx_ + 2.0)))};
    }
    const auto exact = [&](const int* cols, int count, double* o1, double* o3) {
        if (s_.stroh) {
            for (int k = 0; k < count; ++k) {
                const Vec3 gr = s_.phase_gradient({(cols[k] - 0.5) * dx - s_.origin[0], y, z_});
                o1[k] = gr[0];
                o3[k] = gr[2];
            }
            return;
        }
#pragma omp simd
        for (int k = 0; k < count; ++k)
            isotropic_rates(s_, (cols[k] - 0.5) * dx - s_.origin[0], y, z_, o1[k], o3[k]);
    };
    double w1 = 0.0, w3 = 0.0;
    for (int n = 1; n <= wx_.size(); ++n) {
        w1 = std::max(w1, std::abs(wx_(n)));
        w3 = std::max(w3, std::abs(wz_(n)));
    }
    const std::array<std::array<int, 2>, 1> zones{zone};
    sampled_rates(1, nx_, zones, sampling_, w1, w3, exact, g1.data(), g3.data(), scratch);
    for (int n = 1; n <= wx_.size(); ++n) {
        double* row = &out_(1, j, n);
        const double a = wx_(n), b = wz_(n);
        for (std::size_t k = 0; k < g1.size(); ++k) row[k] = a * g1[k] + b * g3[k];
    }
}

void cal_dislocation(const State& st, Workspace& w, const EdgeConfig& cfg, int islice,
                     bool single_column, StrohCache* cache) {
    const EdgeRows rows(st, w, cfg, islice, cache);
    if (single_column) {
        rows.column(st.colxy[0], st.colxy[1]);
        return;
    }
    const int ny = st.n_xyz[1];
#pragma omp parallel for schedule(static)
    for (int j = 1; j <= ny; ++j) rows.fill(j);
}

namespace {

class EdgeField : public DefectField {
  public:
    explicit EdgeField(ConfigSource<EdgeConfig> source) : source_(std::move(source)) {}
    void fill_slice(const State& st, Workspace& w, int islice) override {
        cal_dislocation(st, w, source_(), islice, false, &cache_);
    }
    void fill_column(const State& st, Workspace& w, int islice) override {
        cal_dislocation(st, w, source_(), islice, true, &cache_);
    }
    bool fills_rows() const override { return true; }
    RowFill rows_of_slice(const State& st, Workspace& w, int islice) override {
        auto rows = std::make_shared<const EdgeRows>(st, w, source_(), islice, &cache_);
        return [rows](int j) { rows->fill(j); };
    }

  private:
    ConfigSource<EdgeConfig> source_;
    StrohCache cache_;
};

} // namespace

} // namespace korvex::edge

namespace korvex {

std::unique_ptr<DefectField> make_edge_field(ConfigSource<edge::EdgeConfig> source) {
    return std::make_unique<edge::EdgeField>(std::move(source));
}

} // namespace korvex
