// Straight dislocation in an anisotropic cubic crystal: the sextic (Stroh) solution.
//
// In the dislocation frame (x1, x2 across the line, x3 along it) the displacement of an infinite
// straight dislocation is
//   u = (1/pi) Im sum_a  a_a q_a ln(x1 + p_a x2),
// where p_a (Im p_a > 0) and (a_a, l_a) are three eigen-pairs of the 6 x 6 Stroh matrix N built
// from the stiffnesses in that frame, and the complex weights q_a make the displacement jump by b
// around the line with no net force on it: 2 Re(A q) = b, 2 Re(L q) = 0. The logarithms put the
// cut on the negative x1 half-plane, as atan2 does in the isotropic models; they are taken of
// lengths in the caller's unit, which fixes an additive constant of no physical meaning.
//
// The set-up (rotation of the stiffnesses, eigen-solution, weights) is done once in the
// constructor; a point then costs three complex divisions.
//
// Elastically isotropic crystals (Zener ratio A = 1) are degenerate: N is not diagonalisable and
// its eigenvectors cannot be used. Within kIsotropicBand of A = 1 the field is therefore the
// linear interpolation in A between the solutions at A = 1 - kIsotropicBand and
// A = 1 + kIsotropicBand (C44 changed, C11 and C12 kept). The field is smooth in A, so the
// interpolation error is below kIsotropicBand^2 times its second derivative, about 1e-10 of the
// field; the eigenvectors at those A are still separated well enough to lose no more than about
// 1e-11 to rounding (measured against the isotropic closed forms, see the tests).
#pragma once

#include "optics/crystal.hpp"
#include "optics/vectors.hpp"

#include <array>
#include <complex>
#include <vector>

namespace korvex {

class StrohDislocation {
  public:
    static constexpr double kIsotropicBand = 1e-5;

    // `frame`: rows E1, E2, E3 of the dislocation frame in cube axes (orthonormal, E3 along the
    // line); `b`: Burgers vector along E1, E2, E3 (the displacement comes in its unit). Stops
    // when the stiffnesses are not positive definite.
    StrohDislocation(const CubicElastic& c, const Mat3& frame, const Vec3& b);

    // Displacement along E1, E2, E3 at the frame point (x1, x2). Undefined on the line.
    Vec3 displacement(double x1, double x2) const;
    // Gradient D(q, r) = d u_r / d x_q (row 3, along the line, is zero). Zero on the line.
    Mat3 gradient(double x1, double x2) const;

    // Stiffness C'_ijkl in the dislocation frame (indices 0..2), GPa.
    double stiffness(int i, int j, int k, int l) const {
        return cp_[static_cast<std::size_t>(((i * 3 + j) * 3 + k) * 3 + l)];
    }

  private:
    using Cplx = std::complex<double>;
    // One sextic solution: roots p_a and vectors w_a = a_a q_a / pi (component r of w_a is
    // w[a][r]), with its weight in the interpolation.
    struct Branch {
        double weight = 1.0;
        std::array<Cplx, 3> p{};
        std::array<std::array<Cplx, 3>, 3> w{};
    };
    static Branch solve(const std::array<double, 81>& cp, const Vec3& b);

    std::array<double, 81> cp_{};
    std::vector<Branch> branches_;
};

// The stiffness tensor of a cubic crystal in the frame whose rows are `frame` (C'_ijkl, index
// ((i * 3 + j) * 3 + k) * 3 + l).
std::array<double, 81> rotated_stiffness(const CubicElastic& c, const Mat3& frame);

} // namespace korvex
