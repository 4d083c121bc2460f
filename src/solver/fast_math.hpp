// exp, sin and cos for the propagator of every column, written so that a loop over lanes
// vectorises: a Cody-Waite reduction, then polynomials, without branches. The results are
// within about 1 ulp of the C library's (tested), and the same on every vector width, since
// each lane runs the same operations. Arguments beyond the reduction's range (|x| > kTrigMax
// for sin and cos, x outside [-kExpMax, kExpMax] for exp, or not finite) are flagged for the
// caller, which takes the C library's value there.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

namespace korvex::solver {

inline constexpr double kTrigMax = 1e5;
inline constexpr double kExpMax = 700.0;

// x - k pi/2 in three parts (the first two with 33 significant bits, so that k times them is
// exact for |k| < 2^20), and the quadrant k mod 4.
inline double reduce_half_pi(double x, std::int64_t& quadrant) {
    constexpr double kTwoOverPi = 6.36619772367581382433e-01;
    constexpr double kP1 = 1.57079632673412561417e+00, kP2 = 6.07710050630396597660e-11,
                     kP3 = 2.02226624871116645580e-21;
    constexpr double kShift = 6755399441055744.0; // 1.5 * 2^52: adding it rounds to an integer
    const double shifted = x * kTwoOverPi + kShift;
    quadrant = std::bit_cast<std::int64_t>(shifted) & 3;
    const double k = shifted - kShift;
    return ((x - k * kP1) - k * kP2) - k * kP3;
}

// sin and cos of x, |x| <= kTrigMax.
inline void sin_cos(double x, double& s, double& c) {
    std::int64_t q = 0;
    const double r = reduce_half_pi(x, q);
    const double z = r * r;
    const double ps =
        r +
        r * z *
            (-1.66666666666666324348e-01 +
             z * (8.33333333332248946124e-03 +
                  z * (-1.98412698298579493134e-04 +
                       z * (2.75573137070700676789e-06 +
                            z * (-2.50507602534068634195e-08 + z * 1.58969099521155010221e-10)))));
    const double pc =
        1.0 - 0.5 * z +
        z * z *
            (4.16666666666666019037e-02 +
             z * (-1.38888888888741095749e-03 +
                  z * (2.48015872894767294178e-05 +
                       z * (-2.75573143513906633035e-07 +
                            z * (2.08757232129817482790e-09 + z * -1.13596475577881948265e-11)))));
    // Quadrant q: (sin, cos) = (ps, pc), (pc, -ps), (-ps, -pc), (-pc, ps).
    const double a = (q & 1) ? pc : ps;
    const double b = (q & 1) ? ps : pc;
    s = (q & 2) ? -a : a;
    c = ((q + 1) & 2) ? -b : b;
}

// exp(x), |x| <= kExpMax: x = k ln 2 + r, |r| <= ln 2 / 2, exp(r) by its Taylor series to
// r^13 (the remainder is below 1e-17 of the result), times 2^k made from its exponent bits.
inline double exp_reduced(double x) {
    constexpr double kInvLn2 = 1.44269504088896338700e+00;
    constexpr double kLn2Hi = 6.93147180369123816490e-01, kLn2Lo = 1.90821492927058770002e-10;
    constexpr double kShift = 6755399441055744.0;
    const double shifted = x * kInvLn2 + kShift;
    const std::int64_t k =
        std::bit_cast<std::int64_t>(shifted) - std::bit_cast<std::int64_t>(kShift);
    const double kd = shifted - kShift;
    const double r = (x - kd * kLn2Hi) - kd * kLn2Lo;
    double p = 1.0 / 6227020800.0; // 1 / 13!
    constexpr double kInvFact[13] = {1.0 / 479001600.0,
                                     1.0 / 39916800.0,
                                     1.0 / 3628800.0,
                                     1.0 / 362880.0,
                                     1.0 / 40320.0,
                                     1.0 / 5040.0,
                                     1.0 / 720.0,
                                     1.0 / 120.0,
                                     1.0 / 24.0,
                                     1.0 / 6.0,
                                     0.5,
                                     1.0,
                                     1.0};
    for (double f : kInvFact) p = p * r + f;
    // 2^k as a double, built in two halves so that k down to -1022 - 52 stays representable.
    const std::int64_t k1 = k / 2, k2 = k - k1;
    const double s1 = std::bit_cast<double>(static_cast<std::uint64_t>(k1 + 1023) << 52);
    const double s2 = std::bit_cast<double>(static_cast<std::uint64_t>(k2 + 1023) << 52);
    return p * s1 * s2;
}

} // namespace korvex::solver
