// The angular-dislocation gradients against the displacement they come from, and the
// polygonal loop built from them against the closed-form field of a small loop.
#include "defects/angular_dislocation.hpp"
#include "defects/loop_iso.hpp"
#include "defects/pgloop.hpp"
#include "fixture.hpp"

#include <array>

using namespace korvex;
using korvex::testing::near_rel;
using Grad = std::array<Vec3, 3>; // grad[i][j] = d u_i / d x_j

namespace {

constexpr double kPi = 3.141592653589793;

// Displacement of an angular dislocation in an infinite isotropic body, legs along +z and
// along (0, sin beta, cos beta): the elastic part of the classical solution (Yoffe;
// Comninou and Dundurs) plus b times the solid angle of the cut (the wedge between the legs)
// over 4 pi.
Vec3 angular_displacement(const Vec3& p, double beta, double nu, const Vec3& b) {
    const double x = p[0], y = p[1], z = p[2], ca = std::cos(beta), sa = std::sin(beta);
    const double eta = y * ca - z * sa, zeta = y * sa + z * ca, r = magnitude(p);
    const double K = 1.0 / (8.0 * kPi * (1.0 - nu)), m = 1.0 - 2.0 * nu;
    const double lz = std::log(r - z), lzeta = std::log(r - zeta);
    const double rz = r * (r - z), rzeta = r * (r - zeta);
    Vec3 u{};
    u[0] += b[0] * K * (x * y / rz - x * eta / rzeta);
    u[1] +=
        b[0] * K * (eta * sa / (r - zeta) - y * eta / rzeta + y * y / rz + m * (ca * lzeta - lz));
    u[2] += b[0] * K * (eta * ca / (r - zeta) - y / r - eta * z / rzeta - m * sa * lzeta);
    u[0] += b[1] * K * (x * x * ca / rzeta - x * x / rz - m * (ca * lzeta - lz));
    u[1] += b[1] * x * K * (y * ca / rzeta - sa * ca / (r - zeta) - y / rz);
    u[2] += b[1] * x * K * (z * ca / rzeta - ca * ca / (r - zeta) + 1.0 / r);
    u[0] += b[2] * sa * K * (m * lzeta - x * x / rzeta);
    u[1] += b[2] * x * sa * K * (sa / (r - zeta) - y / rzeta);
    u[2] += b[2] * x * sa * K * (ca / (r - zeta) - z / rzeta);
    // Solid angle of the wedge spanned by the unit legs e1, e2 seen from p (the triangle
    // formula of Van Oosterom and Strackee with the far vertices at infinity).
    const Vec3 R1{-x, -y, -z}, e1{0, 0, 1}, e2{0, sa, ca};
    const double den = r * (1.0 + dot(e1, e2)) + dot(R1, e1) + dot(R1, e2);
    const double omega = 2.0 * std::atan2(dot(R1, cross_product(e1, e2)), den);
    for (std::size_t i = 0; i < 3; ++i) u[i] += b[i] * omega / (4.0 * kPi);
    return u;
}

// The model's gradient for the Burgers vector b.
Grad analytic(const Vec3& p, double beta, double nu, const Vec3& b, double eps = 0.0) {
    const double cb = std::cos(beta), sb = std::sin(beta);
    const AngularGradients a = cal_strain_anglur(p[0], p[1], p[2], p[1] * cb - p[2] * sb,
                                                 p[1] * sb + p[2] * cb, cb, sb, nu, eps);
    const std::array<std::array<const Vec3*, 3>, 3> rows{
        {{&a.ux, &a.vx, &a.wx}, {&a.uy, &a.vy, &a.wy}, {&a.uz, &a.vz, &a.wz}}};
    Grad g{};
    for (std::size_t c = 0; c < 3; ++c)
        for (std::size_t i = 0; i < 3; ++i)
            for (std::size_t j = 0; j < 3; ++j) g[i][j] += b[c] * (*rows[c][i])[j];
    return g;
}

} // namespace

