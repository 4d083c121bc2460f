#include "defects/stroh.hpp"

#include "state/error.hpp"

// GCC 12 reports values inside Eigen's AVX-512 kernels as maybe uninitialized (a false report
// of its own headers, seen with -march=native); the code here has no such value.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <Eigen/Dense>

#include <cmath>
#include <numbers>

namespace korvex {

namespace {

using Cplx = std::complex<double>;

std::size_t at(int i, int j, int k, int l) {
    return static_cast<std::size_t>(((i * 3 + j) * 3 + k) * 3 + l);
}

} // namespace

std::array<double, 81> rotated_stiffness(const CubicElastic& c, const Mat3& frame) {
    // Cube axes: C_ijkl = C12 d_ij d_kl + C44 (d_ik d_jl + d_il d_jk) + H [i = j = k = l],
    // H = C11 - C12 - 2 C44. The isotropic part keeps its form in any frame; only the cubic
    // term is rotated: H sum_m R_im R_jm R_km R_lm.
    const double h = c.c11 - c.c12 - 2.0 * c.c44;
    auto d = [](int i, int j) { return i == j ? 1.0 : 0.0; };
    std::array<double, 81> cp{};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            for (int k = 0; k < 3; ++k)
                for (int l = 0; l < 3; ++l) {
                    double cubic = 0.0;
                    for (int m = 1; m <= 3; ++m)
                        cubic +=
                            frame(i + 1, m) * frame(j + 1, m) * frame(k + 1, m) * frame(l + 1, m);
                    cp[at(i, j, k, l)] = c.c12 * d(i, j) * d(k, l) +
                                         c.c44 * (d(i, k) * d(j, l) + d(i, l) * d(j, k)) +
                                         h * cubic;
                }
    return cp;
}

StrohDislocation::StrohDislocation(const CubicElastic& c, const Mat3& frame, const Vec3& b) {
    // Positive definite cubic stiffness: C44 > 0, C11 > |C12|, C11 + 2 C12 > 0.
    if (!(c.c44 > 0.0 && c.c11 > std::abs(c.c12) && c.c11 + 2.0 * c.c12 > 0.0))
        halt("The elastic constants C11, C12, C44 are not those of a stable cubic crystal");
    cp_ = rotated_stiffness(c, frame);
    const double a = c.zener();
    if (std::abs(a - 1.0) >= kIsotropicBand) {
        branches_.push_back(solve(cp_, b));
        return;
    }
    // Near isotropy: interpolate linearly in A between A = 1 -/+ kIsotropicBand.
    for (const double side : {-1.0, 1.0}) {
        const double a_side = 1.0 + side * kIsotropicBand;
        CubicElastic cs = c;
        cs.c44 = 0.5 * a_side * (c.c11 - c.c12);
        Branch br = solve(rotated_stiffness(cs, frame), b);
        br.weight = 0.5 + side * (a - 1.0) / (2.0 * kIsotropicBand);
        branches_.push_back(br);
    }
}

StrohDislocation::Branch StrohDislocation::solve(const std::array<double, 81>& cp, const Vec3& b) {
    using M3 = Eigen::Matrix3d;
    M3 q, r, t; // Q_ik = C'_i1k1, R_ik = C'_i1k2, T_ik = C'_i2k2
    for (int i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k) {
            q(i, k) = cp[at(i, 0, k, 0)];
            r(i, k) = cp[at(i, 0, k, 1)];
            t(i, k) = cp[at(i, 1, k, 1)];
        }
    // N (a, l) = p (a, l), with l = (R^T + p T) a the vector of the stress function:
    //   N = [ -T^-1 R^T        T^-1     ]
    //       [ R T^-1 R^T - Q   -R T^-1  ]
    const M3 ti = t.inverse();
    Eigen::Matrix<double, 6, 6> n;
    n.topLeftCorner<3, 3>() = -ti * r.transpose();
    n.topRightCorner<3, 3>() = ti;
    n.bottomLeftCorner<3, 3>() = r * ti * r.transpose() - q;
    n.bottomRightCorner<3, 3>() = -r * ti;
    const Eigen::EigenSolver<Eigen::Matrix<double, 6, 6>> es(n);
    if (es.info() != Eigen::Success)
        halt("The eigen-solution of the anisotropic dislocation field failed");

    // The three roots in the upper half-plane (a stable crystal has no real root).
    Branch br;
    Eigen::Matrix3cd am, lm;
    int found = 0;
    for (int s = 0; s < 6; ++s) {
        const Cplx p = es.eigenvalues()(s);
        if (p.imag() <= 0.0) continue;
        if (found == 3) break;
        br.p[static_cast<std::size_t>(found)] = p;
        am.col(found) = es.eigenvectors().col(s).head<3>();
        lm.col(found) = es.eigenvectors().col(s).tail<3>();
        ++found;
    }
    if (found != 3) halt("The eigen-solution of the anisotropic dislocation field failed");

    // Weights: 2 Re(A q) = b, 2 Re(L q) = 0, six real equations in Re q, Im q.
    Eigen::Matrix<double, 6, 6> sys;
    sys << am.real(), -am.imag(), lm.real(), -lm.imag();
    Eigen::Matrix<double, 6, 1> rhs;
    rhs << 0.5 * b[0], 0.5 * b[1], 0.5 * b[2], 0.0, 0.0, 0.0;
    const Eigen::FullPivLU<Eigen::Matrix<double, 6, 6>> lu(sys);
    if (!lu.isInvertible()) halt("The eigen-solution of the anisotropic dislocation field failed");
    const Eigen::Matrix<double, 6, 1> x = lu.solve(rhs);
    for (std::size_t al = 0; al < 3; ++al) {
        const int ai = static_cast<int>(al);
        const Cplx qa(x(ai), x(ai + 3));
        for (std::size_t k = 0; k < 3; ++k)
            br.w[al][k] = am(static_cast<int>(k), ai) * qa / std::numbers::pi;
    }
    return br;
}

Vec3 StrohDislocation::displacement(double x1, double x2) const {
    Vec3 u{};
    for (const Branch& br : branches_)
        for (std::size_t al = 0; al < 3; ++al) {
            const Cplx lz = std::log(Cplx(x1, 0.0) + br.p[al] * x2);
            for (std::size_t k = 0; k < 3; ++k) u[k] += br.weight * (br.w[al][k] * lz).imag();
        }
    return u;
}

Mat3 StrohDislocation::gradient(double x1, double x2) const {
    Mat3 d;
    if (x1 == 0.0 && x2 == 0.0) return d;
    for (const Branch& br : branches_)
        for (std::size_t al = 0; al < 3; ++al) {
            const Cplx inv = br.weight / (Cplx(x1, 0.0) + br.p[al] * x2);
            const Cplx inv_p = inv * br.p[al];
            for (std::size_t k = 0; k < 3; ++k) {
                const int col = static_cast<int>(k) + 1;
                d(1, col) += (br.w[al][k] * inv).imag();
                d(2, col) += (br.w[al][k] * inv_p).imag();
            }
        }
    return d;
}

} // namespace korvex
