#include "defects/dissociated.hpp"

#include "defects/edge.hpp"
#include "defects/row_field.hpp"
#include "state/error.hpp"

#include <array>
#include <cmath>
#include <numbers>
#include <optional>
#include <utility>

namespace korvex {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;

Vec3 unit(const Vec3& v) {
    return scaled(v, 1.0 / magnitude(v));
}

Vec3 minus(const Vec3& a, const Vec3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

// Crystal -> sample frame (x along g, y along zone x g, z along the zone axis).
Mat3 sample_frame(const State& st) {
    return coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, st.co_x,
                                cross_product(st.foil, st.co_x), st.foil);
}

} // namespace

std::pair<Vec3, Vec3> fcc_partials(const Vec3& b, const Vec3& normal) {
    const double nb = magnitude(normal);
    const bool glide = std::abs(dot(b, normal)) <= 1e-9 * nb;
    const bool is_111 = std::abs(std::abs(normal[0]) - std::abs(normal[1])) <= 1e-9 * nb &&
                        std::abs(std::abs(normal[1]) - std::abs(normal[2])) <= 1e-9 * nb;
    if (!glide || !is_111 || std::abs(dot(b, b) - 0.5) > 1e-9)
        halt("The fcc dissociation takes a perfect a/2<110> Burgers vector on a {111} plane; give "
             "the two partials instead");
    const Vec3 c = scaled(cross_product(unit(normal), b), 1.0 / (2.0 * std::sqrt(3.0)));
    const Vec3 half = scaled(b, 0.5);
    return {{half[0] + c[0], half[1] + c[1], half[2] + c[2]},
            {half[0] - c[0], half[1] - c[1], half[2] - c[2]}};
}

MixedDislocation::MixedDislocation(const State& st, const Vec3& b, const Vec3& line, const Vec3& at,
                                   double nu, double r0)
    : at_(at), nu_(nu), r0_(r0) {
    const Vec3 t = unit(line);
    b_screw_ = dot(b, t);
    const Vec3 edge = minus(b, scaled(t, b_screw_));
    b_edge_ = magnitude(edge);
    // A pure screw has no edge direction: any normal of the line serves.
    Vec3 e1 = b_edge_ > 1e-12 * magnitude(b) ? edge : cross_product(t, {1, 0, 0});
    if (magnitude(e1) < 1e-6) e1 = cross_product(t, {0, 1, 0});
    const Vec3 e2 = cross_product(t, e1);
    t_ = coordinates_transfer(st.co_x, cross_product(st.foil, st.co_x), st.foil, e1, e2, t);
    g_ = mul(coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, e1, e2, t), st.v_g);
}

Vec3 MixedDislocation::phase_gradient(const Vec3& p) const {
    const Vec3 q = mul(t_, minus(p, at_));
    const Mat3 d = edge::cal_edge(q[0], q[1], nu_, r0_);
    double dq1 = b_edge_ * (d(1, 1) * g_[0] + d(1, 2) * g_[1]);
    double dq2 = b_edge_ * (d(2, 1) * g_[0] + d(2, 2) * g_[1]);
    const double r = std::sqrt(q[0] * q[0] + q[1] * q[1]) + r0_;
    if (r > 0.0) {
        const double c = b_screw_ * g_[2] / (kTwoPi * r * r);
        dq1 -= c * q[1];
        dq2 += c * q[0];
    }
    return mul_t(t_, {dq1, dq2, 0.0});
}

double MixedDislocation::phase(const Vec3& p) const {
    const Vec3 q = mul(t_, minus(p, at_));
    const Vec3 u = edge::edge_displacement(q[0], q[1], nu_);
    return b_edge_ * (u[0] * g_[0] + u[1] * g_[1]) +
           b_screw_ * g_[2] * std::atan2(q[1], q[0]) / kTwoPi;
}

