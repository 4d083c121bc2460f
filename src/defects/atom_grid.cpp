#include "defects/atom_grid.hpp"

#include "state/error.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <omp.h>
#include <string>
#include <sys/mman.h>

namespace korvex {

namespace {

Mat3 columns(const std::array<Vec3, 3>& v) {
    Mat3 m;
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 3; ++c)
            m(r, c) = v[static_cast<std::size_t>(c - 1)][static_cast<std::size_t>(r - 1)];
    return m;
}

Vec3 add(const Vec3& a, const Vec3& b) {
    return {a[0] + b[0], a[1] + b[1], a[2] + b[2]};
}
Vec3 sub(const Vec3& a, const Vec3& b) {
    return {a[0] - b[0], a[1] - b[1], a[2] - b[2]};
}

void check_axes(const std::array<Vec3, 3>& axes) {
    std::array<Vec3, 3> n;
    for (std::size_t k = 0; k < 3; ++k) {
        const double m = magnitude(axes[k]);
        if (!(m > 0.0)) halt("The snapshot axes must not be zero vectors");
        n[k] = scaled(axes[k], 1.0 / m);
    }
    for (std::size_t k = 0; k < 3; ++k)
        if (std::abs(dot(n[k], n[(k + 1) % 3])) > 1e-9)
            halt("The snapshot axes must be perpendicular crystal directions");
    if (dot(cross_product(n[0], n[1]), n[2]) < 0.0)
        halt("The snapshot axes x, y, z must form a right-handed set");
}

double det3(const Mat3& m) {
    return m(1, 1) * (m(2, 2) * m(3, 3) - m(2, 3) * m(3, 2)) -
           m(1, 2) * (m(2, 1) * m(3, 3) - m(2, 3) * m(3, 1)) +
           m(1, 3) * (m(2, 1) * m(3, 2) - m(2, 2) * m(3, 1));
}

constexpr Vec3 kCube[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};

// The offsets of a least-squares fit, z slowest, x fastest: the six face neighbours and the
// cell itself (reach 0), or the 3 x 3 x 3 (reach 1) or 5 x 5 x 5 (reach 2) cells around.
std::vector<std::array<int, 3>> offsets(int reach) {
    const int r = std::max(reach, 1);
    std::vector<std::array<int, 3>> out;
    for (int c = -r; c <= r; ++c)
        for (int b = -r; b <= r; ++b)
            for (int a = -r; a <= r; ++a)
                if (reach > 0 || std::abs(a) + std::abs(b) + std::abs(c) <= 1)
                    out.push_back({a, b, c});
    return out;
}

const std::vector<std::array<int, 3>>& neighbourhood(int reach) {
    static const std::array<std::vector<std::array<int, 3>>, 3> table{offsets(0), offsets(1),
                                                                      offsets(2)};
    return table[static_cast<std::size_t>(reach)];
}

} // namespace

PeriodicCell::PeriodicCell(const Vec3& origin, const std::array<Vec3, 3>& edge,
                           const std::array<bool, 3>& periodic)
    : origin_(origin), h_(columns(edge)), periodic_(periodic) {
    h_inv_ = inverse_three_real_matrix(h_);
}

Vec3 PeriodicCell::fractional(const Vec3& r) const {
    return mul(h_inv_, sub(r, origin_));
}
Vec3 PeriodicCell::cartesian(const Vec3& s) const {
    return add(origin_, mul(h_, s));
}
double PeriodicCell::volume() const {
    return std::abs(
        dot(cross_product({h_(1, 1), h_(2, 1), h_(3, 1)}, {h_(1, 2), h_(2, 2), h_(3, 2)}),
            {h_(1, 3), h_(2, 3), h_(3, 3)}));
}

Vec3 PeriodicCell::wrap(const Vec3& r) const {
    Vec3 s = fractional(r);
    for (std::size_t k = 0; k < 3; ++k)
        if (periodic_[k]) s[k] -= std::floor(s[k]);
    return cartesian(s);
}

Vec3 PeriodicCell::minimum_image(const Vec3& d) const {
    Vec3 s = mul(h_inv_, d);
    for (std::size_t k = 0; k < 3; ++k)
        if (periodic_[k]) s[k] -= std::nearbyint(s[k]);
    return mul(h_, s);
}