TEST(AngularDislocation, GradientsAreDerivativesOfTheDisplacement) {
    const double nu = 0.3, h = 1e-4;
    // Points off the legs, off the planes holding them and off the cut.
    const Vec3 points[] = {
        {0.7, 0.3, 0.5}, {-1.2, 0.4, -0.9}, {0.45, -2.1, 1.3}, {-0.8, 1.7, 2.4}, {1.9, -0.6, -1.4}};
    for (double beta : {2.0 * kPi / 3.0, kPi / 2.0, kPi / 3.0, 2.0 * kPi / 7.0})
        for (const Vec3& p : points)
            for (std::size_t c = 0; c < 3; ++c) {
                Vec3 b{};
                b[c] = 1.0;
                Grad num{};
                double scale = 0.0;
                for (std::size_t j = 0; j < 3; ++j) {
                    Vec3 pp = p, pm = p;
                    pp[j] += h;
                    pm[j] -= h;
                    const Vec3 up = angular_displacement(pp, beta, nu, b);
                    const Vec3 um = angular_displacement(pm, beta, nu, b);
                    for (std::size_t i = 0; i < 3; ++i) {
                        num[i][j] = (up[i] - um[i]) / (2.0 * h);
                        scale = std::max(scale, std::abs(num[i][j]));
                    }
                }
                const Grad a = analytic(p, beta, nu, b);
                for (std::size_t i = 0; i < 3; ++i)
                    for (std::size_t j = 0; j < 3; ++j)
                        EXPECT_TRUE(near_rel(a[i][j], num[i][j], 1e-5, 1e-7 * scale))
                            << "beta " << beta << " point " << p[0] << ' ' << p[1] << ' ' << p[2]
                            << " Burgers component " << c << " u_" << i << " d/dx_" << j;
            }
    // On the leg along z the field is singular; the core term keeps it finite.
    for (const Vec3& row : analytic({0.0, 1e-3, 2.0}, kPi / 2.0, 0.3, {1, 1, 1}, 1.0))
        for (double v : row) EXPECT_TRUE(std::isfinite(v));
}

// Far from a small loop its field is that of an infinitesimal loop of the same area: the
// polygon of angular dislocations and the closed-form field must agree, sign included (the
// next multipole is smaller by about (R / r)^2).
TEST(PgLoop, FarFieldOfSmallPolygonMatchesInfinitesimalLoop) {
    const State st = korvex::testing::cu_state("no", korvex::testing::cube(4));
    PgLoopFile f;
    f.loopstyle = "perfect";
    f.b_m = 1.0;
    f.b_n = 2.0;
    f.b_dir = {1.0, 1.0, 0.0};
    f.radius = 2.0;
    f.normal = {1.0, 1.0, 1.0};
    f.polar = {1.0, -1.0, 0.0};
    f.nsides = 12;
    f.poissonsratio = 0.3;
    f.correction = 0.0;
    const PgLoopKernel kernel(st, f);
    const double nu = f.poissonsratio, R = f.radius, b = magnitude(f.b_dir) / 2.0;
    const double area = 0.5 * f.nsides * R * R * std::sin(2.0 * kPi / f.nsides);
    const double cb = -(area / kPi) * b / (8.0 * (1.0 - nu));
    const Vec3 nhat = scaled(f.normal, 1.0 / magnitude(f.normal));
    const Vec3 bhat = scaled(f.b_dir, 1.0 / magnitude(f.b_dir));
    const double ghkl = magnitude(st.v_g); // sample axes = crystal axes here
    for (const Vec3& p : {Vec3{40.0, 25.0, 30.0}, Vec3{-35.0, 20.0, -45.0}, Vec3{15.0, -50.0, 35.0},
                          Vec3{-30.0, -30.0, -30.0}}) {
        const Vec3 grad = kernel.gradient(p);
        const LoopDerivatives d = infinitesimal_loop_terms(p[0], p[1], p[2], nhat, bhat, nu, cb);
        const double scale = std::max(std::abs(d.dx), std::abs(d.dz)) * ghkl;
        EXPECT_NEAR(grad[2], ghkl * d.dz, 0.02 * scale) << p[0] << ' ' << p[1] << ' ' << p[2];
        EXPECT_NEAR(grad[0], ghkl * d.dx, 0.02 * scale) << p[0] << ' ' << p[1] << ' ' << p[2];
    }
}
