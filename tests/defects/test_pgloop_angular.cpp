// The angular-dislocation gradients against the displacement they come from, and the
// polygonal loop built from them against the closed-form field of a small loop.
#include "defects/angular_dislocation.hpp"
#include "defects/loop_iso.hpp"
#include "defects/pgloop.hpp"
#include "loop_fixture.hpp"
#include "support/testing.hpp"

#include <array>
#include <cmath>

using namespace korvex;
using korvex::testing::near_rel;

namespace {

constexpr double kPi = 3.141592653589793;

// Displacement of an angular dislocation in an infinite isotropic body, legs along +z and
// along (0, sin beta, cos beta): the elastic part of the classical solution (Yoffe;
// Comninou and Dundurs) plus b times the solid angle of the cut (the wedge between the legs)
// over 4 pi.
Vec3 angular_displacement(double x, double y, double z, double beta, double nu, const Vec3& b) {
    const double ca = std::cos(beta), sa = std::sin(beta);
    const double eta = y * ca - z * sa, zeta = y * sa + z * ca;
    const double r = std::sqrt(x * x + y * y + z * z);
    const double K = 1.0 / (8.0 * kPi * (1.0 - nu));
    const double m = 1.0 - 2.0 * nu;
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

    // Solid angle of the wedge spanned by the unit leg directions e1, e2 seen from (x, y, z)
    // (the triangle formula of Van Oosterom and Strackee with the far vertices at infinity).
    const Vec3 R1{-x, -y, -z};
    const Vec3 e1{0, 0, 1}, e2{0, sa, ca};
    const double det = dot(R1, cross_product(e1, e2));
    const double den = r * (1.0 + dot(e1, e2)) + dot(R1, e1) + dot(R1, e2);
    const double omega = 2.0 * std::atan2(det, den);
    for (int i = 0; i < 3; ++i) u[i] += b[i] * omega / (4.0 * kPi);
    return u;
}

// d u_i / d x_j by central differences.
std::array<Vec3, 3> numeric_gradient(double x, double y, double z, double beta, double nu,
                                     const Vec3& b) {
    const double h = 1e-4;
    std::array<Vec3, 3> grad{}; // grad[i][j] = d u_i / d x_j
    for (int j = 0; j < 3; ++j) {
        Vec3 p{x, y, z}, q{x, y, z};
        p[j] += h;
        q[j] -= h;
        const Vec3 up = angular_displacement(p[0], p[1], p[2], beta, nu, b);
        const Vec3 uq = angular_displacement(q[0], q[1], q[2], beta, nu, b);
        for (int i = 0; i < 3; ++i) grad[i][j] = (up[i] - uq[i]) / (2.0 * h);
    }
    return grad;
}

AngularGradients at(double x, double y, double z, double beta, double nu, double eps = 0.0) {
    const double cb = std::cos(beta), sb = std::sin(beta);
    return cal_strain_anglur(x, y, z, y * cb - z * sb, y * sb + z * cb, cb, sb, nu, eps);
}

} // namespace

TEST(AngularDislocation, GradientsAreDerivativesOfTheDisplacement) {
    const double nu = 0.3;
    const std::array<double, 4> betas{2.0 * kPi / 3.0, kPi / 2.0, kPi / 3.0, 2.0 * kPi / 7.0};
    // Points off the legs, off the planes holding them and off the cut.
    const std::array<Vec3, 5> points{{{0.7, 0.3, 0.5},
                                      {-1.2, 0.4, -0.9},
                                      {0.45, -2.1, 1.3},
                                      {-0.8, 1.7, 2.4},
                                      {1.9, -0.6, -1.4}}};
    for (double beta : betas)
        for (const Vec3& p : points) {
            const AngularGradients a = at(p[0], p[1], p[2], beta, nu);
            const std::array<std::array<const Vec3*, 3>, 3> analytic{{
                {&a.ux, &a.vx, &a.wx},
                {&a.uy, &a.vy, &a.wy},
                {&a.uz, &a.vz, &a.wz},
            }};
            for (int c = 0; c < 3; ++c) {
                Vec3 b{};
                b[c] = 1.0;
                const auto num = numeric_gradient(p[0], p[1], p[2], beta, nu, b);
                double scale = 0.0;
                for (const auto& row : num)
                    for (double v : row) scale = std::max(scale, std::abs(v));
                for (int i = 0; i < 3; ++i)
                    for (int j = 0; j < 3; ++j)
                        EXPECT_TRUE(near_rel((*analytic[c][i])[j], num[i][j], 1e-5, 1e-7 * scale))
                            << "beta " << beta << " point " << p[0] << ' ' << p[1] << ' ' << p[2]
                            << " Burgers component " << c << " u_" << i << " d/dx_" << j;
            }
        }
}