FoilPlacement::FoilPlacement(const std::array<Vec3, 3>& axes, const Vec3& foil, const Vec3& v_g,
                             const Vec3& anchor, const Vec3& at)
    : anchor_(anchor), at_(at) {
    check_axes(axes);
    t_ = coordinates_transfer(axes[0], axes[1], axes[2], v_g, cross_product(foil, v_g), foil);
    c_ = coordinates_transfer(axes[0], axes[1], axes[2], kCube[0], kCube[1], kCube[2]);
}

Vec3 FoilPlacement::to_foil(const Vec3& r) const {
    return add(mul(t_, sub(r, anchor_)), at_);
}
Vec3 FoilPlacement::from_foil(const Vec3& p) const {
    return add(mul_t(t_, sub(p, at_)), anchor_);
}
Vec3 FoilPlacement::to_cube(const Vec3& u) const {
    return mul(c_, u);
}

ReferenceLattice::ReferenceLattice(Structure s, double a, const std::array<Vec3, 3>& axes,
                                   const Vec3& origin)
    : s_(s), a_(a), origin_(origin) {
    if (!(a > 0.0)) halt("The lattice constant must be positive");
    check_axes(axes);
    to_cube_ = coordinates_transfer(axes[0], axes[1], axes[2], kCube[0], kCube[1], kCube[2]);
}

double ReferenceLattice::neighbour_distance() const {
    switch (s_) {
    case Structure::sc:
        return a_;
    case Structure::bcc:
        return a_ * std::sqrt(3.0) / 2.0;
    case Structure::fcc:
        break;
    }
    return a_ / std::sqrt(2.0);
}

double ReferenceLattice::sites_per_volume() const {
    const double per_cube = s_ == Structure::fcc ? 4.0 : s_ == Structure::bcc ? 2.0 : 1.0;
    return per_cube / (a_ * a_ * a_);
}

Vec3 ReferenceLattice::nearest_site(const Vec3& r) const {
    const Vec3 c = scaled(mul(to_cube_, sub(r, origin_)), 1.0 / a_); // cube cells
    Vec3 p{std::nearbyint(c[0]), std::nearbyint(c[1]), std::nearbyint(c[2])};
    if (s_ == Structure::bcc) {
        const Vec3 q{std::floor(c[0]) + 0.5, std::floor(c[1]) + 0.5, std::floor(c[2]) + 0.5};
        if (magnitude(sub(q, c)) < magnitude(sub(p, c))) p = q;
    } else if (s_ == Structure::fcc) {
        // Sites of even coordinate sum in units of a/2: round, and when the sum is odd move
        // the coordinate that rounded worst to its other neighbour.
        const Vec3 q = scaled(c, 2.0);
        Vec3 f{std::nearbyint(q[0]), std::nearbyint(q[1]), std::nearbyint(q[2])};
        if (static_cast<long long>(f[0] + f[1] + f[2]) % 2 != 0) {
            std::size_t w = 0;
            for (std::size_t k = 1; k < 3; ++k)
                if (std::abs(q[k] - f[k]) > std::abs(q[w] - f[w])) w = k;
            f[w] += q[w] > f[w] ? 1.0 : -1.0;
        }
        p = scaled(f, 0.5);
    }
    return add(origin_, scaled(mul_t(to_cube_, p), a_));
}

KernelAverage::KernelAverage(const GradientBox& box, double h) : n_(box.cells), h_(h) {
    if (!(h > 0.0)) halt("The kernel width must be positive");
    for (int a = 0; a < 3; ++a) unit_[static_cast<std::size_t>(a)] = box.unit(a);
    acc_size_ = static_cast<std::size_t>(n_[0]) * static_cast<std::size_t>(n_[1]) *
                static_cast<std::size_t>(n_[2]) * kFields;
    // A large block comes zeroed from the system, and is touched only where atoms reach; in
    // large pages where the system grants them (far fewer page faults on a large grid).
    const std::size_t bytes = acc_size_ * sizeof(double);
    void* mem = std::calloc(acc_size_, sizeof(double));
    if (!mem)
        halt("No memory for the " + std::to_string(bytes >> 20) + " MB of the kernel average");
    acc_.reset(static_cast<double*>(mem));
#ifdef MADV_HUGEPAGE
    constexpr std::uintptr_t kPage = std::uintptr_t{1} << 21;
    const std::uintptr_t lo = (reinterpret_cast<std::uintptr_t>(mem) + kPage - 1) / kPage * kPage;
    const std::uintptr_t hi = (reinterpret_cast<std::uintptr_t>(mem) + bytes) / kPage * kPage;
    if (hi > lo) madvise(reinterpret_cast<void*>(lo), hi - lo, MADV_HUGEPAGE);
#endif
}

