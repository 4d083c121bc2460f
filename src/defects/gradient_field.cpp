#include "defects/gradient_field.hpp"

#include "state/error.hpp"

#include <cmath>
#include <memory>

namespace korvex {

EdgeGradient::EdgeGradient(const EdgeDislocation& e, const GradientBox& box)
    : origin_(e.point), nu_(e.nu), r0_(e.r0) {
    const Vec3 b = scaled(e.b_dir, e.b_m / e.b_n);
    if (std::abs(dot(b, e.line)) >= 1e-4)
        halt("The dislocation line is not perpendicular to the Burgers vector");
    if (!(e.r0 > 0.0)) halt("The core radius r0 of the edge dislocation must be positive");
    if (!(box.lat_c > 0.0)) halt("The lattice constant must be positive");
    const double b_len = magnitude(b);
    if (!(b_len > 0.0)) halt("The Burgers vector of the edge dislocation is zero");

    const Vec3 e2 = cross_product(e.line, b);
    const Vec3 co_y = cross_product(box.foil, box.v_g);
    t_ = coordinates_transfer(box.v_g, co_y, box.foil, b, e2, e.line);
    to_cube_ =
        coordinates_transfer({1.0, 0.0, 0.0}, {0.0, 1.0, 0.0}, {0.0, 0.0, 1.0}, b, e2, e.line);
    if (e.elasticity == Elasticity::anisotropic)
        stroh_ =
            std::make_shared<const StrohDislocation>(e.constants, to_cube_, Vec3{1.0, 0.0, 0.0});
    // The field is per unit Burgers vector; |b| is in lattice parameters.
    for (double& v : to_cube_.a) v *= box.lat_c * b_len;
}

Gradient EdgeGradient::operator()(const Vec3& p) const {
    constexpr double two_pi = 6.283185307179586;
    const Vec3 q = mul(t_, Vec3{p[0] - origin_[0], p[1] - origin_[1], p[2] - origin_[2]});
    const double x = q[0], y = q[1];
    const double rho = std::sqrt(x * x + y * y), r = rho + r0_;
    const double r2 = r * r, r4 = r2 * r2;
    const double c1 = 1.0 / (2.0 * (1.0 - nu_)); // 1 / 2(1 - nu)
    const double c2 = (1.0 - 2.0 * nu_) * c1;    // (1 - 2 nu) / 2(1 - nu)
    // d(q, r) = du_r / dx'_q in the dislocation frame; nothing varies along the line (and, for
    // the isotropic field, u3 = 0).
    Mat3 d;
    if (stroh_) {
        d = damped(stroh_->gradient(x, y), rho * rho / r2);
    } else {
        d(1, 1) = ((y * y - x * x) * y * c1 / r4 - y / r2) / two_pi;
        d(2, 1) = ((x * x - y * y) * x * c1 / r4 + x / r2) / two_pi;
        d(1, 2) = -(x * y * y * 2.0 * c1 / r4 + x * c2 / r2) / two_pi;
        d(2, 2) = -(y * c2 / r2 - y * x * x * 2.0 * c1 / r4) / two_pi;
    }
    // Derivative directions back to the sample frame, displacement components to cube axes.
    const Mat3 s = mul(real_matrix_transpose(t_), d);
    const Mat3 grad = mul(s, to_cube_);
    Gradient out;
    for (int e = 1; e <= 3; ++e)
        for (int c = 1; c <= 3; ++c)
            out[static_cast<std::size_t>(e - 1)][static_cast<std::size_t>(c - 1)] = grad(e, c);
    return out;
}

} // namespace korvex