TEST(AngularDislocation, FieldIsInEquilibrium) {
    // Navier's equation grad^2 u + grad(div u) / (1 - 2 nu) = 0 tests the elastic part and the
    // solid-angle part together (a wrong sign of either breaks it).
    const double nu = 0.3, beta = 2.0 * kPi / 5.0, h = 1e-4;
    const Vec3 b{0.3, -0.7, 0.5};
    auto dist = [&](const Vec3& p) {
        const AngularGradients a = at(p[0], p[1], p[2], beta, nu);
        std::array<Vec3, 3> d{}; // d[i][j] = d u_i / d x_j
        for (int j = 0; j < 3; ++j) {
            const auto uj = static_cast<std::size_t>(j);
            d[0][uj] = b[0] * a.ux[uj] + b[1] * a.uy[uj] + b[2] * a.uz[uj];
            d[1][uj] = b[0] * a.vx[uj] + b[1] * a.vy[uj] + b[2] * a.vz[uj];
            d[2][uj] = b[0] * a.wx[uj] + b[1] * a.wy[uj] + b[2] * a.wz[uj];
        }
        return d;
    };
    for (const Vec3& p : {Vec3{0.9, 0.4, 0.6}, Vec3{-1.1, 1.5, -0.7}, Vec3{0.6, -1.3, 1.8}}) {
        Vec3 lap{}, graddiv{};
        double scale = 0.0;
        for (int j = 0; j < 3; ++j) {
            Vec3 pp = p, pm = p;
            pp[j] += h;
            pm[j] -= h;
            const auto dp = dist(pp), dm = dist(pm);
            const double div_p = dp[0][0] + dp[1][1] + dp[2][2];
            const double div_m = dm[0][0] + dm[1][1] + dm[2][2];
            graddiv[j] = (div_p - div_m) / (2.0 * h);
            for (int i = 0; i < 3; ++i) {
                const double t = (dp[i][j] - dm[i][j]) / (2.0 * h);
                lap[i] += t;
                scale = std::max(scale, std::abs(t));
            }
        }
        for (int i = 0; i < 3; ++i)
            EXPECT_NEAR(lap[i] + graddiv[i] / (1.0 - 2.0 * nu), 0.0, 1e-6 * scale) << i;
    }
}

TEST(AngularDislocation, CoreTermKeepsTheLegsFinite) {
    // On the leg along z the field is singular; the core term makes it finite.
    const AngularGradients a = at(0.0, 1e-3, 2.0, kPi / 2.0, 0.3, 1.0);
    for (const Vec3* v : {&a.ux, &a.vy, &a.wz, &a.uy, &a.vz})
        for (double c : *v) EXPECT_TRUE(std::isfinite(c));
}

TEST(PgLoop, FarFieldOfSmallPolygonMatchesInfinitesimalLoop) {
    // Far from a small loop its field is that of an infinitesimal loop of the same area: the
    // polygon of angular dislocations and the closed-form field must agree, sign included.
    State st = korvex::testing::loop_state(4, 4, 4, 4.0, 4.0, 4.0);
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

    const double nu = f.poissonsratio, R = f.radius;
    const Vec3 bvec = scaled(f.b_dir, f.b_m / f.b_n);
    const double b = magnitude(bvec);
    const double area = 0.5 * f.nsides * R * R * std::sin(2.0 * kPi / f.nsides);
    const double cb = -(area / kPi) * b / (8.0 * (1.0 - nu));
    const Vec3 nhat = scaled(f.normal, 1.0 / magnitude(f.normal));
    const Vec3 bhat = scaled(bvec, 1.0 / b);
    // Sample axes x = [1 0 0], y = [0 1 0], z = [0 0 1] here.
    const double ghkl = magnitude(st.v_g);
    for (const Vec3& p : {Vec3{40.0, 25.0, 30.0}, Vec3{-35.0, 20.0, -45.0}, Vec3{15.0, -50.0, 35.0},
                          Vec3{-30.0, -30.0, -30.0}}) {
        const Vec3 grad = kernel.gradient(p);
        const LoopDerivatives d = infinitesimal_loop_terms(p[0], p[1], p[2], nhat, bhat, nu, cb);
        const double scale = std::max(std::abs(d.dx), std::abs(d.dz)) * ghkl;
        // The next multipole is smaller by about (R / r)^2.
        EXPECT_NEAR(grad[2], ghkl * d.dz, 0.02 * scale) << p[0] << ' ' << p[1] << ' ' << p[2];
        EXPECT_NEAR(grad[0], ghkl * d.dx, 0.02 * scale) << p[0] << ' ' << p[1] << ' ' << p[2];
    }
}