std::size_t KernelAverage::index(int i, int j, int k) const {
    return ((static_cast<std::size_t>(k) * static_cast<std::size_t>(n_[1]) +
             static_cast<std::size_t>(j)) *
                static_cast<std::size_t>(n_[0]) +
            static_cast<std::size_t>(i)) *
           kFields;
}

void KernelAverage::add(const std::vector<Vec3>& pos, const std::vector<Vec3>& u) {
    const double h2 = h_ * h_;
    // Cells i with |(i + 0.5) unit - x| <= r along one axis, clipped to [lo, hi).
    auto range = [this](double x, std::size_t a, int lo, int hi, double r) {
        const double d = unit_[a];
        const int b = static_cast<int>(std::max<double>(lo, std::ceil((x - r) / d - 0.5)));
        const int e = static_cast<int>(std::min<double>(hi - 1, std::floor((x + r) / d - 0.5)));
        return std::array<int, 2>{b, e};
    };
    // Thread t owns the slices k with k mod (number of threads) = t: no two threads touch one
    // cell, every cell sums its atoms in the order given, and as an atom reaches several
    // slices all threads share the work even when the atoms come sorted by height.
#pragma omp parallel
    {
        const int nt = omp_get_num_threads(), t = omp_get_thread_num();
        for (std::size_t n = 0; n < pos.size(); ++n) {
            const Vec3& p = pos[n];
            const auto rk = range(p[2], 2, 0, n_[2], h_);
            const int first = rk[0] + ((t - rk[0]) % nt + nt) % nt;
            if (first > rk[1]) continue;
            const auto rj = range(p[1], 1, 0, n_[1], h_);
            for (int k = first; k <= rk[1]; k += nt) {
                const double dz = p[2] - (k + 0.5) * unit_[2];
                for (int j = rj[0]; j <= rj[1]; ++j) {
                    const double dy = p[1] - (j + 0.5) * unit_[1];
                    const double ryz = dz * dz + dy * dy;
                    if (ryz >= h2) continue;
                    const auto ri = range(p[0], 0, 0, n_[0], std::sqrt(h2 - ryz));
                    if (ri[0] > ri[1]) continue;
                    double* c = &acc_[index(ri[0], j, k)];
                    for (int i = ri[0]; i <= ri[1]; ++i, c += kFields) {
                        const double dx = p[0] - (i + 0.5) * unit_[0];
                        const double q = 1.0 - (ryz + dx * dx) / h2;
                        if (q <= 0.0) continue;
                        const double w = q * q;
                        c[0] += w;
                        c[1] += w * dx;
                        c[2] += w * dy;
                        c[3] += w * dz;
                        c[4] += w * u[n][0];
                        c[5] += w * u[n][1];
                        c[6] += w * u[n][2];
                    }
                }
            }
        }
    }
}

std::int64_t KernelAverage::empty_cells() const {
    std::int64_t n = 0;
    for (std::size_t c = 0; c < acc_size_; c += kFields) n += acc_[c] == 0.0;
    return n;
}

Vec3 KernelAverage::mean_displacement(int i, int j, int k) const {
    const double* c = &acc_[index(i, j, k)];
    if (c[0] == 0.0) return {};
    return {c[4] / c[0], c[5] / c[0], c[6] / c[0]};
}

