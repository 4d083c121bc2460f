#include "defects/inclusion.hpp"

#include "defects/row_field.hpp"
#include "optics/vectors.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace korvex {

double constrained_strain(const InclusionConfig& c) {
    return c.misfit * (1.0 + c.nu) / (3.0 * (1.0 - c.nu));
}

Vec3 inclusion_displacement(const InclusionConfig& c, const Vec3& p) {
    const double eps = constrained_strain(c);
    const double r = magnitude(p);
    if (r < c.radius) return scaled(p, eps);
    return scaled(p, eps * c.radius * c.radius * c.radius / (r * r * r));
}

namespace {

// The gradient of g.u / a at p = (x, y, z) from the centre: inside eps g / a, outside
// (eps R^3 / a) (g / r^3 - 3 (g.p) p / r^5). `k_in` = eps / a, `k_out` = eps R^3 / a.
[[gnu::always_inline]] inline void rates(double gx, double gy, double gz, double r2_in, double k_in,
                                         double k_out, double x, double y, double z, double& d1,
                                         double& d2, double& d3) {
    const double r2 = x * x + y * y + z * z;
    if (r2 < r2_in) {
        d1 = k_in * gx, d2 = k_in * gy, d3 = k_in * gz;
        return;
    }
    const double r = std::sqrt(r2);
    const double inv3 = 1.0 / (r2 * r);
    const double gp = 3.0 * (gx * x + gy * y + gz * z) / r2;
    d1 = k_out * inv3 * (gx - gp * x);
    d2 = k_out * inv3 * (gy - gp * y);
    d3 = k_out * inv3 * (gz - gp * z);
}

// The constants of one slice of the field and the row function the engines call.
class InclusionRows {
  public:
    InclusionRows(const State& st, Workspace& w, const InclusionConfig& c, int islice)
        : out_(w.s_g_r), sf_(w.s_f), nx_(st.n_xyz[0]), ny_(st.n_xyz[1]), sx_(st.size[0]),
          sy_(st.size[1]), c_(c) {
        const Mat3 t = coordinates_transfer({1, 0, 0}, {0, 1, 0}, {0, 0, 1}, st.co_x,
                                            cross_product(st.foil, st.co_x), st.foil);
        g_ = mul(t, st.v_g);
        const double eps = constrained_strain(c);
        k_in_ = eps / st.lat_c;
        k_out_ = eps * c.radius * c.radius * c.radius / st.lat_c;
        TermWeights tw = term_weights(st, DefectKind::inclusion);
        wx_ = std::move(tw.wx);
        wz_ = std::move(tw.wz);
        z_ = st.slice_centre(islice) - c.centre[2];
    }

    void fill(int j) const {
        for (int k = 1; k <= 3; ++k)
            for (int i = 1; i <= nx_; ++i) sf_(i, j, k) = 0.0; // no fault
        const double y = (j - 0.5) * sy_ / ny_ - c_.centre[1];
        constexpr int kStretch = 64;
        double g1[kStretch], g3[kStretch];
        const double r2_in = c_.radius * c_.radius;
        for (int i0 = 1; i0 <= nx_; i0 += kStretch) {
            const int m = std::min(kStretch, nx_ - i0 + 1);
            for (int k = 0; k < m; ++k) {
                double d2 = 0.0;
                rates(g_[0], g_[1], g_[2], r2_in, k_in_, k_out_,
                      (i0 + k - 0.5) * sx_ / nx_ - c_.centre[0], y, z_, g1[k], d2, g3[k]);
            }
            for (int n = 1; n <= wx_.size(); ++n) {
                double* row = &out_(i0, j, n);
                const double a = wx_(n), b = wz_(n);
                for (int k = 0; k < m; ++k) row[k] = a * g1[k] + b * g3[k];
            }
        }
    }

    // One column at (x, y) from the centre, into column (1, 1).
    void column(double x, double y) const {
        out_.fill(0.0);
        sf_.fill(0.0);
        double d1 = 0.0, d2 = 0.0, d3 = 0.0;
        rates(g_[0], g_[1], g_[2], c_.radius * c_.radius, k_in_, k_out_, x, y, z_, d1, d2, d3);
        for (int n = 1; n <= wx_.size(); ++n) out_(1, 1, n) = wx_(n) * d1 + wz_(n) * d3;
    }

  private:
    Array3<double>& out_;
    Array3<double>& sf_;
    int nx_, ny_;
    double sx_, sy_;
    InclusionConfig c_;
    Vec3 g_{};
    double k_in_ = 0.0, k_out_ = 0.0, z_ = 0.0;
    Array1<double> wx_, wz_;
};

} // namespace

Vec3 inclusion_phase_gradient(const InclusionConfig& c, const Vec3& g_sample, double lat_c,
                              const Vec3& p) {
    const double eps = constrained_strain(c);
    Vec3 d{};
    rates(g_sample[0], g_sample[1], g_sample[2], c.radius * c.radius, eps / lat_c,
          eps * c.radius * c.radius * c.radius / lat_c, p[0], p[1], p[2], d[0], d[1], d[2]);
    return d;
}

std::unique_ptr<DefectField> make_inclusion_field(ConfigSource<InclusionConfig> source) {
    return std::make_unique<RowField<InclusionRows, InclusionConfig>>(std::move(source));
}

} // namespace korvex