namespace {

// The constants of one slice: both partials, the ribbon and the beams' weights.
class DissociatedRows {
  public:
    DissociatedRows(const State& st, Workspace& w, const DissociatedConfig& c, int islice)
        : sgr_(w.s_g_r), sf_(w.s_f), nx_(st.n_xyz[0]), ny_(st.n_xyz[1]), nz_(st.n_xyz[2]),
          islice_(islice), sx_(st.size[0]), sy_(st.size[1]), dz_(st.size[2] / st.n_xyz[2]), c_(c),
          lead_(st, c.b1, c.line, shifted(st, c, +1), c.nu, c.r0),
          trail_(st, c.b2, c.line, shifted(st, c, -1), c.nu, c.r0) {
        const Mat3 ts = sample_frame(st);
        n_ = unit(mul(ts, c.normal));
        s_ = unit(cross_product(n_, mul(ts, c.line)));
        TermWeights tw = term_weights(st, DefectKind::dissociated);
        wx_ = std::move(tw.wx);
        wz_ = std::move(tw.wz);
        z_ = st.slice_centre(islice);
        if (st.graded) top_ = {z_ - 0.5 * st.slice_step(islice), st.slice_step(islice)};
    }

    void fill(int j) const {
        const double y = (j - 0.5) * sy_ / ny_;
        for (int i = 1; i <= nx_; ++i) {
            const double x = (i - 0.5) * sx_ / nx_;
            cell(i, j, x, y);
        }
    }

    // The column at (x, y) from the midpoint, into column (1, 1).
    void column(double x, double y) const {
        sgr_.fill(0.0);
        sf_.fill(0.0);
        cell(1, 1, x + c_.point[0], y + c_.point[1]);
    }

  private:
    static Vec3 shifted(const State& st, const DissociatedConfig& c, int side) {
        const Mat3 ts = sample_frame(st);
        const Vec3 s = unit(cross_product(unit(mul(ts, c.normal)), unit(mul(ts, c.line))));
        const Vec3 d = scaled(s, side * 0.5 * c.separation);
        return {c.point[0] + d[0], c.point[1] + d[1], c.point[2] + d[2]};
    }

    void cell(int i, int j, double x, double y) const {
        const Vec3 p{x, y, z_};
        const Vec3 a = lead_.phase_gradient(p), b = trail_.phase_gradient(p);
        const double g1 = a[0] + b[0], g3 = a[2] + b[2];
        for (int n = 1; n <= wx_.size(); ++n) sgr_(i, j, n) = wx_(n) * g1 + wz_(n) * g3;
        const bool jump = crosses_in_this_slice(x, y);
        for (int k = 1; k <= 3; ++k)
            sf_(i, j, k) = jump ? c_.b1[static_cast<std::size_t>(k - 1)] : 0.0;
    }

    // Whether the column at (x, y) meets the ribbon within this slice.
    bool crosses_in_this_slice(double x, double y) const {
        if (c_.separation <= 0.0 || std::abs(n_[2]) < 1e-12) return false; // none, or edge-on
        const double dx = x - c_.point[0], dy = y - c_.point[1];
        const double zc = c_.point[2] - (n_[0] * dx + n_[1] * dy) / n_[2];
        const double across = s_[0] * dx + s_[1] * dy + s_[2] * (zc - c_.point[2]);
        if (!(std::abs(across) < 0.5 * c_.separation)) return false;
        if (top_) return zc >= (*top_)[0] && zc - (*top_)[0] < (*top_)[1];
        const double l = std::floor(zc / dz_) + 1.0;
        return l == islice_ && l >= 1.0 && l <= nz_;
    }

    Array3<double>& sgr_;
    Array3<double>& sf_;
    int nx_, ny_, nz_, islice_;
    double sx_, sy_, dz_, z_ = 0.0;
    std::optional<std::array<double, 2>> top_; // graded slices: the slice's top and thickness
    DissociatedConfig c_;
    MixedDislocation lead_, trail_;
    Vec3 n_{}, s_{};
    Array1<double> wx_, wz_;
};

} // namespace

std::unique_ptr<DefectField> make_dissociated_field(ConfigSource<DissociatedConfig> source) {
    return std::make_unique<RowField<DissociatedRows, DissociatedConfig>>(std::move(source));
}

} // namespace korvex