bool KernelAverage::fit(int i, int j, int k, int reach, Gradient& out) const {
    // The cells within `reach` (only the face neighbours for reach 0) that atoms reach: mean
    // positions (relative to this cell's centre) and mean displacements.
    const std::array<int, 3> at{i, j, k};
    // Interior cells look at their face neighbours without testing the grid's bounds.
    const std::array<int, 3> r{std::max(reach, 1), std::max(reach, 1), std::max(reach, 1)};
    bool interior = true;
    for (std::size_t e = 0; e < 3; ++e)
        interior = interior && at[e] >= r[e] && at[e] + r[e] < n_[e];
    const auto& offsets = neighbourhood(reach);
    std::size_t m = 0;
    Vec3 x0{}, u0{};
    Mat3 sxx, sux; // sums of x x^T, u x^T
    std::array<bool, 3> spread{};
    const double* here = &acc_[index(i, j, k)];
    const std::ptrdiff_t sy = static_cast<std::ptrdiff_t>(n_[0]) * std::ptrdiff_t{kFields};
    const std::ptrdiff_t sz = sy * n_[1];
    for (const auto& s : offsets) {
        if (!interior) {
            bool inside = true;
            for (std::size_t e = 0; e < 3; ++e)
                inside = inside && at[e] + s[e] >= 0 && at[e] + s[e] < n_[e];
            if (!inside) continue;
        }
        const double* w = here + s[0] * std::ptrdiff_t{kFields} + s[1] * sy + s[2] * sz;
        if (w[0] == 0.0) continue;
        Vec3 x, u;
        for (std::size_t e = 0; e < 3; ++e) {
            x[e] = s[e] * unit_[e] + w[1 + e] / w[0];
            u[e] = w[4 + e] / w[0];
            x0[e] += x[e];
            u0[e] += u[e];
            spread[e] = spread[e] || s[e] != 0;
        }
        for (int p = 1; p <= 3; ++p)
            for (int q = 1; q <= 3; ++q) {
                sxx(p, q) +=
                    x[static_cast<std::size_t>(p - 1)] * x[static_cast<std::size_t>(q - 1)];
                sux(p, q) +=
                    u[static_cast<std::size_t>(p - 1)] * x[static_cast<std::size_t>(q - 1)];
            }
        ++m;
    }
    // Least-squares plane u = u0 + J (x - x0): J S = C with S = sum (x - x0)(x - x0)^T and
    // C = sum (u - u0)(x - x0)^T. An axis along which no neighbour is there gets no change.
    Mat3 s, c;
    const double inv = 1.0 / double(m);
    double floor = 1.0;
    for (int p = 1; p <= 3; ++p) {
        const std::size_t pp = static_cast<std::size_t>(p - 1);
        for (int q = 1; q <= 3; ++q) {
            const std::size_t qq = static_cast<std::size_t>(q - 1);
            s(p, q) = sxx(p, q) - x0[pp] * x0[qq] * inv;
            c(p, q) = sux(p, q) - u0[pp] * x0[qq] * inv;
        }
        floor *= 0.1 * unit_[pp] * unit_[pp];
    }
    for (int e = 1; e <= 3; ++e)
        if (!spread[static_cast<std::size_t>(e - 1)]) {
            for (int p = 1; p <= 3; ++p) s(p, e) = s(e, p) = c(p, e) = 0.0;
            s(e, e) =
                unit_[static_cast<std::size_t>(e - 1)] * unit_[static_cast<std::size_t>(e - 1)];
        }
    if (!(det3(s) > floor)) return false;
    const Mat3 jac = mul(c, inverse_three_real_matrix(s));
    for (int e = 1; e <= 3; ++e)
        for (int p = 1; p <= 3; ++p)
            out[static_cast<std::size_t>(e - 1)][static_cast<std::size_t>(p - 1)] = jac(p, e);
    return true;
}

std::int64_t KernelAverage::gradients(int l, std::vector<Gradient>& g) const {
    const int k = l - 1;
    const int nx = n_[0], ny = n_[1];
    g.assign(static_cast<std::size_t>(nx) * static_cast<std::size_t>(ny), Gradient{});
    // The face neighbours, or where too few atoms reach them to tell a slope (at the grid's
    // edges and corners, next to empty cells), the 3 x 3 x 3 or 5 x 5 x 5 cells around.
    std::int64_t unfit = 0;
#pragma omp parallel for schedule(static) reduction(+ : unfit)
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            if (acc_[index(i, j, k)] == 0.0) continue;
            Gradient& out = g[static_cast<std::size_t>(j) * static_cast<std::size_t>(nx) +
                              static_cast<std::size_t>(i)];
            int reach = 0;
            while (reach <= 2 && !fit(i, j, k, reach, out)) ++reach;
            unfit += reach > 2;
        }
    return unfit;
}

} // namespace korvex
