#include "defects/pgloop.hpp"

#include "defects/column_rule.hpp"
#include "defects/loop_iso.hpp"
#include "defects/row_samples.hpp"
#include "state/checks.hpp"
#include "state/error.hpp"
#include "state/fmt.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>

namespace korvex {

LoopStyle loop_style(const std::string& text) {
    if (text.find("pureSF") != std::string::npos) return LoopStyle::pure_fault;
    if (text.find("perfect") != std::string::npos) return LoopStyle::perfect;
    if (text.find("faulted") != std::string::npos) return LoopStyle::faulted;
    halt({"LOOPSTYLE DEFINED WRONG IN THE INITIAL FILE",
          "The loop style must contain \"perfect\", \"pureSF\" or \"faulted\"",
          "Read: \"" + text + "\""});
}

int loop_marker(const std::string& file) {
    if (file.find("alpha.ini") != std::string::npos) return 2;
    if (file.find("beta.ini") != std::string::npos) return 4;
    if (file.find("gamma.ini") != std::string::npos) return 6;
    if (file.find("delta.ini") != std::string::npos) return 8;
    return 1;
}

Vec3 lattice_vector(double m, double n, const Vec3& v, const char* what) {
    if (n == 0.0) halt(std::string("The ") + what + " m/n [i j k] is given with n = 0");
    return scaled(v, m / n);
}

PgLoopKernel::PgLoopKernel(const State& st, const PgLoopFile& f) {
    n_ = f.nsides;
    if (n_ < 3 || !(f.radius > 0.0))
        halt(std::vector<std::string>{
            "POINT A B C ARE NOT VERTEXES OF A TRIANGLE",
            "(a polygonal loop needs at least 3 sides and a positive radius)"});
    constexpr double pi = 3.141592653589793;
    const double alpha = pi / n_;
    rc_ = f.radius * std::cos(alpha);
    rs_ = f.radius * std::sin(alpha);
    const double beta = 2.0 * pi / n_;
    ad_ = AngularConstants(std::cos(beta), std::sin(beta), f.poissonsratio, f.correction);

    const Vec3 x2 = cross_product(st.foil, st.co_x);
    const Vec3 lz = cross_product(f.normal, f.polar);
    t1_ = coordinates_transfer(st.co_x, x2, st.foil, f.normal, f.polar, lz);
    inverse_three_real_matrix(t1_); // refuses a degenerate loop frame
    // Crystal axes -> loop frame, for the Burgers vector and g.
    const Mat3 t1c = coordinates_transfer({1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0},
                                          f.normal, f.polar, lz);
    const Vec3 b = lattice_vector(f.b_m, f.b_n, f.b_dir, "Burgers vector");
    // A Burgers vector along the normal (a Frank loop, every face of a tetrahedron) has in-plane
    // components of rounding size only: the field then needs the gradients of its normal
    // component alone, about half the work. Dropping terms of relative size 1e-12 and less
    // changes nothing a slice can show.
    const Vec3 bl = mul(t1c, b);
    edge_ = std::abs(bl[1]) <= 1e-12 * magnitude(b) && std::abs(bl[2]) <= 1e-12 * magnitude(b);

    const auto un = static_cast<std::size_t>(n_);
    sides_.resize(un);
    ck_.resize(un);
    sk_.resize(un);
    for (std::size_t k = 0; k < un; ++k) {
        const double theta = 2.0 * pi * static_cast<double>(k) / n_;
        ck_[k] = std::cos(theta);
        sk_[k] = std::sin(theta);
        Mat3 rk;
        rk(1, 1) = 1.0;
        rk(2, 2) = ck_[k];
        rk(2, 3) = sk_[k];
        rk(3, 2) = -sk_[k];
        rk(3, 3) = ck_[k];
        sides_[k].t2 = mul(rk, t1_);
        const Mat3 t2c = mul(rk, t1c);
        sides_[k].w = AngularWeights(mul(t2c, b), mul(t2c, st.v_g), ad_.sb);
    }
}

namespace {

// t p and its transpose, as mul and mul_t, for one or two points.
template <class Real> std::array<Real, 3> apply(const Mat3& t, const std::array<Real, 3>& p) {
    const auto& a = t.a;
    return {a[0] * p[0] + a[1] * p[1] + a[2] * p[2], a[3] * p[0] + a[4] * p[1] + a[5] * p[2],
            a[6] * p[0] + a[7] * p[1] + a[8] * p[2]};
}
template <class Real> std::array<Real, 3> apply_t(const Mat3& t, const std::array<Real, 3>& d) {
    const auto& a = t.a;
    return {a[0] * d[0] + a[3] * d[1] + a[6] * d[2], a[1] * d[0] + a[4] * d[1] + a[7] * d[2],
            a[2] * d[0] + a[5] * d[1] + a[8] * d[2]};
}

} // namespace

template <class Real, bool kEdge>
std::array<Real, 3> PgLoopKernel::field(const std::array<Real, 3>& p) const {
    std::array<Real, 3> grad{};
    // The vertex shared by sides k-1 and k is the origin of the angular dislocation of side k;
    // side n precedes side 1.
    std::array<Real, 3> prev = apply(sides_.back().t2, p);
    for (const Side& side : sides_) {
        const std::array<Real, 3> xi = apply(side.t2, p);
        const std::array<Real, 3> d = angular_gradient_dot<Real, kEdge>(
            xi[0], xi[1] - rc_, xi[2] + rs_, prev[1] - rc_, prev[2] - rs_, ad_, side.w);
        const std::array<Real, 3> s = apply_t(side.t2, d);
        grad[0] += s[0];
        grad[1] += s[1];
        grad[2] += s[2];
        prev = xi;
    }
    return grad;
}

Vec3 PgLoopKernel::gradient(const Vec3& p) const {
    return edge_ ? field<double, true>(p) : field<double, false>(p);
}

std::array<FieldLanes, 3> PgLoopKernel::gradient_lanes(const std::array<FieldLanes, 3>& p) const {
    return edge_ ? field<FieldLanes, true>(p) : field<FieldLanes, false>(p);
}

void PgLoopKernel::gradient_lanes(const Vec3* p, Vec3* out) const {
    std::array<FieldLanes, 3> in{};
    for (int l = 0; l < kFieldLanes; ++l)
        for (int c = 0; c < 3; ++c) in[c][l] = p[l][c];
    const std::array<FieldLanes, 3> g = gradient_lanes(in);
    for (int l = 0; l < kFieldLanes; ++l) out[l] = Vec3{g[0][l], g[1][l], g[2][l]};
}

bool PgLoopKernel::crosses(const Vec3& p, double half_slab) const {
    const Vec3 l = apply(t1_, p); // mul(t1_, p), inline
    if (!(std::abs(l[0]) <= half_slab)) return false;
    // Inside the convex polygon: on the inner side of every chord. (Testing the triangles of
    // the sides one by one would lose the columns lying exactly on a spoke.)
    for (std::size_t k = 0; k < static_cast<std::size_t>(n_); ++k)
        if (!(ck_[k] * l[1] + sk_[k] * l[2] < rc_)) return false;
    return true;
}

std::array<int, 2> PgLoopKernel::slab_columns(double dx, double x0, double y, double z, int nx,
                                              double half_slab) const {
    const auto& a = t1_.a;
    const double c = a[1] * y + a[2] * z; // distance from the plane at x = 0
    if (a[0] == 0.0) return std::abs(c) <= 2.0 * half_slab ? std::array{1, nx} : std::array{1, 0};
    double lo = (-half_slab - c) / a[0], hi = (half_slab - c) / a[0];
    if (lo > hi) std::swap(lo, hi);
    if (!std::isfinite(lo) || !std::isfinite(hi)) return {1, nx};
    // Column numbers, clamped before they become integers.
    const double first = std::clamp((lo + x0) / dx + 0.5 - 2.0, 0.0, nx + 1.0);
    const double last = std::clamp((hi + x0) / dx + 0.5 + 2.0, 0.0, nx + 1.0);
    return {std::max(1, static_cast<int>(std::floor(first))),
            std::min(nx, static_cast<int>(std::ceil(last)))};
}

PgLoopSlice::PgLoopSlice(const State& st, const PgLoopFile& f, int marker, int islice)
    : f_(f), marker_(marker), style_(loop_style(f_.loopstyle)),
      lateral_(lateral_derivative(DefectKind::pg_loop, st.ca)), kernel_(st, f_),
      fault_(lattice_vector(f_.f_m, f_.f_n, f_.f_dir, "stacking-fault vector")),
      tilts_(beam_tilts(st)), nx_(st.n_xyz[0]), ny_(st.n_xyz[1]), nb_(st.n_beams), sx_(st.size[0]),
      sy_(st.size[1]), half_slab_(st.slice_step(islice) / 1.9),
      z_(st.slice_centre(islice) - f_.position[2]),
      z_above_(islice > 1 ? (st.graded ? st.centre_above(islice) - f_.position[2]
                                       : z_ - st.size[2] / st.n_xyz[2])
                          : std::numeric_limits<double>::quiet_NaN()),
      sampling_(std::max(0.0, st.field_tolerance)) {
    const Mat3 t = coordinates_transfer({1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}, st.co_x,
                                        cross_product(st.foil, st.co_x), st.foil);
    const Vec3 n = mul(t, f_.normal);
    const Vec3 b = mul(t, lattice_vector(f_.b_m, f_.b_n, f_.b_dir, "Burgers vector"));
    const double bl = magnitude(b);
    far_n_ = scaled(n, 1.0 / magnitude(n));
    far_b_ = scaled(b, 1.0 / bl);
    constexpr double pi = 3.141592653589793;
    const double area = 0.5 * f_.nsides * f_.radius * f_.radius * std::sin(2.0 * pi / f_.nsides);
    far_cb_ = -area / pi * bl / (8.0 * (1.0 - f_.poissonsratio)) * magnitude(st.v_g);
}

// The depth rate of g.R of every beam from grad (g . u), stored in (or added to) sgr(i, j, :).
void PgLoopSlice::store(int i, int j, Vec3 grad, Array3<double>& sgr, bool accumulate) const {
    // On a leg of an angular dislocation without a core term the field is undefined; such a
    // column gets no strain in this slice.
    if (!std::isfinite(grad[0]) || !std::isfinite(grad[1]) || !std::isfinite(grad[2]))
        grad = Vec3{};
    for (int n = 1; n <= nb_; ++n) {
        const int m = tilts_.order(n);
        const double v = m == 0     ? 0.0
                         : lateral_ ? m * (grad[0] * tilts_.tan_tilt(n) + grad[2])
                                    : m * grad[2];
        if (accumulate)
            sgr(i, j, n) += v;
        else
            sgr(i, j, n) = v;
    }
}

void PgLoopSlice::mark_crossings(int j, Array3<double>& sf, Array3<int>& proj) const {
    const double y = (j - 0.5) * sy_ / ny_ - f_.position[1];
    const auto [first, last] =
        kernel_.slab_columns(sx_ / nx_, f_.position[0], y, z_, nx_, half_slab_);
    for (int i = first; i <= last; ++i) {
        if (kernel_.crosses(Vec3{(i - 0.5) * sx_ / nx_ - f_.position[0], y, z_}, half_slab_)) {
            int& p1 = proj(i, j, 1);
            int& p2 = proj(i, j, 2);
            // A column takes the jump of a loop once, at its first crossing; the jumps of
            // faces crossed in one slice (beside a tetrahedron's edge) add up.
            bool jump = false;
            if (p1 == 0) {
                p1 = marker_;
                jump = true;
            } else if (p1 != marker_ && p2 != marker_) {
                p2 = marker_;
                jump = true;
            }
            if (jump)
                for (int c = 1; c <= 3; ++c) sf(i, j, c) += fault_[static_cast<std::size_t>(c - 1)];
        }
    }
    if (style_ == LoopStyle::perfect)
        for (int i = 1; i <= nx_; ++i)
            for (int c = 1; c <= 3; ++c) sf(i, j, c) = 0.0;
}

FieldLanes PgLoopSlice::term(int n, const std::array<FieldLanes, 3>& grad) const {
    const int m = tilts_.order(n);
    const double t = tilts_.tan_tilt(n);
    const FieldLanes zero{};
    const double dm = m;
    return m == 0 ? zero : lateral_ ? dm * (grad[0] * t + grad[2]) : dm * grad[2];
}

void PgLoopSlice::row(std::span<const PgLoopSlice> loops, int j, Array3<double>& sgr,
                      Array3<double>& sf, Array3<int>& proj, bool accumulate) {
    // A polygonal loop or the four faces of a tetrahedron: never more than kMaxLoops.
    assert(loops.size() <= kMaxLoops);
    if (loops.empty()) return;
    const PgLoopSlice& a = loops.front();
    const int nx = a.nx_, nb = a.nb_;
    for (int i = 1; i <= nx; ++i)
        for (int c = 1; c <= 3; ++c) sf(i, j, c) = 0.0;
    for (const PgLoopSlice& loop : loops) loop.mark_crossings(j, sf, proj);
    if (a.sampling_ > 0.0) {
        std::array<const PgLoopSlice*, kMaxLoops> all{};
        for (std::size_t k = 0; k < loops.size(); ++k) all[k] = &loops[k];
        sampled_terms({all.data(), loops.size()}, j, 1, nx, sgr);
        return;
    }

    // kFieldLanes columns at a time (a short last group repeats its last column): the gradient
    // of every loop, a column on a leg of one (where the field is undefined without a core
    // term) taking no strain from that loop in this slice.
    const FieldLanes zero{};
    for (int i = 1; i <= nx; i += kFieldLanes) {
        FieldLanes x{}; // the columns' x from the image's edge
        for (int q = 0; q < kFieldLanes; ++q) x[q] = (std::min(i + q, nx) - 0.5) * a.sx_ / nx;
        std::array<std::array<FieldLanes, 3>, kMaxLoops> grad{};
        for (std::size_t k = 0; k < loops.size(); ++k) {
            const PgLoopSlice& l = loops[k];
            if (l.style_ == LoopStyle::pure_fault) continue;
            std::array<FieldLanes, 3> p{};
            p[0] = x - l.f_.position[0];
            p[1] = zero + ((j - 0.5) * l.sy_ / l.ny_ - l.f_.position[1]);
            p[2] = zero + l.z_;
            const std::array<FieldLanes, 3> g = l.kernel_.gradient_lanes(p);
            // Finite lanes: v - v is 0 exactly for a finite v, NaN for an infinity or a NaN.
            const auto ok = (g[0] - g[0] == zero) & (g[1] - g[1] == zero) & (g[2] - g[2] == zero);
            grad[k][0] = ok ? g[0] : zero;
            grad[k][2] = ok ? g[2] : zero;
        }
        const int used = std::min(kFieldLanes, nx - i + 1);
        for (int n = 1; n <= nb; ++n) {
            FieldLanes sum =
                accumulate ? zero + loops[0].term(n, grad[0]) : loops[0].term(n, grad[0]);
            for (std::size_t k = 1; k < loops.size(); ++k) sum += loops[k].term(n, grad[k]);
            double* out = &sgr(i, j, n);
            if (used == kFieldLanes)
                std::memcpy(out, &sum, sizeof sum); // one vector store, not a string copy
            else
                for (int q = 0; q < used; ++q) out[q] = sum[q];
        }
    }
}

std::array<int, 2> PgLoopSlice::sampling_zone(int j) const {
    const double dx = sx_ / nx_;
    const double reach = f_.radius + kSampleMargin * dx + 1.0;
    const double y = (j - 0.5) * sy_ / ny_ - f_.position[1];
    const double h2 = reach * reach - y * y - z_ * z_;
    if (!(h2 > 0.0)) return {1, 0};
    const double h = std::sqrt(h2);
    // Column numbers, clamped before they become integers.
    const double lo = std::clamp((f_.position[0] - h) / dx + 0.5, -1.0, nx_ + 2.0);
    const double hi = std::clamp((f_.position[0] + h) / dx + 0.5, -1.0, nx_ + 2.0);
    return {static_cast<int>(std::floor(lo)), static_cast<int>(std::ceil(hi))};
}

std::array<double, 2> PgLoopSlice::term_weights() const {
    double w1 = 0.0, w3 = 0.0;
    for (int n = 1; n <= nb_; ++n) {
        w3 = std::max(w3, std::abs(static_cast<double>(tilts_.order(n))));
        if (lateral_) w1 = std::max(w1, std::abs(tilts_.order(n) * tilts_.tan_tilt(n)));
    }
    return {w1, w3};
}

void PgLoopSlice::column(const std::array<double, 2>& xy, Array3<double>& sgr,
                         bool accumulate) const {
    const Vec3 g = style_ == LoopStyle::pure_fault ? Vec3{} : kernel_.gradient({xy[0], xy[1], z_});
    store(1, 1, g, sgr, accumulate);
}

Vec3 PgLoopSlice::far_gradient(const Vec3& p) const {
    const LoopDerivatives d =
        infinitesimal_loop_terms(p[0], p[1], p[2], far_n_, far_b_, f_.poissonsratio, far_cb_);
    return {d.dx, 0.0, d.dz};
}

void PgLoopSlice::add_terms(int j, int first, int last, Array3<double>& sgr) const {
    if (style_ == LoopStyle::pure_fault || first > last) return;
    if (!std::isfinite(near_)) {
        add_exact_terms(j, first, last, sgr);
        return;
    }
    // The columns within `near` of the centre: one stretch of the row.
    const double y = (j - 0.5) * sy_ / ny_ - f_.position[1];
    const double h2 = near_ * near_ - y * y - z_ * z_;
    int n0 = last + 1, n1 = last;
    if (h2 > 0.0) {
        const double h = std::sqrt(h2), dx = sx_ / nx_;
        n0 = std::max(first, static_cast<int>(std::floor((f_.position[0] - h) / dx + 0.5)));
        n1 = std::min(last, static_cast<int>(std::ceil((f_.position[0] + h) / dx + 0.5)));
    }
    if (n0 > n1) {
        add_far_terms(j, first, last, sgr);
        return;
    }
    add_far_terms(j, first, n0 - 1, sgr);
    add_exact_terms(j, n0, n1, sgr);
    add_far_terms(j, n1 + 1, last, sgr);
}

namespace {

// The gradient (x and z components) of the infinitesimal loop of unit normal N and Burgers
// direction B, strength cb, at (x, y, z) from its centre: infinitesimal_loop_terms written out
// so that a loop over columns vectorises.
struct FarLoop {
    Vec3 N, B;
    double cb, nu, delta, K27, K1;
    FarLoop(const Vec3& n, const Vec3& b, double c, double poisson)
        : N(n), B(b), cb(c), nu(poisson), delta(b[0] * n[0] + b[1] * n[1] + b[2] * n[2]),
          K27(b[0] * n[2] + b[2] * n[0]), K1(2.0 * n[0] * b[0] - delta) {}
    [[gnu::always_inline]] inline void at(double x, double y, double z, double& gx,
                                          double& gz) const {
        const double r2 = x * x + y * y + z * z;
        const double r = std::sqrt(r2);
        const double inv3 = 1.0 / (r2 * r), inv5 = inv3 / r2, inv7 = inv5 / r2;
        const double rn = x * N[0] + y * N[1] + z * N[2];
        const double rb = x * B[0] + y * B[1] + z * B[2];
        const double P = rn * rb;
        const double F1 = (1.0 - 2.0 * nu) * inv3;
        const double F4 = 3.0 * x * inv5;
        const double Q9 = B[0] * rn + N[0] * rb - x * delta;
        const double Q29 = N[2] * rb + B[2] * rn;
        gz =
            cb * (Q29 * F4 - 15.0 * x * z * inv7 * P + K27 * F1 + (6.0 * nu - 3.0) * z * inv5 * Q9);
        gx = cb * ((N[0] * rb + B[0] * rn) * F4 + K1 * F1 + (3.0 * inv5 - 15.0 * x * x * inv7) * P +
                   Q9 * (6.0 * nu - 3.0) * x * inv5);
    }
};

} // namespace

void PgLoopSlice::add_far_terms(int j, int first, int last, Array3<double>& sgr) const {
    if (first > last) return;
    // The gradients of a stretch first, then each beam's term.
    constexpr int kStretch = 64;
    double gx[kStretch], gz[kStretch];
    const double y = (j - 0.5) * sy_ / ny_ - f_.position[1], z = z_;
    const FarLoop far(far_n_, far_b_, far_cb_, f_.poissonsratio);
    for (int i0 = first; i0 <= last; i0 += kStretch) {
        const int m = std::min(kStretch, last - i0 + 1);
        for (int k = 0; k < m; ++k)
            far.at((i0 + k - 0.5) * sx_ / nx_ - f_.position[0], y, z, gx[k], gz[k]);
        for (int n = 1; n <= nb_; ++n) {
            const int order = tilts_.order(n);
            if (order == 0) continue;
            const double wx = lateral_ ? order * tilts_.tan_tilt(n) : 0.0, wz = order;
            double* out = &sgr(i0, j, n);
            for (int k = 0; k < m; ++k) out[k] += wx * gx[k] + wz * gz[k];
        }
    }
}

void PgLoopSlice::sampled_terms(std::span<const PgLoopSlice* const> loops, int j, int first,
                                int last, Array3<double>& sgr) {
    if (loops.empty() || first > last) return;
    const PgLoopSlice& a = *loops.front();
    thread_local std::vector<double> g1, g3;
    const std::size_t len = static_cast<std::size_t>(last - first + 1);
    g1.assign(len, 0.0);
    g3.assign(len, 0.0);
    add_sampled_rates(loops, j, first, last, g1.data(), g3.data());
    for (int n = 1; n <= a.nb_; ++n) {
        const int m = a.tilts_.order(n);
        const double wx = a.lateral_ ? m * a.tilts_.tan_tilt(n) : 0.0, wz = m;
        double* out = &sgr(first, j, n);
        for (std::size_t k = 0; k < len; ++k) out[k] = m == 0 ? 0.0 : wx * g1[k] + wz * g3[k];
    }
}

void PgLoopSlice::add_sampled_rates(std::span<const PgLoopSlice* const> loops, int j, int first,
                                    int last, double* r1, double* r3) {
    if (loops.empty() || first > last) return;
    const PgLoopSlice& a = *loops.front();
    thread_local RowSampleScratch scratch;
    thread_local std::vector<double> g1, g3, xs, fx, fz;
    thread_local std::vector<int> near_at;
    thread_local std::vector<std::array<int, 2>> zones;
    const std::size_t len = static_cast<std::size_t>(last - first + 1);
    g1.resize(len);
    g3.resize(len);
    const double dx = a.sx_ / a.nx_;
    zones.clear();
    std::array<double, 2> w{};
    for (const PgLoopSlice* l : loops) {
        if (l->style_ == LoopStyle::pure_fault) continue;
        const std::array<int, 2> z = l->sampling_zone(j);
        if (z[0] <= z[1]) zones.push_back(z);
        const std::array<double, 2> lw = l->term_weights();
        w = {std::max(w[0], lw[0]), std::max(w[1], lw[1])};
    }
    // The zones joined where they overlap or touch, in order.
    std::sort(zones.begin(), zones.end());
    std::size_t nz = 0;
    for (const std::array<int, 2>& z : zones) {
        if (nz > 0 && z[0] <= zones[nz - 1][1] + 1)
            zones[nz - 1][1] = std::max(zones[nz - 1][1], z[1]);
        else
            zones[nz++] = z;
    }
    zones.resize(nz);
    const FieldLanes zero{};
    // Every loop's gradient summed: within its `near` the angular dislocations' sum (taken as
    // zero on a side, where it is not finite: only the zone holds such columns), beyond it the
    // infinitesimal loop.
    const auto exact = [&](const int* cols, int count, double* o1, double* o3) {
        const std::size_t nc = static_cast<std::size_t>(count);
        std::fill(o1, o1 + nc, 0.0);
        std::fill(o3, o3 + nc, 0.0);
        xs.resize(nc);
        for (const PgLoopSlice* lp : loops) {
            const PgLoopSlice& l = *lp;
            if (l.style_ == LoopStyle::pure_fault) continue;
            const double y = (j - 0.5) * l.sy_ / l.ny_ - l.f_.position[1], z = l.z_;
            const double near2 = l.near_ * l.near_; // infinite: every column near
            near_at.clear();
            for (std::size_t k = 0; k < nc; ++k) xs[k] = (cols[k] - 0.5) * dx - l.f_.position[0];
            if (std::isfinite(near2)) {
                // The infinitesimal loop at every column first (a loop that vectorises), kept
                // where the column is far.
                const FarLoop far(l.far_n_, l.far_b_, l.far_cb_, l.f_.poissonsratio);
                fx.resize(nc);
                fz.resize(nc);
                for (std::size_t k = 0; k < nc; ++k) far.at(xs[k], y, z, fx[k], fz[k]);
                for (std::size_t k = 0; k < nc; ++k) {
                    if (xs[k] * xs[k] + y * y + z * z < near2) {
                        near_at.push_back(static_cast<int>(k));
                    } else {
                        o1[k] += fx[k];
                        o3[k] += fz[k];
                    }
                }
            } else {
                for (std::size_t k = 0; k < nc; ++k) near_at.push_back(static_cast<int>(k));
            }
            const int nn = static_cast<int>(near_at.size());
            for (int s0 = 0; s0 < nn; s0 += kFieldLanes) {
                std::array<FieldLanes, 3> p{};
                for (int q = 0; q < kFieldLanes; ++q)
                    p[0][q] = xs[static_cast<std::size_t>(
                        near_at[static_cast<std::size_t>(std::min(s0 + q, nn - 1))])];
                p[1] = zero + y;
                p[2] = zero + z;
                const std::array<FieldLanes, 3> g = l.kernel_.gradient_lanes(p);
                const auto ok =
                    (g[0] - g[0] == zero) & (g[1] - g[1] == zero) & (g[2] - g[2] == zero);
                const FieldLanes a1 = ok ? g[0] : zero, a3 = ok ? g[2] : zero;
                for (int q = 0; q < std::min(kFieldLanes, nn - s0); ++q) {
                    const int k = near_at[static_cast<std::size_t>(s0 + q)];
                    o1[k] += a1[q];
                    o3[k] += a3[q];
                }
            }
        }
    };
    sampled_rates(first, last, zones, a.sampling_, w[0], w[1], exact, g1.data(), g3.data(),
                  scratch);
    for (std::size_t k = 0; k < len; ++k) {
        r1[k] += g1[k];
        r3[k] += g3[k];
    }
}

void PgLoopSlice::add_rates_as_terms(int j, int first, int last, const double* r1, const double* r3,
                                     Array3<double>& sgr) const {
    const std::size_t len = static_cast<std::size_t>(last - first + 1);
    for (int n = 1; n <= nb_; ++n) {
        const int m = tilts_.order(n);
        if (m == 0 || first > last) continue;
        const double wx = lateral_ ? m * tilts_.tan_tilt(n) : 0.0, wz = m;
        double* out = &sgr(first, j, n);
        for (std::size_t k = 0; k < len; ++k) out[k] += wx * r1[k] + wz * r3[k];
    }
}

void PgLoopSlice::add_exact_terms(int j, int first, int last, Array3<double>& sgr) const {
    const FieldLanes zero{};
    const double y = (j - 0.5) * sy_ / ny_ - f_.position[1];
    for (int i = first; i <= last; i += kFieldLanes) {
        std::array<FieldLanes, 3> p{};
        for (int q = 0; q < kFieldLanes; ++q)
            p[0][q] = (std::min(i + q, last) - 0.5) * sx_ / nx_ - f_.position[0];
        p[1] = zero + y;
        p[2] = zero + z_;
        const std::array<FieldLanes, 3> g = kernel_.gradient_lanes(p);
        const auto ok = (g[0] - g[0] == zero) & (g[1] - g[1] == zero) & (g[2] - g[2] == zero);
        const std::array<FieldLanes, 3> grad{ok ? g[0] : zero, zero, ok ? g[2] : zero};
        const int used = std::min(kFieldLanes, last - i + 1);
        for (int n = 1; n <= nb_; ++n) {
            const FieldLanes t = term(n, grad);
            double* out = &sgr(i, j, n);
            for (int q = 0; q < used; ++q) out[q] += t[q];
        }
    }
}

void PgLoopSlice::add_jumps(int j, int first, int last, Array3<double>& sf,
                            Array3<int>& proj) const {
    const double y = (j - 0.5) * sy_ / ny_ - f_.position[1];
    const auto band = kernel_.slab_columns(sx_ / nx_, f_.position[0], y, z_, nx_, half_slab_);
    for (int i = std::max(first, band[0]); i <= std::min(last, band[1]); ++i) {
        const double x = (i - 0.5) * sx_ / nx_ - f_.position[0];
        if (!kernel_.crosses(Vec3{x, y, z_}, half_slab_)) continue;
        // The slice above is NaN for the first slice: no crossing there.
        if (kernel_.crosses(Vec3{x, y, z_above_}, half_slab_)) continue;
        int& p1 = proj(i, j, 1);
        int& p2 = proj(i, j, 2);
        if (p1 == 0)
            p1 = marker_;
        else if (p1 != marker_ && p2 == 0)
            p2 = marker_;
        if (style_ != LoopStyle::perfect)
            for (int c = 1; c <= 3; ++c) sf(i, j, c) += fault_[static_cast<std::size_t>(c - 1)];
    }
}

void pgloop(const State& st, Array3<int>& proj, const PgLoopFile& f, int marker, int islice,
            Array3<double>& sgr, Array3<double>& sf, bool accumulate,
            const std::array<double, 2>* column) {
    const PgLoopSlice loop(st, f, marker, islice);
    if (column) {
        loop.column(*column, sgr, accumulate);
        return;
    }
    const int ny = st.n_xyz[1];
#pragma omp parallel for schedule(static)
    for (int j = 1; j <= ny; ++j) PgLoopSlice::row({&loop, 1}, j, sgr, sf, proj, accumulate);
}

namespace {

class PgLoopField : public DefectField {
  public:
    PgLoopField(ConfigSource<PgLoopFile> source, int marker)
        : source_(std::move(source)), marker_(marker) {}
    void fill_slice(const State& st, Workspace& w, int islice) override {
        pgloop(st, w.projection, source_(), marker_, islice, w.s_g_r, w.s_f, false);
    }
    bool fills_rows() const override { return true; }
    RowFill rows_of_slice(const State& st, Workspace& w, int islice) override {
        auto loop = std::make_shared<const PgLoopSlice>(st, source_(), marker_, islice);
        return [loop, &w](int j) {
            PgLoopSlice::row({loop.get(), 1}, j, w.s_g_r, w.s_f, w.projection, false);
        };
    }
    // The amplitude-phase job: the column at st.colxy from the loop centre.
    void fill_column(const State& st, Workspace& w, int islice) override {
        w.s_f.fill(0.0);
        w.s_g_r.fill(0.0);
        pgloop(st, w.projection, source_(), marker_, islice, w.s_g_r, w.s_f, false, &st.colxy);
    }

  private:
    ConfigSource<PgLoopFile> source_;
    int marker_;
};

} // namespace

std::unique_ptr<DefectField> make_pgloop_field(ConfigSource<PgLoopFile> source,
                                               const std::string& file) {
    return std::make_unique<PgLoopField>(std::move(source), loop_marker(file));
}

} // namespace korvex
